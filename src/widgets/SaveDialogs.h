// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <QDateTime>
#include <QString>

#include <functional>

class QWidget;

// Where a save dialog starts: the folder of the last file saved (the home folder before any)
// and a name built from `stem`, the date and time, and `suffix`:
// "<folder>/plot-2026-12-09_063015.png".
QString SaveStartPath(const QString& stem, const QString& suffix,
                      const QDateTime& when = QDateTime::currentDateTime());
QString LastSaveFolder();
// The folder of `filePath` becomes the next dialog's start; an empty path changes nothing.
void RememberSaveFolder(const QString& filePath);
// Sets the start folder itself, as restored from the settings; a missing folder is ignored.
void SetLastSaveFolder(const QString& folder);

// Asks for a file name to save to, starting at SaveStartPath, and remembers its folder. Empty
// when the operator cancelled.
QString AskSaveFile(QWidget* parent, const QString& caption, const QString& stem,
                    const QString& suffix, const QString& filter);
// Replaces the dialog (tests): handed the start path, answers the chosen name.
using TSaveDialogHook = std::function<QString(const QString& startPath)>;
TSaveDialogHook SetSaveDialogHook(TSaveDialogHook hook);
