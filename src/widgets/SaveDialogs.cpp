// SPDX-License-Identifier: Apache-2.0
#include "widgets/SaveDialogs.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>

#include <utility>

namespace {
QString& Folder() {
    static QString folder;
    return folder;
}
TSaveDialogHook& Hook() {
    static TSaveDialogHook hook;
    return hook;
}
} // namespace

QString LastSaveFolder() {
    if (Folder().isEmpty() || !QFileInfo(Folder()).isDir())
        return QDir::homePath();
    return Folder();
}

void RememberSaveFolder(const QString& filePath) {
    if (!filePath.isEmpty())
        Folder() = QFileInfo(filePath).absolutePath();
}

void SetLastSaveFolder(const QString& folder) {
    if (!folder.isEmpty() && QFileInfo(folder).isDir())
        Folder() = QFileInfo(folder).absoluteFilePath();
}

QString SaveStartPath(const QString& stem, const QString& suffix, const QDateTime& when) {
    // No colons: they are not allowed in names on every file system a log is copied to.
    const QString name = stem + QLatin1Char('-') +
                         when.toString(QStringLiteral("yyyy-MM-dd_HHmmss")) + QLatin1Char('.') +
                         suffix;
    return QDir(LastSaveFolder()).filePath(name);
}

QString AskSaveFile(QWidget* parent, const QString& caption, const QString& stem,
                    const QString& suffix, const QString& filter) {
    const QString start = SaveStartPath(stem, suffix);
    const QString chosen =
        Hook() ? Hook()(start) : QFileDialog::getSaveFileName(parent, caption, start, filter);
    RememberSaveFolder(chosen);
    return chosen;
}

TSaveDialogHook SetSaveDialogHook(TSaveDialogHook hook) {
    return std::exchange(Hook(), std::move(hook));
}
