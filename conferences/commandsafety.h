#pragma once

#include <QString>

// Makes operator- and directory-supplied text safe to place into server commands, one
// function per place it goes. A blank, quote, comma, brace or bracket in the wrong place
// would add channel variables or split an originate, a line break would end an injected
// event early, and "%<digit>" would be taken by a later template substitution. Refusals
// come with a Russian text for the operator. Stateless; any thread.
class CommandSafety
{
public:
    // A conference name the server can take as a bare word: not blank, and without
    // blanks, quotes, commas, braces, brackets, "@", "/", "%" or control characters.
    static bool isConferenceName(const QString &name, QString *why = nullptr);
    // A bare word of a command (user URI, number, Member-ID, channel UUID, dialplan context):
    // not empty, and without blanks, quotes, commas, braces, brackets, "/", "|", "%" or
    // control characters.
    static bool isBareArgument(const QString &value, QString *why = nullptr);
    // A value placed between single quotes in a channel-variable list. A quote becomes a
    // typographic apostrophe, braces and brackets become parentheses (the server finds the
    // end of a variable block without regard to quotes) and "%" becomes a full-width percent;
    // control characters are refused.
    static bool quotedValue(const QString &value, QString *safe, QString *why = nullptr);
    // A header value of an event the console injects: one line, no template placeholders.
    static QString headerValue(const QString &value);
};
