#pragma once

#include "esl/esl2.h"

#include <QByteArray>
#include <QString>

// Cuts the event-socket byte stream into messages (header block, blank line, optional body of
// Content-Length bytes) and decodes JSON event bodies. Plain class without I/O, so the client,
// the fuzz target and the benchmark drive the same code. Owned by ESL2; single thread.
class EslParser
{
public:
    // Consumes bytes from data until one message is complete or the bytes run out, and returns
    // how many were consumed. When a message completed, *complete is set and message() holds
    // it; the caller clears it (Message::clear()) before feeding more. Partial lines and bodies
    // are kept for the next call.
    int feed(const char *data, int size, bool *complete);

    ESL2::Message &message() { return m_message; }

    // Drops any partial line, body and message; used when a new connection starts.
    void reset();

    // Fills event with every string field of a JSON object and returns true; the event name
    // and subclass are taken from "Event-Name" and "Event-Subclass". Returns false (with a
    // warning) when the body is not a JSON object.
    static bool decodeJsonEvent(const QByteArray &body, ESL2::Event *event, QString *name, QString *subclass);

private:
    QByteArray m_lineBuffer;
    // 0 = reading header lines, 1 = reading the body.
    int m_readState = 0;
    ESL2::Message m_message;
};
