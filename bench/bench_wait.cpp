// CPU cost of waiting for a reply that never comes: one ExecuteCommand against a silent
// transport (the full 3000 ms), compared with a wait that only polls the event loop.
#include "devices/DeviceComponent.h"
#include "engine/MorvForm.h"
#include "protocol/Tick.h"

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include <sys/resource.h>

#include <cstdio>

namespace {
// Accepts every write and never answers.
class TSilentDevice : public TDevice {
public:
    explicit TSilentDevice(QObject* owner)
        : TDevice(owner, QStringLiteral("silent"), QStringLiteral("Silent")) {}
    ~TSilentDevice() override { BeginDestroy(); }
    bool IsOpen() override { return FOpen; }
    TStat Open(const QString&) override {
        FOpen = true;
        return E_SUCCESS;
    }
    TStat Close() override {
        FOpen = false;
        return E_SUCCESS;
    }
    std::int32_t BytesAvailable() override { return 0; }
    std::int32_t Read(std::uint8_t*, std::int32_t) override { return FOpen ? 0 : -1; }
    TStat Write(const std::uint8_t*, std::int32_t) override { return E_SUCCESS; }
    void GetPortList(QStringList& Items) override { Items = {QStringLiteral("none")}; }

protected:
    bool ConnectConditionMet() override { return FOpen; }

private:
    bool FOpen = false;
};

double CpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

void Report(const char* what, double cpu, qint64 wallMs) {
    std::printf("%-34s wall %5lld ms   cpu %7.1f ms   (%5.1f %% of one core)\n", what,
                static_cast<long long>(wallMs), cpu * 1000.0,
                wallMs > 0 ? 100.0 * cpu * 1000.0 / static_cast<double>(wallMs) : 0.0);
}
} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QTemporaryDir settings;
    SetSettingsDirectory(settings.path());

    TMorv morv(nullptr);
    morv.Command()->AddDevice(new TSilentDevice(morv.Command()));
    TConnectTarget silent;
    silent.Device = QStringLiteral("silent");
    if (morv.ConnectTo(silent) != E_SUCCESS || !morv.IsConnected()) {
        std::fprintf(stderr, "could not connect the silent transport\n");
        return 1;
    }

    // Waiting for a reply that does not come.
    QElapsedTimer wall;
    double cpu = CpuSeconds();
    wall.start();
    const TStat status = morv.Stop();
    Report("ExecuteCommand, silent gripper:", CpuSeconds() - cpu, wall.elapsed());
    if (status != E_CMD_FAILED)
        std::fprintf(stderr, "unexpected status %d\n", status);

    // For comparison: the same 3000 ms spent in non-blocking event-loop passes.
    cpu = CpuSeconds();
    wall.restart();
    const std::uint32_t t0 = GetTickCount();
    while (GetTickCount() - t0 <= TMorv::ReplyTimeoutMs)
        QCoreApplication::processEvents(QEventLoop::AllEvents);
    Report("Polling passes only, same 3000 ms:", CpuSeconds() - cpu, wall.elapsed());
    return 0;
}
