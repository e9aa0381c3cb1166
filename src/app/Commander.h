// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "devices/IniFile.h"
#include "diagnostics/CommLogForm.h"
#include "dialogs/DialogPrompts.h"
#include "engine/MorvForm.h"
#include "ui/MainForm.h"

#include <memory>

// The Commander's parts, built once and handed to the window. Members go in reverse order, so
// the window, and the command set it owns, goes before the command log and the prompts its
// transports report to.
struct TCommander {
    std::unique_ptr<TDialogPrompts> Prompts = std::make_unique<TDialogPrompts>();
    // The one command log of the program, created hidden; it records while hidden.
    std::unique_ptr<TCommLog> CommandLog = MakeCommandLog();
    std::unique_ptr<TMainWin> Window = std::make_unique<TMainWin>(
        TMainWinParts{std::make_unique<TMorv>(nullptr), Prompts.get(), CommandLog.get()});

    // The log keeps its options in the program's settings file; its saved files name the link.
    bool LogBound = BindCommandLog(*CommandLog, *Window);

    TMainWin& Win() const { return *Window; }

private:
    static bool BindCommandLog(TCommLog& log, TMainWin& win) {
        log.UseSettings(
            std::make_unique<TIniFile>(SettingsFilePath(QStringLiteral("settings.ini"))));
        log.LinkDescription = [&win] {
            const TDevice* d = win.Gripper()->Command()->AttachedDevice();
            return d ? (d->DisplayName() + QLatin1Char(' ') + d->Address()).trimmed() : QString();
        };
        return true;
    }
    static std::unique_ptr<TCommLog> MakeCommandLog() {
        auto log = std::make_unique<TCommLog>();
        // Closing the main window ends the program, whatever else is open.
        log->setAttribute(Qt::WA_QuitOnClose, false);
        return log;
    }
};
