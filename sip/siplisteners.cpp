#include "sip/siplisteners.h"

#include "app/xmlconfig.h"
#include "sip/defaultinterface.h"

#include <QDebug>

#include <cstring>

#include <sys/socket.h>

namespace {

QString errnoText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

} // namespace

void SipListeners::clear()
{
    m_bindAddress.clear();
}

// Hands the listeners to the core before it starts: none with an external
// phone, else UDP and TCP on the port and TLS above it, on the configured
// address or on all addresses.
void SipListeners::prepare(LinphoneCore *core, const XMLConfig &config, int port)
{
    LinphoneFactory *factory = linphone_factory_get();
    m_bindAddress.clear();
    if (config.externalUA) {
        // The dispatcher's own phone speaks SIP; keep the core for the sound
        // devices but open no listener.
        LinphoneTransports *none = linphone_factory_create_transports(factory);
        linphone_transports_set_udp_port(none, 0);
        linphone_transports_set_tcp_port(none, 0);
        linphone_transports_set_tls_port(none, 0);
        linphone_core_set_transports(core, none);
        linphone_transports_unref(none);
    } else {
        m_caFile = config.caFile.toUtf8();
        m_certFile = config.certFile.toUtf8();
        m_keyFile = config.keyFile.toUtf8();
        if (!m_caFile.isEmpty())
            linphone_core_set_root_ca(core, m_caFile.constData());
        if (!m_certFile.isEmpty())
            linphone_core_set_tls_cert_path(core, m_certFile.constData());
        if (!m_keyFile.isEmpty())
            linphone_core_set_tls_key_path(core, m_keyFile.constData());

        QByteArray ipv4;
        if (DefaultInterface::localAddress(AF_INET, ipv4))
            qDebug() << "local IPv4 address is" << ipv4.constData();
        else
            qCritical() << "error getting local IPv4 address";
        QByteArray ipv6;
        const bool hasIPv6 = DefaultInterface::localAddress(AF_INET6, ipv6);
        if (hasIPv6)
            qDebug() << "local IPv6 address is" << ipv6.constData();
        else
            qCritical() << "error getting local IPv6 address";

        LinphoneConfig *lc = linphone_core_get_config(core);
        bool useIPv6 = hasIPv6;
        if (!config.bindAddressAuto && !config.bindAddress.isEmpty()) {
            // A listener bound to one IPv4 address cannot serve IPv6 as well.
            m_bindAddress = config.bindAddress.toUtf8();
            linphone_config_set_string(lc, "sip", "bind_address", m_bindAddress.constData());
            useIPv6 = false;
        } else if (!hasIPv6) {
            // Listening on the wildcard address covers the default interface;
            // with IPv6 the same dual-stack sockets serve both families.
            qInfo() << "CPJSIPSUA::Init(): no IPv6 on this host, SIP listens on IPv4 only";
        }

        LinphoneTransports *tr = linphone_factory_create_transports(factory);
        if (port == 0) {
            // The library picks the UDP port; TCP and TLS follow it below.
            linphone_transports_set_udp_port(tr, LC_SIP_TRANSPORT_RANDOM);
            linphone_transports_set_tcp_port(tr, 0);
            linphone_transports_set_tls_port(tr, 0);
        } else {
            linphone_transports_set_udp_port(tr, port);
            linphone_transports_set_tcp_port(tr, port);
            linphone_transports_set_tls_port(tr, port + 1);
        }
        linphone_core_set_transports(core, tr);
        linphone_transports_unref(tr);
        // Only now: switching the family re-opens the listeners, which before
        // our transports were set would be on the library's standard port.
        linphone_core_enable_ipv6(core, useIPv6 ? TRUE : FALSE);
    }
}

// Checks the listeners the core opened and, with a library-chosen port, puts
// TCP and TLS next to UDP. Returns false when a configured port could not be
// used for UDP or TCP.
bool SipListeners::check(LinphoneCore *core, int port, QString &error)
{
    LinphoneFactory *factory = linphone_factory_get();
    if (port == 0) {
        const int udp = SipListeners::port(core, Protocol::Udp);
        if (udp <= 0) {
            qCritical() << "CPJSIPSUA::Init(): cannot create IPv4 UDP transport on a free port";
            return true;
        }
        LinphoneTransports *tr = linphone_factory_create_transports(factory);
        linphone_transports_set_udp_port(tr, udp);
        linphone_transports_set_tcp_port(tr, udp);
        linphone_transports_set_tls_port(tr, udp + 1);
        linphone_core_set_transports(core, tr);
        linphone_transports_unref(tr);
        if (SipListeners::port(core, Protocol::Tcp) <= 0)
            qCritical() << "CPJSIPSUA::Init(): cannot create IPv4 TCP transport:"
                        << qPrintable(
                               errnoText(DefaultInterface::bindError(SOCK_STREAM, udp, m_bindAddress)));
        if (SipListeners::port(core, Protocol::Tls) <= 0)
            qWarning() << "CPJSIPSUA::Init(): cannot create IPv4 TLS transport:"
                       << "no TLS listener on port" << udp + 1;
        return true;
    }

    // TCP is only looked at once UDP stands, as the user sees one cause.
    if (SipListeners::port(core, Protocol::Udp) <= 0) {
        error = QStringLiteral("Error creating SIP UDP listener:") + failure(SOCK_DGRAM, port);
        return false;
    }
    if (SipListeners::port(core, Protocol::Tcp) <= 0) {
        error = QStringLiteral("Error creating SIP TCP listener:") + failure(SOCK_STREAM, port);
        return false;
    }
    if (SipListeners::port(core, Protocol::Tls) <= 0)
        qWarning() << "CPJSIPSUA::Init(): cannot create IPv4 TLS transport:"
                   << "no TLS listener on port" << port + 1;
    return true;
}

// The library only tells that a listener failed; a bind of our own on the same
// address and port finds the system's reason. Should that bind succeed (the
// cause has gone meanwhile) there is no number to give.
QString SipListeners::failure(int socketType, int port) const
{
    const int error = DefaultInterface::bindError(socketType, port, m_bindAddress);
    if (error == 0)
        return QStringLiteral("the SIP library could not listen on port %1").arg(port);
    return errnoText(error) + QStringLiteral("[status:") + QString::number(error) + QLatin1Char(']');
}

int SipListeners::port(LinphoneCore *core, Protocol protocol)
{
    if (!core)
        return -1;
    LinphoneTransports *used = linphone_core_get_transports_used(core);
    if (!used)
        return -1;
    int port = 0;
    switch (protocol) {
    case Protocol::Udp:
        port = linphone_transports_get_udp_port(used);
        break;
    case Protocol::Tcp:
        port = linphone_transports_get_tcp_port(used);
        break;
    case Protocol::Tls:
        port = linphone_transports_get_tls_port(used);
        break;
    }
    linphone_transports_unref(used);
    return port;
}
