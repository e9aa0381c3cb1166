// SPDX-License-Identifier: Apache-2.0
#include "WidgetSupport.h"
#include "devices/can/CANDevice.h"
#include "dialogs/CanParamsDialog.h"
#include "dialogs/DialogPrompts.h"
#include "widgets/IntegerEdit.h"

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QTcpServer>
#include <QTest>

class TestCanParamsDialog : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void bitrateCodes_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("code");
        QTest::newRow("10k") << QStringLiteral("10 kBit/s") << 13;
        QTest::newRow("20k") << QStringLiteral("20 kBit/s") << 11;
        QTest::newRow("50k") << QStringLiteral("50 kBit/s") << 9;
        QTest::newRow("100k") << QStringLiteral("100 kBit/s") << 7;
        QTest::newRow("125k") << QStringLiteral("125 kBit/s") << 6;
        QTest::newRow("250k") << QStringLiteral("250 kBit/s") << 4;
        QTest::newRow("500k") << QStringLiteral("500 kBit/s") << 2;
        QTest::newRow("1M") << QStringLiteral("1 MBit/s") << 0;
        QTest::newRow("typed, no entry") << QStringLiteral("300 kBit/s") << 0;
    }
    void bitrateCodes() {
        QFETCH(QString, text);
        QFETCH(int, code);
        TCANParamsDlg dlg;
        dlg.SetBitrateCode(13);
        dlg.cbBitrate->setEditText(text);
        QCOMPARE(dlg.BitrateCode(), code);
        if (text != QStringLiteral("300 kBit/s")) {
            dlg.SetBitrateCode(code);
            QCOMPARE(dlg.cbBitrate->currentText(), text);
        }
    }

    void unsupportedCodeAndIdentifierField() {
        TCANParamsDlg dlg;
        QCOMPARE(dlg.windowTitle(), QStringLiteral("CAN-Bus Configuration"));
        try {
            dlg.SetBitrateCode(3);
            QFAIL("no error raised");
        } catch (const EKaroError& e) {
            QCOMPARE(e.Message(), QStringLiteral("3 is not a supported bitrate"));
        }
        QCOMPARE(dlg.edID->text(), QStringLiteral("100"));
        QVERIFY(dlg.btnOk->isEnabled());
        dlg.edID->setText(QStringLiteral("1o1"));
        QVERIFY(!dlg.btnOk->isEnabled());
        QCOMPARE(dlg.TargetId(), -1);
        dlg.edID->setText(QStringLiteral("0x65"));
        QVERIFY(dlg.btnOk->isEnabled());
        QCOMPARE(dlg.TargetId(), 101);
    }

    void everyOpenOffers250AndKeepsTheIdentifier() {
        TempSettingsDir dir;
        QTcpServer free;
        free.listen(QHostAddress::LocalHost, 0);
        const QString bus =
            QStringLiteral("virtualcan:tcp://127.0.0.1:%1/can0").arg(free.serverPort());
        free.close();
        dir.WriteFile(QStringLiteral("can.cfg"),
                      QStringLiteral("[nets]\n4=%1\n").arg(bus).toLatin1());
        TDialogPrompts prompts;
        TCANDevice dev(nullptr);
        dev.SetPrompts(&prompts);

        QString rate;
        QString id;
        QString busShown;
        WhenModal<TCANParamsDlg>([&](TCANParamsDlg* d) {
            busShown = d->lbBus->text();
            d->cbBitrate->setCurrentIndex(d->cbBitrate->findText(QStringLiteral("1 MBit/s")));
            d->edID->setText(QStringLiteral("0x200"));
            d->btnCancel->click();
        });
        QCOMPARE(dev.Open(QStringLiteral("Net 4")), E_CMD_ABORTED);
        QCOMPARE(busShown, QStringLiteral("Net 4 is ") + bus);
        QVERIFY(!dev.IsOpen());

        WhenModal<TCANParamsDlg>([&](TCANParamsDlg* d) {
            rate = d->cbBitrate->currentText();
            id = d->edID->text();
            d->btnOk->click();
        });
        QCOMPARE(dev.Open(QStringLiteral("Net 4")), E_SUCCESS);
        QCOMPARE(rate, QStringLiteral("250 kBit/s"));
        QCOMPARE(id, QStringLiteral("0x200"));
        QCOMPARE(dev.Params(), (TCanSettings{4, 0x200}));
        QCOMPARE(dev.TransmitId(), 0x200);
        QCOMPARE(dev.Close(), E_SUCCESS);
    }
};

QTEST_MAIN(TestCanParamsDialog)
#include "tst_canparamsdialog.moc"
