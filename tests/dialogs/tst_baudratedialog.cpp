// SPDX-License-Identifier: Apache-2.0
#include "WidgetSupport.h"
#include "devices/serial/SerialDevice.h"
#include "dialogs/BaudrateDialog.h"
#include "dialogs/DialogPrompts.h"

#include <QComboBox>
#include <QPushButton>
#include <QTest>

class TestBaudrateDialog : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void promptKeepsTheOperatorsChoice() {
        TDialogPrompts prompts;
        const auto editSerial = [&prompts](TSerialSettings& s, const QString& port) {
            TDeviceSettings asked = s;
            const bool ok = prompts.Edit(asked, port);
            s = std::get<TSerialSettings>(asked);
            return ok;
        };
        TSerialSettings s;
        s.BaudIndex = 6;
        QString shown;
        // The operator sees 57600, picks 115200 and cancels: nothing changes.
        WhenModal<TBaudrateDlg>([&](TBaudrateDlg* d) {
            shown = d->cbBaudrate->currentText();
            d->cbBaudrate->setCurrentIndex(7);
            d->btnCancel->click();
        });
        QVERIFY(!editSerial(s, QStringLiteral("COM1")));
        QCOMPARE(shown, QStringLiteral("57600 baud"));
        QCOMPARE(s.BaudIndex, 6);
        // The next showing still has the choice, and OK takes it.
        WhenModal<TBaudrateDlg>([&](TBaudrateDlg* d) {
            shown = d->cbBaudrate->currentText();
            d->btnOk->click();
        });
        QVERIFY(editSerial(s, QStringLiteral("COM1")));
        QCOMPARE(shown, QStringLiteral("115200 baud"));
        QCOMPARE(s.BaudIndex, 7);
        QCOMPARE(prompts.BaudrateDialog()->Baudrate(), br115200);
    }

    void refusals() {
        TBaudrateDlg d;
        QCOMPARE(d.windowTitle(), QStringLiteral("Connection Properties"));
        QCOMPARE(d.cbBaudrate->currentText(), QStringLiteral("1200 baud"));
        QCOMPARE(d.Baudrate(), br1200);
        for (int bad : {-1, 8}) {
            try {
                d.SetItemIndex(bad);
                QFAIL("no error");
            } catch (const EKaroError& e) {
                QCOMPARE(e.Message(), QStringLiteral("Index out of bounds"));
            }
        }
        d.cbBaudrate->setCurrentIndex(-1);
        QVERIFY(!d.btnOk->isEnabled());
        try {
            d.Baudrate();
            QFAIL("no error");
        } catch (const EKaroError& e) {
            QCOMPARE(e.Message(), QStringLiteral("Baudrate index undefined"));
        }
        d.SetItemIndex(4);
        QVERIFY(d.btnOk->isEnabled());
        QCOMPARE(d.Baudrate(), br19200);
    }
};

QTEST_MAIN(TestBaudrateDialog)
#include "tst_baudratedialog.moc"
