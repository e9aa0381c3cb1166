// SPDX-License-Identifier: Apache-2.0
#include "SimTcp.h"

#include <vector>

TSimTcpLink::TSimTcpLink(TGripperModel& model, QTcpSocket* socket, QObject* parent)
    : TSimLink(model, parent), FSocket(socket) {
    FSocket->setParent(this);
    FSocket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    FName =
        QStringLiteral("tcp %1:%2").arg(FSocket->peerAddress().toString()).arg(FSocket->peerPort());
    connect(FSocket, &QTcpSocket::readyRead, this, &TSimTcpLink::ReadAll);
    connect(FSocket, &QTcpSocket::disconnected, this, &TSimTcpLink::PeerGone);
    connect(FSocket, &QTcpSocket::errorOccurred, this, [this](QAbstractSocket::SocketError e) {
        if (e == QAbstractSocket::RemoteHostClosedError ||
            FSocket->state() == QAbstractSocket::UnconnectedState)
            PeerGone();
    });
}

void TSimTcpLink::ReadAll() {
    while (!IsClosed() && FSocket->bytesAvailable() > 0) {
        const qint64 n =
            FSocket->read(reinterpret_cast<char*>(FBuffer.data()), qint64(FBuffer.size()));
        if (n <= 0)
            break;
        FeedBytes(FBuffer.data(), static_cast<std::size_t>(n));
    }
}

void TSimTcpLink::WriteFrame(const TByteArray& frame) {
    if (FSocket->state() != QAbstractSocket::ConnectedState)
        return;
    FSocket->write(reinterpret_cast<const char*>(frame.data()), qint64(frame.size()));
}

void TSimTcpLink::CloseLink() {
    // What was written still goes out before the connection closes; the link goes when the
    // socket reports it is disconnected.
    FSocket->disconnectFromHost();
    if (FSocket->state() == QAbstractSocket::UnconnectedState)
        PeerGone();
}

void TSimTcpLink::PeerGone() {
    MarkClosed();
    deleteLater();
}

TSimTcpServer::TSimTcpServer(TGripperModel& model, QObject* parent)
    : QObject(parent), FModel(model) {
    connect(&FServer, &QTcpServer::newConnection, this, &TSimTcpServer::Accept);
}

bool TSimTcpServer::Listen(const QHostAddress& address, quint16 port) {
    return FServer.listen(address, port);
}

int TSimTcpServer::ClientCount() const {
    return int(findChildren<TSimTcpLink*>().size());
}

void TSimTcpServer::Accept() {
    while (QTcpSocket* socket = FServer.nextPendingConnection()) {
        auto* link = new TSimTcpLink(FModel, socket, this);
        Q_EMIT ClientConnected(link);
    }
}
