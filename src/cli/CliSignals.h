// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <QObject>

#include <functional>
#include <memory>

class QSocketNotifier;

// SIGINT and SIGTERM as events of the event loop: the handler only writes the signal's number
// into a pipe, and a notifier on the pipe's other end hands it to OnSignal. A second signal
// ends the process at once with 128 + its number, from the handler itself, so that a tool
// stuck in a wait can still be stopped. One instance per process.
class TCliSignals : public QObject {
    Q_OBJECT
public:
    explicit TCliSignals(QObject* parent = nullptr);
    ~TCliSignals() override;

    // False when the pipe or the handlers could not be set up; the signals then keep their
    // default action.
    bool Install();

    // Called with SIGINT or SIGTERM, on the thread that runs the event loop.
    std::function<void(int signalNumber)> OnSignal;

    // The exit code a shell reports for a process ended by the signal.
    static int ExitCode(int signalNumber) { return 128 + signalNumber; }

private:
    void Drain();

    std::unique_ptr<QSocketNotifier> FNotifier;
    bool FInstalled = false;
};
