#include "lab/labchannel.h"

#include "lab/labevent.h"

void LabChannel::appendTo(LabEvent &e, const QString &answerState, const QString &hangupCause) const
{
    const QString zero = QStringLiteral("0");
    e.add(QStringLiteral("Channel-State"), QStringLiteral("CS_EXECUTE"));
    e.add(QStringLiteral("Channel-Call-State"), QStringLiteral("ACTIVE"));
    e.add(QStringLiteral("Channel-State-Number"), QStringLiteral("4"));
    e.add(QStringLiteral("Channel-Name"), name);
    e.add(QStringLiteral("Unique-ID"), uuid);
    e.add(QStringLiteral("Call-Direction"), QStringLiteral("outbound"));
    e.add(QStringLiteral("Presence-Call-Direction"), QStringLiteral("outbound"));
    e.add(QStringLiteral("Channel-HIT-Dialplan"), QStringLiteral("true"));
    if (!presenceId.isEmpty())
        e.add(QStringLiteral("Channel-Presence-ID"), presenceId);
    e.add(QStringLiteral("Channel-Call-UUID"), uuid);
    e.add(QStringLiteral("Answer-State"), answerState);
    if (!hangupCause.isEmpty())
        e.add(QStringLiteral("Hangup-Cause"), hangupCause);
    e.add(QStringLiteral("Channel-Read-Codec-Name"), QStringLiteral("L16"));
    e.add(QStringLiteral("Channel-Read-Codec-Rate"), QStringLiteral("8000"));
    e.add(QStringLiteral("Channel-Read-Codec-Bit-Rate"), QStringLiteral("128000"));
    e.add(QStringLiteral("Channel-Write-Codec-Name"), QStringLiteral("L16"));
    e.add(QStringLiteral("Channel-Write-Codec-Rate"), QStringLiteral("8000"));
    e.add(QStringLiteral("Channel-Write-Codec-Bit-Rate"), QStringLiteral("128000"));
    e.add(QStringLiteral("Caller-Direction"), QStringLiteral("outbound"));
    e.add(QStringLiteral("Caller-Logical-Direction"), QStringLiteral("outbound"));
    e.add(QStringLiteral("Caller-Dialplan"), QStringLiteral("XML"));
    e.add(QStringLiteral("Caller-Caller-ID-Name"), callerIdName);
    e.add(QStringLiteral("Caller-Caller-ID-Number"), callerIdNumber);
    e.add(QStringLiteral("Caller-Orig-Caller-ID-Name"), origCallerIdName);
    e.add(QStringLiteral("Caller-Orig-Caller-ID-Number"), origCallerIdNumber);
    e.add(QStringLiteral("Caller-Callee-ID-Name"), origCallerIdName);
    e.add(QStringLiteral("Caller-Callee-ID-Number"), origCallerIdNumber);
    e.add(QStringLiteral("Caller-ANI"), origCallerIdNumber);
    e.add(QStringLiteral("Caller-Destination-Number"), destination);
    e.add(QStringLiteral("Caller-Unique-ID"), uuid);
    e.add(QStringLiteral("Caller-Source"), source);
    if (!transferSource.isEmpty())
        e.add(QStringLiteral("Caller-Transfer-Source"), transferSource);
    e.add(QStringLiteral("Caller-Context"), context);
    if (!rdnis.isEmpty())
        e.add(QStringLiteral("Caller-RDNIS"), rdnis);
    e.add(QStringLiteral("Caller-Channel-Name"), name);
    e.add(QStringLiteral("Caller-Profile-Index"), QStringLiteral("1"));
    e.add(QStringLiteral("Caller-Profile-Created-Time"), QString::number(createdUs));
    e.add(QStringLiteral("Caller-Channel-Created-Time"), QString::number(createdUs));
    e.add(QStringLiteral("Caller-Channel-Answered-Time"), QString::number(answeredUs));
    e.add(QStringLiteral("Caller-Channel-Progress-Time"), zero);
    e.add(QStringLiteral("Caller-Channel-Progress-Media-Time"), zero);
    e.add(QStringLiteral("Caller-Channel-Hangup-Time"), zero);
    e.add(QStringLiteral("Caller-Channel-Transfer-Time"), zero);
    e.add(QStringLiteral("Caller-Channel-Resurrect-Time"), zero);
    e.add(QStringLiteral("Caller-Channel-Bridged-Time"), zero);
    e.add(QStringLiteral("Caller-Channel-Last-Hold"), zero);
    e.add(QStringLiteral("Caller-Channel-Hold-Accum"), zero);
    e.add(QStringLiteral("Caller-Screen-Bit"), QStringLiteral("true"));
    e.add(QStringLiteral("Caller-Privacy-Hide-Name"), QStringLiteral("false"));
    e.add(QStringLiteral("Caller-Privacy-Hide-Number"), QStringLiteral("false"));
}
