#include "ui/connectionwatch.h"
#include "ui/doublelinebutton.h"
#include "ui/keyenterreceiver.h"
#include "ui/lineeditescapekey.h"
#include "ui/phonebookfile.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QTemporaryDir>
#include <QtTest>

// The window's small widgets and the phone book's reload rules.
class WidgetsTest : public QObject
{
    Q_OBJECT

private slots:
    void keyReceiverTakesOnlyItsShortcuts()
    {
        QWidget target;
        KeyEnterReceiver receiver;
        target.installEventFilter(&receiver);
        QSignalSpy groups(&receiver, &KeyEnterReceiver::ShowHideAllUsersGroup);
        QSignalSpy quits(&receiver, &KeyEnterReceiver::quit);

        struct Press
        {
            Qt::Key key;
            Qt::KeyboardModifiers mods;
            int groups;
            int quits;
        };
        const Press presses[] = {
            {Qt::Key_F, Qt::AltModifier, 1, 0},
            {Qt::Key_F, Qt::MetaModifier, 1, 0},
            {Qt::Key_F, Qt::AltModifier | Qt::ShiftModifier, 0, 0},
            {Qt::Key_F, Qt::NoModifier, 0, 0},
            {Qt::Key_Q, Qt::ControlModifier, 0, 1},
            {Qt::Key_Q, Qt::ControlModifier | Qt::ShiftModifier, 0, 1},
            {Qt::Key_Q, Qt::AltModifier, 0, 0},
        };
        for (const Press &p : presses) {
            groups.clear();
            quits.clear();
            QKeyEvent event(QEvent::KeyPress, p.key, p.mods);
            const bool consumed = receiver.eventFilter(&target, &event);
            const QByteArray what = QKeySequence(int(p.key) | int(p.mods)).toString().toUtf8();
            QVERIFY2(groups.count() == p.groups && quits.count() == p.quits, what.constData());
            QVERIFY2(consumed == (p.groups + p.quits > 0), what.constData());
        }
        // Releases never act.
        QKeyEvent release(QEvent::KeyRelease, Qt::Key_F, Qt::AltModifier);
        QVERIFY(!receiver.eventFilter(&target, &release));
        QCOMPARE(groups.count(), 0);
    }

    void escapeIsReportedNotSwallowedByTheLineEdit()
    {
        LineEditEscapeKey line("Введите имя");
        QSignalSpy escapes(&line, &LineEditEscapeKey::EscapeKeyPressed);
        line.show();
        QTest::keyClicks(&line, "Iva");
        QTest::keyClick(&line, Qt::Key_Escape);
        QCOMPARE(escapes.count(), 1);
        QCOMPARE(line.text(), QString("Iva")); // the filter owner decides what Escape clears

        // The hint is painted over an empty field only.
        line.clear();
        line.resize(200, 30);
        const QImage withHint = line.grab().toImage();
        line.setHint(QString());
        const QImage withoutHint = line.grab().toImage();
        QVERIFY(withHint != withoutHint);
    }

    void doubleLineButtonSwitchesItsOwnLayout()
    {
        DoubleLineButton button;
        auto *layout = new QHBoxLayout(&button);
        auto *first = new QLabel("Первая строка");
        auto *second = new QLabel("Вторая строка");
        layout->addWidget(first);
        layout->addWidget(second);
        button.toggled(false);
        QVERIFY(!first->isEnabled() && !second->isEnabled());
        button.toggled(true);
        QVERIFY(first->isEnabled() && second->isEnabled());
    }

    void linkWatchReloadsOnceForEveryWayTheLinkComesBack()
    {
        // Each step: what the client reports, then dead / stale / reloads asked so far.
        struct Step
        {
            const char *report;
            bool dead, stale;
            int reloads;
        };
        const QList<QList<Step>> stories = {
            // Timed out on a live socket, then answered: one reload of our own.
            {{"dead", true, true, 0}, {"alive", false, true, 1}, {"reloaded", false, false, 1}},
            // Dropped and reconnected: the client's connected() reloads, we ask for nothing.
            {{"lost", true, true, 0}, {"connected", false, true, 0}, {"reloaded", false, false, 0}},
            // Timed out, dropped, reconnected: "alive" comes just before connected().
            {{"dead", true, true, 0},
             {"lost", true, true, 0},
             {"alive", true, true, 0},
             {"connected", false, true, 0},
             {"reloaded", false, false, 0}},
            // A logout is no failure; a RELOADXML on a healthy link marks nothing.
            {{"logout", false, false, 0}, {"connected", false, false, 0}, {"reloaded", false, false, 0}},
            // A reload that ends while the link is down again does not clear the mark.
            {{"lost", true, true, 0},
             {"connected", false, true, 0},
             {"dead", true, true, 0},
             {"reloaded", true, true, 0},
             {"alive", false, true, 1},
             {"reloaded", false, false, 1}},
        };
        for (int n = 0; n < stories.size(); ++n) {
            ConnectionWatch watch;
            QSignalSpy reloads(&watch, &ConnectionWatch::reloadRequested);
            for (const Step &step : stories.at(n)) {
                const QString report = step.report;
                if (report == "dead" || report == "alive")
                    watch.setDead(report == "dead");
                else if (report == "lost" || report == "logout")
                    watch.linkLost(report == "lost" ? "reconnect requested" : "disconnect requested");
                else if (report == "connected")
                    watch.linkUp();
                else
                    watch.conferencesReloaded();
                const QByteArray where = QString("story %1, after %2").arg(n).arg(report).toUtf8();
                QVERIFY2(watch.isDead() == step.dead && watch.isStale() == step.stale, where.constData());
                QVERIFY2(reloads.count() == step.reloads, where.constData());
            }
        }
    }

    void phoneBookReloadsOnlyWhatChanged()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("phonebook.txt");
        PhoneBookFile book;
        QString text;

        QCOMPARE(book.refresh(path, &text), PhoneBookFile::Result::Missing);
        QCOMPARE(text, "Файл " + path + " отсутствует");

        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(QString("Дежурный 1001\r\nДиспетчер 1000").toUtf8()); // no final line feed
        file.close();
        QCOMPARE(book.refresh(path, &text), PhoneBookFile::Result::Loaded);
        QCOMPARE(text, QString("Дежурный 1001\nДиспетчер 1000\n"));

        text = "untouched";
        QCOMPARE(book.refresh(path, &text), PhoneBookFile::Result::Unchanged);
        QCOMPARE(text, QString("untouched"));

        // A changed file (newer time stamp) is read again.
        QVERIFY(file.open(QIODevice::Append));
        file.write(QString("\nСлужба 112\n").toUtf8());
        file.flush(); // the time stamp set below must outlast the write
        file.setFileTime(QDateTime::currentDateTime().addSecs(5), QFileDevice::FileModificationTime);
        file.close();
        QCOMPARE(book.refresh(path, &text), PhoneBookFile::Result::Loaded);
        QVERIFY(text.endsWith("Служба 112\n"));

        // Another path (a new setting) with the same time stamp is still another file.
        const QString other = dir.filePath("other.txt");
        QVERIFY(QFile::copy(path, other));
        QFile(other).setFileTime(QFileInfo(path).lastModified(), QFileDevice::FileModificationTime);
        QCOMPARE(book.refresh(other, &text), PhoneBookFile::Result::Loaded);

        // Gone again, then back with the old time stamp: shown again, not "unchanged".
        const QDateTime stamp = QFileInfo(path).lastModified();
        QVERIFY(QFile::rename(path, path + ".bak"));
        QCOMPARE(book.refresh(path, &text), PhoneBookFile::Result::Missing);
        QVERIFY(QFile::rename(path + ".bak", path));
        QCOMPARE(QFileInfo(path).lastModified(), stamp);
        QCOMPARE(book.refresh(path, &text), PhoneBookFile::Result::Loaded);

        // Something that exists but cannot be read as a file.
        const QString folder = dir.filePath("folder");
        QVERIFY(QDir().mkpath(folder));
        QCOMPARE(book.refresh(folder, &text), PhoneBookFile::Result::OpenError);
        QCOMPARE(text, "Ошибка открытия файл телефонной книги - " + folder);
    }
};

QTEST_MAIN(WidgetsTest)
#include "widgets_test.moc"
