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
    // Asks the prompts for host and port, then OpenHost with them.
    TStat Open(const QString& PortName) override;
    // Starts a connection attempt without asking; the prompts are offered these values next.
    TStat OpenHost(const QString& Host, int Port);
    TStat Close() override;
    std::int32_t BytesAvailable() override;
    std::int32_t Read(std::uint8_t* Buffer, std::int32_t Count) override;
    TStat Write(const std::uint8_t* Buffer, std::int32_t Count) override;
    void GetPortList(QStringList& Items) override;
    QString Address() const override;

    // Host and port as read from "tcp.cfg" at construction, then as last used.
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

protected:
    bool ConnectConditionMet() override;

private:
    void SocketRead();
    void SocketError(QAbstractSocket::SocketError error);
    void SocketStateChanged(QAbstractSocket::SocketState state);
    void SocketDisconnected();
    void AttemptTimedOut();
    // Ends a pending attempt quietly.
    void AbortAttempt();

    TTcpSettings FHostSettings;
    QTcpSocket* FSocket;
    QTimer* FAttemptTimer;
    QString FHost;
    int FPort = DefaultPort;
    // The state the socket was in before its latest change: tells a failed attempt from a
    // failing connection.
    QAbstractSocket::SocketState FPrevState = QAbstractSocket::UnconnectedState;
    bool FWasConnected = false; // an established connection that has not been closed yet
    bool FClosing = false;      // our own Close is tearing the connection down
    bool FStarting = false;     // inside the call that starts an attempt
    bool FStartFailed = false;
    bool FReadPosted = false;
    bool FTried = false;         // OpenHost ran at least once
    std::int64_t FBytesRead = 0; // by Read, over the life of the device
};
