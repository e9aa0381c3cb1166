// SPDX-License-Identifier: Apache-2.0
// The Plot window following karo-sim through the real main window over TCP.

#include "MemoryDevice.h"
#include "SimProcess.h"
#include "WidgetSupport.h"
#include "WindowParts.h"
#include "app/Commander.h"
#include "diagnostics/PlotForm.h"
#include "dialogs/HostnameDialog.h"
#include "engine/MorvForm.h"
#include "ui/MainForm.h"
#include "widgets/FloatEdit.h"

#include <QAction>
#include <QLabel>
#include <QPushButton>
#include <QSet>
#include <QTest>

namespace {
constexpr int Patience = 15000; // safety net for anything the simulator does in real time

QString Mm(double v) {
    return QLocale().toString(v, 'f', 2) + QStringLiteral(" mm");
}
} // namespace

class TestE2EPlot : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void plotFollowsAMovingGripperAndKeepsTheLastRun();
};

void TestE2EPlot::plotFollowsAMovingGripperAndKeepsTheLastRun() {
    SimProcess sim({QStringLiteral("--referenced")});
    QVERIFY2(sim.Start(), qPrintable(sim.ErrorString()));
    TempSettingsDir settings;
    MessageRecorder boxes;
    settings.WriteFile(
        QStringLiteral("tcp.cfg"),
        QStringLiteral("[common]\nhost=127.0.0.1\nport=%1\n").arg(sim.TcpPort()).toLatin1());
    const TCommander console;
    TMainWin& w = console.Win();
    w.show();
    w.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    TPlotForm& plot = *w.Plot();
    const TPlotTrace& trace = plot.Trace();

    AnswerDeviceDialog(DeviceIndex(w.Gripper()->Command(), QStringLiteral("Ethernet/TCP")));
    WhenModal<THostNameDlg>([](THostNameDlg* d) { d->btnOk->click(); });
    Part<QAction>(&w, "Connect1")->trigger();
    QTRY_VERIFY_WITH_TIMEOUT(Part<QPushButton>(&w, "btnMove")->isEnabled(), Patience);
    // The connect dialogs took the focus; the operator is back in the main window.
    w.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    QTest::keyClick(&w, Qt::Key_F6);
    QVERIFY(QTest::qWaitForWindowExposed(&plot));
    QTRY_COMPARE_WITH_TIMEOUT(Part<QLabel>(&w, "lbPosition")->text(), Mm(55), Patience);
    QVERIFY(trace.Running());

    Part<TFloatEdit>(&w, "edGotoPos")->setFocus();
    Part<TFloatEdit>(&w, "edGotoPos")->setText(QStringLiteral("20"));
    QTest::mouseClick(Part<QPushButton>(&w, "btnMove"), Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(Part<QLabel>(&w, "lbPosition")->text(), Mm(20), Patience);

    // The trace holds the way from 55 to 20 mm, the "Moving" flag on the way, and ends where
    // the main window's display ends.
    QSet<int> between;
    bool moving = false;
    for (std::size_t i = 0; i < trace.Size(); ++i) {
        const TPlotSample& s = trace.At(i);
        if ((s.Known & TPlotTrace::HasPosition) && s.Position > 21 && s.Position < 54)
            between.insert(int(s.Position));
        moving = moving || ((s.Known & TPlotTrace::HasSystemState) && (s.SystemState & 0x2));
    }
    QVERIFY2(between.size() >= 2, qPrintable(QString::number(between.size())));
    QVERIFY(moving);
    QCOMPARE(trace.Last().Position, w.Gripper()->Position());
    QVERIFY(trace.Last().Known & TPlotTrace::HasGraspingState);

    // The link ends: the run stays as it was.
    const std::size_t kept = trace.Size();
    Part<QAction>(&w, "Disconnect1")->trigger();
    QTRY_VERIFY_WITH_TIMEOUT(Part<QAction>(&w, "Connect1")->isEnabled(), Patience);
    QVERIFY(!trace.Running());
    QCOMPARE(trace.Size(), kept);
    QVERIFY(plot.lbPlotStatus->text().startsWith(QStringLiteral("Last run")));
    QVERIFY2(boxes.Boxes.isEmpty(), qPrintable(boxes.Texts().join(u'|')));
}

QTEST_MAIN(TestE2EPlot)
#include "tst_e2e_plot.moc"
