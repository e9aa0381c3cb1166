// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "devices/DeviceComponent.h"

#include <QAbstractSocket>

class QTcpSocket;

// The gripper over one TCP client connection. Open only starts the attempt; OnConnect or
// OnError follow from the event loop.
class TTCPDevice : public TDevice {
    Q_OBJECT
public:
    static constexpr int DefaultPort = 1000;
    // The most the socket holds unread; a flooding peer is then paced by TCP itself.
    static constexpr qint64 ReadBufferSize = 64 * 1024;
    // An attempt that gets no answer ends with OnError 18 after this long.
    static constexpr int DefaultAttemptTimeoutMs = 10000;

    explicit TTCPDevice(QObject* owner);
    ~TTCPDevice() override;

    bool IsOpen() override;
    // Starts a connection attempt without asking. Values the attempt started with are offered
    // to the prompts next; a port outside 1..65535 is refused (5) and offers nothing new.
    TStat OpenHost(const QString& Host, int Port);
    std::int32_t BytesAvailable() override;
    std::int32_t Read(std::uint8_t* Buffer, std::int32_t Count) override;
    TStat Write(const std::uint8_t* Buffer, std::int32_t Count) override;
    void GetPortList(QStringList& Items) override;
    QString Address() const override;

    // Host and port as read from "tcp.cfg" at construction, then as last accepted.
    const TTcpSettings& HostSettings() const { return FHostSettings; }
    QTcpSocket* ClientSocket() const { return FSocket; }
    // Whether an attempt has been started and neither connected nor failed yet.
    bool IsConnecting() const;
    int AttemptTimeoutMs = DefaultAttemptTimeoutMs;
    // Bytes delivered by Read over the life of the transport.
    std::int64_t BytesRead() const { return FBytesRead; }

    // The status passed to OnError for a socket error met in the given socket state.
    static TStat ErrorCode(QAbstractSocket::SocketError error,
                           QAbstractSocket::SocketState stateBefore);
    // The cause of a socket error for the operator; `detail` is the socket's own text, used
    // where plain words would say less.
    static QString ErrorText(QAbstractSocket::SocketError error, const QString& detail);

protected:
    std::optional<TDeviceSettings> OfferedSettings() const override { return FHostSettings; }
    TStat OpenChosen(const QString& PortName, const TDeviceSettings* chosen) override;
    TStat OpenHook() override;
    void CloseHook(bool wasOpen) override;

private:
    void SocketRead();
    void SocketError(QAbstractSocket::SocketError error);
    void SocketStateChanged(QAbstractSocket::SocketState state);
    void SocketDisconnected();
    void AttemptTimedOut();
    // Ends a pending attempt or a connection quietly: the socket's own reports of it are
    // not heard.
    void AbortSocket();

    TTcpSettings FHostSettings;
    // Where the latest OpenHost tried to reach the gripper, accepted or not.
    std::optional<TTcpSettings> FRequested;
    QTcpSocket* FSocket;
    QTimer* FAttemptTimer;
    // Announces what a reader left unread (see SocketRead); pending while it is active.
    QTimer* FReadAgain;
    // The state the socket was in before its latest change: tells a failed attempt from a
    // failing connection.
    QAbstractSocket::SocketState FPrevState = QAbstractSocket::UnconnectedState;
    std::int64_t FBytesRead = 0; // by Read, over the life of the device
};
