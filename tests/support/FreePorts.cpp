// SPDX-License-Identifier: Apache-2.0
#include "FreePorts.h"

#include <QHostAddress>
#include <QTcpServer>
#include <QUdpSocket>

quint16 FreeTcpPort() {
    QTcpServer s;
    s.listen(QHostAddress::LocalHost, 0);
    return s.serverPort();
}

quint16 FreeUdpPort() {
    QUdpSocket s;
    s.bind(QHostAddress::LocalHost, 0);
    return s.localPort();
}
