// SPDX-License-Identifier: Apache-2.0
#include "MemoryDevice.h"
#include "WidgetSupport.h"
#include "dialogs/DeviceDialog.h"
#include "dialogs/DialogPrompts.h"
#include "engine/CommandComponent.h"

#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <functional>

namespace {
// Runs `inspect` on the dialog once it is shown modally, then closes it with `confirm`
// unless `inspect` closed it.
void WhileShown(std::function<void(TDeviceDlg*)> inspect, bool confirm) {
    WhenModal<TDeviceDlg>([inspect, confirm](TDeviceDlg* dlg) {
        inspect(dlg);
        if (!dlg->isVisible()) // closed by the inspection itself
            return;
        if (confirm)
            dlg->accept();
        else
            dlg->reject();
    });
}

QStringList Items(const QComboBox* box) {
    QStringList out;
    for (int i = 0; i < box->count(); ++i)
        out << box->itemText(i);
    return out;
}

struct Rig {
    TempSettingsDir settings;
    TDialogPrompts prompts;
    TCommand cmd{nullptr};
    TDeviceDlg dialog{&cmd};
    TMemoryDevice* serial =
        new TMemoryDevice(&cmd, QStringLiteral("uart"), QStringLiteral("Serial (RS232)"));
    TMemoryDevice* tcp =
        new TMemoryDevice(&cmd, QStringLiteral("tcp"), QStringLiteral("Ethernet/TCP"));
    TMemoryDevice* can = new TMemoryDevice(&cmd, QStringLiteral("can"), QStringLiteral("CAN-Bus"));
    Rig() {
        cmd.ClearDevices(); // only the in-memory transports below
        serial->Ports = {QStringLiteral("COM1"), QStringLiteral("COM3"), QStringLiteral("COM4")};
        tcp->Ports = {QStringLiteral("TCP")};
        cmd.AddDevice(serial);
        cmd.AddDevice(tcp);
        cmd.AddDevice(can);
        cmd.SetPrompts(&prompts);
    }
    TDeviceDlg* dlg() { return &dialog; }
    QComboBox* devices() { return dlg()->findChild<QComboBox*>(QStringLiteral("cbDevice")); }
    QComboBox* ports() { return dlg()->findChild<QComboBox*>(QStringLiteral("cbDevicePort")); }
};
} // namespace

class TestDeviceDialog : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void componentsAndLayout() {
        Rig rig;
        TDeviceDlg* dlg = rig.dlg();
        QCOMPARE(dlg->windowTitle(), QStringLiteral("Select an Interface"));
        auto* connectBtn = dlg->findChild<QPushButton*>(QStringLiteral("btnConnect"));
        auto* cancelBtn = dlg->findChild<QPushButton*>(QStringLiteral("btnCancel"));
        QVERIFY(connectBtn && cancelBtn);
        QCOMPARE(connectBtn->text(), QStringLiteral("Connect"));
        QCOMPARE(cancelBtn->text(), QStringLiteral("Abort"));
        QVERIFY(connectBtn->isDefault());
        QStringList labels;
        for (auto* l : dlg->findChildren<QLabel*>())
            labels << l->text();
        labels.sort();
        QCOMPARE(labels, (QStringList{QStringLiteral("Device:"), QStringLiteral("Port:")}));
        QVERIFY(!rig.devices()->isEditable());
        QVERIFY(!rig.ports()->isEditable());

        // Shown: the device list has the focus, the cancel button keeps mirroring the connect
        // button when the width changes, and Return confirms.
        QList<int> margins;
        bool focused = false;
        WhileShown(
            [&](TDeviceDlg* d) {
                // The window's own focus child: the application's focus follows only once the
                // window manager has activated the window, which is not ordered with the show.
                focused = d->focusWidget() == rig.devices();
                for (int w : {400, 300}) {
                    d->resize(w, d->height());
                    margins << d->width() - (cancelBtn->x() + cancelBtn->width());
                }
                QTest::keyClick(d, Qt::Key_Return);
            },
            false);
        QVERIFY(dlg->Execute()); // Return pressed "Connect" before the reject ran
        QVERIFY(focused);
        QCOMPARE(margins, (QList<int>{connectBtn->x(), connectBtn->x()}));
    }

    void listsTransportsAndStartsOnTheLastChoice() {
        Rig rig;
        QStringList seenDevices, seenPorts;
        WhileShown(
            [&](TDeviceDlg*) {
                seenDevices = Items(rig.devices());
                seenPorts = Items(rig.ports());
                // The operator picks the TCP transport: its ports replace the serial ones.
                rig.devices()->setCurrentIndex(1);
                Q_EMIT rig.devices()->activated(1);
            },
            true);
        QVERIFY(rig.dlg()->Execute());
        QCOMPARE(seenDevices,
                 (QStringList{QStringLiteral("Serial (RS232)"), QStringLiteral("Ethernet/TCP"),
                              QStringLiteral("CAN-Bus")}));
        QCOMPARE(seenPorts, (QStringList{QStringLiteral("COM1"), QStringLiteral("COM3"),
                                         QStringLiteral("COM4")}));
        QCOMPARE(rig.dlg()->DeviceIndex(), 1);
        QCOMPARE(rig.dlg()->PortName(), QStringLiteral("TCP"));

        // Next time it opens on that choice, also after a cancel and in a new dialog.
        rig.serial->Ports = {QStringLiteral("COM1"), QStringLiteral("COM3")};
        for (int run = 0; run < 2; ++run) {
            int index = -1;
            QString port;
            WhileShown(
                [&](TDeviceDlg* d) {
                    index = d->DeviceIndex();
                    port = d->PortName();
                },
                false);
            TDeviceDlg fresh{&rig.cmd};
            QVERIFY(!(run == 0 ? rig.dlg() : &fresh)->Execute());
            QCOMPARE(index, 1);
            QCOMPARE(port, QStringLiteral("TCP"));
        }
        // The port last used is picked again when its transport is the one that opens.
        WhileShown(
            [&](TDeviceDlg*) {
                rig.devices()->setCurrentIndex(0);
                Q_EMIT rig.devices()->activated(0);
                rig.ports()->setCurrentIndex(1);
            },
            true);
        QVERIFY(rig.dlg()->Execute());
        QString port;
        WhileShown([&](TDeviceDlg* d) { port = d->PortName(); }, false);
        QVERIFY(!rig.dlg()->Execute());
        QCOMPARE(port, QStringLiteral("COM3"));

        // A transport without ports: no port, empty name.
        rig.devices()->setCurrentIndex(2);
        rig.dlg()->cbDeviceChange();
        QCOMPARE(rig.ports()->count(), 0);
        QCOMPARE(rig.dlg()->PortName(), QString());
    }

    void portnamePreselectsIgnoringCase() {
        Rig rig;
        rig.settings.WriteFile(QStringLiteral("uart.cfg"), "[common]\nbaudrate=3\nPortname=com3\n");
        WhileShown([](TDeviceDlg*) {}, true);
        QVERIFY(rig.dlg()->Execute());
        QCOMPARE(rig.dlg()->PortName(), QStringLiteral("COM3"));

        rig.settings.WriteFile(QStringLiteral("uart.cfg"), "[Common]\nPortname=COM9\n");
        QFile::remove(rig.settings.FilePath(QStringLiteral("settings.ini"))); // no other memory
        WhileShown([](TDeviceDlg*) {}, true);
        QVERIFY(rig.dlg()->Execute());
        QCOMPARE(rig.dlg()->PortName(), QStringLiteral("COM1"));
    }

    void cancelKeepsTheEarlierConnection() {
        Rig rig;
        QVERIFY(!rig.prompts.DeviceDialog()); // made when first shown
        AnswerDeviceDialog(1);
        QCOMPARE(rig.cmd.Connect(), E_SUCCESS);
        QCOMPARE(rig.tcp->LastPortName, QStringLiteral("TCP"));
        WhileShown([](TDeviceDlg*) {}, false);
        QCOMPARE(rig.cmd.Connect(), E_CMD_ABORTED);
        QVERIFY(rig.cmd.IsConnected());
        QCOMPARE(rig.cmd.AttachedDevice(), rig.tcp);
        QCOMPARE(rig.tcp->CloseCalls, 0);
        QCOMPARE(rig.serial->OpenCalls, 0);
    }

    void ownerMustBeTheEngine() {
        QObject notAnEngine;
        TDeviceDlg dlg(&notAnEngine);
        for (const auto& run : {std::function<void()>([&] { dlg.Execute(); }),
                                std::function<void()>([&] { dlg.cbDeviceChange(); })}) {
            try {
                run();
                QFAIL("no error raised");
            } catch (const EDeviceDialogError& e) {
                QCOMPARE(e.Message(), QStringLiteral("Owner is not TCommand"));
            }
        }
        QVERIFY(!dlg.isVisible());
    }
};

QTEST_MAIN(TestDeviceDialog)
#include "tst_devicedialog.moc"
