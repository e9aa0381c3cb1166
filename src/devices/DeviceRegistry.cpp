// SPDX-License-Identifier: Apache-2.0
#include "devices/DeviceRegistry.h"

#include "devices/can/CANDevice.h"
#include "devices/serial/SerialDevice.h"
#include "devices/tcp/TCPDevice.h"
#include "devices/udp/UDPDevice.h"

#include <array>

namespace {
using TFactory = TDevice* (*)(QObject* owner);

template <typename T> TDevice* Make(QObject* owner) {
    return new T(owner);
}

// A new transport is one more line here.
constexpr std::array<TFactory, 4> kTransports = {
    &Make<TSerialDevice>,
    &Make<TTCPDevice>,
    &Make<TUDPDevice>,
    &Make<TCANDevice>,
};
} // namespace

std::vector<TDevice*> CreateTransports(QObject* owner) {
    std::vector<TDevice*> made;
    made.reserve(kTransports.size());
    for (TFactory make : kTransports)
        made.push_back(make(owner));
    return made;
}
