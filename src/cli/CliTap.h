// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "cli/CliArgs.h"
#include "engine/LoopWait.h"
#include "protocol/Receiver.h"

#include <QElapsedTimer>
#include <QJsonValue>
#include <QList>
#include <QString>

#include <cstdio>
#include <memory>

class QCanBusDevice;
class QSocketNotifier;

// `karo-cli tap SOURCE...` after the word "tap": one can: target, or one or two serial:
// targets (the first the line towards the gripper, the second the line back). Fills the
// request and returns true, or sets `error`.
bool ParseTapArguments(const QStringList& args, TCliRequest& request, QString& error);

// One decoded value of a packet: "Key=Text" in a line, "Key": Json in JSON.
struct TTapValue {
    QString Key;
    QString Text;
    QJsonValue Json;
};

// The values a packet carries, by its identifier and direction; data that does not fit a known
// layout comes back as its bytes under "data".
QList<TTapValue> DecodeTapValues(std::uint8_t id, bool fromGripper, const TByteArray& payload);

// Listens without ever writing: prints one line per packet of either direction until
// interrupted or the link ends. Run() returns the exit code.
class TCliTap {
public:
    TCliTap(const TCliRequest& request, std::FILE* out, std::FILE* err);
    ~TCliTap();

    int Run();
    void Interrupt();

private:
    struct TSerialLine;
    bool OpenCan();
    bool OpenSerial(int index);
    void ReadCan();
    void ReadSerial(int index);
    void Feed(bool fromGripper, const std::uint8_t* data, std::size_t count);
    void Print(bool fromGripper, const TPacket& packet);
    void Fail(const QString& text);
    void Error(const QString& text);

    const TCliRequest& FRequest;
    std::FILE* FOut;
    std::FILE* FErr;
    TPacketReceiver FToGripper;
    TPacketReceiver FFromGripper;
    std::unique_ptr<QCanBusDevice> FCan;
    std::unique_ptr<TSerialLine> FSerial[2];
    TLoopWait FWait;
    QElapsedTimer FClock;
    int FExit = 0;
    bool FDone = false;
};
