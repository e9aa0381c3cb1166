// SPDX-License-Identifier: Apache-2.0
#include "SimLink.h"

#include "GripperModel.h"
#include "protocol/Constants.h"
#include "protocol/Frame.h"

#include <QDateTime>
#include <QElapsedTimer>

#include <algorithm>
#include <cstdio>

namespace {

const QElapsedTimer& Clock() {
    static const QElapsedTimer clock = [] {
        QElapsedTimer t;
        t.start();
        return t;
    }();
    return clock;
}

qint64 NowMs() {
    return Clock().elapsed();
}

QByteArray Hex(const TByteArray& bytes) {
    return QByteArray(reinterpret_cast<const char*>(bytes.data()),
                      static_cast<qsizetype>(bytes.size()))
        .toHex(' ')
        .toUpper();
}

void Trace(const QString& who, const char* dir, const TByteArray& frame, const char* note) {
    std::fprintf(stderr, "%s %s %s%s\n", qPrintable(who), dir, Hex(frame).constData(), note);
    std::fflush(stderr);
}

} // namespace

TSimLink::TSimLink(TGripperModel& model, QObject* parent)
    : QObject(parent), FModel(model), FReceiver(std::make_unique<TPacketReceiver>()) {
    FDelayTimer.setSingleShot(true);
    FDelayTimer.setTimerType(Qt::PreciseTimer);
    connect(&FDelayTimer, &QTimer::timeout, this, &TSimLink::Flush);
}

TSimLink::~TSimLink() {
    FModel.DetachLink(this);
}

void TSimLink::MarkClosed() {
    if (FClosed)
        return;
    FClosed = true;
    FOut.clear();
    FDelayTimer.stop();
    FModel.DetachLink(this);
}

void TSimLink::FeedBytes(const std::uint8_t* data, std::size_t count) {
    if (FClosed)
        return;
    FReceiver->Feed(data, count, [this](TPacket& packet) {
        if (FModel.Faults().Verbose)
            Trace(Name(), "<", MakeFrame(packet), "");
        FModel.HandlePacket(packet, *this);
        const int limit = FModel.Faults().DisconnectAfter;
        if (limit > 0 && ++FFramesReceived == limit)
            Enqueue({}); // closes once the replies queued so far have gone out
        return !FClosed;
    });
}

void TSimLink::SendPacket(std::uint8_t id, std::uint16_t status, const TByteArray& data) {
    if (FClosed)
        return;
    const TSimFaults& faults = FModel.Faults();
    if (faults.SilentIds.contains(id))
        return;
    if (faults.FalseHeader && !FFalseHeaderSent &&
        (id == CMD_GET_SYSTEM_STATE || id == CMD_GET_GRASPING_STATE || id == CMD_GET_POS)) {
        FFalseHeaderSent = true;
        Enqueue({PreambleByte, PreambleByte, PreambleByte, CMD_GET_SYSTEM_STATE, 0xFF, 0xFF});
    }
    TByteArray payload;
    payload.reserve(data.size() + 2);
    payload.push_back(static_cast<std::uint8_t>(status));
    payload.push_back(static_cast<std::uint8_t>(status >> 8));
    payload.insert(payload.end(), data.begin(), data.end());
    Enqueue(MakeFrame(id, payload));
}

void TSimLink::Enqueue(TByteArray frame) {
    const int delay = FModel.Faults().DelayMs;
    if (delay <= 0 && FOut.empty()) {
        if (frame.empty()) {
            MarkClosed();
            CloseLink();
        } else {
            Emit(frame);
        }
        return;
    }
    FOut.push_back({NowMs() + delay, std::move(frame)});
    if (!FDelayTimer.isActive())
        FDelayTimer.start(static_cast<int>(std::max<qint64>(0, FOut.front().Due - NowMs())));
}

void TSimLink::Flush() {
    while (!FOut.empty() && FOut.front().Due <= NowMs()) {
        TByteArray frame = std::move(FOut.front().Frame);
        FOut.pop_front();
        if (frame.empty()) {
            MarkClosed();
            CloseLink();
            return;
        }
        Emit(frame);
        if (FClosed)
            return;
    }
    if (!FOut.empty())
        FDelayTimer.start(static_cast<int>(std::max<qint64>(0, FOut.front().Due - NowMs())));
}

void TSimLink::Emit(const TByteArray& frameIn) {
    const TSimFaults& faults = FModel.Faults();
    QRandomGenerator& rng = FModel.Random();
    if (faults.DropRate > 0.0 && rng.generateDouble() < faults.DropRate) {
        if (faults.Verbose)
            Trace(Name(), ">", frameIn, " (dropped)");
        return;
    }
    TByteArray frame = frameIn;
    const char* note = "";
    if (faults.CorruptRate > 0.0 && rng.generateDouble() < faults.CorruptRate) {
        // Past the preamble, so the frame is still recognised and fails its checksum.
        const auto index = 3 + rng.bounded(static_cast<quint32>(frame.size() - 3));
        frame[index] ^= static_cast<std::uint8_t>(1u << rng.bounded(8u));
        note = " (corrupted)";
    }
    if (faults.Verbose)
        Trace(Name(), ">", frame, note);
    WriteFrame(frame);
    if (const double rate = WireBitRate(); rate > 0) {
        const qint64 now = Clock().nsecsElapsed();
        FWireFreeNs =
            std::max(FWireFreeNs, now) + static_cast<qint64>(WireBits(frame.size()) * 1e9 / rate);
    }
    Q_EMIT FrameSent(QByteArray(reinterpret_cast<const char*>(frame.data()),
                                static_cast<qsizetype>(frame.size())));
}

bool TSimLink::WireBusy() const {
    return WireBitRate() > 0 && FWireFreeNs > Clock().nsecsElapsed() + 1000000;
}
