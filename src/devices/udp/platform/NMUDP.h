// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "protocol/Errors.h"

#include <QObject>
#include <QString>

#include <cstdint>
#include <functional>

class QSocketNotifier;

// A failure of the UDP socket component.
class UDPSockError : public EKaroError {
public:
    using EKaroError::EKaroError;
};

// The UDP socket component: one IPv4 datagram socket whose readability reaches the
// user-interface thread through a socket notifier. Host names are looked up while events keep
// being processed.
class TNMUDP : public QObject {
    Q_OBJECT
public:
    using TOnReceive =
        std::function<void(QObject* Sender, int NumberBytes, const QString& FromIP, int Port)>;
    using TNotifyEvent = std::function<void(QObject* Sender)>;
    using TOnStatus = std::function<void(QObject* Sender, const QString& Status)>;
    using THandlerEvent = std::function<void(bool& Handled)>;
    using TBuffInvalid = std::function<void(bool& Handled, const std::uint8_t* Buff, int& Length)>;
    using TOnErrorEvent = std::function<void(const QString& Text)>;

    static constexpr int ReceiveBufferSize = 2048;
    static constexpr int MaxHostLength = 128; // host names are copied into 129 characters

    // Creates the socket (not bound yet); raises UDPSockError when it cannot.
    explicit TNMUDP(QObject* owner);
    ~TNMUDP() override;

    QString RemoteHost;
    int RemotePort = 0;
    int LocalPort() const { return FLocalPort; }
    // Re-creates the socket and binds it at `port` to the local address that reaches
    // RemoteHost (loopback when none does, so nothing listens on other interfaces); raises
    // UDPSockError when the socket cannot be made or the port cannot be bound.
    void SetLocalPort(int port);
    int ReportLevel = 1;

    TOnReceive OnDataReceived;
    TNotifyEvent OnDataSend;
    TOnStatus OnStatus;
    THandlerEvent OnInvalidHost;
    TBuffInvalid OnBufferInvalid;
    TOnErrorEvent OnErrorEvent;

    // One datagram to RemoteHost:RemotePort. Raises UDPSockError for a host that cannot be
    // resolved, the address 0.0.0.0 or a send the system refuses, and EKaroError
    // "Ungültiger Puffer" for an empty buffer.
    void SendBuffer(const std::uint8_t* Buff, int Length);
    // Copies the last received datagram; returns its length, or -1 when it does not fit in
    // `Size` bytes or the last receive failed.
    int ReadBuffer(std::uint8_t* Buff, int Size) const;

    // The address the last send went to (network byte order), or the dotted RemoteHost before
    // any send; 0 while a host name has not been resolved yet.
    std::uint32_t RemoteAddress() const;

    const QString& LastStatus() const { return FLastStatus; }
    int LastError() const { return FLastError; }
    int LastLength() const { return FLastLength; }

    // Closes the socket at once and stops every notification; the object may be deleted later.
    void Shutdown();

private:
    void CreateSocket();
    void CloseSocket();
    void StatusMessage(int level, const QString& text);
    [[noreturn]] void RaiseError(int error);
    void ErrorTest(int error);
    [[noreturn]] void Fail(int error);
    std::uint32_t ResolveRemote(); // network byte order
    bool LookupOnce(const QString& host, std::uint32_t& addr);
    void ReceiveStep();

    int FSocket = -1;
    QSocketNotifier* FNotifier = nullptr;
    int FLocalPort = 0;
    std::uint8_t FReceiveBuffer[ReceiveBufferSize] = {};
    int FLastLength = 0;
    bool FConstructed = false;
    bool FLookupDone = false;
    bool FLookupSucceeded = false;
    int FLookupId = -1;
    std::uint32_t FLookupAddr = 0;
    std::uint32_t FResolvedAddr = 0;
    QString FResolvedHost;
    int FLastError = 0;
    QString FLastStatus;
};
