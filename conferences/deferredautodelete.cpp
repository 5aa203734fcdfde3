#include "conferences/deferredautodelete.h"

#include "conferences/conferenceparticipantsmodel.h"

#include <QTimer>

namespace {
int s_secondMs = 1000;
}

DeferredAutoDelete::DeferredAutoDelete(int delayMs, std::shared_ptr<ConferenceParticipantsModel> model,
                                       const QModelIndex &index, QObject *parent)
    : QObject(parent)
    , m_model(std::move(model))
    , m_index(index)
    , m_callUuid(index.data(ConferenceParticipantsModel::CallUuidRole).toString())
{
    QTimer::singleShot(delayMs, this, &DeferredAutoDelete::callBackFunc);
}

int DeferredAutoDelete::delayForSeconds(int seconds)
{
    return seconds * s_secondMs;
}

void DeferredAutoDelete::setSecondLengthForTest(int ms)
{
    s_secondMs = ms;
}

void DeferredAutoDelete::callBackFunc()
{
    if (m_model && m_index.isValid()) {
        const int state = m_index.data(ConferenceParticipantsModel::StateRole).toInt();
        // A row called again since carries another call: its own end starts its own delay.
        const bool sameCall =
            m_index.data(ConferenceParticipantsModel::CallUuidRole).toString() == m_callUuid;
        if (state >= 4 && state <= 6 && sameCall)
            m_model->removeRow(m_index.row());
    }
    setParent(nullptr);
    deleteLater();
}
