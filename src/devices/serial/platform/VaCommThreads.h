// SPDX-License-Identifier: Apache-2.0
#pragma once

// Shared by the files of TVaComm only: its two worker threads and the helpers they share.

#include "devices/serial/platform/VaComm.h"

#include <QThread>

#include <atomic>
#include <exception>

namespace VaCommDetail {

QThread::Priority QtPriority(TThreadPriority p);
// Errors escaping a handler go to the application's handler, from its event loop.
void PassToApplication(std::exception_ptr e);

} // namespace VaCommDetail

class TVaComm::TVaCommEventThread : public QThread {
public:
    TVaCommEventThread(TVaComm& comm, std::uint32_t mask, unsigned generation)
        : FComm(comm), FMask(mask), FGeneration(generation) {}
    std::atomic<bool> Stop{false};

protected:
    void run() override;

private:
    TVaComm& FComm;
    std::uint32_t FMask;
    unsigned FGeneration;
};

class TVaComm::TVaCommWriteThread : public QThread {
public:
    TVaCommWriteThread(TVaComm& comm, unsigned generation) : FComm(comm), FGeneration(generation) {}

protected:
    void run() override;

private:
    TVaComm& FComm;
    unsigned FGeneration;
};
