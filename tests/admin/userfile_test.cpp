#include "admin/admininput.h"
#include "admin/userfile.h"
#include "admin/userformcheck.h"

#include <QtTest>

// The user file as the server stores it, and the checks that keep typed text from
// turning into a wrong file name or a broken document.
class UserFileTest : public QObject
{
    Q_OBJECT

private:
    static QString readError(const QString &text, const QString &login = QStringLiteral("1001"))
    {
        UserProfile p;
        return UserFile::read(text, login, QStringLiteral("/dir/1001.xml"), p);
    }

private slots:
    // The exact layout the server includes: element order, attribute order, empty
    // attributes that must be present, and the technician's permissions.
    void writesServerLayout()
    {
        UserProfile p;
        p.login = QStringLiteral("1001");
        p.groups = QStringList{QStringLiteral("A"), QStringLiteral("B")};
        p.userType = UserProfile::Technician;
        p.displayName = QStringLiteral("Иванов");
        p.password = QStringLiteral("pw");
        p.operators = {{QStringLiteral("Оп"), QStringLiteral("+7 900")}};
        const QString expected =
            QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                           "<include>\n"
                           "    <user id=\"1001\" groups=\"A;B;\" role=\"technician\" "
                           "allow=\"recordings;settings;control\">\n"
                           "        <params>\n"
                           "            <param name=\"password\" value=\"pw\"/>\n"
                           "        </params>\n"
                           "        <variables>\n"
                           "            <variable name=\"user_context\" value=\"default\"/>\n"
                           "            <variable name=\"effective_caller_id_name\" value=\"Иванов\"/>\n"
                           "        </variables>\n"
                           "        <operators>\n"
                           "            <operator name=\"Оп\" telephone=\"+7 900\"/>\n"
                           "        </operators>\n"
                           "    </user>\n"
                           "</include>\n");
        QCOMPARE(UserFile::write(p), expected);

        p.groups.clear();
        p.operators.clear();
        p.userType = UserProfile::Dispatcher;
        const QString plain = UserFile::write(p);
        QVERIFY(plain.contains(QStringLiteral("groups=\"\" role=\"dispatcher\" allow=\"\"")));
        QVERIFY(!plain.contains(QStringLiteral("operators")));
    }

    // Whatever the dispatcher types comes back unchanged and never breaks the document.
    void roundTripsHostileTexts_data()
    {
        QTest::addColumn<int>("userType");
        QTest::addColumn<QString>("text");
        QTest::newRow("quotes") << 0 << QStringLiteral("a\"b'c");
        QTest::newRow("markup") << 1 << QStringLiteral("</user><user id=\"1002\">&amp;");
        QTest::newRow("cyrillic") << 2 << QStringLiteral("Пётр Ёжиков — «дежурный»");
        QTest::newRow("blanks") << 0 << QStringLiteral("  два  пробела\tи таб ");
    }

    void roundTripsHostileTexts()
    {
        QFETCH(int, userType);
        QFETCH(QString, text);
        UserProfile p;
        p.login = QStringLiteral("user.name-1_x");
        p.userType = userType;
        p.displayName = text;
        p.password = text + QStringLiteral("<&>");
        // ";" separates groups in the file; the form never lets one into a group name.
        p.groups = QStringList{QString(text).remove(QLatin1Char(';')), QStringLiteral("группа")};
        p.operators = {{text, QStringLiteral("+7 (900) 000-00-00")}, {QString(), text}};
        UserProfile back;
        QCOMPARE(UserFile::read(UserFile::write(p), p.login, QStringLiteral("f"), back), QString());
        QCOMPARE(back, p);
    }

    void readerMessages()
    {
        // An empty file, an empty root, broken XML, an id in other letter case.
        QCOMPARE(readError(QString()),
                 QStringLiteral("Ошибка парсинга файла /dir/1001.xml: отсутствует стартовый тэг"));
        const QString invalid = QStringLiteral("Неверный XML-файл с информацией о настройках пользователя");
        for (const char *text : {"<include/>", "<include><user id=\"1001\"><params></include>"})
            QCOMPARE(readError(QString::fromLatin1(text)), invalid);
        QCOMPARE(
            readError(QStringLiteral("<include><user id=\"Abc\"/></include>"), QStringLiteral("abc")),
            QStringLiteral("Неожиданный идентификатор пользователя в файле /dir/1001.xml: ожидалось abc, "
                           "найдено Abc"));
    }

    // A file written by hand on the server: other layout, empty group entries, unknown
    // role, missing parts, the allow attribute and extra elements all tolerated.
    void readsHandWrittenFile()
    {
        UserProfile p;
        const QString text = QStringLiteral(
            "<include><user id=\"1001\" groups=\"a;;b;\" role=\"Dispatcher\" allow=\"x\"><extra/>"
            "<params><param name=\"vm-password\" value=\"no\"/><param name=\"password\" "
            "value=\"s&amp;\"/></params>"
            "<operators><operator name=\"n\" telephone=\"t\"/><operator name=\"m\"/></operators>"
            "</user></include>");
        QCOMPARE(UserFile::read(text, QStringLiteral("1001"), QStringLiteral("f"), p), QString());
        QCOMPARE(p.groups, (QStringList{QStringLiteral("a"), QStringLiteral("b")}));
        QCOMPARE(p.userType, int(UserProfile::Subscriber));
        QCOMPARE(p.password, QStringLiteral("s&"));
        QCOMPARE(p.displayName, QString());
        QCOMPARE(p.operators, (QList<UserProfile::Operator>{{"n", "t"}, {"m", ""}}));
    }

    // Logins become file names on the server: nothing may leave the template's folder.
    void refusesUnsafeLoginsAndAddresses()
    {
        const QString tmpl = QStringLiteral("/etc/freeswitch/directory/default/%1.xml");
        QString error;
        QCOMPARE(AdminInput::userFilePath(tmpl, QStringLiteral("Ivan.P-1_2"), &error),
                 QStringLiteral("/etc/freeswitch/directory/default/Ivan.P-1_2.xml"));
        QCOMPARE(error, QString());
        const QStringList hostile{"../1001", "..",  ".hidden", "a/b",  "a\\b", "1001 ",
                                  "a\"b",    "a%2", "a<b",     "иван", "a\nb", QString(65, QLatin1Char('a')),
                                  ""};
        for (const QString &login : hostile) {
            QVERIFY2(AdminInput::userFilePath(tmpl, login, &error).isEmpty(), qPrintable(login));
            QVERIFY2(!error.isEmpty(), qPrintable(login));
        }
        QVERIFY(AdminInput::loginError(QString(64, QLatin1Char('a'))).isEmpty());
        AdminInput::userFilePath(QString(), QStringLiteral("1001"), &error);
        QCOMPARE(error, QStringLiteral("Ошибка: не установлен шаблон имени файла пользователя"));
        QVERIFY(AdminInput::userFilePath(QStringLiteral("/etc/users.xml"), QStringLiteral("1001"), &error)
                    .isEmpty());

        for (const char *ip : {"10.0.0.1", "255.255.255.255", "fe80::1", "2001:db8::10"})
            QVERIFY2(AdminInput::ipError(QString::fromUtf8(ip)).isEmpty(), ip);
        for (const char *ip :
             {"10.0.1", "256.1.1.1", "1.2.3.4/x", "1.2.3.4 5", "host.name", "::g", "1.2.3.4;x"})
            QVERIFY2(!AdminInput::ipError(QString::fromUtf8(ip)).isEmpty(), ip);
    }

    // The form's remaining checks in their order, then the cleaned-up data.
    void editFormChecks()
    {
        UserFormCheck::Input in;
        UserProfile p;
        QCOMPARE(UserFormCheck::checkRest(in, p),
                 QStringLiteral("Отображаемое имя пользователя не должно быть пустым"));
        in.displayName = QStringLiteral(" Имя ");
        in.userTypeIndex = -1;
        QCOMPARE(UserFormCheck::checkRest(in, p), QStringLiteral("Выберите тип пользователя"));
        in.userTypeIndex = 2;
        in.alarmIp = QStringLiteral("10");
        QCOMPARE(UserFormCheck::checkRest(in, p),
                 QStringLiteral("Введите правильную строку настроек громкого боя"));
        in.alarmIp = QStringLiteral(" 10.1.1.7 ");
        in.alarmSlot = QStringLiteral("5");
        in.groupsText = QStringLiteral("a; ;b;a;");
        in.operatorRows = {{"", ""}, {"x", ""}, {"", "y"}};
        QCOMPARE(UserFormCheck::checkRest(in, p), QString());
        QCOMPARE(p.displayName, QStringLiteral("Имя"));
        QCOMPARE(p.alarmSetting, QStringLiteral("10.1.1.7:5"));
        QCOMPARE(p.groups, (QStringList{"a", "b"}));
        QCOMPARE(p.operators, (QList<UserProfile::Operator>{{"x", ""}, {"", "y"}}));
        QCOMPARE(UserFormCheck::groupsFromText(QStringLiteral("a;Без Имени;b")), QStringList());
    }
};

QTEST_GUILESS_MAIN(UserFileTest)
#include "userfile_test.moc"
