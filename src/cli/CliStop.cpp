// SPDX-License-Identifier: Apache-2.0
// What karo-cli does when it is told to stop: a motion it started is stopped, a monitor leaves
// the gripper's updates as it found them. Each bounded by StopWaitMs, so a silent gripper
// cannot keep the tool alive.

#include "cli/CliRunner.h"
#include "cli/CliSignals.h"

#include "engine/CommandCodec.h"
#include "protocol/Constants.h"

#include <QDeadlineTimer>

#include <algorithm>

int TCliRunner::StopAfterSignal(std::uint8_t id) {
    const int exitCode = TCliSignals::ExitCode(FSignal);
    const TCommandRequest stop = CommandCodec::Stop();
    const TExchangeOutcome outcome = FMorv.Exchange(stop.ID, stop.Payload, StopWaitMs);
    const QString name = CommandName(id);
    if (outcome.Usable() && outcome.Status() == E_SUCCESS) {
        Error(QStringLiteral("interrupted: %1 stopped").arg(name));
        return exitCode;
    }
    QString why;
    if (outcome.Usable())
        why = QStringLiteral("STOP: %1").arg(StatusText(outcome.Status()));
    else if (outcome.Kind == TOutcomeKind::Replied)
        why = QStringLiteral("STOP: unexpected reply");
    else if (FLinkLost || outcome.Kind != TOutcomeKind::NoReply)
        why = QStringLiteral("the link was lost");
    else
        why = QStringLiteral("no reply to STOP within %1 ms").arg(StopWaitMs);
    Error(QStringLiteral("interrupted: %1; the gripper may still be moving").arg(why));
    return exitCode;
}

int TCliRunner::SwitchUpdatesOff() {
    const QDeadlineTimer deadline(static_cast<qint64>(StopWaitMs));
    for (const std::uint8_t id : {CMD_GET_SYSTEM_STATE, CMD_GET_GRASPING_STATE, CMD_GET_POS}) {
        const TCommandRequest off = CommandCodec::AutoUpdate(id, false, 0, false);
        const auto left = static_cast<std::uint32_t>(std::max<qint64>(1, deadline.remainingTime()));
        const TExchangeOutcome outcome = FMorv.Exchange(off.ID, off.Payload, left);
        if (outcome.Usable() && outcome.Status() == E_SUCCESS)
            continue;
        if (FLinkLost ||
            (outcome.Kind != TOutcomeKind::NoReply && outcome.Kind != TOutcomeKind::Replied)) {
            Error(QStringLiteral("monitor: the link was lost while switching the updates off"));
            return ExitLink;
        }
        if (outcome.Kind == TOutcomeKind::Replied) {
            Error(QStringLiteral("monitor: %1 refused to switch the updates off: %2")
                      .arg(CommandName(id), outcome.Usable() ? StatusText(outcome.Status())
                                                             : QStringLiteral("unexpected reply")));
            return ExitGripperError;
        }
        Error(QStringLiteral("monitor: no reply to switching the updates off within %1 ms")
                  .arg(StopWaitMs));
        return ExitNoReply;
    }
    return ExitSuccess;
}
