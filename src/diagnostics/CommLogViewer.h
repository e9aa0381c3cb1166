// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "diagnostics/CommLogForm.h"

// The log viewer for saved files: a log window of its own over one saved file, read only,
// with the search, filters, conversions, time stamps and counters of the live log.
class TLogViewer : public TCommLog {
    Q_OBJECT
public:
    // Null when the file could not be read; `error` then says why.
    static TLogViewer* Open(const QString& path, QString& error, QWidget* parent = nullptr);

    const QString& FileName() const { return FFileName; }

private:
    explicit TLogViewer(QString path, QWidget* parent);

    QString FFileName;
};
