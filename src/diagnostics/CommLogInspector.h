// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "protocol/Packet.h"

#include <QStringList>
#include <QWidget>

class QPlainTextEdit;
class QPushButton;

// Every reading of the first bytes of a selection at once: one row per reading, with the
// little-endian and the big-endian value ("-" where too few bytes were marked).
struct TInspectorRow {
    QString Name;
    QString Little;
    QString Big;
};
QList<TInspectorRow> InspectBytes(const TByteArray& bytes);

// The log window's data inspector panel.
class TLogInspector : public QWidget {
    Q_OBJECT
public:
    explicit TLogInspector(QWidget* parent = nullptr);

    void Inspect(const TByteArray& bytes);
    const TByteArray& Bytes() const { return FBytes; }
    // The marked bytes as "48 69 0A" on the clipboard.
    void CopyHex() const;

    QPlainTextEdit* edInspector;
    QPushButton* btnCopyHex;

private:
    TByteArray FBytes;
    bool FShown = false; // FBytes are on display
};
