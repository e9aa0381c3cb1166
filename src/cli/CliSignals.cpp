// SPDX-License-Identifier: Apache-2.0
#include "cli/CliSignals.h"

#include <QSocketNotifier>

#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {

int SignalPipe[2] = {-1, -1};
volatile std::sig_atomic_t SignalsSeen = 0;

// Only async-signal-safe calls here: write and _exit.
void OnStopSignal(int signalNumber) {
    if (SignalsSeen > 0)
        _exit(128 + signalNumber);
    SignalsSeen = 1;
    const auto c = static_cast<unsigned char>(signalNumber);
    [[maybe_unused]] const ssize_t n = write(SignalPipe[1], &c, 1);
}

} // namespace

TCliSignals::TCliSignals(QObject* parent) : QObject(parent) {}

TCliSignals::~TCliSignals() {
    if (!FInstalled)
        return;
    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGTERM, SIG_DFL);
    FNotifier.reset();
    close(SignalPipe[0]);
    close(SignalPipe[1]);
    SignalPipe[0] = SignalPipe[1] = -1;
}

bool TCliSignals::Install() {
    if (FInstalled)
        return true;
    if (pipe2(SignalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return false;
    struct sigaction sa = {};
    sa.sa_handler = OnStopSignal;
    sigemptyset(&sa.sa_mask);
    // Both signals share the counter: block each while the other's handler runs.
    sigaddset(&sa.sa_mask, SIGINT);
    sigaddset(&sa.sa_mask, SIGTERM);
    sa.sa_flags = SA_RESTART;
    if (sigaction(SIGINT, &sa, nullptr) != 0 || sigaction(SIGTERM, &sa, nullptr) != 0) {
        std::signal(SIGINT, SIG_DFL);
        close(SignalPipe[0]);
        close(SignalPipe[1]);
        return false;
    }
    FInstalled = true;
    FNotifier = std::make_unique<QSocketNotifier>(SignalPipe[0], QSocketNotifier::Read);
    connect(FNotifier.get(), &QSocketNotifier::activated, this, &TCliSignals::Drain);
    return true;
}

void TCliSignals::Drain() {
    unsigned char c = 0;
    while (read(SignalPipe[0], &c, 1) == 1) {
        if (OnSignal)
            OnSignal(c);
    }
}
