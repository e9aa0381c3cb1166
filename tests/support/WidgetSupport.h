// SPDX-License-Identifier: Apache-2.0
#pragma once

// What tests of the windows and dialogs use on top of TestSupport.h.

#include "TestSupport.h"
#include "widgets/MessageBoxes.h"

#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

#include <functional>
#include <type_traits>

class QTimer;
class QWidget;
class TCommand;

// Records message boxes instead of showing them.
class MessageRecorder {
public:
    MessageRecorder();
    ~MessageRecorder();
    MessageRecorder(const MessageRecorder&) = delete;
    MessageRecorder& operator=(const MessageRecorder&) = delete;

    QList<QPair<TMsgKind, QString>> Boxes;
    QStringList Texts() const;
    void clear() { Boxes.clear(); }

private:
    TMessageBoxHook FPrevious;
};

// Polls the event loop for a visible modal widget that `matches` and hands it to `act`, once.
// The timer belongs to the application and ends itself after acting; delete it to stop waiting.
QTimer* WhenModalWidget(std::function<bool(QWidget*)> matches, std::function<void(QWidget*)> act);

// Runs `fn` on the next modal dialog of type T once it is up. Polled rather than answered at
// once, since a dialog may open only after the work before it has waited for replies.
template <typename T = QWidget>
QTimer* WhenModal(std::type_identity_t<std::function<void(T*)>> fn) {
    return WhenModalWidget([](QWidget* w) { return qobject_cast<T*>(w) != nullptr; },
                           [fn](QWidget* w) { fn(qobject_cast<T*>(w)); });
}

// Runs `act` on the modal dialog named `name` as soon as it is up.
QTimer* AnswerModal(const QString& name, std::function<void(QWidget*)> act);

// Answers the next "Select an Interface" dialog from the event loop once it is shown modally:
// picks the transport at `deviceIndex` (as the operator would, so its port list is refilled),
// optionally the port `port` (ignored when empty or not listed), then presses "Connect", or
// "Abort" when `confirm` is false. Use it right before calling Connect.
void AnswerDeviceDialog(int deviceIndex, bool confirm = true, const QString& port = {});
// Makes the engine ask the window's dialogs, as the main window does, for as long as it lives.
void InstallDialogPrompts(TCommand* cmd);
