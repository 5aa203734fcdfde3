#include "tests/support/freemediaport.h"

#include <QHostAddress>
#include <QUdpSocket>

int freeMediaPort()
{
    for (int attempt = 0; attempt < 50; ++attempt) {
        QUdpSocket rtp, rtcp;
        if (rtp.bind(QHostAddress(QHostAddress::LocalHost), 0) && rtp.localPort() < 65000 &&
            rtcp.bind(QHostAddress(QHostAddress::LocalHost), rtp.localPort() + 1))
            return rtp.localPort();
    }
    return 0;
}
