// SPDX-License-Identifier: Apache-2.0
#include "devices/serial/SerialDevice.h"

#include "protocol/Tick.h"

#include <QCoreApplication>
#include <QThread>

#include <cerrno>
#include <cstring>

namespace {
const QString kSection = QStringLiteral("common");
const QString kBaudrate = QStringLiteral("baudrate");
constexpr int kDrainMs = 1000;
} // namespace

TSerialDevice::TSerialDevice(QObject* owner)
    : TDevice(owner, QStringLiteral("uart"), QStringLiteral("Serial (RS232)")),
      FComm(new TVaComm(this)), FPortMap(*Settings) {
    // A stored index outside the list would stop the program at start; it starts at 1200 baud.
    const int stored = Settings->ReadInteger(kSection, kBaudrate, 0);
    FSerialSettings.BaudIndex = stored >= 0 && stored < BaudrateCount ? stored : 0;

    FComm->setObjectName(QStringLiteral("Comm"));
    TVaFlowControl& flow = FComm->FlowControl();
    flow.BeginUpdate();
    flow.SetOutCtsFlow(false);
    flow.SetOutDsrFlow(false);
    flow.SetXonXoffOut(false);
    flow.SetXonXoffIn(false);
    flow.SetDsrSensitivity(false);
    flow.SetTxContinueOnXoff(false);
    flow.EndUpdate();
    FComm->SetDeviceName(QStringLiteral("COM1"));
    FComm->SetMonitorEvents({ceRxChar});
    FComm->Buffers().SetReadSize(65536);
    FComm->SetEventPriority(tpLower);
    FComm->SetWritePriority(tpNormal);
    FComm->OnRxChar = [this](TVaComm*, int count) { CommRxChar(count); };
    // The component closes the port itself when the device went away (an unplugged adapter):
    // the connection ended from the far side, as when a TCP peer closes.
    FComm->OnClose = [this](TVaComm*) {
        SetLastErrorText(QStringLiteral("the device went away (unplugged?)"));
        ReportLost(E_SUCCESS);
    };
    FComm->ResolvePortName = [this](const QString& name) { return FPortMap.DevicePath(name); };
}

TSerialDevice::~TSerialDevice() {
    BeginDestroy();
    Close();
}

TVaBaudrate TSerialDevice::BaudrateCode(int index) {
    static constexpr TVaBaudrate codes[BaudrateCount] = {br1200,  br2400,  br4800,  br9600,
                                                         br19200, br38400, br57600, br115200};
    if (index < 0 || index >= BaudrateCount)
        throw EKaroError(QStringLiteral("Baudrate index undefined"));
    return codes[index];
}

bool TSerialDevice::IsOpen() {
    return FComm->IsOpen();
}

TStat TSerialDevice::OpenChosen(const QString& PortName, const TDeviceSettings* chosen) {
    return OpenPort(PortName, std::get<TSerialSettings>(*chosen).BaudIndex);
}

TStat TSerialDevice::OpenPort(const QString& PortName, int BaudIndex) {
    if (BaudIndex < 0 || BaudIndex >= BaudrateCount)
        return E_INVALID_PARAMETER;
    FSerialSettings.BaudIndex = BaudIndex;
    FPortName = PortName;
    return OpenTransport();
}

TStat TSerialDevice::OpenHook() {
    try {
        FComm->SetBaudrate(BaudrateCode(FSerialSettings.BaudIndex));
        FComm->SetDeviceName(FPortName);
        FComm->OpenPort();
    } catch (const std::exception& e) {
        // The caller only sees the status, as for every transport; the operator the cause.
        const int error = FComm->LastOpenError();
        SetLastErrorText(error ? OpenErrorText(error) : QString::fromLocal8Bit(e.what()));
        return E_IO_ERROR;
    }
    Settings->WriteInteger(kSection, kBaudrate, FSerialSettings.BaudIndex);
    ReportUsable();
    return E_SUCCESS;
}

void TSerialDevice::CloseHook(bool /*wasOpen*/) {
    const std::uint32_t start = GetTickCount();
    while (FComm->OutputCount() > 0 && GetTickCount() - start < kDrainMs) {
        QCoreApplication::processEvents();
        QThread::msleep(2); // the write thread needs the line, not this thread
    }
    FComm->ClosePort();
}

std::int32_t TSerialDevice::BytesAvailable() {
    return IsOpen() ? FComm->InputCount() : 0;
}

std::int32_t TSerialDevice::Read(std::uint8_t* Buffer, std::int32_t Count) {
    if (!IsOpen())
        return -1;
    return FComm->ReadData(Buffer, Count);
}

TStat TSerialDevice::Write(const std::uint8_t* Buffer, std::int32_t Count) {
    if (!IsOpen())
        return E_NOT_OPENED;
    return FComm->WriteData(Buffer, Count) == Count ? E_SUCCESS : E_WRITE_ERROR;
}

void TSerialDevice::GetPortList(QStringList& Items) {
    Items = FPortMap.PortList();
}

QString TSerialDevice::Address() const {
    if (FPortName.isEmpty())
        return {};
    const QString path = FComm->PortName();
    return path == FPortName ? path : QStringLiteral("%1 (%2)").arg(FPortName, path);
}

QString TSerialDevice::OpenErrorText(int error) {
    switch (error) {
    case ENOENT:
    case ENODEV:
    case ENXIO:
        return QStringLiteral("no such device");
    case EBUSY:
    case EWOULDBLOCK:
        return QStringLiteral("port held by another program");
    case EACCES:
    case EPERM:
        return QStringLiteral("permission denied");
    case ENOTTY:
        return QStringLiteral("not a serial port");
    default:
        return QString::fromLocal8Bit(std::strerror(error));
    }
}

void TSerialDevice::CommRxChar(int count) {
    if (IsOpen() && count > 0)
        DoDataAvailable(count);
}
