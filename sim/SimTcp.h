// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "SimLink.h"

#include <QHostAddress>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>

#include <vector>

// One TCP client. Closing it (or the peer leaving) deletes it.
class TSimTcpLink : public TSimLink {
    Q_OBJECT
public:
    TSimTcpLink(TGripperModel& model, QTcpSocket* socket, QObject* parent = nullptr);
    QString Name() const override { return FName; }
    qint64 Backlog() const override { return FSocket->bytesToWrite(); }

protected:
    void WriteFrame(const TByteArray& frame) override;
    void CloseLink() override;

private:
    void ReadAll();
    void PeerGone();

    QTcpSocket* FSocket;
    QString FName;
    std::vector<std::uint8_t> FBuffer = std::vector<std::uint8_t>(65536);
};

// Listens for clients; every client gets a link of its own to the one model, and a client
// that leaves makes room for the next.
class TSimTcpServer : public QObject {
    Q_OBJECT
public:
    explicit TSimTcpServer(TGripperModel& model, QObject* parent = nullptr);
    // Port 0 picks a free port; Port() tells which.
    bool Listen(const QHostAddress& address, quint16 port);
    QString ErrorString() const { return FServer.errorString(); }
    QHostAddress Address() const { return FServer.serverAddress(); }
    quint16 Port() const { return FServer.serverPort(); }
    int ClientCount() const;

Q_SIGNALS:
    void ClientConnected(TSimTcpLink* link);

private:
    void Accept();

    TGripperModel& FModel;
    QTcpServer FServer;
};
