// SPDX-License-Identifier: Apache-2.0
#include "widgets/MessageBoxes.h"

#include <QApplication>
#include <QMessageBox>

namespace {
TMessageBoxHook& Hook() {
    static TMessageBoxHook hook;
    return hook;
}
} // namespace

void ShowMessageBox(TMsgKind kind, const QString& text, QWidget* parent) {
    if (Hook()) {
        Hook()(kind, text);
        return;
    }
    if (!parent)
        parent = QApplication::activeWindow();
    const QString title = QApplication::applicationDisplayName();
    switch (kind) {
    case TMsgKind::Error:
        QMessageBox::critical(parent, title, text);
        break;
    case TMsgKind::Warning:
        QMessageBox::warning(parent, title, text);
        break;
    case TMsgKind::Information:
        QMessageBox::information(parent, title, text);
        break;
    }
}

TMessageBoxHook SetMessageBoxHook(TMessageBoxHook hook) {
    TMessageBoxHook previous = std::move(Hook());
    Hook() = std::move(hook);
    return previous;
}
