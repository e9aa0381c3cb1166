#pragma once

#include "devices/DeviceComponent.h"
#include "devices/HostnameDialog.h"

#include <QAbstractSocket>

#include <memory>

class QTcpSocket;

// The gripper over one TCP client connection. Open only starts the attempt; OnConnect or
// OnError follow from the event loop.
class TTCPDevice : public TDevice {
    Q_OBJECT
public:
    static constexpr int DefaultPort = 1000;

    explicit TTCPDevice(QObject* owner);
    ~TTCPDevice() override;

    bool IsOpen() override;
    // Runs the host dialog, then OpenHost with its values.
    TStat Open(const QString& PortName) override;
    // Starts a connection attempt without a dialog; the dialog shows these values next time.
    TStat OpenHost(const QString& Host, int Port);
    TStat Close() override;
    std::int32_t BytesAvailable() override;
    std::int32_t Read(std::uint8_t* Buffer, std::int32_t Count) override;
    TStat Write(const std::uint8_t* Buffer, std::int32_t Count) override;
    void GetPortList(QStringList& Items) override;

    THostNameDlg* HostDialog() const { return FHostDlg.get(); }
    QTcpSocket* ClientSocket() const { return FSocket; }

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

    std::unique_ptr<THostNameDlg> FHostDlg;
    QTcpSocket* FSocket;
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
    std::int64_t FBytesRead = 0; // by Read, over the life of the device
};
