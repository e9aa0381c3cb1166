// SPDX-License-Identifier: Apache-2.0
#include "devices/serial/PortMap.h"

#include "devices/IniFile.h"

#include <QCollator>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <map>

namespace {
const QString kSection = QStringLiteral("ports");

// "ttyUSB10" after "ttyUSB9": numbers inside names compare as numbers.
bool NaturalLess(const QString& a, const QString& b) {
    QCollator c;
    c.setNumericMode(true);
    return c.compare(a, b) < 0;
}
} // namespace

TSerialPortMap::TSerialPortMap(TIniFile& settings, QString devDir, QString sysDir)
    : FSettings(settings), FDevDir(std::move(devDir)), FSysDir(std::move(sysDir)) {}

int TSerialPortMap::PortNumber(const QString& portName) {
    if (!portName.startsWith(QLatin1String("COM"), Qt::CaseInsensitive))
        return 0;
    bool ok = false;
    const int n = portName.mid(3).toInt(&ok);
    return ok && n >= 1 && n <= MaxPort && portName.mid(3) == QString::number(n) ? n : 0;
}

QStringList TSerialPortMap::Candidates() const {
    const QDir dev(FDevDir);
    QStringList found;
    // Every 8250 driver creates its ttyS nodes; only those with a UART behind them count.
    for (const QString& name :
         dev.entryList({QStringLiteral("ttyS*")}, QDir::System | QDir::Files)) {
        QFile type(QDir(FSysDir).filePath(name + QStringLiteral("/type")));
        if (type.open(QIODevice::ReadOnly) && type.readAll().trimmed().toInt() != 0)
            found << dev.filePath(name);
    }
    for (const QString& name : dev.entryList({QStringLiteral("ttyUSB*"), QStringLiteral("ttyACM*"),
                                              QStringLiteral("ttyAMA*"), QStringLiteral("rfcomm*")},
                                             QDir::System | QDir::Files))
        found << dev.filePath(name);
    std::sort(found.begin(), found.end(), NaturalLess);
    return found;
}

QStringList TSerialPortMap::PortList() {
    std::map<int, QString> byNumber;
    for (const QString& key : FSettings.ReadSection(kSection)) {
        const int n = PortNumber(key);
        const QString path = FSettings.ReadString(kSection, key, QString());
        if (n && !path.isEmpty() && !byNumber.count(n))
            byNumber[n] = path;
    }
    for (const QString& path : Candidates()) {
        bool known = false;
        for (const auto& [n, p] : byNumber)
            known = known || p == path;
        if (known)
            continue;
        int free = 1;
        while (free <= MaxPort && byNumber.count(free))
            ++free;
        if (free > MaxPort)
            break;
        byNumber[free] = path;
        FSettings.WriteString(kSection, QStringLiteral("COM%1").arg(free), path);
    }
    QStringList names;
    for (const auto& [n, path] : byNumber)
        if (QFileInfo::exists(path))
            names << QStringLiteral("COM%1").arg(n);
    return names;
}

QString TSerialPortMap::DevicePath(const QString& portName) const {
    const int n = PortNumber(portName);
    if (!n)
        return {};
    for (const QString& key : FSettings.ReadSection(kSection))
        if (PortNumber(key) == n)
            return FSettings.ReadString(kSection, key, QString());
    return {};
}
