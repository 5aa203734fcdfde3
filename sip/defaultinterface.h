#pragma once

#include <QByteArray>

// Answers two questions the SIP agent asks the host before it hands ports and
// addresses to the SIP library: which local address carries the default route
// (the source address a UDP socket would use to reach the outside world; no
// packet is sent), and why a local port cannot be bound. Stateless; callable
// from any thread.
class DefaultInterface
{
public:
    // family is AF_INET or AF_INET6. On success fills address with the textual
    // address (no port) and returns true.
    static bool localAddress(int family, QByteArray &address);

    // Tries to bind a socket of the given type (SOCK_DGRAM or SOCK_STREAM) to the
    // port on the IPv4 address (all addresses when empty), with address reuse
    // like the SIP library's own listeners. Returns 0 when it could be bound,
    // the errno value otherwise.
    static int bindError(int socketType, int port, const QByteArray &address = QByteArray());
};
