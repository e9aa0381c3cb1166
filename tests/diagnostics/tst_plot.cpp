// SPDX-License-Identifier: Apache-2.0
#include "WindowParts.h"
#include "app/Commander.h"
#include "diagnostics/PlotForm.h"
#include "diagnostics/PlotTrace.h"

#include "WidgetSupport.h"
#include "ui/MainForm.h"

#include <QAction>
#include <QImage>
#include <QLabel>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>
#include <limits>

namespace {

// Pixels in the position line's blue, as painted (anti-aliasing keeps the line's middle).
int BluePixels(const QImage& image) {
    int n = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            n += c.blue() > 170 && c.red() < 40 && c.green() < 120;
        }
    return n;
}

} // namespace

class TestPlot : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void traceKeepsTheLastMinuteAndCarriesValuesForward();
    void traceStaysBoundedUnderAFlood();
    void traceKeepsTheLastRunUntilTheNextOne();
    void savesTheWindowAsPng();
    void f6OpensThePlot();
};

void TestPlot::traceKeepsTheLastMinuteAndCarriesValuesForward() {
    TPlotTrace t;
    t.BeginRun(1000);
    t.AddPosition(1000, 10.0f);
    QCOMPARE(t.Size(), std::size_t(1));
    QCOMPARE(t.Last().Known, std::uint8_t(TPlotTrace::HasPosition));
    // State and grasping state of one moment make one sample with every value.
    t.AddSystemState(1050, 0x3);
    t.AddGraspingState(1050, 4);
    QCOMPARE(t.Size(), std::size_t(2));
    QCOMPARE(t.Last().Position, 10.0f);
    QCOMPARE(t.Last().SystemState, 0x3u);
    QCOMPARE(t.Last().GraspingState, std::uint8_t(4));
    QCOMPARE(t.Last().Known, std::uint8_t(TPlotTrace::HasPosition | TPlotTrace::HasGraspingState |
                                          TPlotTrace::HasSystemState));

    // Two minutes of updates every 10 ms: one minute (and the sample at its edge) remains.
    std::int64_t now = 1050;
    for (int i = 1; i <= 12000; ++i) {
        now += 10;
        t.AddPosition(now, float(i));
    }
    const std::int64_t edge = now - TPlotTrace::WindowMs;
    QCOMPARE(t.Size(), std::size_t(6001));
    QCOMPARE(t.At(0).Time, edge);
    QVERIFY(t.At(1).Time > edge);
    QCOMPARE(t.Last().Position, 12000.0f);
    QCOMPARE(t.Last().SystemState, 0x3u); // carried forward
    for (std::size_t i = 1; i < t.Size(); ++i)
        QVERIFY(t.At(i).Time > t.At(i - 1).Time);
    // A clock that steps back does not put samples out of order.
    t.AddPosition(now - 500, 1.0f);
    QCOMPARE(t.Last().Time, now);
    QCOMPARE(t.Last().Position, 1.0f);
    QCOMPARE(t.ViewEnd(now + 700), now + 700);
}

void TestPlot::traceStaysBoundedUnderAFlood() {
    // Three minutes of three updates every millisecond.
    TPlotTrace t;
    t.BeginRun(0);
    for (std::int64_t ms = 1; ms <= 180000; ++ms) {
        t.AddSystemState(ms, 1);
        t.AddGraspingState(ms, 0);
        t.AddPosition(ms, float(ms));
    }
    QCOMPARE(t.Size(), TPlotTrace::MaxSamples);
    QCOMPARE(t.Capacity(), TPlotTrace::MaxSamples);
    QCOMPARE(t.At(0).Time, std::int64_t(120000));
    QCOMPARE(t.Last().Position, 180000.0f);
}

void TestPlot::traceKeepsTheLastRunUntilTheNextOne() {
    TPlotTrace t;
    t.AddPosition(5, 1.0f); // before any connection: nothing to follow
    QVERIFY(t.Empty());
    t.BeginRun(0);
    for (int i = 0; i < 50; ++i)
        t.AddPosition(i * 100, float(i));
    t.EndRun(5000);
    QVERIFY(!t.Running());
    QCOMPARE(t.ViewEnd(999999), std::int64_t(5000));
    t.AddPosition(6000, 99.0f); // a late update after the link ended
    QCOMPARE(t.Size(), std::size_t(50));
    QCOMPARE(t.Last().Position, 49.0f);
    t.BeginRun(90000);
    QVERIFY(t.Empty());
    t.AddGraspingState(90010, 1);
    QCOMPARE(t.Last().Known, std::uint8_t(TPlotTrace::HasGraspingState));
}

void TestPlot::savesTheWindowAsPng() {
    std::int64_t now = 0;
    TPlotForm plot;
    plot.SetClock([&now] { return now; });
    plot.resize(700, 500);
    plot.SetConnected(true);
    for (; now <= 30000; now += 100) {
        plot.AddPosition(float(now) / 1000.0f);
        plot.AddSystemState(now > 10000 ? 0x3u : 0x2u);
    }
    plot.show();
    QVERIFY(QTest::qWaitForWindowExposed(&plot));
    QVERIFY(plot.lbPlotStatus->text().startsWith(QStringLiteral("Following")));

    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("plot.png"));
    QVERIFY(plot.SavePng(file));
    QImage image(file);
    QVERIFY(!image.isNull());
    QCOMPARE(image.size(), plot.size() * plot.devicePixelRatio());
    QVERIFY(BluePixels(image) > 100);

    // Absurd positions from a faulty gripper must not stall the drawing (at 2^56 the grid's
    // steps vanish in rounding).
    TPlotForm faulty;
    faulty.SetConnected(true);
    for (const float mm : {std::ldexp(1.0f, 56), std::numeric_limits<float>::infinity()}) {
        faulty.AddPosition(mm);
        QVERIFY(!faulty.grab().isNull());
    }

    // After the link ends the picture stays as it was, however much time passes.
    plot.SetConnected(false);
    QVERIFY(plot.lbPlotStatus->text().startsWith(QStringLiteral("Last run")));
    const QImage ended = plot.grab().toImage();
    now += 45000;
    QCOMPARE(plot.grab().toImage(), ended);
    QVERIFY(!plot.SavePng(dir.filePath(QStringLiteral("missing/plot.png"))));
}

void TestPlot::f6OpensThePlot() {
    TempSettingsDir settings;
    const TCommander console;
    TMainWin& w = console.Win();
    w.show();
    w.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    QVERIFY(!w.Plot()->isVisible());
    QCOMPARE(Part<QAction>(&w, "Plot1")->shortcut(), QKeySequence(Qt::Key_F6));
    QTest::keyClick(&w, Qt::Key_F6);
    QVERIFY(w.Plot()->isVisible());
    w.View1Click();
    QVERIFY(Part<QAction>(&w, "Plot1")->isChecked());
    w.Plot()->close();
    w.View1Click();
    QVERIFY(!Part<QAction>(&w, "Plot1")->isChecked());
}

QTEST_MAIN(TestPlot)
#include "tst_plot.moc"
