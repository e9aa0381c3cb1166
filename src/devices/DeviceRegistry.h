// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <vector>

class QObject;
class TDevice;

// Every transport the program offers, created with `owner` as their QObject parent, in the order
// in which the selection lists them: serial, TCP, UDP, CAN.
std::vector<TDevice*> CreateTransports(QObject* owner);
