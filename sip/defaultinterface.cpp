#include "sip/defaultinterface.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// Documentation prefixes: any default route covers them, and connecting a UDP
// socket only selects a route, so nothing ever reaches them.
const char *const probeIPv4 = "198.51.100.1";
const char *const probeIPv6 = "2001:db8::1";

class SocketGuard
{
public:
    explicit SocketGuard(int fd) : m_fd(fd) {}
    ~SocketGuard()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    int fd() const { return m_fd; }

private:
    int m_fd;
};

} // namespace

bool DefaultInterface::localAddress(int family, QByteArray &address)
{
    if (family != AF_INET && family != AF_INET6)
        return false;
    SocketGuard sock(::socket(family, SOCK_DGRAM, 0));
    if (sock.fd() < 0)
        return false;

    sockaddr_storage remote{};
    socklen_t remoteLength = 0;
    if (family == AF_INET) {
        auto *in = reinterpret_cast<sockaddr_in *>(&remote);
        in->sin_family = AF_INET;
        in->sin_port = htons(53);
        ::inet_pton(AF_INET, probeIPv4, &in->sin_addr);
        remoteLength = sizeof(sockaddr_in);
    } else {
        auto *in6 = reinterpret_cast<sockaddr_in6 *>(&remote);
        in6->sin6_family = AF_INET6;
        in6->sin6_port = htons(53);
        ::inet_pton(AF_INET6, probeIPv6, &in6->sin6_addr);
        remoteLength = sizeof(sockaddr_in6);
    }
    if (::connect(sock.fd(), reinterpret_cast<sockaddr *>(&remote), remoteLength) != 0)
        return false;

    sockaddr_storage local{};
    socklen_t localLength = sizeof(local);
    if (::getsockname(sock.fd(), reinterpret_cast<sockaddr *>(&local), &localLength) != 0)
        return false;

    char text[64] = {0};
    const void *raw = family == AF_INET
                          ? static_cast<const void *>(&reinterpret_cast<sockaddr_in *>(&local)->sin_addr)
                          : static_cast<const void *>(&reinterpret_cast<sockaddr_in6 *>(&local)->sin6_addr);
    if (!::inet_ntop(family, raw, text, sizeof(text)))
        return false;
    address = QByteArray(text);
    return true;
}

int DefaultInterface::bindError(int socketType, int port, const QByteArray &address)
{
    SocketGuard sock(::socket(AF_INET, socketType, 0));
    if (sock.fd() < 0)
        return errno;
    const int on = 1;
    ::setsockopt(sock.fd(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof(on));
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_ANY);
    if (!address.isEmpty() && ::inet_pton(AF_INET, address.constData(), &addr.sin_addr) != 1)
        return EINVAL;
    if (::bind(sock.fd(), reinterpret_cast<sockaddr *>(&addr), sizeof(addr)) != 0)
        return errno;
    return 0;
}
