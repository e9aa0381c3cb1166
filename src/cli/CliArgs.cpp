#include "cli/CliArgs.h"

#include "protocol/NumberText.h"
#include "protocol/PayloadText.h"

#include <array>
#include <cmath>
#include <limits>

const char* const CliUsage =
    R"(Usage: karo-cli [--json] [--timeout MS] TARGET COMMAND [ARGUMENTS]

Operates one Karo gripper from a terminal or a script.

TARGET   tcp://HOST:PORT
         udp://HOST:PORT[?listen=PORT]         (listen defaults to 1501)
         serial:DEVICE[?baud=RATE]             (DEVICE a path or a COMn name; baud defaults
                                                to 115200; 1200 2400 4800 9600 19200 38400
                                                57600 115200)
         can:NET[?id=ID&bitrate=RATE]          (NET a net number as the Commander lists it,
                                                e.g. 19, or a bus, e.g. virtualcan:can0; id
                                                defaults to 100; bitrate in bit/s or with k/M,
                                                10k 20k 50k 100k 125k 250k 500k 1M, default 250k)
COMMAND  info | limits | state | stats [--reset]
         home [PARAM] | move POS SPEED | grasp WIDTH SPEED | release WIDTH SPEED
         stop | fast-stop | ack-fast-stop
         get-force | set-force N | get-acc | set-acc V
         monitor [SECONDS]                     (automatic updates, one line per update;
                                                without SECONDS until interrupted)
         send ID [PAYLOAD...]                  (ID and payload items as the command editor
                                                reads them: 15 0x0F $0F 10.4f "text")

Positions and widths in mm, speeds in mm/s, forces in N, accelerations in mm/s².

Options
  --json         one JSON object per result (monitor: one per line, "time_ms" since start)
  --timeout MS   how long to wait for the link to come up and for a motion's final result
                 (default 30000); each reply is awaited up to 3000 ms
  --help         this text
  --version      the version

Exit codes
  0  success
  1  the gripper answered with an error status (its text on standard error)
  2  usage error
  3  the link could not be opened or was lost
  4  no reply in time
)";

namespace {

struct TCommandSyntax {
    const char* Name;
    TCliCommand Command;
    int MinArgs;
    int MaxArgs; // -1: any number
};

constexpr std::array<TCommandSyntax, 17> Commands = {{
    {"info", TCliCommand::Info, 0, 0},
    {"limits", TCliCommand::Limits, 0, 0},
    {"state", TCliCommand::State, 0, 0},
    {"stats", TCliCommand::Stats, 0, 1},
    {"home", TCliCommand::Home, 0, 1},
    {"move", TCliCommand::Move, 2, 2},
    {"grasp", TCliCommand::Grasp, 2, 2},
    {"release", TCliCommand::Release, 2, 2},
    {"stop", TCliCommand::Stop, 0, 0},
    {"fast-stop", TCliCommand::FastStop, 0, 0},
    {"ack-fast-stop", TCliCommand::AckFastStop, 0, 0},
    {"get-force", TCliCommand::GetForce, 0, 0},
    {"set-force", TCliCommand::SetForce, 1, 1},
    {"get-acc", TCliCommand::GetAcc, 0, 0},
    {"set-acc", TCliCommand::SetAcc, 1, 1},
    {"monitor", TCliCommand::Monitor, 0, 1},
    {"send", TCliCommand::Send, 1, -1},
}};

const char* ArgumentSyntax(TCliCommand c) {
    switch (c) {
    case TCliCommand::Stats:
        return "[--reset]";
    case TCliCommand::Home:
        return "[PARAM]";
    case TCliCommand::Move:
        return "POS SPEED";
    case TCliCommand::Grasp:
    case TCliCommand::Release:
        return "WIDTH SPEED";
    case TCliCommand::SetForce:
        return "N";
    case TCliCommand::SetAcc:
        return "V";
    case TCliCommand::Monitor:
        return "[SECONDS]";
    case TCliCommand::Send:
        return "ID [PAYLOAD...]";
    default:
        return "no arguments";
    }
}

QString Quoted(const QString& s) {
    return QLatin1Char('\'') + s + QLatin1Char('\'');
}

// A decimal port 1..65535.
std::optional<int> ReadPort(const QString& text) {
    bool ok = false;
    const int v = text.toInt(&ok, 10);
    if (!ok || v < 1 || v > 65535 || text.startsWith(QLatin1Char('+')))
        return std::nullopt;
    return v;
}

std::optional<float> ReadNumber(const QString& text) {
    // A point always works, whatever the locale, so that scripts are portable.
    const std::optional<long double> v = ReadFloatText(text, dsPoint);
    if (!v || !std::isfinite(*v) || std::fabs(*v) > std::numeric_limits<float>::max())
        return std::nullopt;
    return static_cast<float>(*v);
}

// "HOST:PORT" with an optional "[v6]" host.
bool SplitHostPort(const QString& text, QString& host, QString& port) {
    if (text.startsWith(QLatin1Char('['))) {
        const qsizetype close = text.indexOf(QLatin1Char(']'));
        if (close < 0 || text.mid(close + 1, 1) != QLatin1String(":"))
            return false;
        host = text.mid(1, close - 1);
        port = text.mid(close + 2);
    } else {
        const qsizetype colon = text.lastIndexOf(QLatin1Char(':'));
        if (colon < 0)
            return false;
        host = text.left(colon);
        port = text.mid(colon + 1);
    }
    return !host.isEmpty();
}

struct TQueryItem {
    QString Key;
    QString Value;
};

// "a=1&b=2"; false on an item without "=".
bool SplitQuery(const QString& query, QList<TQueryItem>& items, QString& bad) {
    for (const QString& part : query.split(QLatin1Char('&'))) {
        const qsizetype eq = part.indexOf(QLatin1Char('='));
        if (eq <= 0) {
            bad = part;
            return false;
        }
        items.append({part.left(eq), part.mid(eq + 1)});
    }
    return true;
}

constexpr std::array<int, 8> BaudRates = {1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200};

struct TBitrate {
    int BitsPerSecond;
    int Code; // the CAN library's code
};
constexpr std::array<TBitrate, 8> Bitrates = {{{10000, 13},
                                               {20000, 11},
                                               {50000, 9},
                                               {100000, 7},
                                               {125000, 6},
                                               {250000, 4},
                                               {500000, 2},
                                               {1000000, 0}}};

// "250000", "250k" or "1M".
std::optional<int> ReadBitsPerSecond(QString text) {
    int factor = 1;
    if (text.endsWith(QLatin1Char('k')) || text.endsWith(QLatin1Char('K')))
        factor = 1000;
    else if (text.endsWith(QLatin1Char('M')))
        factor = 1000000;
    if (factor != 1)
        text.chop(1);
    bool ok = false;
    const int v = text.toInt(&ok, 10);
    if (!ok || v <= 0 || v > 1000000000 / factor)
        return std::nullopt;
    return v * factor;
}

} // namespace

std::optional<TConnectTarget> ParseTarget(const QString& text, QString& error) {
    const auto fail = [&](const QString& why) {
        error = QStringLiteral("bad target %1: %2").arg(Quoted(text), why);
        return std::nullopt;
    };
    TConnectTarget t;
    QString rest;
    QString scheme;
    for (const char* s : {"tcp://", "udp://", "serial:", "can:"}) {
        if (text.startsWith(QLatin1String(s))) {
            scheme = QLatin1String(s);
            rest = text.mid(scheme.size());
        }
    }
    if (scheme.isEmpty())
        return fail(QStringLiteral("expected tcp://HOST:PORT, udp://HOST:PORT, serial:DEVICE or "
                                   "can:NET"));
    QString query;
    const qsizetype q = rest.indexOf(QLatin1Char('?'));
    if (q >= 0) {
        query = rest.mid(q + 1);
        rest = rest.left(q);
    }
    QList<TQueryItem> items;
    QString badItem;
    if (q >= 0 && !SplitQuery(query, items, badItem))
        return fail(QStringLiteral("option %1 is not NAME=VALUE").arg(Quoted(badItem)));

    if (scheme == QLatin1String("tcp://") || scheme == QLatin1String("udp://")) {
        const bool udp = scheme == QLatin1String("udp://");
        QString host;
        QString portText;
        if (!SplitHostPort(rest, host, portText))
            return fail(QStringLiteral("expected %1HOST:PORT").arg(scheme));
        const std::optional<int> port = ReadPort(portText);
        if (!port)
            return fail(QStringLiteral("port %1 is not a number 1..65535").arg(Quoted(portText)));
        if (udp) {
            t.Device = QStringLiteral("udp");
            t.Udp.Host = host;
            t.Udp.TransmitPort = *port;
        } else {
            t.Device = QStringLiteral("tcp");
            t.Tcp.Host = host;
            t.Tcp.Port = *port;
        }
        for (const TQueryItem& item : items) {
            if (!udp || item.Key != QLatin1String("listen"))
                return fail(QStringLiteral("unknown option %1").arg(Quoted(item.Key)));
            const std::optional<int> listen = ReadPort(item.Value);
            if (!listen)
                return fail(QStringLiteral("listen port %1 is not a number 1..65535")
                                .arg(Quoted(item.Value)));
            t.Udp.ListeningPort = *listen;
        }
        return t;
    }

    if (rest.isEmpty())
        return fail(scheme == QLatin1String("serial:") ? QStringLiteral("missing DEVICE")
                                                       : QStringLiteral("missing NET"));
    t.Port = rest;
    if (scheme == QLatin1String("serial:")) {
        t.Device = QStringLiteral("uart");
        t.Serial.BaudIndex = static_cast<int>(BaudRates.size()) - 1;
        for (const TQueryItem& item : items) {
            if (item.Key != QLatin1String("baud"))
                return fail(QStringLiteral("unknown option %1").arg(Quoted(item.Key)));
            bool ok = false;
            const int rate = item.Value.toInt(&ok, 10);
            int index = -1;
            for (std::size_t i = 0; ok && i < BaudRates.size(); ++i)
                if (BaudRates[i] == rate)
                    index = static_cast<int>(i);
            if (index < 0)
                return fail(QStringLiteral("baud rate %1 is not one of 1200, 2400, 4800, 9600, "
                                           "19200, 38400, 57600, 115200")
                                .arg(Quoted(item.Value)));
            t.Serial.BaudIndex = index;
        }
        return t;
    }

    t.Device = QStringLiteral("can");
    // A bare number is the net as the Commander lists it ("Net 19").
    bool isNumber = false;
    if (const int net = rest.toInt(&isNumber, 10); isNumber && net >= 0)
        t.Port = QStringLiteral("Net %1").arg(net);
    t.Can.TargetId = 100;
    t.Can.BitrateCode = 4;
    for (const TQueryItem& item : items) {
        if (item.Key == QLatin1String("id")) {
            // Replies come with the identifier + 1, so both must be 11-bit identifiers.
            const std::optional<std::int32_t> id = ReadIntegerText(item.Value);
            if (!id || *id < 0 || *id > 2046)
                return fail(
                    QStringLiteral("CAN id %1 is not a number 0..2046").arg(Quoted(item.Value)));
            t.Can.TargetId = *id;
        } else if (item.Key == QLatin1String("bitrate")) {
            const std::optional<int> bps = ReadBitsPerSecond(item.Value);
            int code = -1;
            for (const TBitrate& b : Bitrates)
                if (bps && b.BitsPerSecond == *bps)
                    code = b.Code;
            if (code < 0)
                return fail(QStringLiteral("bit rate %1 is not one of 10k, 20k, 50k, 100k, "
                                           "125k, 250k, 500k, 1M")
                                .arg(Quoted(item.Value)));
            t.Can.BitrateCode = code;
        } else {
            return fail(QStringLiteral("unknown option %1").arg(Quoted(item.Key)));
        }
    }
    return t;
}

namespace {

// The command's own arguments; empty on success, else the one-line error.
QString ParseCommandArguments(TCliRequest& r, const QStringList& args) {
    const QString& name = r.CommandText;
    const auto bad = [&](const char* what, const QString& value, const char* expected) {
        return QStringLiteral("%1: %2 %3 is not %4")
            .arg(name, QLatin1String(what), Quoted(value), QLatin1String(expected));
    };
    const auto number = [&](const char* what, const QString& value, float& out) {
        const std::optional<float> v = ReadNumber(value);
        if (!v)
            return bad(what, value, "a number");
        out = *v;
        return QString();
    };
    QString e;
    switch (r.Command) {
    case TCliCommand::Stats:
        if (!args.isEmpty() && args[0] != QLatin1String("--reset"))
            return QStringLiteral("%1: unknown argument %2 (expected --reset)")
                .arg(name, Quoted(args[0]));
        r.Reset = !args.isEmpty();
        return {};
    case TCliCommand::Home:
        if (!args.isEmpty()) {
            const std::optional<std::int32_t> v = ReadIntegerText(args[0]);
            if (!v || *v < 0 || *v > 255)
                return bad("PARAM", args[0], "a number 0..255");
            r.Param = static_cast<std::uint8_t>(*v);
        }
        return {};
    case TCliCommand::Move:
        if (!(e = number("POS", args[0], r.Value)).isEmpty())
            return e;
        return number("SPEED", args[1], r.Speed);
    case TCliCommand::Grasp:
    case TCliCommand::Release:
        if (!(e = number("WIDTH", args[0], r.Value)).isEmpty())
            return e;
        return number("SPEED", args[1], r.Speed);
    case TCliCommand::SetForce:
        return number("N", args[0], r.Value);
    case TCliCommand::SetAcc:
        return number("V", args[0], r.Value);
    case TCliCommand::Monitor:
        if (!args.isEmpty()) {
            float seconds = 0;
            if (!number("SECONDS", args[0], seconds).isEmpty() || seconds <= 0 || seconds > 1e6f)
                return bad("SECONDS", args[0], "a number of seconds above 0");
            r.Seconds = seconds;
        }
        return {};
    case TCliCommand::Send: {
        const std::optional<std::uint8_t> id = ReadCommandID(args[0]);
        if (!id)
            return bad("ID", args[0], "an identifier 0..255");
        r.ID = *id;
        const QStringList items = args.mid(1);
        const std::optional<TByteArray> payload = ParsePayload(items.join(QLatin1Char(' ')));
        if (payload) {
            r.Payload = *payload;
            return {};
        }
        for (const QString& item : items)
            if (!ParsePayload(item))
                return bad("payload item", item, "an integer 0..255, a float (1.5f) or a string");
        return bad("payload", items.join(QLatin1Char(' ')),
                   "a list of integers 0..255, floats (1.5f) and strings");
    }
    default:
        return {};
    }
}

} // namespace

TCliParse ParseCliArguments(const QStringList& args) {
    TCliParse p;
    TCliRequest& r = p.Request;
    const auto error = [&](const QString& text) {
        p.Kind = TCliParse::Invalid;
        p.Error = text;
        return p;
    };
    // The global options may stand anywhere; everything else is positional, so that negative
    // numbers pass as arguments.
    QStringList positional;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& a = args[i];
        if (a == QLatin1String("--help") || a == QLatin1String("-h")) {
            p.Kind = TCliParse::Help;
            return p;
        }
        if (a == QLatin1String("--version") || a == QLatin1String("-V")) {
            p.Kind = TCliParse::Version;
            return p;
        }
        if (a == QLatin1String("--json")) {
            r.Json = true;
        } else if (a == QLatin1String("--timeout") || a.startsWith(QLatin1String("--timeout="))) {
            QString value;
            if (a.contains(QLatin1Char('='))) {
                value = a.mid(a.indexOf(QLatin1Char('=')) + 1);
            } else if (i + 1 < args.size()) {
                value = args[++i];
            } else {
                return error(QStringLiteral("--timeout needs a value in milliseconds"));
            }
            bool ok = false;
            const int ms = value.toInt(&ok, 10);
            if (!ok || ms < 1 || ms > 86400000)
                return error(QStringLiteral("--timeout: %1 is not a number of milliseconds "
                                            "1..86400000")
                                 .arg(Quoted(value)));
            r.TimeoutMs = ms;
        } else if (a.startsWith(QLatin1String("--")) && a != QLatin1String("--reset")) {
            return error(QStringLiteral("unknown option %1 (see --help)").arg(Quoted(a)));
        } else {
            positional.append(a);
        }
    }
    if (positional.isEmpty())
        return error(QStringLiteral("missing TARGET and COMMAND (see --help)"));
    r.TargetText = positional[0];
    QString targetError;
    const std::optional<TConnectTarget> target = ParseTarget(r.TargetText, targetError);
    if (!target)
        return error(targetError);
    r.Target = *target;
    if (positional.size() < 2)
        return error(QStringLiteral("missing COMMAND (see --help)"));
    r.CommandText = positional[1];
    const TCommandSyntax* syntax = nullptr;
    for (const TCommandSyntax& s : Commands)
        if (r.CommandText == QLatin1String(s.Name))
            syntax = &s;
    if (!syntax)
        return error(QStringLiteral("unknown command %1 (see --help)").arg(Quoted(r.CommandText)));
    r.Command = syntax->Command;
    const QStringList rest = positional.mid(2);
    if (rest.size() < syntax->MinArgs || (syntax->MaxArgs >= 0 && rest.size() > syntax->MaxArgs))
        return error(QStringLiteral("%1: expected %2, got %3 argument(s)")
                         .arg(r.CommandText, QLatin1String(ArgumentSyntax(r.Command)))
                         .arg(rest.size()));
    const QString e = ParseCommandArguments(r, rest);
    if (!e.isEmpty())
        return error(e);
    p.Kind = TCliParse::Run;
    return p;
}
