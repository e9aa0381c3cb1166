// SPDX-License-Identifier: Apache-2.0
#pragma once

// What the files of the main window share; not for use outside them.

#include "engine/ExchangeOutcome.h"
#include "protocol/Errors.h"
#include "widgets/MessageBoxes.h"

#include <QColor>
#include <QLocale>
#include <QString>
#include <QWidget>

#include <cstdint>
#include <exception>

namespace mainwin {

inline const QString NotAvailable = QStringLiteral("[n/a]");
inline const QString VersionText = QStringLiteral(" " KARO_VERSION);
inline const QString LicenceText = QStringLiteral("Apache License 2.0");

// Numbers for the operator: fixed decimals, the locale's separator, no digit grouping.
inline QString Fixed(double value, int decimals) {
    QLocale locale;
    locale.setNumberOptions(QLocale::OmitGroupSeparator);
    return locale.toString(value, 'f', decimals);
}

// Runs an operator's action. An error it raises is shown here, as the application would show
// it, so that it never unwinds through the toolkit's event delivery.
template <typename F> auto Guarded(F action) {
    return [action] {
        try {
            action();
        } catch (const EKaroError& e) {
            ShowError(e.Message());
        } catch (const std::exception& e) {
            ShowError(QString::fromLocal8Bit(e.what()));
        }
    };
}

// What a command that could not reach the gripper ran into, for after the action's prefix;
// empty when it did reach it.
inline QString NotConnectedText(const TExchangeOutcome& outcome) {
    if (outcome.Kind == TOutcomeKind::NotSent && outcome.SendStatus == E_NOT_OPENED)
        return QStringLiteral("Not connected.");
    if (outcome.Kind == TOutcomeKind::LinkClosed)
        return QStringLiteral("Not connected: the connection closed before the answer.");
    return {};
}

// An edit whose value the operator typed or dragged, or the settings brought back: kept by
// every initialization, within the gripper's ranges, instead of the defaults.
inline bool IsKeptTarget(const QWidget* edit) {
    return edit->property("KeptTarget").toBool();
}
inline void KeepTarget(QWidget* edit, bool keep = true) {
    edit->setProperty("KeptTarget", keep);
}

inline bool StatusOk(std::uint8_t status) {
    return status == 0 || status == 26; // success, or accepted with its result to follow
}

// The colours the gripper's maker uses for its captions (values stored as 0x00BBGGRR).
inline QColor FromBgr(int value) {
    return QColor(value & 0xFF, (value >> 8) & 0xFF, (value >> 16) & 0xFF);
}

inline void SetHint(QWidget* w, const QString& hint) {
    w->setToolTip(hint);
    w->setStatusTip(hint);
}

// A window keeps its own focus widget while it is not active, like the platform's controls
// remember theirs; the coupling of edits and track bars goes by that.
inline bool HasInputFocus(const QWidget* w) {
    return w->window()->focusWidget() == w;
}

} // namespace mainwin
