// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <functional>

class QEventLoop;

// Runs the event loop until a condition holds, for the programs without a window: the engine's
// handlers call Wake() when something the condition reads has changed. Waits nest.
class TLoopWait {
public:
    // False when `timeoutMs` passed first; a negative time-out waits for ever.
    bool Until(const std::function<bool()>& done, int timeoutMs);
    void Wake();

private:
    QEventLoop* FLoop = nullptr;
};
