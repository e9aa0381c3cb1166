// SPDX-License-Identifier: Apache-2.0
#include "devices/can/platform/CanNets.h"

#include "devices/IniFile.h"

#include <QCanBus>
#include <QFileInfo>

namespace CanNets {

namespace {
const QString kSection = QStringLiteral("nets");

bool InterfaceExists(const QString& name) {
    return QFileInfo::exists(QStringLiteral("/sys/class/net/") + name);
}
} // namespace

std::map<int, QString> NetMap() {
    std::map<int, QString> nets;
    TIniFile file(SettingsFilePath(QStringLiteral("can.cfg")));
    if (file.SectionExists(kSection)) {
        for (int net = FirstNet; net <= LastNet; ++net) {
            const QString bus =
                file.ReadString(kSection, QString::number(net), QString()).trimmed();
            if (!bus.isEmpty())
                nets[net] = bus;
        }
        return nets;
    }
    for (int i = 0; i <= 9; ++i)
        if (InterfaceExists(QStringLiteral("can%1").arg(i)))
            nets[i] = QStringLiteral("socketcan:can%1").arg(i);
    for (int i = 0; i <= 7; ++i)
        if (InterfaceExists(QStringLiteral("vcan%1").arg(i)))
            nets[10 + i] = QStringLiteral("socketcan:vcan%1").arg(i);
    if (QCanBus::instance()->plugins().contains(QStringLiteral("virtualcan"))) {
        nets[19] = QStringLiteral("virtualcan:can0");
        nets[20] = QStringLiteral("virtualcan:can1");
    }
    return nets;
}

bool NamedInSettings() {
    return TIniFile(SettingsFilePath(QStringLiteral("can.cfg"))).SectionExists(kSection);
}

QString BusOf(int net) {
    const auto nets = NetMap();
    const auto it = nets.find(net);
    return it == nets.end() ? QString() : it->second;
}

std::optional<int> NetNumber(const QString& portName) {
    const QString prefix = QStringLiteral("Net ");
    if (!portName.startsWith(prefix))
        return std::nullopt;
    bool ok = false;
    const int net = portName.mid(prefix.size()).toInt(&ok);
    if (!ok || net < 0)
        return std::nullopt;
    return net;
}

bool IsBusName(const QString& text) {
    QString plugin, interfaceName;
    return SplitBus(text, plugin, interfaceName) && QCanBus::instance()->plugins().contains(plugin);
}

bool SplitBus(const QString& bus, QString& plugin, QString& interfaceName) {
    const auto colon = bus.indexOf(QLatin1Char(':'));
    if (colon <= 0 || colon + 1 >= bus.size())
        return false;
    plugin = bus.left(colon).trimmed();
    interfaceName = bus.mid(colon + 1).trimmed();
    return !plugin.isEmpty() && !interfaceName.isEmpty();
}

std::optional<std::uint32_t> BitrateOfCode(std::uint32_t code) {
    switch (code) {
    case 0:
        return 1000000;
    case 2:
        return 500000;
    case 4:
        return 250000;
    case 6:
        return 125000;
    case 7:
        return 100000;
    case 9:
        return 50000;
    case 11:
        return 20000;
    case 13:
        return 10000;
    default:
        return std::nullopt;
    }
}

} // namespace CanNets
