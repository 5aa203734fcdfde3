#pragma once

#include <QObject>
#include <QPersistentModelIndex>
#include <QString>

#include <memory>

class ConferenceParticipantsModel;

// Removes one ended member row after a delay, unless the row has connected or been
// called again in the meantime. Holds the participants model so that a conference removed
// meanwhile keeps its model alive until the timer fires. Parented to the model
// that started it; deletes itself when done. GUI thread.
class DeferredAutoDelete final : public QObject
{
    Q_OBJECT

public:
    DeferredAutoDelete(int delayMs, std::shared_ptr<ConferenceParticipantsModel> model,
                       const QModelIndex &index, QObject *parent = nullptr);

    // Delay for a configured number of seconds; tests shorten a second.
    static int delayForSeconds(int seconds);
    static void setSecondLengthForTest(int ms);

public slots:
    void callBackFunc();

private:
    std::shared_ptr<ConferenceParticipantsModel> m_model;
    QPersistentModelIndex m_index;
    QString m_callUuid;
};
