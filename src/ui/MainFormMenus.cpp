// SPDX-License-Identifier: Apache-2.0
#include "ui/MainForm.h"

#include "ui/MainFormShared.h"

#include "widgets/MessageBoxes.h"

#include <QAction>
#include <QKeySequence>
#include <QMenu>
#include <QMenuBar>

using namespace mainwin;

// ---------------------------------------------------------------------------------------------
// Menus

void TMainWin::BuildMenus() {
    auto* bar = menuBar();
    bar->setObjectName(QStringLiteral("MainMenu1"));
    auto entry = [](QMenu* menu, const QString& name, const QString& text, const QString& hint,
                    QKeySequence key = {}) {
        auto* a = menu->addAction(text);
        a->setObjectName(name);
        a->setStatusTip(hint);
        if (!key.isEmpty())
            a->setShortcut(key);
        return a;
    };

    Gripper1 = bar->addMenu(QStringLiteral("&Gripper"));
    Gripper1->setObjectName(QStringLiteral("Gripper1"));
    Connect1 = entry(Gripper1, QStringLiteral("Connect1"), QStringLiteral("&Connect"),
                     QStringLiteral("Connect to a device"), Qt::Key_F2);
    Initialize1 = entry(Gripper1, QStringLiteral("Initialize1"), QStringLiteral("&Initialize"),
                        QStringLiteral("Initialize the connected device manually"), Qt::Key_F3);
    Disconnect1 =
        entry(Gripper1, QStringLiteral("Disconnect1"), QStringLiteral("Disconnect"),
              QStringLiteral("Disconnect from the currently connected device"), Qt::Key_F4);
    Initialize1->setEnabled(false);
    Disconnect1->setEnabled(false);
    Gripper1->addSeparator();
    Quit1 = entry(Gripper1, QStringLiteral("Quit1"), QStringLiteral("&Quit"),
                  QStringLiteral("Close the program"), QKeySequence(Qt::CTRL | Qt::Key_Q));
    Quit1->setMenuRole(QAction::QuitRole);

    Commands1 = bar->addMenu(QStringLiteral("&Commands"));
    Commands1->setObjectName(QStringLiteral("Commands1"));
    GetSystemInfo1 =
        entry(Commands1, QStringLiteral("GetSystemInfo1"), QStringLiteral("Get System &Info"),
              QStringLiteral("Outputs some system information"));
    GetSystemLimits1 =
        entry(Commands1, QStringLiteral("GetSystemLimits1"), QStringLiteral("Get System &Limits"),
              QStringLiteral("Outputs the system limits"));
    Commands1->addSeparator();
    GetGraspingStatistics1 = entry(Commands1, QStringLiteral("GetGraspingStatistics1"),
                                   QStringLiteral("Get Grasping &Statistics"),
                                   QStringLiteral("Outputs the current grasping statistics"));
    Commands1->addSeparator();
    Homing1 = entry(Commands1, QStringLiteral("Homing1"), QStringLiteral("&Homing"),
                    QStringLiteral("Executes a homing sequence"));
    FastStopAcknowledge1 =
        entry(Commands1, QStringLiteral("FastStopAcknowledge1"),
              QStringLiteral("&Acknowledge a Fast Stop"),
              QStringLiteral("Acknowledge a previously issued FAST STOP command"));
    Commands1->addSeparator();
    CustomCommands1 =
        entry(Commands1, QStringLiteral("CustomCommands1"), QStringLiteral("&Command Editor..."),
              QStringLiteral("Run the custom command editor"), Qt::Key_F5);
    CustomCommands1->setCheckable(true);

    View1 = bar->addMenu(QStringLiteral("&View"));
    View1->setObjectName(QStringLiteral("View1"));
    Commandlog1 = entry(View1, QStringLiteral("Commandlog1"), QStringLiteral("&Command log"),
                        QStringLiteral("Display incoming and outgoing command data"));
    Commandlog1->setCheckable(true);
    Plot1 =
        entry(View1, QStringLiteral("Plot1"), QStringLiteral("&Plot"),
              QStringLiteral("Plot position, grasping state and state flags of the last minute"),
              Qt::Key_F6);
    Plot1->setCheckable(true);

    Options1 = bar->addMenu(QStringLiteral("&Options"));
    Options1->setObjectName(QStringLiteral("Options1"));
    manualinit1 =
        entry(Options1, QStringLiteral("manualinit1"), QStringLiteral("initialize manually"),
              QStringLiteral("Set this option, if you *don't* want the gripper to be "
                             "initialized automatically when connecting"));
    manualinit1->setCheckable(true);
    Reconnect1 =
        entry(Options1, QStringLiteral("Reconnect1"), QStringLiteral("reconnect automatically"),
              QStringLiteral("Set this option to have a lost connection opened again "
                             "with the same settings, without asking"));
    Reconnect1->setCheckable(true);
    // A checkable entry flips its own check when triggered.

    Help1 = bar->addMenu(QStringLiteral("&Help"));
    Help1->setObjectName(QStringLiteral("Help1"));
    KeyboardShortcuts1 =
        entry(Help1, QStringLiteral("KeyboardShortcuts1"), QStringLiteral("&Keyboard Shortcuts..."),
              QStringLiteral("Lists every key of the program, the Fast Stop key among them"));
    About1 = entry(Help1, QStringLiteral("About1"), QStringLiteral("&About Karo Commander..."),
                   QStringLiteral("Version, toolkit and licence of this program"));
    About1->setMenuRole(QAction::AboutRole);
}

QString TMainWin::AboutText() {
    return QStringLiteral("Karo Commander%1\n"
                          "Operates and diagnoses one Karo servo-electric gripper over RS232, "
                          "CAN, UDP or TCP.\n\n"
                          "Built with Qt %2, running on Qt %3.\n"
                          "Licence: %4\n\n"
                          "No gripper at hand? Start the simulator karo-sim (for example "
                          "\"karo-sim --tcp 11000\") and connect to it over Ethernet/TCP.")
        .arg(VersionText, QStringLiteral(QT_VERSION_STR), QString::fromLatin1(qVersion()),
             LicenceText);
}

void TMainWin::About1Click() {
    ShowInformation(AboutText(), this);
}
