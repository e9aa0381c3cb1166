// SPDX-License-Identifier: Apache-2.0
#include "SimCan.h"

#include <QCanBus>
#include <QCanBusFrame>
#include <QEventLoop>
#include <QTimer>

#include <algorithm>

TSimCanLink::TSimCanLink(TGripperModel& model, TSimCanBus& bus)
    : TSimLink(model, &bus), FBus(bus) {}

QString TSimCanLink::Name() const {
    return QStringLiteral("can %1 id %2").arg(FBus.BusName()).arg(FBus.Id());
}

void TSimCanLink::WriteFrame(const TByteArray& frame) {
    FBus.Send(frame);
}

double TSimCanLink::WireBits(std::size_t bytes) const {
    // Per data frame of up to 8 bytes: start, identifier, control, CRC, acknowledge, end of
    // frame and the pause between frames (47 bits with an 11-bit identifier, 67 with 29 bits);
    // stuff bits left out, which only makes the bus faster than it is.
    const double overhead = FBus.Id() + 1 > 0x7FF ? 67 : 47;
    const auto frames = static_cast<double>((bytes + 7) / 8);
    return frames * overhead + 8.0 * static_cast<double>(bytes);
}

void TSimCanLink::CloseLink() {
    deleteLater();
}

TSimCanBus::TSimCanBus(TGripperModel& model, quint32 id, QObject* parent)
    : QObject(parent), FModel(model), FId(id) {}

TSimCanBus::~TSimCanBus() {
    delete FLink.data();
    if (FDevice) {
        FDevice->disconnect(this);
        FDevice->disconnectDevice();
    }
}

bool TSimCanBus::Open(const QString& bus, int timeoutMs) {
    FBusName = bus;
    const auto colon = bus.indexOf(QLatin1Char(':'));
    if (colon <= 0 || colon + 1 >= bus.size()) {
        FError = QStringLiteral("a bus is named plugin:interface, e.g. virtualcan:can0");
        return false;
    }
    QString error;
    FDevice.reset(QCanBus::instance()->createDevice(bus.left(colon), bus.mid(colon + 1), &error));
    if (!FDevice) {
        FError = error;
        return false;
    }
    connect(FDevice.get(), &QCanBusDevice::framesReceived, this, &TSimCanBus::ReadFrames);
    if (!FDevice->connectDevice()) {
        FError = FDevice->errorString();
        return false;
    }
    QEventLoop loop;
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    connect(FDevice.get(), &QCanBusDevice::stateChanged, &loop, [&loop](auto state) {
        if (state == QCanBusDevice::ConnectedState || state == QCanBusDevice::UnconnectedState)
            loop.quit();
    });
    if (FDevice->state() != QCanBusDevice::ConnectedState)
        loop.exec();
    if (FDevice->state() != QCanBusDevice::ConnectedState) {
        FError = FDevice->errorString().isEmpty() ? QStringLiteral("the bus did not come up")
                                                  : FDevice->errorString();
        return false;
    }
    return true;
}

void TSimCanBus::ReadFrames() {
    while (FDevice->framesAvailable() > 0) {
        const QCanBusFrame frame = FDevice->readFrame();
        if (frame.frameType() != QCanBusFrame::DataFrame || frame.frameId() != FId)
            continue;
        if (!FLink || FLink->IsClosed())
            FLink = new TSimCanLink(FModel, *this);
        const QByteArray data = frame.payload();
        FLink->FeedBytes(reinterpret_cast<const std::uint8_t*>(data.constData()),
                         static_cast<std::size_t>(data.size()));
    }
}

void TSimCanBus::Send(const TByteArray& frame) {
    if (!FDevice || FDevice->state() != QCanBusDevice::ConnectedState)
        return;
    const quint32 id = FId + 1;
    for (std::size_t pos = 0; pos < frame.size(); pos += 8) {
        const auto n = std::min<std::size_t>(8, frame.size() - pos);
        QCanBusFrame out(id, QByteArray(reinterpret_cast<const char*>(frame.data() + pos),
                                        static_cast<qsizetype>(n)));
        out.setExtendedFrameFormat(id > 0x7FF);
        FDevice->writeFrame(out);
    }
}
