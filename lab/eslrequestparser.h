#pragma once

#include "lab/eslrequest.h"

#include <QByteArray>

// Cuts the client's byte stream into requests: a command is a block of lines ended by an
// empty line, followed by a body when the block carries Content-Length. Carriage returns
// before line feeds are dropped. Plain class, used by EslSession on the lab's thread.
class EslRequestParser
{
public:
    // Largest header block or body accepted; beyond it the stream is treated as broken.
    static constexpr int MaxSize = 4 * 1024 * 1024;

    void feed(const QByteArray &data);
    // Takes the next complete request; false when none is complete yet.
    bool next(EslRequest &request);
    // The stream broke a limit; the connection should be closed.
    bool broken() const { return m_broken; }

private:
    QByteArray m_buffer;
    bool m_broken = false;
};
