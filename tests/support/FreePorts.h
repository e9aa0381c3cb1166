// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <QtGlobal>

// A loopback port nobody listens on right now (the operating system's pick), for a server or
// a simulator that the test starts next.
quint16 FreeTcpPort();
quint16 FreeUdpPort();
