#include "ui/MainForm.h"

#include "ui/MainFormShared.h"

#include "engine/MorvForm.h"
#include "protocol/Constants.h"
#include "protocol/Tick.h"
#include "widgets/FloatEdit.h"
#include "widgets/FloatEditDialog.h"
#include "widgets/MessageBoxes.h"
#include "widgets/TrackCoupling.h"

#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSlider>

#include <algorithm>
#include <utility>

using namespace mainwin;

// ---------------------------------------------------------------------------------------------
// Bands

QString TMainWin::FailureText(const QString& prefix, TStat status, std::uint32_t sentAt,
                              bool motion) const {
    QString text = prefix + StatusText(status);
    // The command set's one failure code also stands for a reply that never came; the gripper
    // may still have acted, so that case says so.
    if (status == E_CMD_FAILED && GetTickCount() - sentAt > TMorv::ReplyTimeoutMs)
        text += QStringLiteral("\nThe gripper did not answer within 3 s.");
    else if (motion && status == E_ACCESS_DENIED &&
             ((FGripper->SystemState() & SF_FAST_STOP) || btnEmergencyStop->isChecked()))
        text +=
            QStringLiteral("\nAcknowledge the fast stop first: Commands | Acknowledge a Fast Stop");
    return text;
}

void TMainWin::StartMotion(std::uint8_t id, const QString& prefix, const TMotionStart& start) {
    const std::uint32_t sentAt = GetTickCount();
    const TStat status = start(
        [this](TMorv* sender, std::int32_t resultId, std::uint16_t word, const TByteArray& data) {
            MotionCommandFinished(sender, resultId, word, data);
        });
    if (status == E_CMD_PENDING) {
        FOpenMotions.push_back(id);
        return;
    }
    if (status == E_SUCCESS) {
        // Done at once: no result follows, so this is its line.
        AsyncLog->appendPlainText(
            QStringLiteral("Command %1 finished: %2.").arg(CommandName(id), StatusText(status)));
        return;
    }
    const QString text = FailureText(prefix, status, sentAt, true);
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
    const float pos = static_cast<float>(edGotoPos->Value());
    const float speed = static_cast<float>(edGotoSpeed->Value());
    StartMotion(CMD_GOTO, QStringLiteral("Error while starting to move: "),
                [&](TAsyncResultEvent done) { return FGripper->GotoPosition(pos, speed, done); });
}

void TMainWin::btnGraspClick() {
    const float width = static_cast<float>(edGraspingPos->Value());
    const float speed = static_cast<float>(edGraspingSpeed->Value());
    StartMotion(CMD_GRASP_RAW, QStringLiteral("Error while starting to grasp: "),
                [&](TAsyncResultEvent done) { return FGripper->Grasp(width, speed, done); });
}

void TMainWin::btnReleaseClick() {
    const float width = static_cast<float>(edReleasePos->Value());
    const float speed = static_cast<float>(edReleaseSpeed->Value());
    StartMotion(CMD_RELEASE_RAW, QStringLiteral("Error while starting to release: "),
                [&](TAsyncResultEvent done) { return FGripper->ReleasePart(width, speed, done); });
}

void TMainWin::btnStopClick() {
    const std::uint32_t sentAt = GetTickCount();
    const TStat status = FGripper->Stop();
    if (!StatusOk(status))
        ShowError(FailureText(QStringLiteral("Error while stopping: "), status, sentAt), this);
}

void TMainWin::btnEmergencyStopClick() {
    const TStat status = FGripper->FastStop();
    btnEmergencyStop->setChecked(status == E_SUCCESS);
    if (status != E_SUCCESS)
        ShowError(QStringLiteral("Error during the fast stop: ") + StatusText(status), this);
}

void TMainWin::ChangeValue(bool force) {
    FValueDialog->SetUnit(force ? QStringLiteral("N") : QStringLiteral("mm/s²"));
    FValueDialog->setWindowTitle(force ? QStringLiteral("Change Force Limit")
                                       : QStringLiteral("Change Acceleration"));
    const double minimum = force ? FMinForce : FMinAcceleration;
    const double maximum = force ? FMaxForce : FMaxAcceleration;
    FValueDialog->SetMinimum(minimum);
    FValueDialog->SetMaximum(maximum);
    // A value the gripper never reported (or one outside its limits) opens at the nearest limit
    // instead of keeping the dialog shut.
    double current = force ? FForceLimit : FAcceleration;
    if (minimum < maximum)
        current = std::clamp(current, minimum, maximum);
    FValueDialog->SetValue(current);
    if (!FValueDialog->Execute())
        return;
    const auto value = static_cast<float>(FValueDialog->Value());
    const std::uint32_t sentAt = GetTickCount();
    const TStat status = force ? FGripper->SetForceLimit(value) : FGripper->SetAcceleration(value);
    if (!StatusOk(status)) {
        ShowError(FailureText(force ? QStringLiteral("Error while setting force limit: ")
                                    : QStringLiteral("Error while setting acceleration: "),
                              status, sentAt),
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
    btnMove->setEnabled(edGotoPos->IsValid() && edGotoSpeed->IsValid());
    btnGrasp->setEnabled(edGraspingPos->IsValid() && edGraspingSpeed->IsValid());
    btnRelease->setEnabled(edReleasePos->IsValid() && edReleaseSpeed->IsValid());
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
