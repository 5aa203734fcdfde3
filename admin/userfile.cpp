#include "admin/userfile.h"

#include <QXmlStreamReader>
#include <QXmlStreamWriter>

QString UserFile::roleOf(int userType)
{
    switch (userType) {
    case UserProfile::Dispatcher:
        return QStringLiteral("dispatcher");
    case UserProfile::Technician:
        return QStringLiteral("technician");
    default:
        return QStringLiteral("default");
    }
}

QString UserFile::allowOf(int userType)
{
    return userType == UserProfile::Technician ? QStringLiteral("recordings;settings;control") : QString();
}

QString UserFile::write(const UserProfile &profile)
{
    // Written as bytes: the writer declares the encoding only when it encodes itself.
    QByteArray bytes;
    QXmlStreamWriter xml(&bytes);
    xml.setCodec("UTF-8");
    xml.setAutoFormatting(true);
    xml.setAutoFormattingIndent(4);
    xml.writeStartDocument();
    xml.writeStartElement(QStringLiteral("include"));
    xml.writeStartElement(QStringLiteral("user"));
    xml.writeAttribute(QStringLiteral("id"), profile.login);
    QString groups;
    for (const QString &g : profile.groups)
        groups += g + QLatin1Char(';');
    xml.writeAttribute(QStringLiteral("groups"), groups);
    xml.writeAttribute(QStringLiteral("role"), roleOf(profile.userType));
    xml.writeAttribute(QStringLiteral("allow"), allowOf(profile.userType));

    xml.writeStartElement(QStringLiteral("params"));
    xml.writeEmptyElement(QStringLiteral("param"));
    xml.writeAttribute(QStringLiteral("name"), QStringLiteral("password"));
    xml.writeAttribute(QStringLiteral("value"), profile.password);
    xml.writeEndElement();

    xml.writeStartElement(QStringLiteral("variables"));
    xml.writeEmptyElement(QStringLiteral("variable"));
    xml.writeAttribute(QStringLiteral("name"), QStringLiteral("user_context"));
    xml.writeAttribute(QStringLiteral("value"), QStringLiteral("default"));
    xml.writeEmptyElement(QStringLiteral("variable"));
    xml.writeAttribute(QStringLiteral("name"), QStringLiteral("effective_caller_id_name"));
    xml.writeAttribute(QStringLiteral("value"), profile.displayName);
    xml.writeEndElement();

    if (!profile.operators.isEmpty()) {
        xml.writeStartElement(QStringLiteral("operators"));
        for (const auto &op : profile.operators) {
            xml.writeEmptyElement(QStringLiteral("operator"));
            xml.writeAttribute(QStringLiteral("name"), op.first);
            xml.writeAttribute(QStringLiteral("telephone"), op.second);
        }
        xml.writeEndElement();
    }
    xml.writeEndDocument();
    return QString::fromUtf8(bytes);
}

QString UserFile::read(const QString &text, const QString &expectedLogin, const QString &fileName,
                       UserProfile &profile)
{
    const QString invalid = QStringLiteral("Неверный XML-файл с информацией о настройках пользователя");
    profile = UserProfile();
    QXmlStreamReader xml(text);
    if (!xml.readNextStartElement()) {
        if (xml.hasError() && xml.error() != QXmlStreamReader::PrematureEndOfDocumentError)
            return invalid;
        return QStringLiteral("Ошибка парсинга файла %1: отсутствует стартовый тэг").arg(fileName);
    }
    if (!xml.readNextStartElement())
        return invalid;

    bool inUser = true; // the reader already stands on the element nested in the root
    bool sawUser = false;
    while (!xml.atEnd()) {
        if (inUser || xml.isStartElement()) {
            inUser = false;
            const QStringRef name = xml.name();
            const QXmlStreamAttributes attrs = xml.attributes();
            if (name == QLatin1String("user")) {
                const QString id = attrs.value(QLatin1String("id")).toString();
                if (id != expectedLogin)
                    return QStringLiteral("Неожиданный идентификатор пользователя в файле %1: ожидалось %2, "
                                          "найдено %3")
                        .arg(fileName, expectedLogin, id);
                profile.login = id;
                sawUser = true;
                profile.groups = attrs.value(QLatin1String("groups"))
                                     .toString()
                                     .split(QLatin1Char(';'), Qt::SkipEmptyParts);
                const QStringRef role = attrs.value(QLatin1String("role"));
                profile.userType = role == QLatin1String("dispatcher")   ? UserProfile::Dispatcher
                                   : role == QLatin1String("technician") ? UserProfile::Technician
                                                                         : UserProfile::Subscriber;
            } else if (name == QLatin1String("variable") &&
                       attrs.value(QLatin1String("name")) == QLatin1String("effective_caller_id_name")) {
                profile.displayName = attrs.value(QLatin1String("value")).toString();
            } else if (name == QLatin1String("param") &&
                       attrs.value(QLatin1String("name")) == QLatin1String("password")) {
                profile.password = attrs.value(QLatin1String("value")).toString();
            } else if (name == QLatin1String("operator")) {
                profile.operators.append({attrs.value(QLatin1String("name")).toString(),
                                          attrs.value(QLatin1String("telephone")).toString()});
            }
        }
        xml.readNext();
    }
    // Without a user element there is no login to edit or delete safely.
    if (xml.hasError() || !sawUser)
        return invalid;
    return QString();
}
