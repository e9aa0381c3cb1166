#include "ui/MainForm.h"

#include "ui/MainFormShared.h"

#include "engine/MorvForm.h"
#include "protocol/Constants.h"
#include "protocol/Tick.h"
#include "ui/ListBoxDialog.h"
#include "widgets/MessageBoxes.h"

#include <QPushButton>

using namespace mainwin;

// ---------------------------------------------------------------------------------------------
// Information and maintenance

void TMainWin::ShowReadOutError(const QString& prefix, std::uint8_t status, std::uint32_t sentAt) {
    ShowError(FailureText(prefix, static_cast<TStat>(status), sentAt), this);
}

void TMainWin::GetSystemInfo1Click() {
    TSystemInfo info{};
    const std::uint32_t sentAt = GetTickCount();
    const TStat status = FGripper->GetSystemInfo(info);
    if (status != E_SUCCESS) {
        ShowReadOutError(QStringLiteral("Cannot read system information: "), status, sentAt);
        return;
    }
    TListBoxDlg dlg(this);
    dlg.AddRow(QStringLiteral("Gripper type"), QStringLiteral("Morv 50"));
    // The serial number is unsigned on the wire; print it so.
    dlg.AddRow(QStringLiteral("Serial number"),
               QStringLiteral("%1").arg(quint32(info.SerialNumber), 8, 10, QLatin1Char('0')));
    dlg.AddRow(QStringLiteral("Hardware rev."), QString::number(info.HardwareRevision));
    dlg.AddRow(QStringLiteral("Firmware rev."), QString::number(info.FirmwareRevision));
    dlg.setWindowTitle(QStringLiteral("System Information"));
    dlg.ShowList();
}

void TMainWin::GetSystemLimits1Click() {
    TSystemLimits limits{};
    const std::uint32_t sentAt = GetTickCount();
    const TStat status = FGripper->GetSystemLimits(limits);
    if (status != E_SUCCESS) {
        ShowReadOutError(QStringLiteral("Cannot read gripper system limits: "), status, sentAt);
        return;
    }
    TListBoxDlg dlg(this);
    auto row = [&](const char* text, double value, const char* unit) {
        dlg.AddRow(QString::fromLatin1(text),
                   Fixed(value, 0) + QLatin1Char(' ') + QString::fromUtf8(unit));
    };
    row("Stroke", limits.Stroke, "mm");
    row("Minimum speed", limits.MinSpeed, "mm/s");
    row("Maximum speed", limits.MaxSpeed, "mm/s");
    row("Minimum acceleration", limits.MinAcceleration, "mm/s²");
    row("Maximum acceleration", limits.MaxAcceleration, "mm/s²");
    row("Minimum force", limits.MinForce, "N");
    row("Maximum force", limits.MaxForce, "N");
    dlg.setWindowTitle(QStringLiteral("Gripper System Limits"));
    dlg.ShowList();
}

void TMainWin::GetGraspingStatistics1Click() {
    TGraspingStatistics stats{};
    const std::uint32_t sentAt = GetTickCount();
    const TStat status = FGripper->GetGraspingStatistics(false, stats);
    if (status != E_SUCCESS) {
        ShowReadOutError(QStringLiteral("Cannot read grasping statistics: "), status, sentAt);
        return;
    }
    TListBoxDlg dlg(this);
    dlg.AddRow(QStringLiteral("Number of grasps"), QString::number(stats.NumberOfGrasps));
    dlg.AddRow(QStringLiteral("Number of not found parts"),
               QString::number(stats.NumberOfNotFoundParts));
    dlg.AddRow(QStringLiteral("Number of parts lost"), QString::number(stats.NumberOfPartsLost));
    dlg.setWindowTitle(QStringLiteral("Grasping Statistics"));
    dlg.ShowList();
}

void TMainWin::Homing1Click() {
    StartMotion(CMD_HOMING, QStringLiteral("Error while homing: "),
                [this](TAsyncResultEvent done) { return FGripper->Homing(0, done); });
}

void TMainWin::FastStopAcknowledge1Click() {
    const TStat status = FGripper->AcknowledgeFastStop();
    if (status == E_SUCCESS)
        btnEmergencyStop->setChecked(false);
    else
        ShowError(QStringLiteral("Error while acknowledging the fast stop: ") + StatusText(status),
                  this);
}
