// SPDX-License-Identifier: Apache-2.0
// The simulator's request handling: two clients' links fed arbitrary bytes or frames built from
// the input (known identifiers mostly, payloads of any length), with the model's clock moved on
// between them. Everything the gripper sends must be an intact frame with a status word, and the
// fingers must stay inside the stroke.
#include "FuzzSupport.h"
#include "GripperModel.h"
#include "SimLink.h"
#include "protocol/Constants.h"
#include "protocol/Frame.h"
#include "protocol/Receiver.h"

#include <QCoreApplication>

#include <fuzzer/FuzzedDataProvider.h>

#include <cmath>
#include <memory>

namespace {

class TFuzzLink : public TSimLink {
public:
    using TSimLink::TSimLink;
    QString Name() const override { return QStringLiteral("fuzz"); }
    int Frames = 0;
    bool Closed = false;

protected:
    void WriteFrame(const TByteArray& frame) override {
        FuzzCheck(!Closed);
        TPacketReceiver receiver([] { return 0u; });
        TPacket p;
        int packets = 0;
        for (std::size_t i = 0; i < frame.size(); ++i) {
            if (receiver.Feed(frame[i], p)) {
                ++packets;
                FuzzCheck(i + 1 == frame.size());
                FuzzCheck(p.Length >= 2);
            }
        }
        FuzzCheck(packets == 1);
        ++Frames;
    }
    void CloseLink() override { Closed = true; }
};

constexpr std::uint8_t Known[] = {CMD_HOMING,
                                  CMD_GOTO,
                                  CMD_STOP,
                                  CMD_FAST_STOP,
                                  CMD_FAST_STOP_ACK,
                                  CMD_GRASP_RAW,
                                  CMD_RELEASE_RAW,
                                  CMD_GRASP_PROFILE,
                                  CMD_RELEASE_PROFILE,
                                  CMD_SET_ACCELERATION,
                                  CMD_GET_ACCELERATION,
                                  CMD_SET_FORCE_LIMIT,
                                  CMD_GET_FORCE_LIMIT,
                                  CMD_SET_SOFT_LIMITS,
                                  CMD_GET_SOFT_LIMITS,
                                  CMD_CLEAR_SOFT_LIMITS,
                                  CMD_OVERDRIVE_MODE,
                                  CMD_TARE,
                                  CMD_GET_SYSTEM_STATE,
                                  CMD_GET_GRASPING_STATE,
                                  CMD_GET_GRASPING_STATS,
                                  CMD_GET_POS,
                                  CMD_GET_SPEED,
                                  CMD_GET_FORCE,
                                  CMD_GET_SYSINFO,
                                  CMD_SET_DEVICE_TAG,
                                  CMD_GET_DEVICE_TAG,
                                  CMD_GET_SYSTEM_LIMITS};

void CheckModel(const TGripperModel& model) {
    FuzzCheck(std::isfinite(model.Position()) && std::isfinite(model.Speed()) &&
              std::isfinite(model.Force()));
    FuzzCheck(model.Position() >= 0.0f && model.Position() <= TGripperModel::Stroke);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    static QCoreApplication app(*argc, *argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    FuzzedDataProvider in(data + 1, size - 1);
    double now = 0;
    TGripperConfig config;
    config.Referenced = (data[0] & 2) != 0;
    config.HasPart = (data[0] & 4) != 0;
    TGripperModel model(config);
    model.SetClock([&now] { return now; });
    std::unique_ptr<TFuzzLink> links[2] = {std::make_unique<TFuzzLink>(model),
                                           std::make_unique<TFuzzLink>(model)};
    if ((data[0] & 1) == 0) {
        // Raw bytes, split between the links, the clock moving in between.
        while (in.remaining_bytes() > 0) {
            const auto head = in.ConsumeIntegral<std::uint8_t>();
            const std::string chunk = in.ConsumeRandomLengthString(64);
            links[head & 1]->FeedBytes(reinterpret_cast<const std::uint8_t*>(chunk.data()),
                                       chunk.size());
            now += head >> 1;
            model.Tick();
            CheckModel(model);
        }
    } else {
        while (in.remaining_bytes() > 0) {
            const auto head = in.ConsumeIntegral<std::uint8_t>();
            std::uint8_t id = in.ConsumeIntegral<std::uint8_t>();
            if ((head & 0x80) == 0)
                id = Known[id % std::size(Known)];
            const TByteArray payload = in.ConsumeBytes<std::uint8_t>(
                in.ConsumeIntegralInRange<std::size_t>(0, (head & 0x40) ? 300 : 12));
            const TByteArray frame = MakeFrame(id, payload);
            TFuzzLink& link = *links[head & 1];
            link.FeedBytes(frame.data(), frame.size());
            now += in.ConsumeIntegralInRange<int>(0, 3000) * ((head & 0x20) ? 1 : 0.01);
            model.Tick();
            CheckModel(model);
            if ((head & 0x1E) == 0x1E)
                model.LosePart();
            if ((head & 0x3E) == 0x3E && links[1]) {
                links[1].reset(); // a client goes mid-motion
                links[1] = std::make_unique<TFuzzLink>(model);
            }
        }
    }
    for (int k = 0; k < 50 && model.IsMoving(); ++k) {
        now += 100;
        model.Tick();
        CheckModel(model);
    }
    links[0].reset();
    links[1].reset();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return 0;
}
