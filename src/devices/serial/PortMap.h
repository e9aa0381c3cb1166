// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <QString>
#include <QStringList>

class TIniFile;

// Port names "COM" + number for the serial devices of this machine, kept in section "ports" of
// the serial settings file ("COM3=/dev/ttyUSB0"): a device keeps its number across runs, a
// device seen for the first time gets the lowest free number, and the section is written then.
// An operator may add any path by hand (a pseudo-terminal, a /dev/serial/by-id/ link).
class TSerialPortMap {
public:
    static constexpr int MaxPort = 256;

    // `devDir` and `sysDir` are where devices and their sysfs entries are looked for.
    explicit TSerialPortMap(TIniFile& settings, QString devDir = QStringLiteral("/dev"),
                            QString sysDir = QStringLiteral("/sys/class/tty"));

    // Numbers the serial devices found now, then lists the names of every mapped device that
    // exists, by ascending number.
    QStringList PortList();
    // The device a name such as "COM3" (any case) stands for; empty when none.
    QString DevicePath(const QString& portName) const;
    // The number in "COMn", or 0.
    static int PortNumber(const QString& portName);

private:
    QStringList Candidates() const;

    TIniFile& FSettings;
    QString FDevDir;
    QString FSysDir;
};
