#include "conferences/deferredautodelete.h"

#include "conferences/conferenceparticipantsmodel.h"

#include <QTimer>

namespace {
int s_secondMs = 1000;
}

DeferredAutoDelete::DeferredAutoDelete(int delayMs, std::shared_ptr<ConferenceParticipantsModel> model,
                                       const QModelIndex &index, QObject *parent)
    : QObject(parent), m_model(std::move(model)), m_index(index)
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
        if (state >= 4 && state <= 6)
            m_model->removeRow(m_index.row());
    }
    setParent(nullptr);
    deleteLater();
}
