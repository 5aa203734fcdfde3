#pragma once

#include <QByteArray>
#include <QString>

#include <linphone/core.h>

class XMLConfig;

// The SIP listeners of CPJSIPSUA's core: UDP and TCP on one port, TLS on the
// next, on the configured address or on all, or none with an external phone.
// Keeps the strings the core was handed. GUI thread.
class SipListeners final
{
public:
    enum class Protocol { Udp, Tcp, Tls };

    // Before the core starts.
    void prepare(LinphoneCore *core, const XMLConfig &config, int port);
    // Once it started: with a library-chosen port, TCP and TLS are put next
    // to UDP. False with the error text when a configured port could not be
    // used for UDP or TCP.
    bool check(LinphoneCore *core, int port, QString &error);
    void clear();

    // The port the core listens on, 0 for none, -1 without a core.
    static int port(LinphoneCore *core, Protocol protocol);

private:
    QString failure(int socketType, int port) const;

    // Copies of the TLS files handed to the core.
    QByteArray m_caFile;
    QByteArray m_certFile;
    QByteArray m_keyFile;
    QByteArray m_bindAddress;
};
