// SPDX-License-Identifier: Apache-2.0
#include "ui/MainForm.h"

#include "ui/MainFormShared.h"

#include "engine/MorvForm.h"
#include "protocol/Constants.h"
#include "protocol/HexText.h"
#include "widgets/FloatEdit.h"
#include "widgets/FloatEditDialog.h"
#include "widgets/MessageBoxes.h"
#include "widgets/TrackCoupling.h"

#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSlider>

#include <algorithm>
#include <cmath>
#include <utility>

using namespace mainwin;

// ---------------------------------------------------------------------------------------------
// Bands

QString TMainWin::FailureText(const QString& prefix, TStat status, bool motion) const {
    if (const QString n = NotConnectedText(FGripper->LastOutcome()); !n.isEmpty())
        return prefix + n;
    QString text = prefix + StatusText(status);
    // The command set's one failure code also stands for a reply that never came; the gripper
    // may still have acted, so that case says so.
    if (status == E_CMD_FAILED && FGripper->LastOutcome().Kind == TOutcomeKind::NoReply)
        text += QStringLiteral("\nThe gripper did not answer within 3 s.");
    else if (motion && status == E_ACCESS_DENIED &&
             ((FGripper->SystemState() & SF_FAST_STOP) || btnEmergencyStop->isChecked()))
        text +=
            QStringLiteral("\nAcknowledge the fast stop first: Commands | Acknowledge a Fast Stop");
    return text;
}

struct TMainWin::TMotion {
    const char* Prefix;
    TStat (*Start)(TMorv& gripper, float first, float second, TAsyncResultEvent done);
};

TAsyncResultEvent TMainWin::ResultHandler() {
    return [this](TMorv* sender, std::int32_t id, std::uint16_t word, const TByteArray& data) {
        MotionCommandFinished(sender, id, word, data);
    };
}

void TMainWin::StartMotion(const TMotion& motion, float first, float second) {
    const TStat status = motion.Start(*FGripper, first, second, ResultHandler());
    // The command set alone knows which identifier the motion goes out with.
    const std::uint8_t id = FGripper->LastOutcome().ID;
    if (status == E_CMD_PENDING) {
        FOpenMotions.push_back(id);
        return;
    }
    // Starting again dropped the registration of a motion with this identifier that still
    // runs; a refused repeat leaves that motion running, so its result must still reach us.
    if (std::find(FOpenMotions.begin(), FOpenMotions.end(), id) != FOpenMotions.end())
        FGripper->AsyncResults().Add(id, ResultHandler());
    if (status == E_SUCCESS) {
        // Done at once: no result follows, so this is its line.
        AsyncLog->appendPlainText(
            QStringLiteral("Command %1 finished: %2.").arg(CommandName(id), StatusText(status)));
        return;
    }
    const QString text = FailureText(QString::fromLatin1(motion.Prefix), status, true);
    AsyncLog->appendPlainText(text.section(QLatin1Char('\n'), 0, 0));
    ShowError(text, this);
}

void TMainWin::CloseOpenMotions() {
    const std::vector<std::int32_t> open = std::exchange(FOpenMotions, {});
    for (const std::int32_t id : open)
        AsyncLog->appendPlainText(QStringLiteral("Command %1: connection closed before the result.")
                                      .arg(CommandName(static_cast<std::uint8_t>(id))));
}

void TMainWin::btnMoveClick() {
    static const TMotion move{"Error while starting to move: ",
                              [](TMorv& g, float pos, float speed, TAsyncResultEvent done) {
                                  return g.GotoPosition(pos, speed, std::move(done));
                              }};
    StartMotion(move, static_cast<float>(pnGoto->PositionEdit()->Value()),
                static_cast<float>(pnGoto->SpeedEdit()->Value()));
}

void TMainWin::btnGraspClick() {
    static const TMotion grasp{"Error while starting to grasp: ",
                               [](TMorv& g, float width, float speed, TAsyncResultEvent done) {
                                   return g.Grasp(width, speed, std::move(done));
                               }};
    StartMotion(grasp, static_cast<float>(pnGrasp->PositionEdit()->Value()),
                static_cast<float>(pnGrasp->SpeedEdit()->Value()));
}

void TMainWin::btnReleaseClick() {
    static const TMotion release{"Error while starting to release: ",
                                 [](TMorv& g, float pos, float speed, TAsyncResultEvent done) {
                                     return g.ReleasePart(pos, speed, std::move(done));
                                 }};
    StartMotion(release, static_cast<float>(pnRelease->PositionEdit()->Value()),
                static_cast<float>(pnRelease->SpeedEdit()->Value()));
}

void TMainWin::Homing1Click() {
    static const TMotion homing{"Error while homing: ",
                                [](TMorv& g, float, float, TAsyncResultEvent done) {
                                    return g.Homing(0, std::move(done));
                                }};
    StartMotion(homing, 0, 0);
}

void TMainWin::btnStopClick() {
    const TStat status = FGripper->Stop();
    if (!StatusOk(status))
        ShowError(FailureText(QStringLiteral("Error while stopping: "), status), this);
}

void TMainWin::btnEmergencyStopClick() {
    const TStat status = FGripper->FastStop();
    btnEmergencyStop->setChecked(status == E_SUCCESS);
    if (status != E_SUCCESS)
        ShowError(QStringLiteral("Error during the fast stop: ") + StatusText(status), this);
}

namespace {
// The limits with the decimals of the value's label, more where a limit needs them.
QString RangeText(double minimum, double maximum, int decimals, const QString& unit) {
    if (!(minimum < maximum))
        return {};
    const auto exact = [](double v, int d) {
        const double scale = std::pow(10.0, d);
        return std::abs(std::round(v * scale) / scale - v) <= 1e-6 * std::max(1.0, std::abs(v));
    };
    while (decimals < 3 && !(exact(minimum, decimals) && exact(maximum, decimals)))
        ++decimals;
    return QStringLiteral("Allowed: %1 to %2 %3")
        .arg(Fixed(minimum, decimals), Fixed(maximum, decimals), unit);
}
} // namespace

void TMainWin::ChangeValue(bool force) {
    const QString unit = force ? QStringLiteral("N") : QStringLiteral("mm/s²");
    FValueDialog->SetUnit(unit);
    FValueDialog->setWindowTitle(force ? QStringLiteral("Change Force Limit")
                                       : QStringLiteral("Change Acceleration"));
    const double minimum = force ? FMinForce : FMinAcceleration;
    const double maximum = force ? FMaxForce : FMaxAcceleration;
    FValueDialog->SetMinimum(minimum);
    FValueDialog->SetMaximum(maximum);
    FValueDialog->SetRangeText(RangeText(minimum, maximum, force ? 1 : 0, unit));
    // A value the gripper never reported (or one outside its limits) opens at the nearest limit
    // instead of keeping the dialog shut.
    double current = force ? FForceLimit : FAcceleration;
    if (minimum < maximum)
        current = std::clamp(current, minimum, maximum);
    FValueDialog->SetValue(current);
    if (!FValueDialog->Execute())
        return;
    const auto value = static_cast<float>(FValueDialog->Value());
    const TStat status = force ? FGripper->SetForceLimit(value) : FGripper->SetAcceleration(value);
    if (!StatusOk(status)) {
        ShowError(FailureText(force ? QStringLiteral("Error while setting force limit: ")
                                    : QStringLiteral("Error while setting acceleration: "),
                              status),
                  this);
        return;
    }
    if (force) {
        FForceLimit = value;
        lbForce->setText(Fixed(FForceLimit, 1) + QStringLiteral(" N"));
    } else {
        FAcceleration = value;
        lbAcc->setText(Fixed(FAcceleration, 0) + QStringLiteral(" mm/s²"));
    }
}

void TMainWin::btnForceClick() {
    ChangeValue(true);
}

void TMainWin::btnAccClick() {
    ChangeValue(false);
}

const TMainWin::TEditPair* TMainWin::PairOfEdit(const QObject* edit) const {
    for (const TEditPair& p : FPairs)
        if (p.Edit == edit)
            return &p;
    return nullptr;
}

const TMainWin::TEditPair* TMainWin::PairOfTrack(const QObject* track) const {
    for (const TEditPair& p : FPairs)
        if (p.Track == track)
            return &p;
    return nullptr;
}

void TMainWin::FloatEditChange(QObject* sender) {
    const TEditPair* pair = PairOfEdit(sender);
    if (!pair)
        return;
    for (TMotionBand* band : {pnGoto, pnGrasp, pnRelease})
        band->Button()->setEnabled(band->ValuesValid());
    TFloatEdit* edit = pair->Edit;
    if (!HasInputFocus(edit) || !edit->IsValid())
        return;
    pair->Track->setValue(
        TrackPosition(edit->Value(), edit->MinValue(), edit->MaxValue(), TrackMax));
}

void TMainWin::TrackbarChange(QObject* sender) {
    const TEditPair* pair = PairOfTrack(sender);
    if (!pair || !HasInputFocus(pair->Track))
        return;
    TFloatEdit* edit = pair->Edit;
    edit->SetValue(TrackValue(pair->Track->value(), edit->MinValue(), edit->MaxValue(), TrackMax));
}

void TMainWin::MotionCommandFinished(QObject*, std::int32_t id, std::uint16_t status,
                                     const TByteArray&) {
    // A pending status is the first reply of a newer start, not a result; and a motion that
    // already has its line gets no second one.
    if ((status & 0xFF) == E_CMD_PENDING)
        return;
    const auto open = std::find(FOpenMotions.begin(), FOpenMotions.end(), id);
    if (open == FOpenMotions.end())
        return;
    FOpenMotions.erase(open);
    AsyncLog->appendPlainText(QStringLiteral("Command %1 finished: %2.")
                                  .arg(CommandName(static_cast<std::uint8_t>(id)),
                                       StatusText(static_cast<std::uint8_t>(status & 0xFF))));
}

namespace {
// The flags that tell of a fault or of something the operator must act on.
constexpr std::uint32_t NotedFlags =
    0x1000 | 0x2000 | 0x4000 | 0x8000 | 0x10000 | 0x20000 | 0x40000 | 0x100000;
} // namespace

void TMainWin::NoteSystemState(std::int64_t previous, std::uint32_t state) {
    const std::uint32_t before = previous < 0 ? 0 : static_cast<std::uint32_t>(previous);
    const std::uint32_t changed = (before ^ state) & NotedFlags;
    for (const TSysflagDescr& d : SysflagDescr) {
        if (!(changed & d.Flag))
            continue;
        const bool raised = (state & d.Flag) != 0;
        AsyncLog->appendPlainText((raised ? QStringLiteral("Flag raised: %1 (state %2).")
                                          : QStringLiteral("Flag cleared: %1 (state %2)."))
                                      .arg(QString::fromLatin1(d.Descr), HexDWord(state)));
    }
}

void TMainWin::NoteGraspingState(std::uint8_t state) {
    if (state == GS_PART_LOST && FLastGraspingState != GS_PART_LOST)
        AsyncLog->appendPlainText(QStringLiteral("Part lost."));
    FLastGraspingState = state;
}
