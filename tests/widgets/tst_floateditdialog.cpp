// SPDX-License-Identifier: Apache-2.0
#include "WidgetSupport.h"
#include "widgets/FloatEditDialog.h"

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QTest>
#include <QTimer>

#include <functional>

class TestFloatEditDialog : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void designValues() {
        TFloatEditDlg dlg;
        QCOMPARE(dlg.size(), QSize(300, 165));
        QCOMPARE(dlg.minimumWidth(), 300);
        QCOMPARE(dlg.pnDescription->text(), QStringLiteral("Please enter a new value"));
        QCOMPARE(dlg.ed->text(), QStringLiteral("50"));
        QCOMPARE(double(dlg.ed->MinValue()), 2.0);
        QCOMPARE(double(dlg.ed->MaxValue()), 65.0);
        QCOMPARE(dlg.tb->maximum(), 200);
        QCOMPARE(dlg.lbUnit->text(), QStringLiteral("mm/s²"));
        QVERIFY(dlg.BitBtn2->isDefault());
        QCOMPARE(dlg.BitBtn1->text(), QStringLiteral("Cancel"));
        // Invalid entries show red bold on the normal background.
        const QColor normal = dlg.ed->palette().color(QPalette::Base);
        dlg.ed->setText(QStringLiteral("1"));
        QVERIFY(dlg.ed->font().bold());
        QCOMPARE(dlg.ed->palette().color(QPalette::Text), QColor(Qt::red));
        QCOMPARE(dlg.ed->palette().color(QPalette::Base), normal);
    }

    void setValueWhileHiddenMovesTrackBar() {
        TFloatEditDlg dlg;
        dlg.SetUnit(QStringLiteral("N"));
        dlg.SetMinimum(5);
        dlg.SetMaximum(80);
        dlg.SetValue(20);
        QCOMPARE(dlg.ed->text(), QStringLiteral("20"));
        QCOMPARE(dlg.tb->value(), 40);
        // The same value again still realigns a track bar moved meanwhile.
        dlg.tb->setValue(7);
        dlg.SetValue(20);
        QCOMPARE(dlg.tb->value(), 40);
        QCOMPARE(dlg.Value(), 20.0);
        // Halves round to even: 5.375 is 1.5 steps of 0.375 above 5 -> 2.
        dlg.SetValue(5.5625);
        QCOMPARE(dlg.tb->value(), 2);
        // Outside the range: the text is set, then the conversion error stops the caller.
        QVERIFY_THROWS_EXCEPTION(EConvertError, dlg.SetValue(81));
        QCOMPARE(dlg.ed->text(), QStringLiteral("81"));
        try {
            dlg.Value();
            QFAIL("no error");
        } catch (const EConvertError& e) {
            QCOMPARE(e.Message(), QStringLiteral("Edit field does not contain a valid number"));
        }
        // Without a real range the track bar rests at 0 and nothing is raised.
        dlg.SetMinimum(0);
        dlg.SetMaximum(0);
        dlg.SetValue(1234);
        QCOMPARE(dlg.tb->value(), 0);
    }

    void trackBarAndFieldFollowEachOtherWithFocus() {
        TFloatEditDlg dlg;
        dlg.SetMinimum(5);
        dlg.SetMaximum(80);
        dlg.SetValue(10);
        dlg.show();
        QVERIFY(QTest::qWaitForWindowActive(&dlg, 30000)); // a safety net, not a measure
        // Without the focus a track bar move leaves the field alone.
        dlg.ed->setFocus();
        QTRY_VERIFY(dlg.ed->hasFocus());
        dlg.tb->setValue(100);
        QCOMPARE(dlg.ed->text(), QStringLiteral("10"));
        dlg.tb->setFocus();
        QTRY_VERIFY(dlg.tb->hasFocus());
        dlg.tb->setValue(101);
        dlg.tb->setValue(100);
        QCOMPARE(dlg.ed->text(), QStringLiteral("42.5"));
        dlg.ed->setFocus();
        QTRY_VERIFY(dlg.ed->hasFocus());
        dlg.ed->selectAll();
        QTest::keyClicks(dlg.ed, QStringLiteral("80"));
        QCOMPARE(dlg.tb->value(), 200);
        // Invalid typing leaves the track bar where it was.
        QTest::keyClicks(dlg.ed, QStringLiteral("0"));
        QCOMPARE(dlg.tb->value(), 200);
    }

    void formResizeCentresAndStretches() {
        TFloatEditDlg dlg;
        // At least the design distance; more when the unit's text needs it on this platform.
        const int edRight = dlg.width() - dlg.ed->x();
        QVERIFY(edRight >= 300 - 200);
        dlg.resize(520, 260);
        dlg.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dlg));
        const int h = dlg.Panel1->height();
        QCOMPARE(dlg.Panel1->y(), 33);
        QCOMPARE(h, 260 - 33 - 41);
        QCOMPARE(dlg.Panel2->height(), 41);
        QCOMPARE(dlg.tb->y(), (h - dlg.tb->height()) / 2);
        QCOMPARE(dlg.ed->y(), (h - dlg.ed->height()) / 2);
        QCOMPARE(dlg.lbUnit->y(), (h - dlg.lbUnit->height()) / 2);
        QCOMPARE(dlg.tb->width(), dlg.ed->x() - 2 * dlg.tb->x());
        // The field keeps its distance from the right edge.
        QCOMPARE(520 - dlg.ed->x(), edRight);
        QVERIFY(dlg.lbUnit->x() > dlg.ed->x() + dlg.ed->width() - 1);
        QVERIFY(dlg.lbUnit->geometry().right() < 520);
        QVERIFY(dlg.BitBtn1->geometry().right() < 520);
    }

    void executeReportsHowItWasClosed() {
        TFloatEditDlg dlg;
        dlg.setWindowTitle(QStringLiteral("Acceleration"));
        dlg.SetMinimum(5);
        dlg.SetMaximum(80);
        dlg.SetValue(30);
        WhenModal([](QWidget* w) {
            auto* ed = w->findChild<TFloatEdit*>(QStringLiteral("ed"));
            ed->setText(QStringLiteral("33.3"));
            QTest::keyClick(w, Qt::Key_Return);
        });
        QVERIFY(dlg.Execute());
        QCOMPARE(dlg.Value(), 33.3);
        WhenModal([](QWidget* w) { QTest::keyClick(w, Qt::Key_Escape); });
        QVERIFY(!dlg.Execute());
        WhenModal(
            [](QWidget* w) { w->findChild<QPushButton*>(QStringLiteral("BitBtn1"))->click(); });
        QVERIFY(!dlg.Execute());
        // An invalid entry cannot be confirmed: OK and Enter leave the dialog open with it.
        bool okEnabled = true, stillOpen = false;
        WhenModal([&](QWidget* w) {
            auto* ed = w->findChild<TFloatEdit*>(QStringLiteral("ed"));
            auto* ok = w->findChild<QPushButton*>(QStringLiteral("BitBtn2"));
            ed->setText(QStringLiteral("x"));
            okEnabled = ok->isEnabled();
            ok->click();
            QTest::keyClick(ed, Qt::Key_Return);
            stillOpen = w->isVisible() && ed->text() == QStringLiteral("x");
            ed->setText(QStringLiteral("7"));
            QTest::keyClick(ed, Qt::Key_Return);
        });
        QVERIFY(dlg.Execute());
        QVERIFY(!okEnabled);
        QVERIFY(stillOpen);
        QCOMPARE(dlg.Value(), 7.0);
    }
};

QTEST_MAIN(TestFloatEditDialog)
#include "tst_floateditdialog.moc"
