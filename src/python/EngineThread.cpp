// SPDX-License-Identifier: Apache-2.0
#include "python/EngineThread.h"

#include "devices/IniFile.h"
#include "protocol/Constants.h"

#include <QCoreApplication>
#include <QDir>
#include <QLoggingCategory>
#include <QThread>

#include <thread>

namespace {

std::mutex HostMutex;
std::thread HostThread;
QCoreApplication* HostApp = nullptr;

class TLoopThread : public QThread {
public:
    explicit TLoopThread(std::function<void(TLoopThread&)> body) : FBody(std::move(body)) {}
    int Loop() { return exec(); }

protected:
    void run() override { FBody(*this); }

private:
    std::function<void(TLoopThread&)> FBody;
};

std::string Utf8(const QString& s) {
    return s.toStdString();
}

} // namespace

void EnsureQtApplication() {
    const std::lock_guard lock(HostMutex);
    if (QCoreApplication::instance())
        return;
    std::promise<void> ready;
    HostThread = std::thread([&ready] {
        static int argc = 1;
        static char name[] = "karo";
        static char* argv[] = {name, nullptr};
        QCoreApplication app(argc, argv);
        QLoggingCategory::setFilterRules(QStringLiteral("qt.canbus.plugins.*.info=false"));
        // The interpreter's folder is no place for settings files: the user's one is.
        const QString dir = SettingsDirectoryFor(
            QString(), false, qEnvironmentVariable("XDG_CONFIG_HOME"), QDir::homePath());
        QDir().mkpath(dir);
        SetSettingsDirectory(dir);
        HostApp = &app;
        ready.set_value();
        app.exec();
        HostApp = nullptr;
    });
    ready.get_future().wait();
}

void StopQtApplication() {
    const std::lock_guard lock(HostMutex);
    if (!HostThread.joinable())
        return;
    QMetaObject::invokeMethod(
        HostApp, [] { QCoreApplication::quit(); }, Qt::QueuedConnection);
    HostThread.join();
}

TEngineThread::TEngineThread() {
    EnsureQtApplication();
    std::promise<void> ready;
    FThread = std::make_unique<TLoopThread>([this, &ready](TLoopThread& self) {
        TMorv morv(nullptr);
        QObject context;
        morv.OnConnect = [this](TMorv*) {
            FConnected = true;
            FWait.Wake();
        };
        const auto lost = [this](TMorv*) {
            FLinkLost = true;
            FWait.Wake();
            Notify();
        };
        morv.OnConnectionError = lost;
        morv.OnDisconnect = lost;
        morv.OnSystemState = [this](TMorv* m) { Push("system_state", m->SystemState()); };
        morv.OnGraspingState = [this](TMorv* m) { Push("grasping_state", m->GraspingState()); };
        morv.OnPosition = [this](TMorv* m) { Push("position", m->Position()); };
        FMorv = &morv;
        FContext = &context;
        {
            const std::lock_guard lock(FMutex);
            FAccepting = true;
        }
        ready.set_value();
        self.Loop();
        {
            const std::lock_guard lock(FMutex);
            FAccepting = false;
        }
        morv.OnConnect = nullptr;
        morv.OnConnectionError = nullptr;
        morv.OnDisconnect = nullptr;
        morv.OnSystemState = nullptr;
        morv.OnGraspingState = nullptr;
        morv.OnPosition = nullptr;
        morv.Disconnect();
        // Jobs still queued go with the context; their callers see a closed link.
        FContext = nullptr;
        FMorv = nullptr;
    });
    FThread->start();
    ready.get_future().wait();
}

TEngineThread::~TEngineThread() {
    Quit();
}

void TEngineThread::Quit() {
    if (!FThread)
        return;
    FThread->quit();
    FThread->wait();
    FThread.reset();
    FLinkLost = true;
    Notify();
}

void TEngineThread::PostRaw(std::function<void()> call) {
    const std::lock_guard lock(FMutex);
    if (!FAccepting)
        return; // dropping `call` breaks its promise
    QMetaObject::invokeMethod(
        FContext,
        [this, call = std::move(call)] {
            // Straight away when nothing waits: a second hand-over would cost a loop pass.
            if (FMorv->InExchange())
                FMorv->CallWhenIdle(call);
            else
                call();
        },
        Qt::QueuedConnection);
}

void TEngineThread::Connect(const TConnectTarget& target, const QString& text, int timeoutMs) {
    const auto fail = [&](const QString& why) {
        throw TKaroError{TKaroError::Link, E_SUCCESS,
                         Utf8(QStringLiteral("cannot open %1: %2").arg(text, why))};
    };
    const TStat status = FMorv->ConnectTo(target);
    bool listed = false;
    for (int i = 0; i < FMorv->Command()->DeviceCount(); ++i)
        listed = listed || FMorv->Command()->Devices(i)->ShortName() == target.Device;
    if (status == E_NOT_FOUND)
        fail(listed ? QStringLiteral("no such port or net")
                    : QStringLiteral("this build has no %1 transport").arg(target.Device));
    if (status != E_SUCCESS)
        fail(StatusText(status));
    if (!FWait.Until([this] { return FConnected || FLinkLost; }, timeoutMs))
        fail(QStringLiteral("no connection within %1 ms").arg(timeoutMs));
    if (!FConnected)
        fail(QStringLiteral("the connection failed"));
}

void TEngineThread::Check(std::uint8_t id, TStat status, bool pendingIsSuccess) {
    if (status == E_SUCCESS || (pendingIsSuccess && status == E_CMD_PENDING))
        return;
    const QString name = CommandName(id);
    const TExchangeOutcome& outcome = FMorv->LastOutcome();
    if (FLinkLost || status == E_NOT_OPENED || outcome.Kind == TOutcomeKind::LinkClosed ||
        (status == E_CMD_FAILED && outcome.Kind == TOutcomeKind::NotSent))
        throw TKaroError{TKaroError::Link, E_SUCCESS,
                         Utf8(QStringLiteral("%1: the link was lost").arg(name))};
    if (status == E_CMD_FAILED) {
        if (outcome.Kind == TOutcomeKind::NoReply)
            throw TKaroError{TKaroError::NoReply, E_SUCCESS,
                             Utf8(QStringLiteral("%1: no reply within %2 ms")
                                      .arg(name)
                                      .arg(TMorv::ReplyTimeoutMs))};
        // A refused query comes back as "failed"; the gripper's own status says more.
        if (outcome.HasStatus && outcome.Status() != E_SUCCESS)
            status = outcome.Status();
    }
    throw TKaroError{TKaroError::Gripper, status,
                     Utf8(QStringLiteral("%1: %2").arg(name, StatusText(status)))};
}

std::shared_ptr<TMotionState>
TEngineThread::StartMotion(const std::function<TStat(TMorv&, TAsyncResultEvent)>& start) {
    auto motion = std::make_shared<TMotionState>();
    const std::weak_ptr<TMotionState> weak = motion;
    const TStat status =
        start(*FMorv, [this, weak](TMorv*, std::int32_t, std::uint16_t word, const TByteArray&) {
            if (const auto m = weak.lock()) {
                const std::lock_guard lock(FMutex);
                m->Done = true;
                m->Status = static_cast<TStat>(word & 0xFF);
            }
            Notify();
        });
    motion->ID = FMorv->LastOutcome().ID;
    Check(motion->ID, status, true);
    if (status == E_SUCCESS) {
        const std::lock_guard lock(FMutex);
        motion->Done = true;
    }
    return motion;
}

void TEngineThread::SetUpdates(bool on) {
    // The window's periods, in ms; only changes are reported.
    const std::uint16_t state = on ? 50 : 0, position = on ? 100 : 0;
    {
        const std::lock_guard lock(FMutex);
        FUpdates.clear();
        FUpdatesSince = std::chrono::steady_clock::now();
        FUpdating = on;
    }
    Check(CMD_GET_SYSTEM_STATE, FMorv->GetSystemState(on, state, on));
    Check(CMD_GET_GRASPING_STATE, FMorv->GetGraspingState(on, state, on));
    Check(CMD_GET_POS, FMorv->GetPosition(on, position, on));
}

void TEngineThread::WaitSlice(std::chrono::milliseconds slice, const std::function<bool()>& ready) {
    std::unique_lock lock(FMutex);
    FChanged.wait_for(lock, slice, [&] { return FLinkLost || ready(); });
}

bool TEngineThread::MotionDone(const TMotionState& motion) {
    const std::lock_guard lock(FMutex);
    return motion.Done;
}

bool TEngineThread::TakeUpdate(TUpdate& update) {
    const std::lock_guard lock(FMutex);
    if (FUpdates.empty())
        return false;
    update = FUpdates.front();
    FUpdates.pop_front();
    return true;
}

void TEngineThread::Notify() {
    FChanged.notify_all();
}

void TEngineThread::Push(const char* kind, double value) {
    {
        const std::lock_guard lock(FMutex);
        if (!FUpdating)
            return;
        const std::chrono::duration<double> since =
            std::chrono::steady_clock::now() - FUpdatesSince;
        FUpdates.push_back({kind, value, since.count()});
        // A reader that stopped reading must not let the queue grow without bound.
        if (FUpdates.size() > 100000)
            FUpdates.pop_front();
    }
    Notify();
}
