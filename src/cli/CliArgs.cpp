// SPDX-License-Identifier: Apache-2.0
#include "cli/CliArgs.h"

#include "cli/CliTap.h"

#include "protocol/NumberText.h"
#include "protocol/PayloadText.h"

#include <array>
#include <cmath>
#include <limits>

const char* const CliUsage =
    R"(Usage: karo-cli [--json] [--stats] [--timeout MS] TARGET COMMAND [ARGUMENTS]
       karo-cli [--json] tap can:NET[?id=ID] | serial:DEV [serial:DEV2]

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

tap      listens without sending anything and prints one line per packet: time, direction,
         name, status and values. CAN: requests with ID, replies with ID + 1. Serial: DEV
         is the line towards the gripper, DEV2 the line back (a Y-cable); both read only.

Positions and widths in mm, speeds in mm/s, forces in N, accelerations in mm/s².

Options
  --json         one JSON object per result (monitor: one per line, "time_ms" since start)
  --stats        on exit, the link's counters on standard error: frames in and out, checksum
                 failures, bytes skipped, replies missing, round trip min / mean / max
  --reconnect    monitor: a lost link is opened again (pauses of 1, 2, 4, ... up to 10 s),
                 with one event line per loss and per return
  --timeout MS   how long to wait for the link to come up and for a motion's final result
                 (default 30000); each reply is awaited up to 3000 ms
  --help         this text
  --version      the version

Exit codes
  0  success
  1  the gripper answered with an error status (its text on standard error)
  2  usage error
  3  the link could not be opened or was lost (monitor: "link lost: no data for N s" when
     the gripper fell silent; the times come from "[link]" in settings.ini beside the tool)
  4  no reply in time
  130, 143  SIGINT or SIGTERM during a motion: STOP was sent (up to 1 s for its reply);
            a second signal ends the tool at once
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

std::optional<float> ReadNumber(const QString& text) {
    // A point always works, whatever the locale, so that scripts are portable.
    const std::optional<long double> v = ReadFloatText(text, dsPoint);
    if (!v || !std::isfinite(*v) || std::fabs(*v) > std::numeric_limits<float>::max())
        return std::nullopt;
    return static_cast<float>(*v);
}

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
        } else if (a == QLatin1String("--stats")) {
            r.Stats = true;
        } else if (a == QLatin1String("--reconnect")) {
            r.Reconnect = true;
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
    if (positional[0] == QLatin1String("tap")) {
        QString tapError;
        if (!ParseTapArguments(positional.mid(1), r, tapError))
            return error(tapError);
        p.Kind = TCliParse::Run;
        return p;
    }
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
