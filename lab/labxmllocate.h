#pragma once

#include <QString>

class LabDirectory;

// "xml_locate directory domain name <domain>": the directory domain as one XML document, laid out
// and escaped the way the real server writes it (domain params and variables, then every user
// of the folder with its attributes, params and variables under the group "default"). Any other
// question gets the server's "can't find anything". Stateless; used by LabServer's API dispatch.
class LabXmlLocate
{
public:
    static QString answer(const LabDirectory &directory, const QString &args);

    // Attribute text as the server escapes it: markup characters and line ends as entities,
    // everything outside ASCII as a hexadecimal character reference.
    static QString escape(const QString &text);
};
