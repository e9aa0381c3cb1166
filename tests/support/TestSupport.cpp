// SPDX-License-Identifier: Apache-2.0
#include "TestSupport.h"

#include <QHostAddress>
#include <QTcpSocket>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QFile>

#include <vector>

TempSettingsDir::TempSettingsDir() {
    SetSettingsDirectory(FDir.path());
}

TempSettingsDir::~TempSettingsDir() {
    SetSettingsDirectory(QString());
}

void TempSettingsDir::WriteFile(const QString& name, const QByteArray& text) const {
    QFile f(FilePath(name));
    if (f.open(QIODevice::WriteOnly))
        f.write(text);
}

QByteArray TempSettingsDir::ReadFile(const QString& name) const {
    QFile f(FilePath(name));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

SilentListener::~SilentListener() {
    delete FFiller;
    if (FFd >= 0)
        ::close(FFd);
}

bool SilentListener::Setup() {
    FFd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (FFd < 0 || ::bind(FFd, reinterpret_cast<sockaddr*>(&a), len) != 0 ||
        ::listen(FFd, 0) != 0 || ::getsockname(FFd, reinterpret_cast<sockaddr*>(&a), &len) != 0)
        return false;
    FPort = ntohs(a.sin_port);
    FFiller = new QTcpSocket;
    FFiller->connectToHost(QHostAddress::LocalHost, FPort);
    return FFiller->waitForConnected(10000);
}
