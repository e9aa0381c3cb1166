// SPDX-License-Identifier: Apache-2.0
#include "WidgetSupport.h"
#include "ui/ListBoxDialog.h"

#include <QHeaderView>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

class TestListBoxDialog : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void rowsKeepTheirOrderAndSplitIntoTwoColumns() {
        TListBoxDlg dlg;
        QCOMPARE(dlg.ListBox->topLevelItemCount(), 0);
        QCOMPARE(dlg.ListBox->headerItem()->text(0), QStringLiteral("Description"));
        QCOMPARE(dlg.ListBox->headerItem()->text(1), QStringLiteral("Value"));
        dlg.AddRow(QStringLiteral("Gripper type"), QStringLiteral("Morv 50"));
        dlg.AddRow(QStringLiteral("Serial number"), QStringLiteral("00004711"));
        dlg.AddRow(QStringLiteral("Firmware rev."), QStringLiteral("0"));
        QCOMPARE(dlg.Rows(), QStringList({QStringLiteral("Gripper type;Morv 50"),
                                          QStringLiteral("Serial number;00004711"),
                                          QStringLiteral("Firmware rev.;0")}));
        QCOMPARE(dlg.ListBox->topLevelItem(1)->text(0), QStringLiteral("Serial number"));
        QCOMPARE(dlg.ListBox->topLevelItem(1)->text(1), QStringLiteral("00004711"));
        // An empty value still makes a row of its own.
        dlg.AddRow(QStringLiteral("Empty"), QString());
        QCOMPARE(dlg.Rows().last(), QStringLiteral("Empty;"));
    }

    void showsModallyAndClosesByButtonAndEscape() {
        for (const bool byEscape : {false, true}) {
            TListBoxDlg dlg;
            dlg.setWindowTitle(QStringLiteral("System Information"));
            const QString longText = QStringLiteral("A description much longer than the column");
            dlg.AddRow(longText, QStringLiteral("1"));
            bool wasModal = false;
            int fittedWidth = 0;
            QTimer::singleShot(0, &dlg, [&] {
                wasModal = QApplication::activeModalWidget() == &dlg;
                fittedWidth = dlg.ListBox->columnWidth(0);
                // The close button sits centred in its strip.
                const int expectedLeft = (dlg.Panel2->width() - dlg.btnClose->width()) / 2;
                QCOMPARE(dlg.btnClose->x(), expectedLeft);
                if (byEscape)
                    QTest::keyClick(&dlg, Qt::Key_Escape);
                else
                    dlg.btnClose->click();
            });
            QCOMPARE(dlg.ShowList(), int(QDialog::Rejected));
            QVERIFY(wasModal);
            QVERIFY(!dlg.isVisible());
            QVERIFY(fittedWidth >= dlg.ListBox->fontMetrics().horizontalAdvance(longText));
        }
    }

    void closeButtonStaysCentredWhenResized() {
        TListBoxDlg dlg;
        dlg.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dlg));
        for (int w : {327, 500, 251}) {
            dlg.resize(w, 218);
            QTRY_COMPARE(dlg.btnClose->x(), (dlg.Panel2->width() - dlg.btnClose->width()) / 2);
        }
        QCOMPARE(dlg.btnClose->text(), QStringLiteral("&close"));
    }
};

QTEST_MAIN(TestListBoxDialog)
#include "tst_listboxdialog.moc"
