// SPDX-License-Identifier: Apache-2.0
#include "diagnostics/CommLogViewer.h"

#include "diagnostics/CommLogFile.h"

#include <QCheckBox>
#include <QFileInfo>

TLogViewer::TLogViewer(QString path, QWidget* parent)
    : TCommLog(parent), FFileName(std::move(path)) {
    setObjectName(QStringLiteral("LogViewer"));
    setWindowTitle(QStringLiteral("Communications log - ") + QFileInfo(FFileName).fileName());
    setAttribute(Qt::WA_DeleteOnClose);
    SetReadOnly();
}

TLogViewer* TLogViewer::Open(const QString& path, QString& error, QWidget* parent) {
    auto* viewer = new TLogViewer(path, parent);
    error = ReadSavedLog(path, *viewer);
    if (!error.isEmpty()) {
        delete viewer;
        return nullptr;
    }
    // The saved times are what the file is about.
    viewer->cbTimeStamps->setChecked(true);
    viewer->OnOptionsChanged();
    return viewer;
}
