#include "app/xmlconfig.h"
#include "ui/telephonenumberdlg.h"

#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

namespace {
// The history entries the list shows, in order.
QStringList visibleHistory(const QListWidget *list)
{
    QStringList out;
    for (int i = 0; i < list->count(); ++i) {
        if (!list->item(i)->isHidden())
            out << list->item(i)->text();
    }
    return out;
}

QPushButton *padKey(const TelephoneNumberDlg &dlg, const QString &text)
{
    for (QPushButton *key : dlg.findChild<QWidget *>("dialPad")->findChildren<QPushButton *>()) {
        if (key->text() == text)
            return key;
    }
    return nullptr;
}
} // namespace

class TelephoneNumberDlgTest : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    std::unique_ptr<XMLConfig> m_config;
    std::unique_ptr<TelephoneNumberDlg> m_dlg;

    // The history as stored: written to the file and read back.
    QStringList storedHistory() const
    {
        XMLConfig reread(m_config->filePath);
        reread.load();
        return reread.pstnDialHistory;
    }
    void dial(const QString &number)
    {
        m_dlg->numberEdit()->setText(number);
        m_dlg->dialButton()->click();
    }

private slots:
    void init()
    {
        m_config = std::make_unique<XMLConfig>(m_dir.filePath("TesmarDispatcher.xml"));
        // A hand-edited entry the field would never take is not offered.
        m_config->pstnDialHistory = QStringList{"5551234", "8123", "700", "12; rm"};
        m_dlg = std::make_unique<TelephoneNumberDlg>(*m_config);
        m_dlg->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_dlg.get()));
    }

    void typingFiltersTheHistoryAndOnlyDiallingCharactersGetIn()
    {
        QLineEdit *edit = m_dlg->numberEdit();
        QTRY_VERIFY(edit->hasFocus());
        QVERIFY(!m_dlg->dialButton()->isEnabled());
        QTest::keyClicks(edit, "1a2");
        QCOMPARE(edit->text(), "12");
        QVERIFY(m_dlg->historyList()->isVisible() && m_dlg->dialButton()->isEnabled());
        QCOMPARE(visibleHistory(m_dlg->historyList()), (QStringList{"5551234", "8123"}));
        // Placed under the number field.
        QCOMPARE(m_dlg->historyList()->y(), edit->mapTo(m_dlg.get(), QPoint(0, edit->height())).y());
        QTest::keyClicks(edit, "9");
        QVERIFY(!m_dlg->historyList()->isVisible());
        QTest::keyClicks(edit, "*#");
        QCOMPARE(edit->text(), "129*#");
        edit->clear();
        QVERIFY(!m_dlg->historyList()->isVisible() && !m_dlg->dialButton()->isEnabled());
    }

    void dialPadAndClearWorkAtTheCursor()
    {
        QLineEdit *edit = m_dlg->numberEdit();
        auto *clear = m_dlg->findChild<QWidget *>("editPanel")->findChild<QPushButton *>();
        edit->setText("123");
        edit->setCursorPosition(0);
        clear->click();
        QCOMPARE(edit->text(), "123");
        edit->setCursorPosition(1);
        padKey(*m_dlg, "#")->click();
        QCOMPARE(edit->text(), "1#23");
        QCOMPARE(edit->cursorPosition(), 2);
        padKey(*m_dlg, "0")->click();
        QCOMPARE(edit->text(), "1#023");
        clear->click();
        clear->click();
        QCOMPARE(edit->text(), "123");
        QCOMPARE(edit->cursorPosition(), 1);
    }

    void dialledNumbersMoveToTheTopAndTheHistoryIsBounded()
    {
        QSignalSpy accepted(m_dlg.get(), &QDialog::accepted);
        QSignalSpy rejected(m_dlg.get(), &QDialog::rejected);
        // Empty: stays open, nothing stored.
        m_dlg->accept();
        QVERIFY(m_dlg->isVisible() && accepted.isEmpty());

        dial("700");
        QCOMPARE(accepted.count(), 1);
        QCOMPARE(m_dlg->number(), "700");
        QCOMPARE(storedHistory(), (QStringList{"700", "5551234", "8123"}));
        dial("700");
        QCOMPARE(storedHistory(), (QStringList{"700", "5551234", "8123"}));

        // Picking an entry dials it; Return dials what is typed; the close button rejects.
        m_dlg->show();
        m_dlg->resetDialog();
        QTest::keyClicks(m_dlg->numberEdit(), "81");
        QTest::mouseClick(m_dlg->historyList()->viewport(), Qt::LeftButton, {},
                          m_dlg->historyList()->visualItemRect(m_dlg->historyList()->item(2)).center());
        QCOMPARE(accepted.count(), 3);
        QCOMPARE(storedHistory().first(), "8123");
        m_dlg->show();
        m_dlg->resetDialog();
        QTest::keyClicks(m_dlg->numberEdit(), "4242");
        QTest::keyClick(m_dlg->numberEdit(), Qt::Key_Return);
        QCOMPARE(storedHistory().first(), "4242");
        m_dlg->findChild<QWidget *>("header")->findChild<QPushButton *>()->click();
        QCOMPARE(rejected.count(), 1);

        // The 101st distinct number drops the oldest.
        for (int i = 0; i < 96; ++i)
            dial(QString::number(9000 + i));
        QCOMPARE(storedHistory().size(), 100);
        QCOMPARE(storedHistory().last(), "5551234");
        dial("9999");
        QCOMPARE(storedHistory().size(), 100);
        QCOMPARE(storedHistory().first(), "9999");
        QCOMPARE(storedHistory().last(), "700");
    }
};

QTEST_MAIN(TelephoneNumberDlgTest)
#include "telephonenumberdlg_test.moc"
