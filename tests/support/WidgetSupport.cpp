// SPDX-License-Identifier: Apache-2.0
#include "WidgetSupport.h"

#include "dialogs/DeviceDialog.h"
#include "dialogs/DialogPrompts.h"
#include "engine/CommandComponent.h"

#include <QApplication>
#include <QComboBox>
#include <QPushButton>
#include <QTimer>
#include <QWidget>

MessageRecorder::MessageRecorder() {
    FPrevious = SetMessageBoxHook([this](TMsgKind kind, const QString& text) {
        Boxes.append({kind, text});
    });
}

MessageRecorder::~MessageRecorder() {
    SetMessageBoxHook(std::move(FPrevious));
}

QStringList MessageRecorder::Texts() const {
    QStringList out;
    for (const auto& b : Boxes)
        out << b.second;
    return out;
}

QTimer* WhenModalWidget(std::function<bool(QWidget*)> matches, std::function<void(QWidget*)> act) {
    auto* poll = new QTimer(qApp);
    poll->setInterval(5);
    QObject::connect(poll, &QTimer::timeout, poll, [poll, matches, act] {
        QWidget* w = QApplication::activeModalWidget();
        if (!w || !w->isVisible() || !matches(w))
            return;
        poll->stop();
        poll->deleteLater();
        act(w);
    });
    poll->start();
    return poll;
}

QTimer* AnswerModal(const QString& name, std::function<void(QWidget*)> act) {
    return WhenModalWidget([name](QWidget* w) { return w->objectName() == name; }, std::move(act));
}

void AnswerDeviceDialog(int deviceIndex, bool confirm, const QString& port) {
    WhenModal<TDeviceDlg>([deviceIndex, confirm, port](TDeviceDlg* dlg) {
        auto* devices = dlg->findChild<QComboBox*>(QStringLiteral("cbDevice"));
        if (deviceIndex != devices->currentIndex()) {
            devices->setCurrentIndex(deviceIndex);
            Q_EMIT devices->activated(deviceIndex);
        }
        auto* ports = dlg->findChild<QComboBox*>(QStringLiteral("cbDevicePort"));
        if (!port.isEmpty() && ports->findText(port) >= 0)
            ports->setCurrentIndex(ports->findText(port));
        dlg->findChild<QPushButton*>(confirm ? QStringLiteral("btnConnect")
                                             : QStringLiteral("btnCancel"))
            ->click();
    });
}

void InstallDialogPrompts(TCommand* cmd) {
    struct Holder : QObject {
        using QObject::QObject;
        TDialogPrompts Prompts;
    };
    auto* holder = new Holder(cmd);
    cmd->SetPrompts(&holder->Prompts);
}
