// SPDX-License-Identifier: Apache-2.0
#include "ui/MainForm.h"

#include "ui/MainFormShared.h"

#include "devices/DeviceComponent.h"
#include "diagnostics/CustomCmdForm.h"
#include "diagnostics/PlotForm.h"
#include "engine/CommandComponent.h"
#include "engine/MorvForm.h"
#include "protocol/Constants.h"
#include "protocol/HexText.h"
#include "widgets/FloatEdit.h"
#include "widgets/MessageBoxes.h"
#include "widgets/RollPanel.h"
#include "widgets/TrackCoupling.h"

#include <QAction>
#include <QCheckBox>
#include <QLabel>
#include <QMap>
#include <QMenu>
#include <QPointer>
#include <QPushButton>
#include <QScrollArea>
#include <QSlider>
#include <QTimer>

#include <algorithm>

using namespace mainwin;

namespace {
const QString ConnectionErrorText = QStringLiteral(
    "A Connection Error occurred or the connection to the device was interrupted.\nThis is "
    "likely to happen if no cable is connected or some settings are not correct.\nPlease "
    "check cable and communication settings and try to connect again.");

// Shown for an entry the gripper could not tell us.
void ShowReadValue(QLabel* label, TStat status, const QString& text) {
    label->setText(status == E_SUCCESS ? text : NotAvailable);
}

// Which transport, where it tried to reach the gripper, and why it failed, for after a fixed
// text.
QString DeviceDetail(const TDevice& device) {
    const QString address = device.Address();
    const QString cause = device.LastErrorText();
    return QStringLiteral("\nTransport: ") + device.DisplayName() +
           (address.isEmpty() ? QString() : QStringLiteral(", address: ") + address) +
           (cause.isEmpty() ? QString() : QStringLiteral("\nCause: %1.").arg(cause));
}

// A default the gripper's ranges do not allow is moved to the nearest value they do.
double Clamped(long double value, double minimum, double maximum) {
    const double v = double(RoundHalfEven(value));
    return minimum <= maximum ? std::clamp(v, minimum, maximum) : v;
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Connection states

void TMainWin::SetConnectedState(bool on) {
    EnableChildControls(sbCommands->widget(), on);
    btnEmergencyStop->setEnabled(on);
    EnableMenuItems(Commands1, true);
    if (!on) {
        lbSystemstate->setText(NotAvailable);
        lbGraspingState->setText(NotAvailable);
        lbPosition->setText(NotAvailable);
        ShowStateFlags(0);
        FPlot->SetConnected(false);
    }
    FCommandEditor->SetConnected(on);
    FInitialized = on;
    UpdateLinkLine();
}

void TMainWin::EnableChildControls(QWidget* container, bool on) {
    const auto children = container->findChildren<QWidget*>();
    for (QWidget* w : children)
        w->setEnabled(on);
}

void TMainWin::EnableMenuItems(QMenu* menu, bool on) {
    const auto actions = menu->actions();
    for (QAction* a : actions) {
        a->setEnabled(on);
        if (a->menu())
            EnableMenuItems(a->menu(), on);
    }
}

void TMainWin::Connect1Click() {
    // Afterwards only the transport that was tried can have a cause to tell.
    TCommand* command = FGripper->Command();
    for (int i = 0; i < command->DeviceCount(); ++i)
        if (TDevice* device = command->Devices(i))
            device->ForgetLastError();
    const TStat status = FGripper->Connect();
    if (status == E_SUCCESS) {
        // Until the transport reports the connection usable, Disconnect gives the attempt up.
        lbConnecting->setText(QStringLiteral("Connecting…"));
        Disconnect1->setEnabled(true);
        UpdateLinkLine();
        return;
    }
    // The operator cancelled a dialog: nothing went wrong, so nothing is shown.
    if (status != E_CMD_ABORTED) {
        QString text = QStringLiteral("Cannot connect to target: %1").arg(StatusText(status));
        for (int i = 0; i < command->DeviceCount(); ++i) {
            const TDevice* device = command->Devices(i);
            if (device && !device->LastErrorText().isEmpty()) {
                text += DeviceDetail(*device);
                break;
            }
        }
        ShowError(text, this);
    }
    Connect1->setEnabled(true);
}

void TMainWin::GripperConnected() {
    lbConnecting->clear();
    ShowReadoutsStale(false);
    UpdateLinkLine();
    FPlot->SetConnected(true);
    Connect1->setEnabled(false);
    Disconnect1->setEnabled(true);
    Initialize1->setEnabled(manualinit1->isChecked());
    if (!manualinit1->isChecked())
        Initialize1Click();
}

void TMainWin::Initialize1Click() {
    Initialize1->setEnabled(false);
    TSystemLimits limits{};
    const TStat status = FGripper->GetSystemLimits(limits);
    if (status != E_SUCCESS) {
        const QString why = LimitsFailureDetail();
        Disconnect1Click();
        ShowError(QStringLiteral("Unable to retrieve gripper limits.\r\nPlease try again by "
                                 "selecting \"Gripper|Connect\" from the menu.") +
                      why,
                  this);
    } else {
        SetConnectedState(true);
        // Read before the new ranges apply, which put the minimum in place of a value outside.
        QMap<const TFloatEdit*, double> kept;
        for (const TEditPair& pair : FPairs)
            if (IsKeptTarget(pair.Edit))
                if (const auto v =
                        TFloatEdit::ReadFloat(pair.Edit->text(), pair.Edit->DecSeparator()))
                    kept.insert(pair.Edit, double(*v));
        FMinAcceleration = limits.MinAcceleration;
        FMaxAcceleration = limits.MaxAcceleration;
        FMinForce = limits.MinForce;
        FMaxForce = limits.MaxForce;
        const QString mm = QStringLiteral("mm");
        const QString mms = QStringLiteral("mm/s");
        SetEditRange(pnGrasp->PositionEdit(), mm, 0, limits.Stroke);
        SetEditRange(pnGrasp->SpeedEdit(), mms, limits.MinSpeed, limits.MaxSpeed);
        SetEditRange(pnRelease->PositionEdit(), mm, 0, limits.Stroke);
        SetEditRange(pnRelease->SpeedEdit(), mms, limits.MinSpeed, limits.MaxSpeed);
        SetEditRange(pnGoto->PositionEdit(), mm, 0, limits.Stroke);
        SetEditRange(pnGoto->SpeedEdit(), mms, limits.MinSpeed, limits.MaxSpeed);

        const TStat acc = FGripper->GetAcceleration(FAcceleration);
        const TStat force = FGripper->GetForceLimit(FForceLimit);
        ShowReadValue(lbAcc, acc, Fixed(FAcceleration, 0) + QStringLiteral(" mm/s²"));
        ShowReadValue(lbForce, force, Fixed(FForceLimit, 1) + QStringLiteral(" N"));

        const long double stroke = limits.Stroke;
        const long double speedSum = static_cast<long double>(limits.MinSpeed) + limits.MaxSpeed;
        const double vMin = limits.MinSpeed;
        const double vMax = limits.MaxSpeed;
        // The operator's value where there is one, else the default for this gripper.
        const auto set = [&](TFloatEdit* edit, long double byDefault, double lo, double hi) {
            const auto it = kept.constFind(edit);
            // A default is not the operator's choice: the next gripper gets its own.
            KeepTarget(edit, it != kept.constEnd());
            SetEditValue(edit, it == kept.constEnd() ? Clamped(byDefault, lo, hi)
                               : lo <= hi            ? std::clamp(*it, lo, hi)
                                                     : *it);
        };
        set(pnGrasp->PositionEdit(), stroke / 3, 0.0, limits.Stroke);
        set(pnRelease->PositionEdit(), stroke / 3 * 2, 0.0, limits.Stroke);
        set(pnGoto->PositionEdit(), stroke / 2, 0.0, limits.Stroke);
        set(pnGrasp->SpeedEdit(), std::min(speedSum / 2, 50.0L), vMin, vMax);
        set(pnRelease->SpeedEdit(), speedSum / 3 * 2, vMin, vMax);
        set(pnGoto->SpeedEdit(), std::min(speedSum / 2, 50.0L), vMin, vMax);
    }
    FGripper->GetSystemState(true, 50, true);
    FGripper->GetGraspingState(true, 50, true);
    FGripper->GetPosition(true, 100, true);
}

void TMainWin::SetEditRange(TFloatEdit* edit, const QString& unit, double minimum, double maximum) {
    edit->SetMinValue(minimum);
    edit->SetMaxValue(maximum);
    if (!edit->IsValid()) {
        edit->setFocus();
        edit->SetValue(minimum);
    }
    SetHint(
        edit,
        QStringLiteral("Input range: %1 to %2 %3").arg(Fixed(minimum, 2), Fixed(maximum, 2), unit));
}

void TMainWin::SetEditValue(TFloatEdit* edit, double value) {
    edit->setFocus();
    edit->clear();
    edit->SetValue(value);
}

void TMainWin::Disconnect1Click() {
    // A pending attempt counts too: it is attached but not connected yet; so do the attempts
    // to reconnect a lost link.
    if (!FGripper->IsConnected() && !FGripper->Command()->AttachedDevice() &&
        FGripper->ReconnectAttempt() == 0)
        return;
    FDisconnecting = true;
    FGripper->Disconnect();
    FDisconnecting = false;
    // A cancelled attempt closed no connection, so no disconnected notification came.
    lbConnecting->clear();
    Connect1->setEnabled(true);
    Disconnect1->setEnabled(false);
    Initialize1->setEnabled(false);
    UpdateLinkLine();
}

void TMainWin::GripperDisconnected() {
    lbConnecting->clear();
    Connect1->setEnabled(true);
    Disconnect1->setEnabled(false);
    Initialize1->setEnabled(false);
    SetConnectedState(false);
    CloseOpenMotions();
    // The gripper went away without being asked to (its end closed the connection): that is
    // an interrupted connection, and the operator is told so.
    if (FDisconnecting)
        return;
    // The closed transport stays attached until let go, and the window would go on calling it
    // connecting. Let go from the event loop: a transport replaced by the next connect reports
    // its close from inside that connect, which must not be cut short.
    const QPointer<TDevice> closed = FGripper->Command()->AttachedDevice();
    QTimer::singleShot(0, this, [this, closed] {
        if (closed && FGripper->Command()->AttachedDevice() == closed && !closed->IsOpen() &&
            closed->State() == TDevice::TState::Unconnected && FGripper->ReconnectAttempt() == 0)
            Disconnect1Click();
    });
    ShowError(ConnectionErrorMessage(), this);
}

void TMainWin::ConnectionError() {
    CloseOpenMotions();
    ShowError(ConnectionErrorMessage(), this);
    Disconnect1Click();
    Connect1->setEnabled(true);
    Disconnect1->setEnabled(false);
    Initialize1->setEnabled(false);
    SetConnectedState(false);
}

QString TMainWin::LimitsFailureDetail() const {
    const TExchangeOutcome& o = FGripper->LastOutcome();
    const TDevice* device = FGripper->Command()->AttachedDevice();
    const QString where =
        device ? QStringLiteral(" (%1%2)").arg(device->DisplayName(),
                                               device->Address().isEmpty()
                                                   ? QString()
                                                   : QStringLiteral(", ") + device->Address())
               : QString();
    switch (o.Kind) {
    case TOutcomeKind::NoReply:
        return QStringLiteral("\r\nNo answer from the gripper within 3 s%1.").arg(where);
    case TOutcomeKind::LinkClosed:
        return QStringLiteral("\r\nThe connection closed while waiting for the answer%1.")
            .arg(where);
    case TOutcomeKind::NotSent:
        return o.SendStatus == E_NOT_OPENED
                   ? QStringLiteral("\r\nNot connected.")
                   : QStringLiteral("\r\nThe request could not be sent%1: %2.")
                         .arg(where, StatusText(o.SendStatus));
    case TOutcomeKind::Replied:
        return o.HasStatus
                   ? QStringLiteral("\r\nThe gripper answered: %1.").arg(StatusText(o.Status()))
                   : QStringLiteral("\r\nThe gripper's answer was too short%1.").arg(where);
    }
    return {};
}

QString TMainWin::ConnectionErrorMessage() const {
    const TDevice* device = FGripper->Command()->AttachedDevice();
    return device ? ConnectionErrorText + DeviceDetail(*device) : ConnectionErrorText;
}

void TMainWin::SystemStateChanged() {
    const std::uint32_t s = FGripper->SystemState();
    lbSystemstate->setText(HexDWord(s));
    ShowStateFlags(s);
    FPlot->AddSystemState(s);
    btnEmergencyStop->setChecked((s & SF_FAST_STOP) != 0);
    const auto signedState = static_cast<std::int32_t>(s);
    if (FLastSystemState >= 0 &&
        !((FLastSystemState & SF_REFERENCED) && (signedState & SF_REFERENCED)) &&
        !FPositionRequested) {
        // From the event loop, one at a time: asked from inside another exchange's wait, each
        // update would nest one more exchange.
        FPositionRequested = true;
        FGripper->CallWhenIdle([this] {
            FGripper->GetPosition(true, 100, true);
            FPositionRequested = false;
        });
    }
    FLastSystemState = signedState;
}

void TMainWin::GraspingStateChanged() {
    lbGraspingState->setText(GraspingStateText(FGripper->GraspingState()));
    FPlot->AddGraspingState(FGripper->GraspingState());
}

void TMainWin::PositionChanged() {
    lbPosition->setText(Fixed(FGripper->Position(), 2) + QStringLiteral(" mm"));
    FPlot->AddPosition(FGripper->Position());
}

void TMainWin::CreateStateFlagBoxes(int left, int top, int width, int step) {
    // The design width was made for a narrower font; a caption must never be cut off, so the
    // boxes (and the right pane) grow when this platform's font needs more room.
    int widest = width;
    for (const TSysflagDescr& d : SysflagDescr) {
        QCheckBox probe(QString::fromLatin1(d.Descr));
        probe.setFont(RollPanel1->font());
        widest = std::max(widest, probe.sizeHint().width());
    }
    if (widest > width) {
        pnRight->setFixedWidth(pnRight->maximumWidth() + widest - width);
        width = widest;
    }
    for (std::size_t i = 0; i < SysflagDescr.size(); ++i) {
        auto* box = new QCheckBox(QString::fromLatin1(SysflagDescr[i].Descr), RollPanel1);
        box->setObjectName(QStringLiteral("cbStateFlag%1").arg(i));
        box->setProperty("Tag", QVariant::fromValue<quint32>(SysflagDescr[i].Flag));
        box->setGeometry(left, top + step * int(i), width, step);
        // Read-only: the gripper sets them, the operator cannot.
        box->setAttribute(Qt::WA_TransparentForMouseEvents);
        box->setFocusPolicy(Qt::NoFocus);
        box->show();
        FStateBoxes.append(box);
    }
}

void TMainWin::ShowStateFlags(std::uint32_t state) {
    // The boxes were made in the table's order; looking their masks up by property name cost
    // more than all else an update does.
    qsizetype i = 0;
    for (const TSysflagDescr& d : SysflagDescr) {
        if (i == FStateBoxes.size())
            break;
        FStateBoxes[i++]->setChecked(static_cast<std::int32_t>(state & d.Flag) > 0);
    }
}
