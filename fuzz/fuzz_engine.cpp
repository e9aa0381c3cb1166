// SPDX-License-Identifier: Apache-2.0
// The command set over an in-memory transport whose gripper answers from the fuzz input: every
// request gets a scripted answer (stray packets of any identifier, length and status, raw
// garbage, then the reply or a time-out), delivered at once or from the event loop. The clock
// is ours, so a time-out costs nothing. Handlers start further commands inside running ones.
// The command set lives as long as the process; each input is one connection of it.
#include "FuzzSupport.h"
#include "engine/MorvForm.h"
#include "protocol/Frame.h"
#include "protocol/Receiver.h"
#include "protocol/Tick.h"

#include <QCoreApplication>
#include <QDir>
#include <QTemporaryDir>

#include <fuzzer/FuzzedDataProvider.h>

#include <deque>
#include <memory>

namespace {

std::uint32_t gNow = 0;

class TFuzzDevice : public TDevice {
public:
    explicit TFuzzDevice(QObject* owner)
        : TDevice(owner, QStringLiteral("fuzz"), QStringLiteral("Fuzz")) {}
    ~TFuzzDevice() override { BeginDestroy(); }

    std::function<void(const TPacket& request)> OnRequest;
    // Intact frames among everything delivered, as a receiver of our own counts them.
    int FramesDelivered = 0;
    // The identifier of the packet the last delivered byte completed, or -1.
    int LastCompletedId = -1;

    bool IsOpen() override { return FOpen; }
    std::int32_t BytesAvailable() override {
        return FOpen ? static_cast<std::int32_t>(FIn.size()) : 0;
    }
    std::int32_t Read(std::uint8_t* buffer, std::int32_t count) override {
        if (!FOpen)
            return -1;
        const std::int32_t n = std::min(count, static_cast<std::int32_t>(FIn.size()));
        std::copy_n(FIn.begin(), n, buffer);
        FIn.erase(FIn.begin(), FIn.begin() + n);
        return n;
    }
    TStat Write(const std::uint8_t* buffer, std::int32_t count) override {
        if (!FOpen)
            return E_NOT_OPENED;
        TPacket p;
        for (std::int32_t i = 0; i < count; ++i)
            if (FRequests.Feed(buffer[i], p) && OnRequest)
                OnRequest(p);
        return E_SUCCESS;
    }
    void Confirm() {
        ReportUsable();
        ConnectTimer()->stop();
        DoConnect();
    }
    // Bytes arriving from the gripper, in chunks as a socket would report them.
    void Deliver(const TByteArray& bytes) {
        LastCompletedId = -1;
        if (!FOpen)
            return;
        TPacket p;
        for (const std::uint8_t b : bytes) {
            const bool done = FCounter.Feed(b, p);
            FramesDelivered += done ? 1 : 0;
            LastCompletedId = done ? static_cast<int>(p.ID) : -1;
        }
        FIn.insert(FIn.end(), bytes.begin(), bytes.end());
        while (FOpen && !FIn.empty()) {
            const auto before = FIn.size();
            DoDataAvailable(static_cast<std::int32_t>(FIn.size()));
            if (FIn.size() == before)
                break;
        }
    }

protected:
    TStat OpenChosen(const QString&, const TDeviceSettings*) override { return OpenTransport(); }
    TStat OpenHook() override {
        FOpen = true;
        FIn.clear();
        // A frame the last input left half-delivered is no frame of this one.
        FCounter.Reset();
        FramesDelivered = 0;
        return E_SUCCESS;
    }
    void CloseHook(bool) override { FOpen = false; }

private:
    bool FOpen = false;
    std::deque<std::uint8_t> FIn;
    TPacketReceiver FRequests{[] { return 0u; }};
    TPacketReceiver FCounter{[] { return gNow; }};
};

struct TRecorder : IPacketLog {
    int Received = 0;
    void LogPacket(const TPacket& packet, bool received) override {
        FuzzCheck(packet.Length >= 0 &&
                  packet.Data.size() == static_cast<std::size_t>(packet.Length));
        Received += received ? 1 : 0;
    }
};

// One fuzz input's gripper.
struct TRun {
    FuzzedDataProvider& In;
    TMorv& Morv;
    TFuzzDevice& Device;
    int Depth = 0;

    TByteArray Payload(std::size_t most) {
        return In.ConsumeBytes<std::uint8_t>(In.ConsumeIntegralInRange<std::size_t>(0, most));
    }

    void Answer(const TPacket& request) {
        const auto plan = In.ConsumeIntegral<std::uint8_t>();
        TByteArray stream;
        for (int k = plan & 3; k > 0; --k) {
            const auto pick = In.ConsumeIntegral<std::uint8_t>();
            std::uint8_t id = In.ConsumeIntegral<std::uint8_t>();
            if ((pick & 3) == 0)
                id = static_cast<std::uint8_t>(request.ID);
            else if ((pick & 3) == 1)
                id = static_cast<std::uint8_t>(CMD_GET_SYSTEM_STATE + (id & 3));
            const TByteArray frame = MakeFrame(id, Payload((pick & 4) ? 2000 : 12));
            stream.insert(stream.end(), frame.begin(), frame.end());
        }
        if (plan & 4) {
            const TByteArray junk = Payload(40);
            stream.insert(stream.end(), junk.begin(), junk.end());
        }
        const bool timeout = (plan & 8) != 0;
        TByteArray reply;
        if (!timeout)
            reply = MakeFrame(static_cast<std::uint8_t>(request.ID), Payload(24));
        const bool now = (plan & 16) != 0;
        const int id = request.ID;
        auto deliver = [this, stream, reply, id] {
            Device.Deliver(stream);
            // Whatever the stream left half-read is ended by a pause, as on a real line.
            gNow += TPacketReceiver::GapMs + 1;
            Device.Deliver(reply);
            // A preamble left open takes the next byte as identifier however late it comes, so
            // the stream can swallow the reply; then only the time-out ends the wait.
            if (!reply.empty() && Device.LastCompletedId != id)
                QMetaObject::invokeMethod(
                    &Morv, [] { gNow += TMorv::ReplyTimeoutMs + 1; }, Qt::QueuedConnection);
        };
        if (now)
            deliver();
        else
            QMetaObject::invokeMethod(&Morv, deliver, Qt::QueuedConnection);
        // The silence must come after the exchange took its start time.
        if (timeout)
            QMetaObject::invokeMethod(
                &Morv, [] { gNow += TMorv::ReplyTimeoutMs + 1; }, Qt::QueuedConnection);
    }

    float Float() { return In.ConsumeFloatingPoint<float>(); }

    // One command of the set, picked by the input.
    void Command() {
        if (In.remaining_bytes() == 0 || Depth > 2)
            return;
        ++Depth;
        const auto which = In.ConsumeIntegral<std::uint8_t>();
        auto later = [this](TMorv*, std::int32_t, std::uint16_t, const TByteArray&) {
            if (In.ConsumeBool())
                Command();
        };
        float f = 0;
        TGraspingStatistics stats;
        TSystemInfo info;
        TSystemLimits limits;
        TByteArray reply;
        TStat status = E_SUCCESS;
        switch (which % 20) {
        case 0:
            Morv.Homing(In.ConsumeIntegral<std::uint8_t>(), later);
            break;
        case 1:
            Morv.GotoPosition(Float(), Float(), later);
            break;
        case 2:
            Morv.Grasp(Float(), Float(), later);
            break;
        case 3:
            Morv.ReleasePart(Float(), Float(), later);
            break;
        case 4:
            Morv.Stop();
            break;
        case 5:
            Morv.FastStop();
            break;
        case 6:
            Morv.AcknowledgeFastStop();
            break;
        case 7:
            Morv.SetAcceleration(Float());
            break;
        case 8:
            Morv.SetForceLimit(Float());
            break;
        case 9:
            Morv.GetAcceleration(f);
            break;
        case 10:
            Morv.GetForceLimit(f);
            break;
        case 11:
            Morv.GetGraspingStatistics(In.ConsumeBool(), stats);
            break;
        case 12:
            Morv.GetSystemInfo(info);
            break;
        case 13:
            Morv.GetSystemLimits(limits);
            break;
        case 14:
            Morv.GetSystemState(In.ConsumeBool(), In.ConsumeIntegral<std::uint16_t>(),
                                In.ConsumeBool());
            break;
        case 15:
            Morv.GetGraspingState(In.ConsumeBool(), In.ConsumeIntegral<std::uint16_t>(),
                                  In.ConsumeBool());
            break;
        case 16:
            Morv.GetPosition(In.ConsumeBool(), In.ConsumeIntegral<std::uint16_t>(),
                             In.ConsumeBool());
            break;
        case 17: {
            const auto id = In.ConsumeIntegral<std::uint8_t>();
            const TByteArray request = Payload(16);
            (void)Morv.ExecuteCommand(id, request, reply, status);
            break;
        }
        case 18:
            // The gripper speaks on its own between commands.
            Answer({In.ConsumeIntegral<std::uint8_t>(), 0, {}});
            QCoreApplication::processEvents();
            break;
        default:
            Morv.CallWhenIdle([this] { Command(); });
            break;
        }
        --Depth;
    }
};

// One command set for the whole run, as a program keeps it: each input connects, runs and
// disconnects, and the handlers it registered go with it.
struct TRig {
    TRecorder Log;
    TMorv Morv{nullptr};
    TFuzzDevice* Device = nullptr;

    TRig() {
        Morv.SetClock({[] { return gNow; }, {}});
        Morv.SetPacketLog(&Log);
        Device = new TFuzzDevice(Morv.Command());
        Morv.Command()->ClearDevices();
        Morv.Command()->AddDevice(Device);
    }
};

TRig* gRig = nullptr;

// Runs what the input left queued; each posted call that ends the wait of an exchange posts
// no more once the input is used up, so a few passes leave nothing behind.
void Drain() {
    for (int pass = 0; pass < 4; ++pass)
        QCoreApplication::processEvents();
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    static QCoreApplication app(*argc, *argv);
    static QTemporaryDir settings;
    SetSettingsDirectory(settings.path());
    static TRig rig;
    gRig = &rig;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    gNow = 1000;
    TMorv& morv = gRig->Morv;
    TFuzzDevice& device = *gRig->Device;
    TRecorder& log = gRig->Log;
    log.Received = 0;
    TConnectTarget target;
    target.Device = QStringLiteral("fuzz");
    FuzzCheck(morv.ConnectTo(target) == E_SUCCESS);
    device.Confirm();
    FuzzCheck(morv.IsConnected());

    TRun run{in, morv, device};
    device.OnRequest = [&run](const TPacket& request) { run.Answer(request); };
    auto nest = [&run](TMorv*) {
        if (run.In.remaining_bytes() > 0 && run.In.ConsumeIntegral<std::uint8_t>() < 16)
            run.Command();
    };
    morv.OnPosition = nest;
    morv.OnSystemState = nest;
    morv.OnGraspingState = nest;
    while (in.remaining_bytes() > 0)
        run.Command();
    device.OnRequest = nullptr;
    Drain();
    // Each intact frame is dispatched at most once.
    FuzzCheck(log.Received <= device.FramesDelivered);
    morv.Disconnect();
    Drain();
    // Nothing of this input may reach the next one: its handlers and posted calls know `run`.
    morv.OnPosition = nullptr;
    morv.OnSystemState = nullptr;
    morv.OnGraspingState = nullptr;
    morv.AsyncResults().Clear();
    QCoreApplication::removePostedEvents(&morv);
    FuzzCheck(!morv.InExchange());
    return 0;
}
