// SPDX-License-Identifier: Apache-2.0
#include "engine/CommandComponent.h"

#include "devices/DeviceRegistry.h"
#include "engine/LinkTarget.h"
#include "protocol/Constants.h"
#include "protocol/Frame.h"

#include <algorithm>
#include <array>

namespace {
// Points a transport at other prompts for one call, and back afterwards.
class TPromptsOverride {
public:
    TPromptsOverride(TDevice* device, IDevicePrompts* prompts)
        : FDevice(device), FInstalled(device->Prompts()) {
        device->SetPrompts(prompts);
    }
    ~TPromptsOverride() {
        if (FDevice)
            FDevice->SetPrompts(FInstalled);
    }
    TPromptsOverride(const TPromptsOverride&) = delete;
    TPromptsOverride& operator=(const TPromptsOverride&) = delete;

private:
    QPointer<TDevice> FDevice;
    IDevicePrompts* FInstalled;
};
} // namespace

namespace {
bool IsAutomaticUpdate(const TPacket& packet) {
    return packet.ID == CMD_GET_SYSTEM_STATE || packet.ID == CMD_GET_GRASPING_STATE ||
           packet.ID == CMD_GET_POS;
}
} // namespace

TCommand::TCommand(QObject* owner) : QObject(owner) {
    FReceiver.OnLinkEvent = [this](const TLinkEvent& event) { LinkEvent(event); };
    CreateDevices();
}

void TCommand::CreateDevices() {
    for (TDevice* device : CreateTransports(this))
        AddDevice(device);
}

TCommand::~TCommand() {
    FPackets.Clear();
    FDevices.clear();
    FDevice = nullptr;
    // Owned transports go most recent first.
    const QObjectList owned = children();
    for (auto it = owned.crbegin(); it != owned.crend(); ++it) {
        if (auto* device = qobject_cast<TDevice*>(*it))
            delete device;
    }
}

int TCommand::AddDevice(TDevice* device) {
    if (device) {
        device->SetPrompts(FPrompts);
        // Whoever destroys it, the list forgets it: no entry outlives its transport.
        connect(device, &QObject::destroyed, this, [this](QObject* gone) {
            std::erase_if(FDevices, [gone](const QPointer<TDevice>& listed) {
                return listed.isNull() || listed.data() == gone;
            });
        });
    }
    FDevices.emplace_back(device);
    return static_cast<int>(FDevices.size()) - 1;
}

void TCommand::ClearDevices() {
    FDevice = nullptr;
    std::vector<QPointer<TDevice>> devices;
    devices.swap(FDevices);
    // Only what the engine owns is the engine's to destroy.
    for (auto it = devices.rbegin(); it != devices.rend(); ++it) {
        if (*it && (*it)->parent() == this)
            delete it->data();
    }
}

int TCommand::DeviceCount() const {
    return static_cast<int>(FDevices.size());
}

TDevice* TCommand::Devices(int index) const {
    if (index < 0 || index >= DeviceCount())
        throw EListError(QStringLiteral("Index out of bounds (%1).").arg(index));
    return FDevices[static_cast<std::size_t>(index)];
}

void TCommand::SetPrompts(IDevicePrompts* prompts) {
    FPrompts = prompts;
    for (const auto& device : FDevices) {
        if (device)
            device->SetPrompts(prompts);
    }
}

TStat TCommand::Connect() {
    if (!FPrompts)
        return E_CMD_ABORTED;
    return ConnectWith(*FPrompts, TDevice::TConfirm::AfterInterval);
}

TStat TCommand::ConnectTo(const TConnectTarget& target) {
    int index = -1;
    for (int i = 0; i < DeviceCount() && index < 0; ++i) {
        if (FDevices[static_cast<std::size_t>(i)] &&
            FDevices[static_cast<std::size_t>(i)]->ShortName().compare(target.Device,
                                                                       Qt::CaseInsensitive) == 0)
            index = i;
    }
    if (index < 0)
        return E_NOT_FOUND;
    TGivenPrompts given(target, index);
    TDevice* device = Devices(index);
    // The transport asks the given values for its settings during this open only.
    const TPromptsOverride over(device, &given);
    // Nobody watches this connect: no reason to wait for the operator's timer.
    return ConnectWith(given, TDevice::TConfirm::WhenUsable);
}

TStat TCommand::ConnectWith(IDevicePrompts& prompts, TDevice::TConfirm confirm) {
    int index = -1;
    QString portName;
    if (!prompts.SelectDevice(*this, index, portName))
        return E_CMD_ABORTED;
    TDevice* device = Devices(index);
    if (!device)
        return E_NOT_FOUND; // destroyed by someone else while listed

    // The earlier connection stays until the new transport's own settings were confirmed, so
    // cancelling them changes nothing. A transport re-opened closes itself after its prompt.
    const QPointer<TDevice> previous = FDevice;
    auto closePrevious = [this, previous, device] {
        if (previous && previous != device && previous == FDevice) {
            // One whose link already ended has reported that; closing it must not report
            // again, or the window shows the old transport's error as the new one connects.
            if (!previous->IsOpen()) {
                previous->OnDisconnect = nullptr;
                previous->OnError = nullptr;
            }
            previous->Close();
        }
    };
    TRecordingPrompts recording(device->Prompts());
    TConfirmingPrompts confirming(&recording, closePrevious);
    const TPromptsOverride over(device, &confirming);

    device->OnConnect = [this](TDevice* sender) {
        if (sender == FDevice && FOnConnect)
            FOnConnect(sender);
    };
    device->OnDisconnect = [this](TDevice* sender) {
        if (sender == FDevice && FOnDisconnect)
            FOnDisconnect(sender);
    };
    device->OnDataAvailable = [this](TDevice* sender, std::int32_t count) {
        DataAvailable(sender, count);
    };
    device->OnError = [this](TDevice* sender, TStat code) { DeviceError(sender, code); };

    const TDevice::TConfirm usual = device->Confirm();
    device->SetConfirm(confirm);
    const TStat status = device->Open(portName);
    device->SetConfirm(usual);
    if (status == E_CMD_ABORTED && !confirming.Fired()) {
        // Its settings were cancelled: whatever was attached before stays as it was.
        if (device != previous) {
            device->OnConnect = nullptr;
            device->OnDisconnect = nullptr;
        }
        return status;
    }
    // A transport that opened or failed without asking anything.
    if (!confirming.Fired())
        closePrevious();
    if (status != E_SUCCESS) {
        device->OnConnect = nullptr;
        device->OnDisconnect = nullptr;
        FDevice = nullptr;
        return status;
    }
    FDevice = device;
    recording.Target.Device = device->ShortName();
    recording.Target.Port = portName;
    FLastTarget = recording.Target;
    ReportDrops(true);
    FPackets.Clear();
    FReplies.clear();
    ResetReceiver();
    return E_SUCCESS;
}

void TCommand::Disconnect() {
    ReportDrops(true);
    if (FDevice)
        FDevice->Close();
    FDevice = nullptr;
}

bool TCommand::IsConnected() const {
    return FDevice && FDevice->IsOpen();
}

TStat TCommand::SendPacket(const TPacket& packet) {
    if (!IsConnected())
        return E_NOT_INITIALIZED;
    // A packet the frame cannot carry (length outside 0..65535) or whose data is shorter than
    // its length must not go out as garbage.
    const TByteArray frame = MakeFrame(packet);
    if (frame.empty())
        return E_RANGE_ERROR;
    return FDevice->Write(frame.data(), static_cast<std::int32_t>(frame.size()));
}

bool TCommand::GetPacket(TPacket& packet) {
    if (!FReplies.empty() && FReplies.front().Ahead == 0) {
        packet = std::move(FReplies.front().Packet);
        FReplies.pop_front();
        return true;
    }
    if (!FPackets.Get(packet))
        return false;
    for (TSetApart& reply : FReplies)
        --reply.Ahead;
    return true;
}

void TCommand::SetReceiverTick(TTickSource tick) {
    FTick = tick;
    FReceiver.SetTick(std::move(tick));
}

void TCommand::Enqueue(TPacket& packet) {
    if (Awaits && Awaits(packet.ID)) {
        if (FReplies.size() >= ReplyCapacity) {
            // Only a flood of the very identifier awaited fills it; any of them answers.
            Dropped(FReplies.front().Packet.ID);
            FReplies.pop_front();
        }
        FReplies.push_back({std::move(packet), FPackets.Count()});
        return;
    }
    if (FPackets.Count() >= FPackets.Capacity()) {
        TPacket old;
        int at = FPackets.RemoveOldest(IsAutomaticUpdate, old);
        if (at < 0) { // with no update queued, the oldest packet goes
            FPackets.Get(old);
            at = 0;
        }
        for (TSetApart& reply : FReplies)
            reply.Ahead -= reply.Ahead > at ? 1 : 0;
        Dropped(old.ID);
    }
    FPackets.Add(std::move(packet));
}

void TCommand::Dropped(std::int32_t ID) {
    if (FDropsUnreported == 0)
        FFirstDropped = ID;
    ++FDropsUnreported;
    ++FPacketsDropped;
    FDroppedThisRead = true;
}

void TCommand::ReportDrops(bool force) {
    if (FDropsUnreported == 0)
        return;
    const std::uint32_t now = Now();
    if (!force && static_cast<std::uint32_t>(now - FDropReported) < DropReportMs)
        return;
    TLinkEvent event;
    event.Kind = TLinkEventKind::UpdatesDropped;
    event.Count = FDropsUnreported;
    event.ID = static_cast<std::uint8_t>(FFirstDropped);
    FDropsUnreported = 0;
    FDropReported = now;
    LinkEvent(event);
}

void TCommand::LinkEvent(const TLinkEvent& event) {
    if (OnLinkEvent)
        OnLinkEvent(event);
}

void TCommand::SetOnConnect(TDevice::TNotifyEvent handler) {
    // The attached transport's slot calls it through the engine, which drops what a transport
    // no longer attached reports.
    FOnConnect = std::move(handler);
}

void TCommand::SetOnDisconnect(TDevice::TNotifyEvent handler) {
    FOnDisconnect = std::move(handler);
}

void TCommand::ResetReceiver() {
    FReceiver.Reset();
}

void TCommand::DataAvailable(TDevice* sender, std::int32_t count) {
    // A transport that was closed and replaced keeps our handler; only the attached one is read.
    if (!sender || sender != FDevice)
        return;
    const std::int32_t wanted = std::min<std::int32_t>(count, ReadChunk);
    if (wanted <= 0)
        return;
    // On the stack, so a handler that waits for a reply (and so reads again, nested) cannot
    // overwrite bytes this call has not fed yet.
    std::array<std::uint8_t, ReadChunk> buffer;
    const std::int32_t got = sender->Read(buffer.data(), wanted);
    if (got <= 0)
        return;
    // Feed everything first and notify afterwards: a notification handler may run a nested
    // read, whose bytes must not overtake the rest of this chunk in the receiver.
    int completed = 0;
    FDroppedThisRead = false;
    FReceiver.Feed(buffer.data(), static_cast<std::size_t>(std::min(got, wanted)),
                   [this, &completed](TPacket& packet) {
                       Enqueue(packet);
                       ++completed;
                       return true;
                   });
    FPacketsArrived += static_cast<std::uint64_t>(completed);
    // Once per overflow, and about once a second while it lasts.
    ReportDrops(!FDroppedThisRead);
    for (int i = 0; i < completed; ++i) {
        if (OnPacket)
            OnPacket(this);
    }
}

void TCommand::DeviceError(TDevice* sender, TStat code) {
    if (sender != FDevice)
        return;
    if (OnError)
        OnError(sender, code);
}
