#include "ui/MainForm.h"

#include "ui/MainFormShared.h"

#include "engine/MorvForm.h"
#include "protocol/Constants.h"
#include "widgets/FloatEdit.h"
#include "widgets/FloatEditDialog.h"
#include "widgets/MessageBoxes.h"
#include "widgets/TrackCoupling.h"

#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSlider>

using namespace mainwin;

// ---------------------------------------------------------------------------------------------
// Bands

void TMainWin::btnMoveClick() {
    const float pos = static_cast<float>(edGotoPos->Value());
    const float speed = static_cast<float>(edGotoSpeed->Value());
    const TStat status =
        FGripper->GotoPosition(pos, speed, [this](auto* s, auto id, auto st, const auto& d) {
            MotionCommandFinished(s, id, st, d);
        });
    if (!StatusOk(status))
        ShowError(QStringLiteral("Error while starting to move: ") + StatusText(status), this);
}

void TMainWin::btnGraspClick() {
    const float width = static_cast<float>(edGraspingPos->Value());
    const float speed = static_cast<float>(edGraspingSpeed->Value());
    const TStat status =
        FGripper->Grasp(width, speed, [this](auto* s, auto id, auto st, const auto& d) {
            MotionCommandFinished(s, id, st, d);
        });
    if (!StatusOk(status))
        ShowError(QStringLiteral("Error while starting to grasp: ") + StatusText(status), this);
}

void TMainWin::btnReleaseClick() {
    const float width = static_cast<float>(edReleasePos->Value());
    const float speed = static_cast<float>(edReleaseSpeed->Value());
    const TStat status =
        FGripper->ReleasePart(width, speed, [this](auto* s, auto id, auto st, const auto& d) {
            MotionCommandFinished(s, id, st, d);
        });
    if (!StatusOk(status))
        ShowError(QStringLiteral("Error while starting to release: ") + StatusText(status), this);
}

void TMainWin::btnStopClick() {
    const TStat status = FGripper->Stop();
    if (!StatusOk(status))
        ShowError(QStringLiteral("Error while stopping: ") + StatusText(status), this);
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
    FValueDialog->SetMinimum(force ? FMinForce : FMinAcceleration);
    FValueDialog->SetMaximum(force ? FMaxForce : FMaxAcceleration);
    FValueDialog->SetValue(force ? FForceLimit : FAcceleration);
    if (!FValueDialog->Execute())
        return;
    const auto value = static_cast<float>(FValueDialog->Value());
    const TStat status = force ? FGripper->SetForceLimit(value) : FGripper->SetAcceleration(value);
    if (!StatusOk(status)) {
        ShowError((force ? QStringLiteral("Error while setting force limit: ")
                         : QStringLiteral("Error while setting acceleration: ")) +
                      StatusText(status),
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
    AsyncLog->appendPlainText(QStringLiteral("Command %1 finished: %2.")
                                  .arg(CommandName(static_cast<std::uint8_t>(id)),
                                       StatusText(static_cast<std::uint8_t>(status & 0xFF))));
}
