// SPDX-License-Identifier: Apache-2.0
#include "cli/CliRunner.h"

#include "devices/IniFile.h"
#include "protocol/Constants.h"
#include "protocol/HexText.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>

namespace {

QString Fixed(double value, int decimals) {
    QLocale locale;
    locale.setNumberOptions(QLocale::OmitGroupSeparator);
    return locale.toString(value, 'f', decimals);
}

TCliField Value(const char* label, const QString& text, const char* key, const QJsonValue& json) {
    return {QLatin1String(label), text, QLatin1String(key), json};
}

// Only in the JSON form.
TCliField JsonOnly(const char* key, const QJsonValue& json) {
    return {QString(), QString(), QLatin1String(key), json};
}

} // namespace

TCliRunner::TCliRunner(const TCliRequest& request, std::FILE* out, std::FILE* err)
    : FRequest(request), FOut(out), FErr(err) {
    FMorv.OnConnect = [this](TMorv*) {
        FConnected = true;
        FWait.Wake();
    };
    FMorv.OnConnectionError = [this](TMorv*) {
        FLinkLost = true;
        FWait.Wake();
    };
    FMorv.OnDisconnect = [this](TMorv*) {
        FLinkLost = true;
        FWait.Wake();
    };
    FMorv.SetLinkTimes(ReadLinkTimes(TIniFile(SettingsFilePath(QStringLiteral("settings.ini")))));
    FMorv.SetAutoReconnect(FRequest.Reconnect && FRequest.Command == TCliCommand::Monitor);
    FMorv.OnLinkLost = [this](TMorv* morv) { LinkLost(morv->LinkSilentMs()); };
    FMorv.OnLinkRestored = [this](TMorv*) { LinkRestored(); };
    const auto update = [this](TCliField (TCliRunner::*field)() const) {
        return [this, field](TMorv*) {
            if (FMonitoring)
                Print(
                    {JsonOnly("time_ms", static_cast<double>(FClock.elapsed())), (this->*field)()});
        };
    };
    FMorv.OnSystemState = update(&TCliRunner::SystemStateField);
    FMorv.OnGraspingState = update(&TCliRunner::GraspingStateField);
    FMorv.OnPosition = update(&TCliRunner::PositionField);
    if (FRequest.Stats)
        FMorv.SetPacketLog(&FStatsLog);
}

TCliRunner::~TCliRunner() {
    FMorv.OnConnect = nullptr;
    FMorv.OnConnectionError = nullptr;
    FMorv.OnDisconnect = nullptr;
    FMorv.OnSystemState = nullptr;
    FMorv.OnGraspingState = nullptr;
    FMorv.OnPosition = nullptr;
    FMorv.OnLinkLost = nullptr;
    FMorv.OnLinkRestored = nullptr;
    FMorv.Disconnect();
    FMorv.SetPacketLog(nullptr);
}

int TCliRunner::Run() {
    int code = Connect();
    if (code == ExitSuccess)
        code = Execute();
    if (FRequest.Stats)
        for (const QString& line : FStatsLog.Counters.Lines())
            std::fprintf(FErr, "%s\n", line.toUtf8().constData());
    return code;
}

void TCliRunner::Interrupt(int signalNumber) {
    if (FSignal == 0)
        FSignal = signalNumber;
    FWait.Wake();
}

int TCliRunner::Connect() {
    const TStat status = FMorv.ConnectTo(FRequest.Target);
    bool listed = false;
    for (int i = 0; i < FMorv.Command()->DeviceCount(); ++i)
        listed = listed || FMorv.Command()->Devices(i)->ShortName() == FRequest.Target.Device;
    if (status == E_NOT_FOUND && !listed) {
        Error(QStringLiteral("cannot open %1: this build has no %2 transport")
                  .arg(FRequest.TargetText, FRequest.Target.Device));
        return ExitLink;
    }
    if (status == E_NOT_FOUND) {
        // The transport exists but does not know the port or net the target names.
        Error(QStringLiteral("cannot open %1: no such port or net").arg(FRequest.TargetText));
        return ExitLink;
    }
    if (status != E_SUCCESS) {
        Error(QStringLiteral("cannot open %1: %2").arg(FRequest.TargetText, StatusText(status)));
        return ExitLink;
    }
    if (!FWait.Until([this] { return FConnected || FLinkLost; }, FRequest.TimeoutMs)) {
        Error(QStringLiteral("cannot open %1: no connection within %2 ms")
                  .arg(FRequest.TargetText)
                  .arg(FRequest.TimeoutMs));
        return ExitLink;
    }
    if (!FConnected) {
        Error(QStringLiteral("cannot open %1: the connection failed").arg(FRequest.TargetText));
        return ExitLink;
    }
    return ExitSuccess;
}

int TCliRunner::Execute() {
    int e = -1;
    switch (FRequest.Command) {
    case TCliCommand::Info: {
        TSystemInfo info;
        if ((e = Failure(CMD_GET_SYSINFO, FMorv.GetSystemInfo(info))) >= 0)
            return e;
        Print({Value("Gripper type", QStringLiteral("Morv 50"), "gripper_type",
                     QStringLiteral("Morv 50")),
               JsonOnly("type_code", info.Type),
               Value("Serial number",
                     QStringLiteral("%1").arg(info.SerialNumber, 8, 10, QLatin1Char('0')),
                     "serial_number", static_cast<double>(info.SerialNumber)),
               Value("Hardware rev.", QString::number(info.HardwareRevision), "hardware_revision",
                     info.HardwareRevision),
               Value("Firmware rev.", QString::number(info.FirmwareRevision), "firmware_revision",
                     info.FirmwareRevision)});
        return ExitSuccess;
    }
    case TCliCommand::Limits: {
        TSystemLimits l;
        if ((e = Failure(CMD_GET_SYSTEM_LIMITS, FMorv.GetSystemLimits(l))) >= 0)
            return e;
        const auto row = [](const char* label, float v, const char* unit, const char* key) {
            return Value(label, Fixed(v, 0) + QLatin1Char(' ') + QString::fromUtf8(unit), key,
                         static_cast<double>(v));
        };
        Print({row("Stroke", l.Stroke, "mm", "stroke_mm"),
               row("Minimum speed", l.MinSpeed, "mm/s", "min_speed_mm_s"),
               row("Maximum speed", l.MaxSpeed, "mm/s", "max_speed_mm_s"),
               row("Minimum acceleration", l.MinAcceleration, "mm/s²", "min_acceleration_mm_s2"),
               row("Maximum acceleration", l.MaxAcceleration, "mm/s²", "max_acceleration_mm_s2"),
               row("Minimum force", l.MinForce, "N", "min_force_n"),
               row("Maximum force", l.MaxForce, "N", "max_force_n")});
        return ExitSuccess;
    }
    case TCliCommand::Stats: {
        TGraspingStatistics s;
        if ((e = Failure(CMD_GET_GRASPING_STATS, FMorv.GetGraspingStatistics(FRequest.Reset, s))) >=
            0)
            return e;
        Print({Value("Number of grasps", QString::number(s.NumberOfGrasps), "grasps",
                     static_cast<double>(s.NumberOfGrasps)),
               Value("Number of not found parts", QString::number(s.NumberOfNotFoundParts),
                     "not_found_parts", s.NumberOfNotFoundParts),
               Value("Number of parts lost", QString::number(s.NumberOfPartsLost), "parts_lost",
                     s.NumberOfPartsLost),
               JsonOnly("reset", FRequest.Reset)});
        return ExitSuccess;
    }
    case TCliCommand::State:
        if ((e = Failure(CMD_GET_SYSTEM_STATE, FMorv.GetSystemState(false, 0, false))) >= 0 ||
            (e = Failure(CMD_GET_GRASPING_STATE, FMorv.GetGraspingState(false, 0, false))) >= 0 ||
            (e = Failure(CMD_GET_POS, FMorv.GetPosition(false, 0, false))) >= 0)
            return e;
        Print({SystemStateField(), GraspingStateField(), PositionField()});
        return ExitSuccess;
    case TCliCommand::GetForce: {
        float v = 0;
        if ((e = Failure(CMD_GET_FORCE_LIMIT, FMorv.GetForceLimit(v))) >= 0)
            return e;
        Print({Value("Force limit", Fixed(v, 1) + QStringLiteral(" N"), "force_limit_n",
                     static_cast<double>(v))});
        return ExitSuccess;
    }
    case TCliCommand::GetAcc: {
        float v = 0;
        if ((e = Failure(CMD_GET_ACCELERATION, FMorv.GetAcceleration(v))) >= 0)
            return e;
        Print({Value("Acceleration", Fixed(v, 0) + QStringLiteral(" mm/s²"), "acceleration_mm_s2",
                     static_cast<double>(v))});
        return ExitSuccess;
    }
    case TCliCommand::Home:
        return Motion(
            [this](TAsyncResultEvent h) { return FMorv.Homing(FRequest.Param, std::move(h)); });
    case TCliCommand::Move:
        return Motion([this](TAsyncResultEvent h) {
            return FMorv.GotoPosition(FRequest.Value, FRequest.Speed, std::move(h));
        });
    case TCliCommand::Grasp:
        return Motion([this](TAsyncResultEvent h) {
            return FMorv.Grasp(FRequest.Value, FRequest.Speed, std::move(h));
        });
    case TCliCommand::Release:
        return Motion([this](TAsyncResultEvent h) {
            return FMorv.ReleasePart(FRequest.Value, FRequest.Speed, std::move(h));
        });
    case TCliCommand::Stop:
        return Simple(CMD_STOP, FMorv.Stop());
    case TCliCommand::FastStop:
        return Simple(CMD_FAST_STOP, FMorv.FastStop());
    case TCliCommand::AckFastStop:
        return Simple(CMD_FAST_STOP_ACK, FMorv.AcknowledgeFastStop());
    case TCliCommand::SetForce:
        return Simple(CMD_SET_FORCE_LIMIT, FMorv.SetForceLimit(FRequest.Value));
    case TCliCommand::SetAcc:
        return Simple(CMD_SET_ACCELERATION, FMorv.SetAcceleration(FRequest.Value));
    case TCliCommand::Monitor:
        return Monitor();
    case TCliCommand::Send:
        return Send();
    case TCliCommand::Tap: // TCliTap runs it
        break;
    }
    return ExitUsage;
}

int TCliRunner::Motion(const std::function<TStat(TAsyncResultEvent)>& start) {
    FFinalArrived = false;
    const TStat status =
        start([this](TMorv*, std::int32_t, std::uint16_t finalStatus, const TByteArray& data) {
            FFinalArrived = true;
            FFinalStatus = finalStatus;
            FFinalData = data;
            FWait.Wake();
        });
    const std::uint8_t id = FMorv.LastOutcome().ID;
    // A signal during the request itself may have come just before the gripper accepted it.
    if (FSignal != 0 && (status == E_CMD_PENDING || status == E_SUCCESS))
        return StopAfterSignal(id);
    const int e = Failure(id, status, true);
    if (e >= 0)
        return e;
    if (status == E_CMD_PENDING &&
        !FWait.Until([this] { return FFinalArrived || FLinkLost || FSignal != 0; },
                     FRequest.TimeoutMs)) {
        Error(QStringLiteral("no final result of %1 within %2 ms; the gripper may still be moving")
                  .arg(CommandName(id))
                  .arg(FRequest.TimeoutMs));
        return ExitNoReply;
    }
    if (status == E_CMD_PENDING && !FFinalArrived && FSignal != 0)
        return StopAfterSignal(id);
    if (status == E_CMD_PENDING && !FFinalArrived) {
        Error(QStringLiteral("the link was lost before %1 finished").arg(CommandName(id)));
        return ExitLink;
    }
    const auto final = status == E_SUCCESS ? E_SUCCESS : static_cast<TStat>(FFinalStatus & 0xFF);
    const QString line =
        QStringLiteral("Command %1 finished: %2.").arg(CommandName(id), StatusText(final));
    if (FRequest.Json) {
        Print({JsonOnly("command", CommandName(id)), JsonOnly("status", final),
               JsonOnly("status_text", StatusText(final)), JsonOnly("result", line)});
    } else {
        PrintLine(line);
    }
    if (final != E_SUCCESS) {
        Error(QStringLiteral("%1: %2").arg(CommandName(id), StatusText(final)));
        return ExitGripperError;
    }
    return ExitSuccess;
}

int TCliRunner::Simple(std::uint8_t id, TStat status) {
    const int e = Failure(id, status, true);
    if (e >= 0)
        return e;
    Print({TCliField{CommandName(id), StatusText(status), QStringLiteral("status_text"),
                     StatusText(status)},
           JsonOnly("command", CommandName(id)), JsonOnly("status", status)});
    return ExitSuccess;
}

int TCliRunner::Failure(std::uint8_t id, TStat status, bool pendingIsSuccess) {
    if (status == E_SUCCESS || (pendingIsSuccess && status == E_CMD_PENDING))
        return -1;
    const QString name = CommandName(id);
    const TExchangeOutcome& outcome = FMorv.LastOutcome();
    if (FLinkLost || status == E_NOT_OPENED || outcome.Kind == TOutcomeKind::LinkClosed) {
        Error(QStringLiteral("%1: the link was lost").arg(name));
        return ExitLink;
    }
    QString detail;
    if (status == E_CMD_FAILED) {
        if (outcome.Kind != TOutcomeKind::Replied) {
            Error(QStringLiteral("%1: no reply within %2 ms").arg(name).arg(TMorv::ReplyTimeoutMs));
            return ExitNoReply;
        }
        // The command set reports a refused query as "failed" when the refusal carries no
        // data; the gripper's own status says more.
        if (outcome.HasStatus && outcome.Status() != E_SUCCESS)
            status = outcome.Status();
        else
            detail = QStringLiteral(" (unexpected reply)");
    }
    if (FRequest.Json)
        Print({JsonOnly("command", name), JsonOnly("status", status),
               JsonOnly("status_text", StatusText(status))});
    Error(QStringLiteral("%1: %2%3").arg(name, StatusText(status), detail));
    return ExitGripperError;
}

int TCliRunner::Monitor() {
    FClock.start();
    FMonitoring = true;
    int e = -1;
    // The window's periods.
    if ((e = Failure(CMD_GET_SYSTEM_STATE, FMorv.GetSystemState(true, 50, true))) >= 0 ||
        (e = Failure(CMD_GET_GRASPING_STATE, FMorv.GetGraspingState(true, 50, true))) >= 0 ||
        (e = Failure(CMD_GET_POS, FMorv.GetPosition(true, 100, true))) >= 0) {
        FMonitoring = false;
        return e;
    }
    const int duration = FRequest.Seconds > 0 ? static_cast<int>(FRequest.Seconds * 1000) : -1;
    FWait.Until([this] { return FSignal != 0 || FLinkLost; }, duration);
    FMonitoring = false;
    if (FSilentLoss) {
        Error(LostText());
        return ExitLink;
    }
    if (FLinkLost) {
        Error(QStringLiteral("monitor: the link was lost"));
        return ExitLink;
    }
    return SwitchUpdatesOff();
}

QString TCliRunner::LostText() const {
    return FLostSilentMs >= FMorv.LinkTimes().LostAfterMs
               ? QStringLiteral("link lost: no data for %1 s").arg(FLostSilentMs / 1000)
               : QStringLiteral("link lost: the connection was closed or broke");
}

void TCliRunner::LinkLost(std::uint32_t silentMs) {
    FLostSilentMs = silentMs;
    if (!FMorv.AutoReconnect() || !FMonitoring) {
        FSilentLoss = true;
        FLinkLost = true;
        FWait.Wake();
        return;
    }
    Print({JsonOnly("time_ms", static_cast<double>(FClock.elapsed())),
           JsonOnly("event", QStringLiteral("link lost")),
           JsonOnly("silent_ms", static_cast<double>(silentMs)),
           TCliField{QStringLiteral("Event"), LostText(), QStringLiteral("text"), LostText()}});
}

void TCliRunner::LinkRestored() {
    const QString text = QStringLiteral("link restored");
    Print({JsonOnly("time_ms", static_cast<double>(FClock.elapsed())), JsonOnly("event", text),
           TCliField{QStringLiteral("Event"), text, {}, {}}});
    // A new connection starts without subscriptions: ask for the updates again.
    FMorv.CallWhenIdle([this] {
        if (!FMonitoring)
            return;
        FMorv.GetSystemState(true, 50, true);
        FMorv.GetGraspingState(true, 50, true);
        FMorv.GetPosition(true, 100, true);
    });
}

int TCliRunner::Send() {
    const std::uint8_t id = FRequest.ID;
    FFinalArrived = false;
    const TStat status = FMorv.StartCommand(
        id, FRequest.Payload,
        [this](TMorv*, std::int32_t, std::uint16_t finalStatus, const TByteArray& data) {
            FFinalArrived = true;
            FFinalStatus = finalStatus;
            FFinalData = data;
            FWait.Wake();
        });
    const TExchangeOutcome& outcome = FMorv.LastOutcome();
    if (FLinkLost || status == E_NOT_OPENED ||
        (status == E_CMD_FAILED && outcome.Kind != TOutcomeKind::Replied))
        return Failure(id, status);
    const QString data = HexBytes(outcome.Data);
    Print({TCliField{QStringLiteral("Sending Command %1h").arg(HexByte(id)), StatusText(status),
                     QStringLiteral("status_text"), StatusText(status)},
           JsonOnly("id", id), JsonOnly("status", status),
           Value("Reply data", data.isEmpty() ? QStringLiteral("[n/a]") : data, "data", data)});
    TStat final = status;
    if (status == E_CMD_PENDING) {
        if (!FWait.Until([this] { return FFinalArrived || FLinkLost || FSignal != 0; },
                         FRequest.TimeoutMs)) {
            Error(QStringLiteral("no final result of command %1h within %2 ms; the gripper may "
                                 "still be moving")
                      .arg(HexByte(id))
                      .arg(FRequest.TimeoutMs));
            return ExitNoReply;
        }
        if (!FFinalArrived && FSignal != 0)
            return StopAfterSignal(id);
        if (!FFinalArrived) {
            Error(QStringLiteral("the link was lost before command %1h finished").arg(HexByte(id)));
            return ExitLink;
        }
        final = static_cast<TStat>(FFinalStatus & 0xFF);
        const QString finalData = HexBytes(FFinalData);
        if (FRequest.Json)
            Print({JsonOnly("id", id), JsonOnly("async_status", final),
                   JsonOnly("status_text", StatusText(final)), JsonOnly("data", finalData)});
        else
            PrintLine(QStringLiteral("Async result from command %1h: %2.")
                          .arg(HexByte(id), StatusText(final)));
    }
    if (final != E_SUCCESS) {
        Error(QStringLiteral("command %1h: %2").arg(HexByte(id), StatusText(final)));
        return ExitGripperError;
    }
    return ExitSuccess;
}

void TCliRunner::Print(const QList<TCliField>& fields) {
    if (FRequest.Json) {
        QJsonObject o;
        for (const TCliField& f : fields)
            if (!f.Key.isEmpty() && !f.Json.isNull())
                o.insert(f.Key, f.Json);
        PrintLine(QString::fromUtf8(QJsonDocument(o).toJson(QJsonDocument::Compact)));
        return;
    }
    for (const TCliField& f : fields)
        if (!f.Label.isEmpty())
            PrintLine(f.Label + QStringLiteral(": ") + f.Text);
}

void TCliRunner::PrintLine(const QString& line) {
    std::fputs(line.toUtf8().constData(), FOut);
    std::fputc('\n', FOut);
    std::fflush(FOut); // a script reading a pipe sees each line at once
}

void TCliRunner::Error(const QString& text) {
    std::fputs((QStringLiteral("karo-cli: ") + text + QLatin1Char('\n')).toUtf8().constData(),
               FErr);
    std::fflush(FErr);
}

QString TCliRunner::StateText(std::uint32_t state) const {
    QStringList names;
    for (const TSysflagDescr& d : SysflagDescr)
        if (state & d.Flag)
            names.append(QLatin1String(d.Descr));
    QString text = HexDWord(state);
    if (!names.isEmpty())
        text += QStringLiteral(" (") + names.join(QStringLiteral(", ")) + QLatin1Char(')');
    return text;
}

TCliField TCliRunner::SystemStateField() const {
    const std::uint32_t s = FMorv.SystemState();
    // The flags ride along in the JSON value as an object of their own.
    QJsonArray flags;
    for (const TSysflagDescr& d : SysflagDescr)
        if (s & d.Flag)
            flags.append(QLatin1String(d.Descr));
    return Value("System state", StateText(s), "system_state",
                 QJsonObject{{QStringLiteral("value"), static_cast<double>(s)},
                             {QStringLiteral("hex"), HexDWord(s).chopped(1)},
                             {QStringLiteral("flags"), flags}});
}

TCliField TCliRunner::GraspingStateField() const {
    const std::uint8_t g = FMorv.GraspingState();
    return Value(
        "Grasping state", GraspingStateText(g), "grasping_state",
        QJsonObject{{QStringLiteral("value"), g}, {QStringLiteral("text"), GraspingStateText(g)}});
}

TCliField TCliRunner::PositionField() const {
    const float p = FMorv.Position();
    return Value("Position", Fixed(p, 2) + QStringLiteral(" mm"), "position_mm",
                 static_cast<double>(p));
}
