// SPDX-License-Identifier: Apache-2.0
#include "ui/MainForm.h"

#include "ui/MainFormShared.h"

#include "engine/MorvForm.h"
#include "protocol/Constants.h"
#include "ui/ListBoxDialog.h"
#include "widgets/MessageBoxes.h"

#include <QPlainTextEdit>
#include <QPushButton>

using namespace mainwin;

// ---------------------------------------------------------------------------------------------
// Information and maintenance

void TMainWin::GetSystemInfo1Click() {
    TSystemInfo info{};
    const TStat status = FGripper->GetSystemInfo(info);
    if (status != E_SUCCESS) {
        ShowError(FailureText(QStringLiteral("Cannot read system information: "), status), this);
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
    const TStat status = FGripper->GetSystemLimits(limits);
    if (status != E_SUCCESS) {
        ShowError(FailureText(QStringLiteral("Cannot read gripper system limits: "), status), this);
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
    const TStat status = FGripper->GetGraspingStatistics(false, stats);
    if (status != E_SUCCESS) {
        ShowError(FailureText(QStringLiteral("Cannot read grasping statistics: "), status), this);
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

void TMainWin::FastStopAcknowledge1Click() {
    const TStat status = FGripper->AcknowledgeFastStop();
    if (status == E_SUCCESS) {
        btnEmergencyStop->setChecked(false);
        AsyncLog->appendPlainText(QStringLiteral("Fast stop acknowledged."));
    } else
        ShowError(FailureText(QStringLiteral("Error while acknowledging the fast stop: "), status),
                  this);
}
