#include "app/xmlconfig.h"
#include "ui/telephonenumberdlg.h"

#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

class TelephoneNumberDlgTest : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    std::unique_ptr<XMLConfig> m_config;
    std::unique_ptr<TelephoneNumberDlg> m_dlg;

    // The history entries the list shows, in order.
    QStringList shown() const
    {
        QStringList out;
        for (int i = 0; i < m_dlg->historyList()->count(); ++i)
            out << (m_dlg->historyList()->item(i)->isHidden() ? QString()
                                                              : m_dlg->historyList()->item(i)->text());
        out.removeAll(QString());
        return out;
    }
    // The history as stored: written to the file and read back.
    QStringList stored() const
    {
        XMLConfig reread(m_config->filePath);
        reread.load();
        return reread.pstnDialHistory;
    }
    QPushButton *button(const char *panel, const QString &text = QString()) const
    {
        for (QPushButton *b : m_dlg->findChild<QWidget *>(panel)->findChildren<QPushButton *>()) {
            if (b->text() == text)
                return b;
        }
        return nullptr;
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

    void typingFiltersTheHistoryAndThePadWorksAtTheCursor()
    {
        QLineEdit *edit = m_dlg->numberEdit();
        QTRY_VERIFY(edit->hasFocus());
        QVERIFY(!m_dlg->dialButton()->isEnabled());
        QTest::keyClicks(edit, "1a2");
        QVERIFY(m_dlg->historyList()->isVisible() && m_dlg->dialButton()->isEnabled());
        QCOMPARE(shown(), (QStringList{"5551234", "8123"}));
        QTest::keyClicks(edit, "9");
        QVERIFY(!m_dlg->historyList()->isVisible());

        // The clear button is a backspace at the cursor; the pad inserts there.
        edit->setCursorPosition(0);
        button("editPanel")->click();
        QCOMPARE(edit->text(), "129");
        edit->setCursorPosition(1);
        button("dialPad", "#")->click();
        button("dialPad", "*")->click();
        QCOMPARE(edit->text(), "1#*29");
        button("editPanel")->click();
        QCOMPARE(edit->text(), "1#29");
        QCOMPARE(edit->cursorPosition(), 2);
        edit->clear();
        QVERIFY(!m_dlg->dialButton()->isEnabled());
    }

    void dialledNumbersMoveToTheTopAndTheHistoryIsBounded()
    {
        QSignalSpy accepted(m_dlg.get(), &QDialog::accepted);
        m_dlg->accept(); // empty: stays open, nothing stored
        QVERIFY(m_dlg->isVisible() && accepted.isEmpty());
        auto dial = [this](const QString &number) {
            m_dlg->numberEdit()->setText(number);
            m_dlg->dialButton()->click();
        };
        dial("700");
        QCOMPARE(m_dlg->number(), "700");
        dial("700");
        QCOMPARE(stored(), (QStringList{"700", "5551234", "8123"}));

        // Picking a shown entry dials it.
        m_dlg->resetDialog();
        QTest::keyClicks(m_dlg->numberEdit(), "81");
        QListWidget *list = m_dlg->historyList();
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(list->item(2)).center());
        QCOMPARE(accepted.count(), 3);
        QCOMPARE(stored(), (QStringList{"8123", "700", "5551234"}));

        // The 101st distinct number drops the oldest.
        for (int i = 0; i < 98; ++i)
            dial(QString::number(9000 + i));
        QCOMPARE(stored().size(), 100);
        QCOMPARE(stored().first(), "9097");
        QCOMPARE(stored().last(), "700");
    }
};

QTEST_MAIN(TelephoneNumberDlgTest)
#include "telephonenumberdlg_test.moc"
