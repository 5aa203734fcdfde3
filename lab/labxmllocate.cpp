#include "lab/labxmllocate.h"

#include "lab/labdirectory.h"

#include <QStringList>

namespace {

const QString kNothing = QStringLiteral("can't find anything\n");

// The domain settings of a stock server configuration, as the recorded server had them.
const char kDomainSettings[] =
    "      <params>\n"
    "          <param name=\"dial-string\" value=\"{^^:sip_invite_domain=${dialed_domain}:presence_id="
    "${dialed_user}@${dialed_domain}}${sofia_contact(*/${dialed_user}@${dialed_domain})}\"></param>\n"
    "\n"
    "      \n"
    "          <param name=\"jsonrpc-allowed-methods\" value=\"verto\"></param>\n"
    "\n"
    "      \n"
    "    </params>\n"
    "\n"
    "\n"
    "      <variables>\n"
    "          <variable name=\"record_stereo\" value=\"true\"></variable>\n"
    "\n"
    "          <variable name=\"default_gateway\" value=\"example.com\"></variable>\n"
    "\n"
    "          <variable name=\"default_areacode\" value=\"918\"></variable>\n"
    "\n"
    "          <variable name=\"transfer_fallback_extension\" value=\"operator\"></variable>\n"
    "\n"
    "    </variables>\n"
    "\n"
    "\n"
    "      <groups>\n"
    "          <group name=\"default\">\n"
    "\t      <users>\n";

const char kDomainEnd[] = "\t</users>\n"
                          "\n"
                          "      </group>\n"
                          "\n"
                          "    </groups>\n"
                          "\n"
                          "\n"
                          "  </domain>\n";

QString attribute(const QString &name, const QString &value)
{
    return QLatin1Char(' ') + name + QStringLiteral("=\"") + LabXmlLocate::escape(value) + QLatin1Char('"');
}

void appendUser(QString &out, const LabUser &user)
{
    out += QStringLiteral("          <user");
    for (const auto &a : user.attributes)
        out += attribute(a.first, a.second);
    out += QStringLiteral(">\n              <params>\n");
    for (auto it = user.params.constBegin(); it != user.params.constEnd(); ++it)
        out += QStringLiteral("                  <param") + attribute(QStringLiteral("name"), it.key()) +
               attribute(QStringLiteral("value"), it.value()) + QStringLiteral("></param>\n\n");
    out += QStringLiteral("    </params>\n\n              <variables>\n");
    for (auto it = user.variables.constBegin(); it != user.variables.constEnd(); ++it)
        out += QStringLiteral("                  <variable") + attribute(QStringLiteral("name"), it.key()) +
               attribute(QStringLiteral("value"), it.value()) + QStringLiteral("></variable>\n\n");
    out += QStringLiteral("    </variables>\n\n");
    if (!user.operators.isEmpty()) {
        out += QStringLiteral("              <operators>\n");
        for (const auto &o : user.operators)
            out += QStringLiteral("                  <operator") +
                   attribute(QStringLiteral("name"), o.first) +
                   attribute(QStringLiteral("telephone"), o.second) + QStringLiteral("></operator>\n\n");
        out += QStringLiteral("    </operators>\n\n");
    }
    out += QStringLiteral("  </user>\n\n");
}

} // namespace

QString LabXmlLocate::escape(const QString &text)
{
    QString out;
    out.reserve(text.size());
    const QVector<uint> codePoints = text.toUcs4();
    for (const uint c : codePoints) {
        switch (c) {
        case '&':
            out += QStringLiteral("&amp;");
            break;
        case '<':
            out += QStringLiteral("&lt;");
            break;
        case '>':
            out += QStringLiteral("&gt;");
            break;
        case '"':
            out += QStringLiteral("&quot;");
            break;
        case '\n':
            out += QStringLiteral("&#xA;");
            break;
        case '\t':
            out += QStringLiteral("&#x9;");
            break;
        case '\r':
            out += QStringLiteral("&#xD;");
            break;
        default:
            if (c < 0x80)
                out += QChar(static_cast<ushort>(c));
            else
                out += QStringLiteral("&#x") + QString::number(c, 16).toUpper() + QLatin1Char(';');
        }
    }
    return out;
}

QString LabXmlLocate::answer(const LabDirectory &directory, const QString &args)
{
    const QStringList words = args.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (words.size() != 4 || words.at(0) != QLatin1String("directory") ||
        words.at(1) != QLatin1String("domain") || words.at(2) != QLatin1String("name") ||
        words.at(3) != directory.domain())
        return kNothing;
    QString out = QStringLiteral("<domain") + attribute(QStringLiteral("name"), directory.domain()) +
                  QStringLiteral(">\n") + QLatin1String(kDomainSettings);
    const QStringList ids = directory.userIds();
    for (const QString &id : ids) {
        if (const LabUser *user = directory.user(id))
            appendUser(out, *user);
    }
    out += QLatin1String(kDomainEnd);
    return out;
}
