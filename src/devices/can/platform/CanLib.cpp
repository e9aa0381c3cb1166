// SPDX-License-Identifier: Apache-2.0
#include "devices/can/platform/CanLib.h"

#include "devices/can/platform/CanNets.h"

#include <QCanBus>
#include <QCanBusDevice>
#include <QCanBusFrame>
#include <QCoreApplication>
#include <QThread>
#include <QVariant>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>

#include <linux/can/netlink.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

namespace {

// How long canOpen waits for a bus to come up (the virtual bus connects over TCP).
constexpr int OpenTimeoutMs = 3000;
constexpr std::int32_t MaxExtendedId = 0x1FFFFFFF;

struct THandleState {
    QString Bus;
    QString Plugin;
    QString Interface;
    std::int32_t RxQueueSize = 64;
    std::int32_t RxTimeout = 1000;

    std::mutex M;
    std::condition_variable Cv;
    std::deque<TCanMsg> Rx;
    std::set<std::int32_t> Ids;
    bool AbortRx = false;
    bool Connected = false;
    bool Failed = false; // never came up
    bool Lost = false;   // was up and went away
    bool Closed = false;
    bool Reconnecting = false;
    int Dropped = 0; // frames lost in a row
    QString ErrorText;

    QCanBusDevice* Device = nullptr; // touched on the library thread only
};

using THandlePtr = std::shared_ptr<THandleState>;

// The one thread on which every bus device lives and delivers its frames. Callers wait for it;
// it never waits for them, so a blocking call into it cannot deadlock.
class TLibraryThread {
public:
    static TLibraryThread& Instance() {
        static std::mutex m;
        std::lock_guard lock(m);
        if (!Current) {
            Current = new TLibraryThread;
            if (QCoreApplication::instance())
                qAddPostRoutine(&TLibraryThread::Shutdown);
        }
        return *Current;
    }

    void Call(const std::function<void()>& fn) {
        if (QThread::currentThread() == &FThread) {
            fn();
            return;
        }
        QMetaObject::invokeMethod(FContext, fn, Qt::BlockingQueuedConnection);
    }

private:
    TLibraryThread() {
        FThread.setObjectName(QStringLiteral("can library"));
        FContext = new QObject;
        FContext->moveToThread(&FThread);
        FThread.start();
    }

    // Before the application object goes: devices, and with them their sockets, end on the
    // thread they belong to.
    static void Shutdown();

    static inline TLibraryThread* Current = nullptr;
    QThread FThread;
    QObject* FContext;
    friend void CloseAllHandles();
};

std::mutex TableMutex;
std::map<TCanHandle, THandlePtr> Handles;
TCanHandle NextHandle = 0;

THandlePtr Find(TCanHandle handle) {
    std::lock_guard lock(TableMutex);
    const auto it = Handles.find(handle);
    return it == Handles.end() ? nullptr : it->second;
}

// Library thread.
void DeleteDevice(THandleState& h) {
    if (!h.Device)
        return;
    QCanBusDevice* device = h.Device;
    h.Device = nullptr;
    device->disconnect();
    if (device->state() != QCanBusDevice::UnconnectedState)
        device->disconnectDevice();
    delete device;
}

void CloseAllHandles() {
    std::map<TCanHandle, THandlePtr> all;
    {
        std::lock_guard lock(TableMutex);
        all.swap(Handles);
    }
    for (auto& [id, h] : all) {
        {
            std::lock_guard lock(h->M);
            h->Closed = true;
        }
        h->Cv.notify_all();
        TLibraryThread::Current->Call([h = h] { DeleteDevice(*h); });
    }
}

void TLibraryThread::Shutdown() {
    if (!Current)
        return;
    CloseAllHandles();
    Current->Call([] { delete Current->FContext; });
    Current->FThread.quit();
    Current->FThread.wait();
    delete Current;
    Current = nullptr;
}

void SetError(THandleState& h, const QString& text) {
    std::lock_guard lock(h.M);
    h.ErrorText = text;
}

// Library thread: frames of the added identifiers go to the reader's queue.
void Receive(THandleState& h, QCanBusDevice* device) {
    bool added = false;
    while (device->framesAvailable() > 0) {
        const QCanBusFrame frame = device->readFrame();
        if (!frame.isValid() || frame.frameType() != QCanBusFrame::DataFrame ||
            frame.hasLocalEcho())
            continue;
        const auto id = static_cast<std::int32_t>(frame.frameId());
        std::lock_guard lock(h.M);
        if (!h.Ids.contains(id))
            continue;
        // A full queue loses the newest frames, as a controller's receive buffer does.
        if (std::int32_t(h.Rx.size()) >= h.RxQueueSize) {
            if (h.Dropped++ == 0)
                qWarning("CAN %s: receive queue full, frames lost", qPrintable(h.Bus));
            continue;
        }
        h.Dropped = 0;
        TCanMsg msg;
        msg.id = id;
        const QByteArray payload = frame.payload();
        msg.len = static_cast<std::uint8_t>(std::min<qsizetype>(payload.size(), 8));
        std::memcpy(msg.data, payload.constData(), msg.len);
        h.Rx.push_back(msg);
        added = true;
    }
    if (added)
        h.Cv.notify_all();
}

// Library thread.
void StartDevice(const THandlePtr& h) {
    QString error;
    QCanBusDevice* device = QCanBus::instance()->createDevice(h->Plugin, h->Interface, &error);
    if (!device) {
        std::lock_guard lock(h->M);
        h->Failed = true;
        h->ErrorText = error;
        return;
    }
    h->Device = device;
    THandleState* raw = h.get(); // the device goes before the state does
    QObject::connect(device, &QCanBusDevice::framesReceived, device,
                     [raw, device] { Receive(*raw, device); });
    const auto down = [raw] {
        if (raw->Reconnecting)
            return;
        if (raw->Connected)
            raw->Lost = true;
        else
            raw->Failed = true;
    };
    QObject::connect(device, &QCanBusDevice::stateChanged, device,
                     [raw, down](QCanBusDevice::CanBusDeviceState state) {
                         {
                             std::lock_guard lock(raw->M);
                             if (state == QCanBusDevice::ConnectedState)
                                 raw->Connected = true;
                             else if (state == QCanBusDevice::UnconnectedState)
                                 down();
                         }
                         raw->Cv.notify_all();
                     });
    QObject::connect(device, &QCanBusDevice::errorOccurred, device,
                     [raw, device, down](QCanBusDevice::CanBusError e) {
                         {
                             std::lock_guard lock(raw->M);
                             raw->ErrorText = device->errorString();
                             if (e == QCanBusDevice::ConnectionError)
                                 down();
                         }
                         raw->Cv.notify_all();
                     });
    if (!device->connectDevice()) {
        std::lock_guard lock(h->M);
        h->Failed = true;
        if (h->ErrorText.isEmpty())
            h->ErrorText = device->errorString();
    }
}

bool WaitUsable(THandleState& h, int timeoutMs) {
    std::unique_lock lock(h.M);
    h.Cv.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                  [&h] { return h.Connected || h.Failed || h.Lost || h.Closed; });
    return h.Connected && !h.Failed && !h.Lost && !h.Closed;
}

// The bit rate a SocketCAN interface is configured for, read over rtnetlink; nothing when it
// cannot be read.
std::optional<std::uint32_t> SocketCanBitrate(const QString& interfaceName) {
    const unsigned index = ::if_nametoindex(interfaceName.toLocal8Bit().constData());
    if (index == 0)
        return std::nullopt;
    const int fd = ::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE);
    if (fd < 0)
        return std::nullopt;
    timeval tv{1, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    struct {
        nlmsghdr nh;
        ifinfomsg ifi;
    } req{};
    req.nh.nlmsg_len = NLMSG_LENGTH(sizeof(ifinfomsg));
    req.nh.nlmsg_type = RTM_GETLINK;
    req.nh.nlmsg_flags = NLM_F_REQUEST;
    req.nh.nlmsg_seq = 1;
    req.ifi.ifi_family = AF_UNSPEC;
    req.ifi.ifi_index = static_cast<int>(index);
    alignas(nlmsghdr) char buf[16384];
    ssize_t n = -1;
    if (::send(fd, &req, req.nh.nlmsg_len, 0) >= 0)
        n = ::recv(fd, buf, sizeof buf, 0);
    ::close(fd);
    if (n <= 0)
        return std::nullopt;
    auto* nh = reinterpret_cast<nlmsghdr*>(buf);
    auto len = static_cast<unsigned>(n);
    for (; NLMSG_OK(nh, len); nh = NLMSG_NEXT(nh, len)) {
        if (nh->nlmsg_type != RTM_NEWLINK)
            continue;
        auto* ifi = static_cast<ifinfomsg*>(NLMSG_DATA(nh));
        int attrLen = static_cast<int>(IFLA_PAYLOAD(nh));
        for (auto* rta = IFLA_RTA(ifi); RTA_OK(rta, attrLen); rta = RTA_NEXT(rta, attrLen)) {
            if (rta->rta_type != IFLA_LINKINFO)
                continue;
            int infoLen = static_cast<int>(RTA_PAYLOAD(rta));
            for (auto* info = static_cast<rtattr*>(RTA_DATA(rta)); RTA_OK(info, infoLen);
                 info = RTA_NEXT(info, infoLen)) {
                if (info->rta_type != IFLA_INFO_DATA)
                    continue;
                int dataLen = static_cast<int>(RTA_PAYLOAD(info));
                for (auto* d = static_cast<rtattr*>(RTA_DATA(info)); RTA_OK(d, dataLen);
                     d = RTA_NEXT(d, dataLen)) {
                    if (d->rta_type == IFLA_CAN_BITTIMING &&
                        RTA_PAYLOAD(d) >= sizeof(can_bittiming)) {
                        can_bittiming bt;
                        std::memcpy(&bt, RTA_DATA(d), sizeof bt);
                        if (bt.bitrate == 0)
                            return std::nullopt;
                        return bt.bitrate;
                    }
                }
            }
        }
    }
    return std::nullopt;
}

} // namespace

std::int32_t canOpen(int net, std::uint32_t flags, std::int32_t txQueueSize,
                     std::int32_t rxQueueSize, std::int32_t txTimeout, std::int32_t rxTimeout,
                     TCanHandle* handle) {
    const QString bus = CanNets::BusOf(net);
    if (bus.isEmpty())
        return CAN_NET_NOT_FOUND;
    return canOpenBus(bus, flags, txQueueSize, rxQueueSize, txTimeout, rxTimeout, handle);
}

std::int32_t canOpenBus(const QString& bus, std::uint32_t flags, std::int32_t /*txQueueSize*/,
                        std::int32_t rxQueueSize, std::int32_t /*txTimeout*/,
                        std::int32_t rxTimeout, TCanHandle* handle) {
    if (!handle || flags != 0 || rxQueueSize <= 0 || rxTimeout < 0)
        return CAN_INVALID_PARAMETER;
    auto h = std::make_shared<THandleState>();
    h->Bus = bus;
    if (!CanNets::SplitBus(h->Bus, h->Plugin, h->Interface))
        return CAN_NET_NOT_FOUND;
    h->RxQueueSize = rxQueueSize;
    h->RxTimeout = rxTimeout;

    TLibraryThread& thread = TLibraryThread::Instance();
    thread.Call([h] { StartDevice(h); });
    if (!WaitUsable(*h, OpenTimeoutMs)) {
        thread.Call([h] { DeleteDevice(*h); });
        return CAN_NET_NOT_FOUND;
    }
    std::lock_guard lock(TableMutex);
    *handle = NextHandle++;
    if (NextHandle < 0)
        NextHandle = 0;
    Handles[*handle] = h;
    return CAN_SUCCESS;
}

std::int32_t canClose(TCanHandle handle) {
    THandlePtr h;
    {
        std::lock_guard lock(TableMutex);
        const auto it = Handles.find(handle);
        if (it == Handles.end())
            return CAN_INVALID_HANDLE;
        h = it->second;
        Handles.erase(it);
    }
    {
        std::lock_guard lock(h->M);
        h->Closed = true;
    }
    h->Cv.notify_all();
    TLibraryThread::Instance().Call([h] { DeleteDevice(*h); });
    return CAN_SUCCESS;
}

std::int32_t canSetBaudrate(TCanHandle handle, std::uint32_t baud) {
    const THandlePtr h = Find(handle);
    if (!h)
        return CAN_INVALID_HANDLE;
    const auto rate = CanNets::BitrateOfCode(baud);
    if (!rate) {
        SetError(*h, QStringLiteral("%1 is not a bit-rate code of the table").arg(baud));
        return CAN_BAUDRATE_REFUSED;
    }
    // The virtual bus carries frames without any bit timing.
    if (h->Plugin == QLatin1String("virtualcan")) {
        SetError(*h, {});
        return CAN_SUCCESS;
    }
    if (h->Plugin == QLatin1String("socketcan")) {
        // Setting the rate needs privileges a user does not have: use the interface as it is
        // configured, unless it is known to run at another rate.
        const auto configured = SocketCanBitrate(h->Interface);
        if (!configured || *configured == *rate) {
            SetError(*h, {});
            return CAN_SUCCESS;
        }
        SetError(*h, QStringLiteral("The CAN interface %1 runs at %2 bit/s, not at the chosen "
                                    "%3 bit/s. Set its rate with: ip link set %1 type can "
                                    "bitrate %3")
                         .arg(h->Interface)
                         .arg(*configured)
                         .arg(*rate));
        return CAN_BAUDRATE_REFUSED;
    }
    // Adapters behind other plugins take the rate while they are not connected.
    bool applied = false;
    TLibraryThread::Instance().Call([&h, &applied, rate] {
        QCanBusDevice* device = h->Device;
        if (!device)
            return;
        {
            std::lock_guard lock(h->M);
            h->Reconnecting = true;
            h->Connected = false;
        }
        device->disconnectDevice();
        device->setConfigurationParameter(QCanBusDevice::BitRateKey, QVariant(*rate));
        const bool configError = device->error() == QCanBusDevice::ConfigurationError;
        {
            std::lock_guard lock(h->M);
            h->Reconnecting = false;
        }
        applied = !configError && device->connectDevice();
    });
    if (!applied || !WaitUsable(*h, OpenTimeoutMs)) {
        std::lock_guard lock(h->M);
        h->ErrorText =
            QStringLiteral("%1 refused %2 bit/s: %3").arg(h->Bus).arg(*rate).arg(h->ErrorText);
        return CAN_BAUDRATE_REFUSED;
    }
    SetError(*h, {});
    return CAN_SUCCESS;
}

std::int32_t canIdAdd(TCanHandle handle, std::int32_t id) {
    const THandlePtr h = Find(handle);
    if (!h)
        return CAN_INVALID_HANDLE;
    std::lock_guard lock(h->M);
    if (id < 0 || id > MaxExtendedId) {
        h->ErrorText = QStringLiteral("%1 is no CAN identifier").arg(id);
        return CAN_ID_REFUSED;
    }
    h->Ids.insert(id);
    h->ErrorText.clear();
    return CAN_SUCCESS;
}

std::int32_t canRead(TCanHandle handle, TCanMsg* msg, std::int32_t* len, void* overlapped) {
    if (!msg || !len || *len <= 0 || overlapped)
        return CAN_INVALID_PARAMETER;
    const THandlePtr h = Find(handle);
    if (!h) {
        *len = 0;
        return CAN_INVALID_HANDLE;
    }
    const std::int32_t room = *len;
    *len = 0;
    std::unique_lock lock(h->M);
    const bool woken = h->Cv.wait_for(lock, std::chrono::milliseconds(h->RxTimeout), [&h] {
        return h->AbortRx || !h->Rx.empty() || h->Lost || h->Closed;
    });
    if (h->AbortRx) {
        h->AbortRx = false;
        return CAN_ABORTED;
    }
    if (!h->Rx.empty()) {
        while (*len < room && !h->Rx.empty()) {
            msg[*len] = h->Rx.front();
            h->Rx.pop_front();
            ++*len;
        }
        return CAN_SUCCESS;
    }
    if (h->Closed)
        return CAN_INVALID_HANDLE;
    if (h->Lost) {
        if (h->ErrorText.isEmpty())
            h->ErrorText = QStringLiteral("%1 is gone").arg(h->Bus);
        return CAN_BUS_LOST;
    }
    return woken ? CAN_SUCCESS : CAN_RX_TIMEOUT;
}

std::int32_t canSend(TCanHandle handle, const TCanMsg* msg, std::int32_t* len) {
    if (!msg || !len || *len < 0)
        return CAN_INVALID_PARAMETER;
    const THandlePtr h = Find(handle);
    if (!h)
        return CAN_INVALID_HANDLE;
    const std::int32_t count = *len;
    *len = 0;
    for (std::int32_t i = 0; i < count; ++i)
        if (msg[i].len > 8 || msg[i].id < 0 || msg[i].id > MaxExtendedId)
            return CAN_INVALID_PARAMETER;
    std::int32_t result = CAN_SUCCESS;
    std::int32_t sent = 0;
    TLibraryThread::Instance().Call([&] {
        QCanBusDevice* device = h->Device;
        for (std::int32_t i = 0; i < count; ++i) {
            if (!device || device->state() != QCanBusDevice::ConnectedState) {
                SetError(*h, QStringLiteral("%1 is not connected").arg(h->Bus));
                result = CAN_BUS_LOST;
                return;
            }
            QCanBusFrame frame(static_cast<QCanBusFrame::FrameId>(msg[i].id),
                               QByteArray(reinterpret_cast<const char*>(msg[i].data), msg[i].len));
            frame.setExtendedFrameFormat(msg[i].id > 0x7FF);
            if (!device->writeFrame(frame)) {
                SetError(*h, device->errorString());
                result = CAN_TX_ERROR;
                return;
            }
            ++sent;
        }
    });
    *len = sent;
    return result;
}

std::int32_t canIoctl(TCanHandle handle, std::uint32_t command, void* /*arg*/) {
    const THandlePtr h = Find(handle);
    if (!h)
        return CAN_INVALID_HANDLE;
    if (command != CAN_IOCTL_ABORT_RX)
        return CAN_NOT_SUPPORTED;
    {
        std::lock_guard lock(h->M);
        h->AbortRx = true;
    }
    h->Cv.notify_all();
    return CAN_SUCCESS;
}

QString canErrorText(TCanHandle handle) {
    const THandlePtr h = Find(handle);
    if (!h)
        return QStringLiteral("invalid handle");
    std::lock_guard lock(h->M);
    return h->ErrorText;
}
