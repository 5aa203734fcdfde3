#include "records/recordspage.h"

#include "records/dateeditwithapplyfilter.h"
#include "records/recordlistmodel.h"
#include "records/recordlistview.h"
#include "records/recordplayback.h"
#include "records/timeeditwithapplyfilter.h"

#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QSlider>
#include <QToolButton>
#include <QVBoxLayout>

RecordsPage::RecordsPage(RecordListModel *model, RecordPlayback *playback, QWidget *parent)
    : QWidget(parent), m_model(model), m_playback(playback)
{
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(buildFilterPanel());

    layout->addWidget(new QLabel(QStringLiteral("Список записей"), this));
    m_list = new RecordListView(this);
    m_list->setModel(m_model);
    layout->addWidget(m_list, 3);

    layout->addWidget(new QLabel(QStringLiteral("Участники переговоров:"), this));
    m_participants = new QListView(this);
    m_participants->setObjectName(QStringLiteral("recordParticipants"));
    m_participants->setSelectionMode(QAbstractItemView::NoSelection);
    m_participants->setFocusPolicy(Qt::NoFocus);
    m_participants->setModel(m_model->participants());
    layout->addWidget(m_participants, 1);

    layout->addWidget(buildPlayPanel());

    connect(this, &RecordsPage::ApplyRecordFilter, m_model, &RecordListModel::ApplyRecordFilter);
    connect(m_model, &RecordListModel::recordFilterDone, this, &RecordsPage::recordFilterDone);
    connect(m_model, &RecordListModel::countChanged, this, &RecordsPage::showCount);
    connect(m_model, &RecordListModel::loadingChanged, m_busy, &QWidget::setVisible);
    connect(m_model, &RecordListModel::message, this,
            [this](const QString &text) { showMessage(this, text); });
    connect(m_playback, &RecordPlayback::message, this,
            [this](const QString &text) { showMessage(this, text); });
    connect(m_playback, &RecordPlayback::panelChanged, this, &RecordsPage::showPanel);
    showPanel();
}

QWidget *RecordsPage::buildFilterPanel()
{
    auto *panel = new QWidget(this);
    auto *grid = new QGridLayout(panel);
    grid->addWidget(new QLabel(QStringLiteral("Фильтр переговоров"), panel), 0, 0, 1, 4);

    grid->addWidget(new QLabel(QStringLiteral("Тип конференции для фильтрации"), panel), 1, 0);
    m_kind = new QComboBox(panel);
    m_kind->addItems({QStringLiteral("Все виды переговоров"),
                      QStringLiteral("Переговоры в составе конференций"),
                      QStringLiteral("Прямые переговоры пользователей")});
    grid->addWidget(m_kind, 1, 1, 1, 3);

    grid->addWidget(new QLabel(QStringLiteral("Дата"), panel), 2, 0);
    m_fromDate = new DateEditWithApplyFilter(panel);
    m_toDate = new DateEditWithApplyFilter(panel);
    grid->addWidget(new QLabel(QStringLiteral("Время"), panel), 3, 0);
    m_fromTime = new TimeEditWithApplyFilter(panel);
    m_toTime = new TimeEditWithApplyFilter(panel);
    for (DateEditWithApplyFilter *edit : {m_fromDate, m_toDate}) {
        edit->setDisplayFormat(QStringLiteral("dd.MM.yyyy"));
        edit->setCalendarPopup(true);
        connect(edit, &DateEditWithApplyFilter::ApplyFilterByEnterPressed, this, &RecordsPage::ApplyFilter);
    }
    for (TimeEditWithApplyFilter *edit : {m_fromTime, m_toTime})
        connect(edit, &TimeEditWithApplyFilter::ApplyFilterByEnterPressed, this, &RecordsPage::ApplyFilter);
    grid->addWidget(m_fromDate, 2, 1);
    grid->addWidget(m_toDate, 2, 2);
    grid->addWidget(m_fromTime, 3, 1);
    grid->addWidget(m_toTime, 3, 2);

    m_search = new QPushButton(QStringLiteral("Поиск"), panel);
    m_search->setObjectName(QStringLiteral("blueButton"));
    m_clear = new QPushButton(QStringLiteral("Очистить"), panel);
    m_clear->setObjectName(QStringLiteral("grayButton"));
    connect(m_search, &QPushButton::pressed, this, &RecordsPage::ApplyFilter);
    connect(m_clear, &QPushButton::pressed, this, &RecordsPage::ClearFilter);
    grid->addWidget(m_search, 2, 3);
    grid->addWidget(m_clear, 3, 3);

    m_busyLabel = new QLabel(QStringLiteral("Применяется фильтр, подождите"), panel);
    m_busyLabel->hide();
    m_busy = new QProgressBar(panel);
    m_busy->setRange(0, 0); // no end known: the bar just moves while a page loads
    m_busy->setTextVisible(false);
    m_busy->setMaximumHeight(6);
    m_busy->hide();
    m_count = new QLabel(panel);
    m_count->setObjectName(QStringLiteral("recordCountLabel"));
    grid->addWidget(m_busyLabel, 4, 0, 1, 2);
    grid->addWidget(m_count, 4, 2, 1, 2);
    grid->addWidget(m_busy, 5, 0, 1, 4);
    ClearFilter();
    return panel;
}

QWidget *RecordsPage::buildPlayPanel()
{
    auto *panel = new QWidget(this);
    panel->setObjectName(QStringLiteral("playRecordPanel"));
    auto *box = new QVBoxLayout(panel);
    m_title = new QLabel(panel);
    m_date = new QLabel(panel);
    m_timeRange = new QLabel(panel);
    auto *heading = new QHBoxLayout;
    heading->addWidget(m_title, 1);
    heading->addWidget(m_date);
    heading->addWidget(m_timeRange);
    box->addLayout(heading);

    m_play = new QToolButton(panel);
    m_play->setToolTip(QStringLiteral("Воспроизведение / пауза"));
    m_stop = new QToolButton(panel);
    m_stop->setIcon(QIcon(QStringLiteral(":/Data/RecordStop.png")));
    m_stop->setToolTip(QStringLiteral("Стоп"));
    m_startLabel = new QLabel(QStringLiteral("00:00"), panel);
    m_endLabel = new QLabel(QStringLiteral("00:00"), panel);
    m_startLabel->setObjectName(QStringLiteral("StartEndLabel"));
    m_endLabel->setObjectName(QStringLiteral("StartEndLabel"));
    m_slider = new QSlider(Qt::Horizontal, panel);
    m_slider->setRange(0, RecordPlayback::kSliderRange);
    m_position = new QLabel(panel);
    m_position->setObjectName(QStringLiteral("playPosLabel"));
    auto *controls = new QHBoxLayout;
    controls->addWidget(m_play);
    controls->addWidget(m_stop);
    controls->addWidget(m_startLabel);
    controls->addWidget(m_slider, 1);
    controls->addWidget(m_endLabel);
    box->addLayout(controls);
    box->addWidget(m_position);

    connect(m_play, &QToolButton::pressed, m_playback, &RecordPlayback::PlayButtonPressed);
    connect(m_stop, &QToolButton::pressed, m_playback, &RecordPlayback::StopButtonPressed);
    connect(m_slider, &QSlider::valueChanged, m_playback, &RecordPlayback::valueChangeForSlider);
    connect(m_slider, &QSlider::sliderPressed, m_playback, [this] { m_playback->setSliderDown(true); });
    connect(m_slider, &QSlider::sliderReleased, m_playback, &RecordPlayback::recordSliderReleased);
    connect(m_list, &RecordListView::itemSelected, m_playback, &RecordPlayback::recordSelected);
    connect(m_list, &RecordListView::itemDeselected, m_playback, &RecordPlayback::recordDeselected);
    connect(m_model, &RecordListModel::recordingTime, m_playback, &RecordPlayback::recordingTime);
    return panel;
}

void RecordsPage::showPanel()
{
    const RecordPlayback::Panel &p = m_playback->panel();
    m_title->setText(p.title);
    m_date->setText(p.date);
    m_timeRange->setText(p.timeRange);
    m_startLabel->setText(p.startLabel);
    m_endLabel->setText(p.endLabel);
    m_position->setText(p.position);
    m_play->setEnabled(p.playEnabled);
    m_stop->setEnabled(p.stopEnabled);
    m_slider->setEnabled(p.sliderEnabled);
    m_play->setIcon(QIcon(p.showPause ? QStringLiteral(":/Data/RecordPause.png")
                                      : QStringLiteral(":/Data/RecordPlay.png")));
    if (!m_slider->isSliderDown() && m_slider->value() != p.slider)
        m_slider->setValue(p.slider);
}

void RecordsPage::showCount(int count, bool more)
{
    m_count->setText(more ? QStringLiteral("Найдено записей: %1, есть ещё").arg(count)
                          : QStringLiteral("Найдено записей: %1").arg(count));
}

void RecordsPage::showMessage(QWidget *parent, const QString &text)
{
    QMessageBox box(QMessageBox::NoIcon, QString(), text, QMessageBox::Ok, parent);
    box.setDefaultButton(QMessageBox::Ok);
    box.exec();
}

void RecordsPage::ApplyFilter()
{
    const QDateTime from = RecordListModel::filterFrom(m_fromDate->date(), m_fromTime->time());
    const QDateTime to = RecordListModel::filterTo(m_toDate->date(), m_toTime->time());
    m_search->setEnabled(false);
    m_clear->setEnabled(false);
    m_busyLabel->show();
    emit ApplyRecordFilter(m_kind->currentIndex(), from, to);
}

void RecordsPage::ClearFilter()
{
    m_kind->setCurrentIndex(0);
    m_fromDate->setDate(QDate::currentDate());
    m_toDate->setDate(QDate::currentDate());
    m_fromTime->setTime(QTime::currentTime());
    m_toTime->setTime(QTime::currentTime());
}

void RecordsPage::recordFilterDone()
{
    m_search->setEnabled(true);
    m_clear->setEnabled(true);
    m_busyLabel->hide();
}
