// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "devices/DeviceComponent.h"
#include "devices/DevicePrompts.h"
#include "protocol/Packet.h"

#include <QStringList>

#include <deque>
#include <functional>
#include <vector>

class TCommand;

// A transport that lives in memory, for tests of everything above the transports.
//
// Configure before use:
//   Ports         what GetPortList offers (empty by default).
//   OpenResult    what Open returns; anything but 0 leaves the device closed.
//   WriteResult   what Write returns while open (the bytes are recorded all the same).
//   AutoConfirm   true (default): a successful Open starts the 50 ms ConnectTimer like a real
//                 transport, so OnConnect follows from the event loop. Set false to raise it
//                 only through ConfirmConnection().
//   OnWritten     called after every recorded Write with the bytes written; a test can answer
//                 from here with Feed() (synchronous) or FeedLater() (from the event loop).
//
// Observe:
//   Writes        one entry per Write call while open; Written() is all of them joined.
//   OpenCalls, CloseCalls, LastPortName, ReadRequests (the Count of every Read call).
//
// Drive:
//   Feed(bytes)        queue received bytes and raise OnDataAvailable with the number held.
//   FeedLater(bytes)   the same, posted to the event loop.
//   Announce(n)        raise OnDataAvailable with any count, without adding bytes.
//   RaiseError(code)   raise OnError.
//   ConfirmConnection  stop the ConnectTimer and raise OnConnect now.
//   DropConnection     close from the far side: closed, OnDisconnect raised.
class TMemoryDevice : public TDevice {
    Q_OBJECT
public:
    explicit TMemoryDevice(QObject* owner, const QString& shortName = QStringLiteral("mem"),
                           const QString& displayName = QStringLiteral("Memory"));
    ~TMemoryDevice() override;

    QStringList Ports;
    TStat OpenResult = E_SUCCESS;
    TStat WriteResult = E_SUCCESS;
    bool AutoConfirm = true;
    std::function<void(const TByteArray& bytes)> OnWritten;

    std::vector<TByteArray> Writes;
    TByteArray Written() const;
    int OpenCalls = 0;
    int CloseCalls = 0;
    QString LastPortName;
    std::vector<std::int32_t> ReadRequests;

    void Feed(const TByteArray& bytes);
    void FeedLater(const TByteArray& bytes);
    void Announce(std::int32_t count);
    void RaiseError(TStat code);
    void ConfirmConnection();
    void DropConnection();
    // Bytes received but not read yet.
    std::int32_t Pending() const { return static_cast<std::int32_t>(FInput.size()); }

    bool IsOpen() override { return FOpen; }
    std::int32_t BytesAvailable() override;
    std::int32_t Read(std::uint8_t* Buffer, std::int32_t Count) override;
    TStat Write(const std::uint8_t* Buffer, std::int32_t Count) override;
    void GetPortList(QStringList& Items) override;

protected:
    TStat OpenChosen(const QString& PortName, const TDeviceSettings* chosen) override;
    TStat OpenHook() override;
    void CloseHook(bool wasOpen) override;

private:
    bool FOpen = false;
    std::deque<std::uint8_t> FInput;
};

// The index of the transport named `displayName` in the command set; -1 when it has none.
int DeviceIndex(TCommand* cmd, const QString& displayName);

// Answers the engine's choice of transport as an operator at the selection dialog would: the
// transport at `Index` with the port `Port` when it is listed, else the first listed port;
// `Confirm` false cancels. Settings prompts are confirmed with the values offered.
struct TPickPrompts : IDevicePrompts {
    int Index = 0;
    QString Port;
    bool Confirm = true;
    bool SelectDevice(IDeviceList& list, int& index, QString& port) override;
    bool Edit(TDeviceSettings&, const QString&) override { return true; }
    void ShowError(const QString&) override {}
};
