#include "conferences/conferenceparticipantsview.h"

#include "conferences/conferenceparticipantsitemdelegate.h"
#include "conferences/conferenceparticipantsmodel.h"
#include "esl/esl2.h"

#include <QLabel>
#include <QMouseEvent>
#include <QMovie>

using PM = ConferenceParticipantsModel;

ConferenceParticipantsView::ConferenceParticipantsView(QWidget *parent)
    : QListView(parent), m_delegate(new ConferenceParticipantsItemDelegate(this))
{
    setIconSize(QSize(24, 24));
    setSelectionMode(QAbstractItemView::SingleSelection);
    setSelectionBehavior(QAbstractItemView::SelectItems);
    setTabKeyNavigation(false);
    setFocusPolicy(Qt::NoFocus);
    setDragDropMode(QAbstractItemView::DragOnly);
    setMouseTracking(true);
    viewport()->setAttribute(Qt::WA_Hover);
    setItemDelegate(m_delegate);
}

QString ConferenceParticipantsView::conferenceName() const
{
    return model() ? model()->headerData(0, Qt::Horizontal).toString() : QString();
}

void ConferenceParticipantsView::setModel(QAbstractItemModel *newModel)
{
    const bool wasEmpty = m_recallable.isEmpty();
    QListView::setModel(newModel);
    m_recallable.clear();
    const int rows = newModel ? newModel->rowCount() : 0;
    for (int row = 0; row < rows; ++row) {
        const QModelIndex idx = newModel->index(row, 0);
        if (idx.data(PM::EndedRole).toBool())
            m_recallable.append(idx);
        updateAnimation(idx);
    }
    setFocusPolicy(rows > 0 ? Qt::WheelFocus : Qt::NoFocus);
    emitRecallIfChanged(wasEmpty);
    setHaveParticipants(rows > 0);
}

void ConferenceParticipantsView::setRecallable(const QModelIndex &index, bool recallable)
{
    const int at = m_recallable.indexOf(QPersistentModelIndex(index));
    if (recallable && at < 0)
        m_recallable.append(index);
    else if (!recallable && at >= 0)
        m_recallable.removeAt(at);
}

void ConferenceParticipantsView::emitRecallIfChanged(bool wasEmpty)
{
    if (wasEmpty != m_recallable.isEmpty())
        emit canRecallToConference(!m_recallable.isEmpty());
}

void ConferenceParticipantsView::setHaveParticipants(bool have)
{
    if (have == m_haveParticipants)
        return;
    m_haveParticipants = have;
    emit haveParticipants(have);
}

void ConferenceParticipantsView::updateAnimation(const QModelIndex &index)
{
    const int state = index.data(PM::StateRole).toInt();
    if (state == PM::Calling || state == PM::Alerting) {
        if (indexWidget(index))
            return;
        auto *label = new QLabel;
        label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        label->setStyleSheet(QStringLiteral("QLabel { padding-right: %1px; }")
                                 .arg(ConferenceParticipantsItemDelegate::animationPadding()));
        // Transparent for the mouse so clicks still reach the view's zones.
        label->setAttribute(Qt::WA_TransparentForMouseEvents);
        label->setMovie(m_delegate->callMovie());
        m_delegate->callMovie()->start();
        setIndexWidget(index, label);
    } else if (indexWidget(index)) {
        setIndexWidget(index, nullptr);
    }
}

void ConferenceParticipantsView::rowsInserted(const QModelIndex &parent, int start, int end)
{
    QListView::rowsInserted(parent, start, end);
    if (parent.isValid())
        return;
    setFocusPolicy(Qt::WheelFocus);
    const bool wasEmpty = m_recallable.isEmpty();
    for (int row = start; row <= end; ++row) {
        const QModelIndex idx = model()->index(row, 0);
        if (idx.data(PM::EndedRole).toBool())
            m_recallable.append(idx);
        updateAnimation(idx);
    }
    emitRecallIfChanged(wasEmpty);
    setHaveParticipants(true);
}

void ConferenceParticipantsView::rowsAboutToBeRemoved(const QModelIndex &parent, int start, int end)
{
    if (!parent.isValid()) {
        const bool wasEmpty = m_recallable.isEmpty();
        for (int row = start; row <= end; ++row)
            setRecallable(model()->index(row, 0), false);
        if (model()->rowCount() - (end - start + 1) <= 0) {
            clearFocus();
            setFocusPolicy(Qt::NoFocus);
            setHaveParticipants(false);
        }
        emitRecallIfChanged(wasEmpty);
    }
    QListView::rowsAboutToBeRemoved(parent, start, end);
}

void ConferenceParticipantsView::dataChanged(const QModelIndex &topLeft, const QModelIndex &bottomRight,
                                             const QVector<int> &roles)
{
    QListView::dataChanged(topLeft, bottomRight, roles);
    const bool stateChanged = roles.isEmpty() || roles.contains(PM::StateRole);
    const bool endedChanged = roles.isEmpty() || roles.contains(PM::EndedRole);
    if (!stateChanged && !endedChanged)
        return;
    const bool wasEmpty = m_recallable.isEmpty();
    for (int row = topLeft.row(); row <= bottomRight.row(); ++row) {
        const QModelIndex idx = model()->index(row, 0);
        if (endedChanged)
            setRecallable(idx, idx.data(PM::EndedRole).toBool());
        if (stateChanged)
            updateAnimation(idx);
    }
    emitRecallIfChanged(wasEmpty);
}

void ConferenceParticipantsView::mousePressEvent(QMouseEvent *event)
{
    const QModelIndex idx = indexAt(event->pos());
    if (!idx.isValid() || !model()) {
        QListView::mousePressEvent(event);
        return;
    }
    const QRect rowRect = visualRect(idx);
    const bool inLeft = ConferenceParticipantsItemDelegate::leftZone(rowRect).contains(event->pos());
    const bool inRight = ConferenceParticipantsItemDelegate::rightZone(rowRect).contains(event->pos());
    const int state = idx.data(PM::StateRole).toInt();
    const QString conference = conferenceName();
    ESL2 *esl = ESL2::instance();

    if (inLeft) {
        if (state == PM::Connected) {
            const QString action =
                idx.data(PM::CanSpeakRole).toBool() ? QStringLiteral("mute") : QStringLiteral("unmute");
            if (esl)
                esl->sendRequest(QStringLiteral("api conference %1 %2 %3\n\n")
                                     .arg(conference, action, idx.data(PM::MemberIdRole).toString()));
            return;
        }
        if (state >= 4 && state <= 6) {
            emit callToConference(conference, idx.data(PM::UriRole).toString(),
                                  idx.data(PM::PstnRole).toBool());
            return;
        }
    } else if (inRight) {
        if (state == PM::Planned || state > PM::Connected) {
            model()->removeRow(idx.row());
            return;
        }
        if (state == PM::Calling || state == PM::Alerting) {
            QVariantHash ctx;
            ctx.insert(QStringLiteral("conference"), conference);
            ctx.insert(QStringLiteral("row"), idx.row());
            ctx.insert(QStringLiteral("callUuid"), idx.data(PM::CallUuidRole).toString());
            if (esl)
                esl->sendRequest(QStringLiteral("api uuid_kill ") + idx.data(PM::CallUuidRole).toString() +
                                     QStringLiteral("\n\n"),
                                 this, QStringLiteral("killResponse"), ctx);
            return;
        }
        if (state == PM::Connected) {
            if (esl)
                esl->sendRequest(QStringLiteral("api conference %1 kick %2\n\n")
                                     .arg(conference, idx.data(PM::MemberIdRole).toString()));
            return;
        }
    }
    QListView::mousePressEvent(event);
}

void ConferenceParticipantsView::killResponse(QString res, QVariant ctx)
{
    if (!res.contains(QLatin1String("-ERR")) || !model())
        return;
    const QVariantHash hash = ctx.toHash();
    if (conferenceName() != hash.value(QStringLiteral("conference")).toString())
        return;
    // The channel was already gone: drop the row the server cannot hang up. Rows may have moved
    // since the click, so the row is found again by its call.
    const QString callUuid = hash.value(QStringLiteral("callUuid")).toString();
    if (callUuid.isEmpty())
        return;
    const QModelIndexList rows =
        model()->match(model()->index(0, 0), PM::CallUuidRole, callUuid, 1, Qt::MatchExactly);
    if (!rows.isEmpty())
        model()->removeRow(rows.first().row());
}
