// SPDX-License-Identifier: Apache-2.0
#include "cli/CliTap.h"

#include "cli/CliRunner.h"
#include "devices/can/platform/CanNets.h"
#include "engine/CommandCodec.h"
#include "protocol/ByteConv.h"
#include "protocol/Constants.h"
#include "protocol/HexText.h"

#include <QCanBus>
#include <QCanBusDevice>
#include <QCanBusFrame>
#include <QCoreApplication>
#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSocketNotifier>

#include <array>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

struct TCliTap::TSerialLine {
    int Fd = -1;
    std::unique_ptr<QSocketNotifier> Notifier;
    ~TSerialLine() {
        Notifier.reset();
        if (Fd >= 0)
            ::close(Fd);
    }
};

bool ParseTapArguments(const QStringList& args, TCliRequest& request, QString& error) {
    request.Command = TCliCommand::Tap;
    request.CommandText = QStringLiteral("tap");
    request.Taps.clear();
    if (args.isEmpty()) {
        error = QStringLiteral("tap: expected can:NET[?id=ID] or serial:DEV [serial:DEV2]");
        return false;
    }
    for (const QString& a : args) {
        const std::optional<TConnectTarget> t = ParseTarget(a, error);
        if (!t)
            return false;
        if (t->Device != QLatin1String("can") && t->Device != QLatin1String("uart")) {
            error = QStringLiteral("tap: %1 is neither a CAN bus nor a serial line").arg(a);
            return false;
        }
        request.Taps.append(*t);
    }
    const bool can = request.Taps[0].Device == QLatin1String("can");
    if ((can && request.Taps.size() > 1) || request.Taps.size() > 2 ||
        (request.Taps.size() == 2 && request.Taps[1].Device != QLatin1String("uart"))) {
        error = QStringLiteral("tap: expected one can: target or one or two serial: targets");
        return false;
    }
    request.TargetText = args.join(QLatin1Char(' '));
    return true;
}

namespace {

QString Fixed(float v, int decimals) {
    return QString::number(static_cast<double>(v), 'f', decimals);
}

TTapValue Number(const char* key, float v, int decimals, const char* unit) {
    return {QLatin1String(key), Fixed(v, decimals) + QLatin1Char(' ') + QString::fromUtf8(unit),
            static_cast<double>(v)};
}
TTapValue Integer(const char* key, double v) {
    return {QLatin1String(key), QString::number(v, 'f', 0), v};
}
TTapValue Flag(const char* key, bool on) {
    return {QLatin1String(key), on ? QStringLiteral("on") : QStringLiteral("off"), on};
}
float FloatAt(const TByteArray& d, std::size_t at) {
    return SingleFromBytes(d[at], d[at + 1], d[at + 2], d[at + 3]);
}

TTapValue StateValue(std::uint32_t s) {
    QStringList names;
    QJsonArray flags;
    for (const TSysflagDescr& d : SysflagDescr)
        if (s & d.Flag) {
            names.append(QLatin1String(d.Descr));
            flags.append(QLatin1String(d.Descr));
        }
    QString text = HexDWord(s);
    if (!names.isEmpty())
        text += QStringLiteral(" (") + names.join(QStringLiteral(", ")) + QLatin1Char(')');
    return {QStringLiteral("system_state"), text,
            QJsonObject{{QStringLiteral("value"), static_cast<double>(s)},
                        {QStringLiteral("flags"), flags}}};
}

QList<TTapValue> RequestValues(std::uint8_t id, const TByteArray& p) {
    const std::size_t n = p.size();
    switch (id) {
    case CMD_HOMING:
        if (n == 1)
            return {Integer("param", p[0])};
        break;
    case CMD_GOTO:
        if (n == 9)
            return {Integer("flags", p[0]), Number("position", FloatAt(p, 1), 2, "mm"),
                    Number("speed", FloatAt(p, 5), 2, "mm/s")};
        break;
    case CMD_GRASP_RAW:
    case CMD_RELEASE_RAW:
        if (n == 8)
            return {Number("width", FloatAt(p, 0), 2, "mm"),
                    Number("speed", FloatAt(p, 4), 2, "mm/s")};
        break;
    case CMD_SET_ACCELERATION:
        if (n == 4)
            return {Number("acceleration", FloatAt(p, 0), 1, "mm/s²")};
        break;
    case CMD_SET_FORCE_LIMIT:
        if (n == 4)
            return {Number("force_limit", FloatAt(p, 0), 1, "N")};
        break;
    case CMD_GET_SYSTEM_STATE:
    case CMD_GET_GRASPING_STATE:
    case CMD_GET_POS:
        if (n == 3)
            return {Flag("auto_update", p[0] & 1),
                    Flag("option", p[0] & 2),
                    {QStringLiteral("period"),
                     QString::number(WordFromBytes(p[1], p[2])) + QStringLiteral(" ms"),
                     WordFromBytes(p[1], p[2])}};
        break;
    case CMD_GET_GRASPING_STATS:
        if (n == 1)
            return {Flag("reset", p[0] != 0)};
        break;
    default:
        break;
    }
    return {};
}

QList<TTapValue> ReplyValues(std::uint8_t id, const TByteArray& d) {
    namespace cc = CommandCodec;
    switch (id) {
    case CMD_GET_ACCELERATION:
        if (const auto v = cc::DecodeSingle(d))
            return {Number("acceleration", *v, 1, "mm/s²")};
        break;
    case CMD_GET_FORCE_LIMIT:
        if (const auto v = cc::DecodeSingle(d))
            return {Number("force_limit", *v, 1, "N")};
        break;
    case CMD_GET_SYSTEM_STATE:
        if (const auto v = cc::DecodeSystemState(d))
            return {StateValue(*v)};
        break;
    case CMD_GET_GRASPING_STATE:
        if (const auto v = cc::DecodeGraspingState(d))
            return {{QStringLiteral("grasping_state"), GraspingStateText(*v), *v}};
        break;
    case CMD_GET_POS:
        if (const auto v = cc::DecodePosition(d))
            return {Number("position", *v, 2, "mm")};
        break;
    case CMD_GET_GRASPING_STATS:
        if (const auto s = cc::DecodeGraspingStatistics(d))
            return {Integer("grasps", s->NumberOfGrasps),
                    Integer("not_found_parts", s->NumberOfNotFoundParts),
                    Integer("parts_lost", s->NumberOfPartsLost)};
        break;
    case CMD_GET_SYSINFO:
        if (const auto i = cc::DecodeSystemInfo(d))
            return {Integer("type", i->Type), Integer("hardware_revision", i->HardwareRevision),
                    Integer("firmware_revision", i->FirmwareRevision),
                    Integer("serial_number", i->SerialNumber)};
        break;
    case CMD_GET_SYSTEM_LIMITS:
        if (const auto l = cc::DecodeSystemLimits(d))
            return {Number("stroke", l->Stroke, 1, "mm"),
                    Number("min_speed", l->MinSpeed, 1, "mm/s"),
                    Number("max_speed", l->MaxSpeed, 1, "mm/s"),
                    Number("min_acceleration", l->MinAcceleration, 1, "mm/s²"),
                    Number("max_acceleration", l->MaxAcceleration, 1, "mm/s²"),
                    Number("min_force", l->MinForce, 1, "N"),
                    Number("max_force", l->MaxForce, 1, "N")};
        break;
    default:
        break;
    }
    return {};
}

constexpr std::array<speed_t, 8> BaudCodes = {B1200,  B2400,  B4800,  B9600,
                                              B19200, B38400, B57600, B115200};

} // namespace

QList<TTapValue> DecodeTapValues(std::uint8_t id, bool fromGripper, const TByteArray& payload) {
    TByteArray rest = payload;
    QList<TTapValue> values;
    if (fromGripper) {
        TPacket packet{id, static_cast<std::int32_t>(payload.size()), payload};
        const auto reply = CommandCodec::SplitReply(packet);
        rest = reply ? reply->Data : payload;
        // Data after a refusal has no agreed layout.
        if (reply && (reply->StatusWord & 0xFF) == E_SUCCESS)
            values = ReplyValues(id, reply->Data);
    } else {
        values = RequestValues(id, payload);
    }
    if (values.isEmpty() && !rest.empty())
        values.append({QStringLiteral("data"), HexBytes(rest), HexBytes(rest)});
    return values;
}

TCliTap::TCliTap(const TCliRequest& request, std::FILE* out, std::FILE* err)
    : FRequest(request), FOut(out), FErr(err) {}

TCliTap::~TCliTap() {
    if (FCan) {
        FCan->disconnect();
        FCan->disconnectDevice();
    }
}

int TCliTap::Run() {
    FClock.start();
    const TConnectTarget& first = FRequest.Taps.value(0);
    if (first.Device == QLatin1String("can")
            ? !OpenCan()
            : !OpenSerial(0) || (FRequest.Taps.size() > 1 && !OpenSerial(1)))
        return ExitLink;
    Error(QStringLiteral("tapping %1 (nothing is sent)").arg(FRequest.TargetText));
    FWait.Until([this] { return FDone; }, -1);
    return FExit;
}

void TCliTap::Interrupt() {
    FDone = true;
    FWait.Wake();
}

void TCliTap::Fail(const QString& text) {
    Error(text);
    FExit = ExitLink;
    Interrupt();
}

void TCliTap::Error(const QString& text) {
    std::fputs((QStringLiteral("karo-cli: ") + text + QLatin1Char('\n')).toUtf8().constData(),
               FErr);
    std::fflush(FErr);
}

bool TCliTap::OpenCan() {
    const QString& port = FRequest.Taps[0].Port;
    const std::optional<int> net = CanNets::NetNumber(port);
    const QString bus = net ? CanNets::BusOf(*net) : port;
    QString plugin;
    QString name;
    if (!CanNets::SplitBus(bus, plugin, name)) {
        Error(QStringLiteral("cannot open %1: no such net or bus").arg(port));
        return false;
    }
    QString why;
    FCan.reset(QCanBus::instance()->createDevice(plugin, name, &why));
    if (!FCan) {
        Error(QStringLiteral("cannot open %1: %2").arg(bus, why));
        return false;
    }
    // Qt Serial Bus offers no listen-only switch, so the tap simply never writes a frame.
    FCan->setConfigurationParameter(QCanBusDevice::ReceiveOwnKey, false);
    QObject::connect(FCan.get(), &QCanBusDevice::framesReceived, [this] { ReadCan(); });
    QObject::connect(FCan.get(), &QCanBusDevice::errorOccurred, [this](auto e) {
        if (e != QCanBusDevice::NoError && FCan->state() != QCanBusDevice::ConnectedState)
            Fail(QStringLiteral("CAN bus: %1").arg(FCan->errorString()));
    });
    if (!FCan->connectDevice()) {
        Error(QStringLiteral("cannot open %1: %2").arg(bus, FCan->errorString()));
        return false;
    }
    QObject::connect(FCan.get(), &QCanBusDevice::stateChanged, [this] { FWait.Wake(); });
    FWait.Until(
        [this] {
            return FCan->state() == QCanBusDevice::ConnectedState ||
                   FCan->state() == QCanBusDevice::UnconnectedState;
        },
        FRequest.TimeoutMs);
    if (FCan->state() != QCanBusDevice::ConnectedState) {
        Error(QStringLiteral("cannot open %1: the bus did not come up").arg(bus));
        return false;
    }
    // Some plugins announce themselves to the bus only from the event loop.
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
    QObject::connect(FCan.get(), &QCanBusDevice::stateChanged, [this](auto state) {
        if (state == QCanBusDevice::UnconnectedState)
            Fail(QStringLiteral("the CAN bus went away"));
    });
    return true;
}

void TCliTap::ReadCan() {
    const auto id = static_cast<quint32>(FRequest.Taps[0].Can.TargetId);
    while (FCan->framesAvailable() > 0) {
        const QCanBusFrame frame = FCan->readFrame();
        if (frame.frameType() != QCanBusFrame::DataFrame ||
            (frame.frameId() != id && frame.frameId() != id + 1))
            continue;
        const QByteArray data = frame.payload();
        Feed(frame.frameId() == id + 1, reinterpret_cast<const std::uint8_t*>(data.constData()),
             static_cast<std::size_t>(data.size()));
    }
}

bool TCliTap::OpenSerial(int index) {
    const TConnectTarget& t = FRequest.Taps[index];
    const QByteArray path = t.Port.toLocal8Bit();
    auto line = std::make_unique<TSerialLine>();
    // Read-only: the line cannot be written through this descriptor at all.
    line->Fd = ::open(path.constData(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (line->Fd < 0) {
        Error(QStringLiteral("cannot open %1: %2")
                  .arg(t.Port, QString::fromLocal8Bit(strerror(errno))));
        return false;
    }
    termios tio{};
    if (tcgetattr(line->Fd, &tio) == 0) {
        cfmakeraw(&tio);
        tio.c_cflag |= CLOCAL | CREAD;
        const speed_t speed =
            BaudCodes[static_cast<std::size_t>(t.Serial.BaudIndex) % BaudCodes.size()];
        cfsetispeed(&tio, speed);
        cfsetospeed(&tio, speed);
        tcsetattr(line->Fd, TCSANOW, &tio);
    }
    line->Notifier = std::make_unique<QSocketNotifier>(line->Fd, QSocketNotifier::Read);
    QObject::connect(line->Notifier.get(), &QSocketNotifier::activated,
                     [this, index] { ReadSerial(index); });
    FSerial[index] = std::move(line);
    return true;
}

void TCliTap::ReadSerial(int index) {
    std::array<std::uint8_t, 4096> buffer{};
    for (;;) {
        const ssize_t n = ::read(FSerial[index]->Fd, buffer.data(), buffer.size());
        if (n > 0) {
            Feed(index == 1, buffer.data(), static_cast<std::size_t>(n));
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EINTR))
            return;
        FSerial[index]->Notifier->setEnabled(false);
        Fail(QStringLiteral("%1: the line was closed").arg(FRequest.Taps[index].Port));
        return;
    }
}

void TCliTap::Feed(bool fromGripper, const std::uint8_t* data, std::size_t count) {
    TPacketReceiver& receiver = fromGripper ? FFromGripper : FToGripper;
    receiver.Feed(data, count, [this, fromGripper](TPacket& p) {
        Print(fromGripper, p);
        return true;
    });
}

void TCliTap::Print(bool fromGripper, const TPacket& packet) {
    const auto id = static_cast<std::uint8_t>(packet.ID);
    const QDateTime now = QDateTime::currentDateTime();
    const QList<TTapValue> values = DecodeTapValues(id, fromGripper, packet.Data);
    const auto reply = fromGripper ? CommandCodec::SplitReply(packet) : std::nullopt;
    const QString direction = fromGripper ? QStringLiteral("reply") : QStringLiteral("request");
    QString line;
    if (FRequest.Json) {
        QJsonObject o{{QStringLiteral("time"), now.toString(Qt::ISODateWithMs)},
                      {QStringLiteral("time_ms"), static_cast<double>(FClock.elapsed())},
                      {QStringLiteral("direction"), direction},
                      {QStringLiteral("id"), id},
                      {QStringLiteral("name"), CommandName(id)}};
        if (reply) {
            const auto code = static_cast<std::uint8_t>(reply->StatusWord & 0xFF);
            o.insert(QStringLiteral("status"), reply->StatusWord);
            o.insert(QStringLiteral("status_name"), StatusIdentName(code));
            o.insert(QStringLiteral("status_text"), StatusText(code));
        }
        QJsonObject v;
        for (const TTapValue& t : values)
            v.insert(t.Key, t.Json);
        o.insert(QStringLiteral("values"), v);
        line = QString::fromUtf8(QJsonDocument(o).toJson(QJsonDocument::Compact));
    } else {
        QString status = QStringLiteral("-");
        if (reply) {
            const auto code = static_cast<std::uint8_t>(reply->StatusWord & 0xFF);
            status = StatusIdentName(code);
            if (status.isEmpty() || reply->StatusWord > 0xFF)
                status = QStringLiteral("status=") +
                         HexByte(static_cast<std::uint8_t>(reply->StatusWord >> 8)) +
                         HexByte(static_cast<std::uint8_t>(reply->StatusWord & 0xFF)) +
                         QLatin1Char('h');
        }
        QStringList parts;
        for (const TTapValue& t : values)
            parts.append(t.Key + QLatin1Char('=') + t.Text);
        line = QStringLiteral("%1 %2 %3 %4")
                   .arg(now.toString(QStringLiteral("HH:mm:ss.zzz")), direction.leftJustified(7),
                        CommandName(id), status);
        if (!parts.isEmpty())
            line += QLatin1Char(' ') + parts.join(QStringLiteral(", "));
    }
    std::fputs(line.toUtf8().constData(), FOut);
    std::fputc('\n', FOut);
    std::fflush(FOut);
}
