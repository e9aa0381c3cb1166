// SPDX-License-Identifier: Apache-2.0
// TMainWin: the link's health, its loss and return, and the connection line.

#include "ui/MainForm.h"

#include "devices/DeviceComponent.h"
#include "devices/IniFile.h"
#include "engine/LinkTarget.h"
#include "engine/MorvForm.h"

#include <QAction>
#include <QCheckBox>
#include <QDateTime>
#include <QLabel>
#include <QPlainTextEdit>
#include <QStatusBar>

namespace {
const QString LinkSection = QStringLiteral("link");
const QString ReconnectKey = QStringLiteral("Reconnect");

QString Seconds(std::uint32_t ms) {
    return QString::number(ms / 1000);
}
} // namespace

void TMainWin::SetUpLink() {
    lbLinkState = new QLabel(StatusBar);
    lbLinkState->setObjectName(QStringLiteral("lbLinkState"));
    StatusBar->addPermanentWidget(lbLinkState);
    FGripper->SetLinkTimes(ReadLinkTimes(*FSettings));
    Reconnect1->setChecked(FSettings->ReadBool(LinkSection, ReconnectKey, false));
    FGripper->SetAutoReconnect(Reconnect1->isChecked());
    FGripper->OnLinkStale = [this](auto&&...) { LinkStale(); };
    FGripper->OnLinkFresh = [this](auto&&...) { LinkFresh(); };
    FGripper->OnLinkLost = [this](auto&&...) { LinkLost(); };
    FGripper->OnReconnecting = [this](auto&&...) {
        lbConnecting->setText(
            QStringLiteral("Reconnecting (attempt %1)").arg(FGripper->ReconnectAttempt()));
        UpdateLinkLine();
    };
    FGripper->OnLinkRestored = [this](auto&&...) {
        AsyncLog->appendPlainText(QStringLiteral("Connection restored: %1.")
                                      .arg(LinkPlaceText(*FGripper->Command()->LastTarget())));
    };
    UpdateLinkLine();
}

void TMainWin::Reconnect1Click() {
    // The entry has flipped its own check.
    FGripper->SetAutoReconnect(Reconnect1->isChecked());
    FSettings->WriteBool(LinkSection, ReconnectKey, Reconnect1->isChecked());
    if (!Reconnect1->isChecked() && !FGripper->IsConnected() &&
        !FGripper->Command()->AttachedDevice()) {
        lbConnecting->clear();
        Connect1->setEnabled(true);
        Disconnect1->setEnabled(false);
    }
    UpdateLinkLine();
}

void TMainWin::ShowReadoutsStale(bool stale) {
    // Disabled labels are drawn grey: a value that may be old must not look current.
    for (QWidget* w : {static_cast<QWidget*>(lbSystemstate), static_cast<QWidget*>(lbGraspingState),
                       static_cast<QWidget*>(lbPosition)})
        w->setEnabled(!stale);
    for (QCheckBox* box : FStateBoxes)
        box->setEnabled(!stale);
}

void TMainWin::LinkStale() {
    ShowReadoutsStale(true);
    lbConnecting->setText(
        QStringLiteral("No data from the gripper for %1 s").arg(Seconds(FGripper->LinkSilentMs())));
    UpdateLinkLine();
}

void TMainWin::LinkFresh() {
    ShowReadoutsStale(false);
    lbConnecting->clear();
    UpdateLinkLine();
}

void TMainWin::LinkLost() {
    const std::uint32_t silent = FGripper->LinkSilentMs();
    const QString why = silent >= FGripper->LinkTimes().LostAfterMs
                            ? QStringLiteral("no data for %1 s").arg(Seconds(silent))
                            : QStringLiteral("the link was closed or broke");
    const auto& target = FGripper->Command()->LastTarget();
    const QString text =
        QStringLiteral("Connection lost: %1%2")
            .arg(why, target ? QStringLiteral(" (%1)").arg(LinkPlaceText(*target)) : QString());
    AsyncLog->appendPlainText(text + QLatin1Char('.'));
    ShowReadoutsStale(false);
    SetConnectedState(false);
    CloseOpenMotions();
    Connect1->setEnabled(true);
    Initialize1->setEnabled(false);
    // While attempts run, Disconnect ends them.
    Disconnect1->setEnabled(FGripper->ReconnectAttempt() > 0);
    lbConnecting->setText(FGripper->ReconnectAttempt() > 0
                              ? QStringLiteral("%1; reconnecting (attempt %2)")
                                    .arg(text)
                                    .arg(FGripper->ReconnectAttempt())
                              : text);
    UpdateLinkLine();
}

QString TMainWin::LinkLineText() const {
    const TCommand* command = FGripper->Command();
    QString state;
    const bool connected = FGripper->IsConnected() && FGripper->ConnectedSinceMs() != 0;
    if (FGripper->ReconnectAttempt() > 0)
        state = QStringLiteral("Reconnecting (attempt %1)").arg(FGripper->ReconnectAttempt());
    else if (connected && FGripper->LinkHealth() == TLinkHealth::Stale)
        state = QStringLiteral("No data for %1 s").arg(Seconds(FGripper->LinkSilentMs()));
    else if (connected)
        state = FInitialized ? QStringLiteral("Initialized") : QStringLiteral("Connected");
    else if (command->AttachedDevice())
        state = QStringLiteral("Connecting");
    else
        state = QStringLiteral("Disconnected");
    QStringList parts;
    const bool placed = command->AttachedDevice() || FGripper->ReconnectAttempt() > 0;
    if (placed && command->LastTarget())
        parts << LinkPlaceText(*command->LastTarget());
    if (connected)
        parts << QStringLiteral("connected since %1")
                     .arg(QDateTime::fromMSecsSinceEpoch(FGripper->ConnectedSinceMs())
                              .toString(QStringLiteral("hh:mm:ss")));
    parts << state;
    return parts.join(QStringLiteral(" | "));
}

void TMainWin::UpdateLinkLine() {
    if (lbLinkState)
        lbLinkState->setText(LinkLineText());
}
