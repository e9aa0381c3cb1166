// SPDX-License-Identifier: Apache-2.0
// karo-sim: a gripper on loopback for trying and testing Karo Commander without hardware.

#include "GripperModel.h"
#include "SimCan.h"
#include "SimSerial.h"
#include "SimTcp.h"
#include "SimUdp.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QLoggingCategory>
#include <QSocketNotifier>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int SignalPipe[2] = {-1, -1};

extern "C" void OnSignal(int sig) {
    const auto b = static_cast<char>(sig);
    [[maybe_unused]] const auto n = ::write(SignalPipe[1], &b, 1);
}

const char* Description = R"(Simulated two-finger gripper (stroke 110 mm, speed 5..420 mm/s,
acceleration 100..5000 mm/s^2, force 5..80 N) speaking the gripper protocol on loopback.
It starts at 55 mm, not referenced, with 1000 mm/s^2 and a force limit of 40 N. Motions
answer E_CMD_PENDING at once and send their final result with the same identifier. A grasp
closes the fingers until they meet the part (holding, final 0) or the closing end (no part,
final E_CMD_FAILED); the nominal width only has to lie within the stroke. Every client, on
every transport, sees the same gripper; automatic updates go to the client that asked.

Payloads of the identifiers the Commander sends only from its command editor
(requests; every reply starts with the status word):
  0x27 GRASP_PROFILE    width f32 mm, speed f32 mm/s, force f32 N -> pending, then final
  0x28 RELEASE_PROFILE  width f32 mm, speed f32 mm/s, accel f32 mm/s^2 -> pending, final
  0x34 SET_SOFT_LIMITS  minus f32 mm, plus f32 mm (0 <= minus < plus <= 110)
  0x35 GET_SOFT_LIMITS  empty -> minus f32, plus f32 (E_NOT_AVAILABLE when none are set)
  0x36 CLEAR_SOFT_LIMITS empty
  0x37 OVERDRIVE_MODE   1 byte: 0 off, 1 on (system-state bit 8)
  0x38 TARE             empty; zeroes GET_FORCE at the present force (not while moving)
  0x44 GET_SPEED        empty or 3-byte update request -> f32 mm/s, signed (+ opening)
  0x45 GET_FORCE        empty or 3-byte update request -> f32 N, gripping force - tare
  0x51 SET_DEVICE_TAG   0..32 bytes of text
  0x52 GET_DEVICE_TAG   empty -> the tag's bytes (default "KARO-SIM")
Also: HOMING param 0/1 opens to 110 mm, 2 closes to 0 mm; GOTO flag bit 0 = relative move.
GET_SYSTEM_STATE/GET_GRASPING_STATE/GET_POS also take an empty payload (plain query).

Signals: SIGINT/SIGTERM stop the simulator, SIGUSR1 makes a held part slip out.)";

std::optional<double> Rate(const QString& text) {
    bool ok = false;
    const double v = text.toDouble(&ok);
    if (!ok || !(v >= 0.0 && v <= 1.0))
        return std::nullopt;
    return v;
}

std::optional<qint64> Number(const QString& text, qint64 lo, qint64 hi) {
    bool ok = false;
    const qint64 v = text.toLongLong(&ok, 0); // 0x.. for hexadecimal
    if (!ok || v < lo || v > hi)
        return std::nullopt;
    return v;
}

[[noreturn]] void Fail(const QString& message) {
    std::fprintf(stderr, "karo-sim: %s\n", qPrintable(message));
    std::exit(2);
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("karo-sim"));
    QCoreApplication::setApplicationVersion(QStringLiteral(KARO_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(QString::fromUtf8(Description));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption tcpOpt(QStringLiteral("tcp"),
                                    QStringLiteral("Serve TCP clients on <port> (0: a free port)."),
                                    QStringLiteral("port"));
    const QCommandLineOption udpOpt(QStringLiteral("udp"),
                                    QStringLiteral("Receive datagrams on <port> (0: a free port); "
                                                   "answers go to each datagram's sender."),
                                    QStringLiteral("port"));
    const QCommandLineOption canOpt(
        QStringLiteral("can"),
        QStringLiteral("Be a node on the CAN bus <bus>, named plugin:interface (virtualcan:can0, "
                       "virtualcan:tcp://127.0.0.1:PORT/can0 for a bus of its own, "
                       "socketcan:can0)."),
        QStringLiteral("bus"));
    const QCommandLineOption canIdOpt(QStringLiteral("can-id"),
                                      QStringLiteral("Receive on CAN identifier <id>, answer on "
                                                     "<id> + 1 (default 100)."),
                                      QStringLiteral("id"), QStringLiteral("100"));
    const QCommandLineOption hostOpt(QStringLiteral("host"),
                                     QStringLiteral("Address to listen on (default 127.0.0.1)."),
                                     QStringLiteral("addr"), QStringLiteral("127.0.0.1"));
    const QCommandLineOption verboseOpt(QStringLiteral("verbose"),
                                        QStringLiteral("Print every frame in and out as hex "
                                                       "(on stderr)."));
    const QCommandLineOption partOpt(QStringLiteral("part-width"),
                                     QStringLiteral("Width of the simulated part (default 40)."),
                                     QStringLiteral("mm"), QStringLiteral("40"));
    const QCommandLineOption noPartOpt(QStringLiteral("no-part"),
                                       QStringLiteral("No part: every grasp ends in \"no part\"."));
    const QCommandLineOption refOpt(QStringLiteral("referenced"),
                                    QStringLiteral("Start referenced (no homing needed)."));
    const QCommandLineOption startOpt(QStringLiteral("start-pos"),
                                      QStringLiteral("Finger position at start (default 55)."),
                                      QStringLiteral("mm"), QStringLiteral("55"));
    const QCommandLineOption typeOpt(QStringLiteral("type"),
                                     QStringLiteral("Gripper type byte (default 1)."),
                                     QStringLiteral("n"), QStringLiteral("1"));
    const QCommandLineOption hwOpt(QStringLiteral("hw-rev"),
                                   QStringLiteral("Hardware revision byte (default 2)."),
                                   QStringLiteral("n"), QStringLiteral("2"));
    const QCommandLineOption fwOpt(QStringLiteral("fw-rev"),
                                   QStringLiteral("Firmware revision, 16 bits (default 0x0104)."),
                                   QStringLiteral("n"), QStringLiteral("0x0104"));
    const QCommandLineOption serialOpt(QStringLiteral("serial-number"),
                                       QStringLiteral("Serial number, 32 bits (default "
                                                      "12345678)."),
                                       QStringLiteral("n"), QStringLiteral("12345678"));
    const QCommandLineOption ptyOpt(QStringLiteral("serial-pty"),
                                    QStringLiteral("Serve a new pseudo-terminal (any rate); "
                                                   "prints its path."));
    const QCommandLineOption lineOpt(QStringLiteral("serial"),
                                     QStringLiteral("Serve the serial device <path>, raw 8N1."),
                                     QStringLiteral("path"));
    const QCommandLineOption baudOpt(QStringLiteral("baud"),
                                     QStringLiteral("Rate of --serial (default 115200)."),
                                     QStringLiteral("n"), QStringLiteral("115200"));
    const QCommandLineOption delayOpt(QStringLiteral("delay-ms"),
                                      QStringLiteral("Every outgoing frame leaves <n> ms late "
                                                     "(order is kept)."),
                                      QStringLiteral("n"), QStringLiteral("0"));
    const QCommandLineOption dropOpt(QStringLiteral("drop-rate"),
                                     QStringLiteral("Probability 0..1 that an outgoing frame is "
                                                    "not sent."),
                                     QStringLiteral("p"), QStringLiteral("0"));
    const QCommandLineOption corruptOpt(QStringLiteral("corrupt-rate"),
                                        QStringLiteral("Probability 0..1 that one bit of an "
                                                       "outgoing frame is flipped."),
                                        QStringLiteral("p"), QStringLiteral("0"));
    const QCommandLineOption disconnectOpt(
        QStringLiteral("disconnect-after"),
        QStringLiteral("Close a TCP connection (forget a UDP peer) once it has sent <n> frames "
                       "and their replies have gone out."),
        QStringLiteral("n"), QStringLiteral("0"));
    const QCommandLineOption silentOpt(QStringLiteral("silent-ids"),
                                       QStringLiteral("Never send anything with these "
                                                      "identifiers (comma list, 0x.. or "
                                                      "decimal); the requests still take "
                                                      "effect."),
                                       QStringLiteral("list"));
    const QCommandLineOption falseHeaderOpt(
        QStringLiteral("false-header"),
        QStringLiteral("Once per link, before its first state packet, send AA AA AA 40 FF FF: "
                       "a header announcing 65535 bytes that never come."));
    const QCommandLineOption floodOpt(
        QStringLiteral("flood-updates"),
        QStringLiteral("Automatic updates go out as fast as the link carries them instead of "
                       "at their period (UDP as on Fast Ethernet, CAN as on a 1 Mbit/s bus)."));
    const QCommandLineOption loseOpt(QStringLiteral("lose-part-after-ms"),
                                     QStringLiteral("A held part slips out <n> ms after each "
                                                    "successful grasp (SIGUSR1: at once)."),
                                     QStringLiteral("n"), QStringLiteral("0"));
    const QCommandLineOption seedOpt(QStringLiteral("seed"),
                                     QStringLiteral("Seed of the fault dice (default 1)."),
                                     QStringLiteral("n"), QStringLiteral("1"));
    parser.addOptions({tcpOpt,         udpOpt,     ptyOpt,        lineOpt,   baudOpt,   canOpt,
                       canIdOpt,       hostOpt,    verboseOpt,    partOpt,   noPartOpt, refOpt,
                       startOpt,       typeOpt,    hwOpt,         fwOpt,     serialOpt, delayOpt,
                       dropOpt,        corruptOpt, disconnectOpt, silentOpt, loseOpt,   seedOpt,
                       falseHeaderOpt, floodOpt});
    parser.process(app);
    if (!parser.positionalArguments().isEmpty())
        Fail(QStringLiteral("unexpected argument %1").arg(parser.positionalArguments().first()));
    if (!parser.isSet(tcpOpt) && !parser.isSet(udpOpt) && !parser.isSet(ptyOpt) &&
        !parser.isSet(lineOpt) && !parser.isSet(canOpt))
        Fail(QStringLiteral("nothing to serve: give --tcp PORT, --udp PORT, --serial-pty, "
                            "--serial DEVICE and/or --can BUS (see --help)"));
    if (parser.isSet(ptyOpt) && parser.isSet(lineOpt))
        Fail(QStringLiteral("--serial-pty and --serial exclude each other"));
    // --serial once took the serial number: say so rather than open a file named like one.
    if (parser.isSet(lineOpt) && !parser.value(lineOpt).startsWith(QLatin1Char('/')))
        Fail(QStringLiteral("--serial wants a device path (the serial number is "
                            "--serial-number)"));

    const auto need = [&](const QCommandLineOption& opt, qint64 lo, qint64 hi) {
        const auto v = Number(parser.value(opt), lo, hi);
        if (!v)
            Fail(QStringLiteral("--%1 wants a number from %2 to %3")
                     .arg(opt.names().first())
                     .arg(lo)
                     .arg(hi));
        return *v;
    };
    const auto rate = [&](const QCommandLineOption& opt) {
        const auto v = Rate(parser.value(opt));
        if (!v)
            Fail(QStringLiteral("--%1 wants a probability from 0 to 1").arg(opt.names().first()));
        return *v;
    };
    const auto millimetres = [&](const QCommandLineOption& opt) {
        bool ok = false;
        const float v = parser.value(opt).toFloat(&ok);
        if (!ok || !(v >= 0.0f && v <= TGripperModel::Stroke))
            Fail(QStringLiteral("--%1 wants a width from 0 to 110").arg(opt.names().first()));
        return v;
    };

    TGripperConfig config;
    config.PartWidth = millimetres(partOpt);
    config.HasPart = !parser.isSet(noPartOpt);
    config.Referenced = parser.isSet(refOpt);
    config.StartPosition = millimetres(startOpt);
    config.Type = static_cast<std::uint8_t>(need(typeOpt, 0, 255));
    config.HardwareRevision = static_cast<std::uint8_t>(need(hwOpt, 0, 255));
    config.FirmwareRevision = static_cast<std::uint16_t>(need(fwOpt, 0, 0xFFFF));
    config.SerialNumber = static_cast<std::uint32_t>(need(serialOpt, 0, 0xFFFFFFFFll));
    config.LosePartAfterMs = static_cast<int>(need(loseOpt, 0, 3600000));

    TSimFaults faults;
    faults.DelayMs = static_cast<int>(need(delayOpt, 0, 600000));
    faults.DropRate = rate(dropOpt);
    faults.CorruptRate = rate(corruptOpt);
    faults.DisconnectAfter = static_cast<int>(need(disconnectOpt, 0, 1 << 30));
    faults.Seed = static_cast<std::uint32_t>(need(seedOpt, 0, 0xFFFFFFFFll));
    faults.Verbose = parser.isSet(verboseOpt);
    faults.FalseHeader = parser.isSet(falseHeaderOpt);
    faults.FloodUpdates = parser.isSet(floodOpt);
    for (const QString& item : parser.values(silentOpt)
                                   .join(QLatin1Char(','))
                                   .split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        const auto id = Number(item.trimmed(), 0, 255);
        if (!id)
            Fail(QStringLiteral("--silent-ids: %1 is not an identifier 0..255").arg(item));
        faults.SilentIds.insert(static_cast<std::uint8_t>(*id));
    }

    const QHostAddress host(parser.value(hostOpt));
    if (host.isNull())
        Fail(QStringLiteral("--host wants a numeric address, not %1").arg(parser.value(hostOpt)));

    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, SignalPipe) != 0)
        Fail(QStringLiteral("cannot create the signal pipe"));
    struct sigaction sa = {};
    sa.sa_handler = OnSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    for (int sig : {SIGINT, SIGTERM, SIGUSR1})
        ::sigaction(sig, &sa, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    TGripperModel model(config, faults);
    QSocketNotifier notifier(SignalPipe[0], QSocketNotifier::Read);
    QObject::connect(&notifier, &QSocketNotifier::activated, &app, [&] {
        char sig = 0;
        if (::read(SignalPipe[0], &sig, 1) != 1)
            return;
        if (sig == SIGUSR1)
            model.LosePart();
        else
            QCoreApplication::quit();
    });

    std::unique_ptr<TSimTcpServer> tcp;
    std::unique_ptr<TSimUdpServer> udp;
    std::unique_ptr<TSimSerialPort> serial;
    std::unique_ptr<TSimCanBus> can;
    if (parser.isSet(tcpOpt)) {
        const auto port = static_cast<quint16>(need(tcpOpt, 0, 65535));
        tcp = std::make_unique<TSimTcpServer>(model);
        if (!tcp->Listen(host, port))
            Fail(QStringLiteral("tcp %1:%2: %3")
                     .arg(host.toString())
                     .arg(port)
                     .arg(tcp->ErrorString()));
        std::printf("listening tcp %s:%u\n", qPrintable(tcp->Address().toString()),
                    unsigned(tcp->Port()));
        std::fflush(stdout);
    }
    if (parser.isSet(udpOpt)) {
        const auto port = static_cast<quint16>(need(udpOpt, 0, 65535));
        udp = std::make_unique<TSimUdpServer>(model);
        if (!udp->Bind(host, port))
            Fail(QStringLiteral("udp %1:%2: %3")
                     .arg(host.toString())
                     .arg(port)
                     .arg(udp->ErrorString()));
        std::printf("listening udp %s:%u\n", qPrintable(udp->Address().toString()),
                    unsigned(udp->Port()));
        std::fflush(stdout);
    }

    if (parser.isSet(ptyOpt) || parser.isSet(lineOpt)) {
        serial = std::make_unique<TSimSerialPort>(model);
        const bool ok = parser.isSet(ptyOpt)
                            ? serial->OpenPty()
                            : serial->OpenDevice(parser.value(lineOpt),
                                                 static_cast<int>(need(baudOpt, 1, 4000000)));
        if (!ok)
            Fail(QStringLiteral("serial: %1").arg(serial->ErrorString()));
        std::printf("listening serial %s\n", qPrintable(serial->Path()));
        std::fflush(stdout);
    }

    if (parser.isSet(canOpt)) {
        if (!faults.Verbose)
            QLoggingCategory::setFilterRules(QStringLiteral("qt.canbus.plugins.*.info=false"));
        // Standard or extended identifier; the answer goes out on id + 1.
        const auto id = static_cast<quint32>(need(canIdOpt, 0, 0x1FFFFFFE));
        can = std::make_unique<TSimCanBus>(model, id);
        if (!can->Open(parser.value(canOpt)))
            Fail(QStringLiteral("can %1: %2").arg(parser.value(canOpt), can->ErrorString()));
        std::printf("listening can %s id %u\n", qPrintable(can->BusName()), unsigned(id));
        std::fflush(stdout);
    }

    const int rc = QCoreApplication::exec();
    serial.reset();
    can.reset();
    udp.reset();
    tcp.reset();
    ::close(SignalPipe[0]);
    ::close(SignalPipe[1]);
    return rc;
}
