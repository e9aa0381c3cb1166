// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <QString>

#include <functional>

class QWidget;

// Every error and information box of the program goes through here, so tests can record boxes
// instead of blocking on them.
enum class TMsgKind { Error, Warning, Information };

void ShowMessageBox(TMsgKind kind, const QString& text, QWidget* parent = nullptr);
inline void ShowError(const QString& text, QWidget* parent = nullptr) {
    ShowMessageBox(TMsgKind::Error, text, parent);
}
inline void ShowInformation(const QString& text, QWidget* parent = nullptr) {
    ShowMessageBox(TMsgKind::Information, text, parent);
}

using TMessageBoxHook = std::function<void(TMsgKind kind, const QString& text)>;
// Replaces the real boxes (an empty hook restores them); returns the previous hook.
TMessageBoxHook SetMessageBoxHook(TMessageBoxHook hook);
