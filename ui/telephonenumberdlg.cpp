#include "ui/telephonenumberdlg.h"

#include "app/xmlconfig.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRegularExpression>
#include <QRegularExpressionValidator>
#include <QShowEvent>
#include <QVBoxLayout>

namespace {
const QRegularExpression &numberPattern()
{
    static const QRegularExpression pattern(QStringLiteral("[0-9\\*#]+"));
    return pattern;
}
} // namespace

TelephoneNumberDlg::TelephoneNumberDlg(XMLConfig &config, QWidget *parent)
    : QDialog(parent, Qt::Tool | Qt::FramelessWindowHint)
    , m_config(config)
    , m_numberEdit(new QLineEdit)
    , m_clearButton(new QPushButton)
    , m_dialButton(new QPushButton(QStringLiteral("Вызвать")))
    , m_historyList(new QListWidget(this))
{
    auto *header = new QWidget;
    header->setObjectName(QStringLiteral("header"));
    auto *closeButton = new QPushButton(QIcon(QStringLiteral(":/Data/CloseTelephoneNumber.png")), QString());
    closeButton->setFlat(true);
    auto *headerLayout = new QHBoxLayout(header);
    headerLayout->addWidget(new QLabel(QStringLiteral("Вызов абонента ТСОП")), 1);
    headerLayout->addWidget(closeButton);

    auto *editPanel = new QWidget;
    editPanel->setObjectName(QStringLiteral("editPanel"));
    m_numberEdit->setValidator(new QRegularExpressionValidator(numberPattern(), m_numberEdit));
    m_clearButton->setIcon(QIcon(QStringLiteral(":/Data/ClearTelephoneNumber.png")));
    m_clearButton->setFocusPolicy(Qt::NoFocus);
    auto *editLayout = new QHBoxLayout(editPanel);
    editLayout->addWidget(m_numberEdit, 1);
    editLayout->addWidget(m_clearButton);

    auto *dialPad = new QWidget;
    dialPad->setObjectName(QStringLiteral("dialPad"));
    auto *padLayout = new QGridLayout(dialPad);
    const QString keys = QStringLiteral("123456789*0#");
    for (int i = 0; i < keys.size(); ++i) {
        auto *key = new QPushButton(keys.at(i));
        // The number field keeps the focus and its cursor while the pad is used.
        key->setFocusPolicy(Qt::NoFocus);
        padLayout->addWidget(key, i / 3, i % 3);
        connect(key, &QPushButton::clicked, this, &TelephoneNumberDlg::press);
    }

    m_dialButton->setObjectName(QStringLiteral("blueButton"));
    m_dialButton->setEnabled(false);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(header);
    layout->addWidget(editPanel);
    layout->addWidget(dialPad);
    layout->addWidget(m_dialButton);

    // Floats over the pad, outside the layout.
    m_historyList->setObjectName(QStringLiteral("dialedNumbersList"));
    m_historyList->setFixedSize(150, 200);
    m_historyList->hide();
    for (const QString &entry : qAsConst(m_config.pstnDialHistory)) {
        // A hand-edited configuration may hold what the field would never take.
        if (numberPattern().match(entry).capturedLength() == entry.size() && !entry.isEmpty() &&
            m_historyList->count() < MaxHistory)
            m_historyList->addItem(entry);
    }

    connect(closeButton, &QPushButton::clicked, this, &TelephoneNumberDlg::pressclose);
    connect(m_clearButton, &QPushButton::clicked, this, &TelephoneNumberDlg::pressClearNumberEditor);
    connect(m_dialButton, &QPushButton::clicked, this, &TelephoneNumberDlg::pressdial);
    connect(m_numberEdit, &QLineEdit::textChanged, this, &TelephoneNumberDlg::numbertextEdited);
    connect(m_numberEdit, &QLineEdit::returnPressed, this, &TelephoneNumberDlg::returnPressed);
    connect(m_historyList, &QListWidget::itemClicked, this, &TelephoneNumberDlg::historyClicked);

    setFixedSize(sizeHint());
}

QString TelephoneNumberDlg::number() const
{
    return m_numberEdit->text();
}

void TelephoneNumberDlg::resetDialog()
{
    m_numberEdit->clear();
    m_historyList->hide();
}

void TelephoneNumberDlg::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    m_numberEdit->setFocus();
    m_historyList->setStyleSheet(QStringLiteral("QListWidget::item { height: %1px;}")
                                     .arg(QFontMetrics(m_historyList->font()).height() + 4));
}

void TelephoneNumberDlg::press()
{
    const auto *key = qobject_cast<QPushButton *>(sender());
    if (!key)
        return;
    m_numberEdit->deselect();
    m_numberEdit->insert(key->text());
}

void TelephoneNumberDlg::pressClearNumberEditor()
{
    m_numberEdit->deselect();
    const int at = m_numberEdit->cursorPosition();
    if (at < 1)
        return;
    m_numberEdit->setText(m_numberEdit->text().remove(at - 1, 1));
    m_numberEdit->setCursorPosition(at - 1);
}

void TelephoneNumberDlg::numbertextEdited(QString text)
{
    m_dialButton->setEnabled(!text.isEmpty());
    if (text.isEmpty()) {
        m_historyList->hide();
        return;
    }
    bool anyShown = false;
    for (int i = 0; i < m_historyList->count(); ++i) {
        QListWidgetItem *item = m_historyList->item(i);
        item->setHidden(!item->text().contains(text, Qt::CaseSensitive));
        anyShown = anyShown || !item->isHidden();
    }
    if (!anyShown) {
        m_historyList->hide();
    } else if (!m_historyList->isVisible()) {
        const QPoint below = m_numberEdit->mapTo(this, QPoint(0, m_numberEdit->height()));
        m_historyList->move(below);
        m_historyList->raise();
        m_historyList->show();
    }
}

void TelephoneNumberDlg::historyClicked(QListWidgetItem *item)
{
    if (!item)
        return;
    m_numberEdit->setText(item->text());
    accept();
}

void TelephoneNumberDlg::returnPressed()
{
    if (!number().isEmpty())
        accept();
}

void TelephoneNumberDlg::pressdial()
{
    accept();
}

void TelephoneNumberDlg::pressclose()
{
    reject();
}

void TelephoneNumberDlg::accept()
{
    m_historyList->hide();
    const QString dialled = number();
    if (dialled.isEmpty())
        return;
    const QList<QListWidgetItem *> found = m_historyList->findItems(dialled, Qt::MatchExactly);
    if (!found.isEmpty()) {
        const int row = m_historyList->row(found.first());
        if (row > 0)
            m_historyList->insertItem(0, m_historyList->takeItem(row));
    } else {
        m_historyList->insertItem(0, dialled);
        while (m_historyList->count() > MaxHistory)
            delete m_historyList->takeItem(m_historyList->count() - 1);
    }
    QStringList history;
    for (int i = 0; i < m_historyList->count(); ++i)
        history << m_historyList->item(i)->text();
    m_config.pstnDialHistory = history;
    m_config.save();
    QDialog::accept();
}
