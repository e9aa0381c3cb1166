// SPDX-License-Identifier: Apache-2.0
#include "ui/WindowPlacement.h"

#include <QTest>

class TestWindowPlacement : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void parse_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<QRect>("normal");
        QTest::addColumn<int>("show");
        QTest::newRow("normal") << "200,0,1,10,20,690,799" << true << QRect(10, 20, 680, 779) << 1;
        QTest::newRow("spaces") << " 200, 2 ,2,0,0,5,5" << true << QRect(0, 0, 5, 5) << 2;
        QTest::newRow("negative") << "200,0,3,-50,-10,100,90" << true << QRect(-50, -10, 150, 100)
                                  << 3;
        QTest::newRow("wrong marker") << "201,0,1,10,20,690,799" << false << QRect() << 0;
        QTest::newRow("six fields") << "200,0,1,10,20,690" << false << QRect() << 0;
        QTest::newRow("not a number") << "200,0,1,ten,20,690,799" << false << QRect() << 0;
        QTest::newRow("empty rectangle") << "200,0,1,10,20,10,799" << false << QRect() << 0;
        QTest::newRow("upside down") << "200,0,1,10,800,690,20" << false << QRect() << 0;
        QTest::newRow("empty") << "" << false << QRect() << 0;
        // Corners whose difference does not fit in 32 bits: a size, not a wrapped negative one.
        QTest::newRow("overflowing size") << "200,0,1,-2147483000,0,2147483000,100" << true
                                          << QRect(-(1 << 24), 0, 1 << 24, 100) << 1;
        QTest::newRow("huge") << "200,0,1,0,0,32767,32767" << true << QRect(0, 0, 32767, 32767)
                              << 1;
    }

    void parse() {
        QFETCH(QString, text);
        QFETCH(bool, valid);
        const auto p = ParsePlacement(text);
        QCOMPARE(p.has_value(), valid);
        if (!valid)
            return;
        QFETCH(QRect, normal);
        QFETCH(int, show);
        QCOMPARE(p->Normal, normal);
        QCOMPARE(p->Show, show);
        // What is read is written back the same way.
        QCOMPARE(ParsePlacement(FormatPlacement(*p))->Normal, normal);
    }

    void format() {
        QCOMPARE(FormatPlacement({2, 2, QRect(10, 20, 680, 779)}),
                 QStringLiteral("200,2,2,10,20,690,799"));
    }

    void clamp_data() {
        QTest::addColumn<QRect>("client");
        QTest::addColumn<QRect>("expected");
        QTest::newRow("inside") << QRect(100, 100, 680, 779) << QRect(100, 100, 680, 779);
        QTest::newRow("past right and bottom")
            << QRect(1500, 500, 680, 779) << QRect(1920 - 4 - 680, 1080 - 4 - 779, 680, 779);
        QTest::newRow("past left and top") << QRect(-300, -50, 680, 779) << QRect(4, 30, 680, 779);
        // Larger than the desktop: cut to it, title bar reachable.
        QTest::newRow("too large") << QRect(0, 0, 3000, 2000) << QRect(4, 30, 1912, 1046);
        QTest::newRow("far off and huge")
            << QRect(-(1 << 24), 5, 1 << 24, 1 << 24) << QRect(4, 30, 1912, 1046);
    }

    void clamp() {
        QFETCH(QRect, client);
        QFETCH(QRect, expected);
        QCOMPARE(ClampToDesktop(client, QMargins(4, 30, 4, 4), QRect(0, 0, 1920, 1080)), expected);
    }

    void defaultSize() {
        // A 1024x768 screen holds the window with its title bar; a larger one the design size.
        QCOMPARE(DefaultWindowSize({680, 779}, {1024, 768}), QSize(680, 732));
        QCOMPARE(DefaultWindowSize({680, 779}, {1280, 900}), QSize(680, 779));
        QCOMPARE(DefaultWindowSize({680, 779}, {}), QSize(680, 779));
    }

    void toolWindow_data() {
        QTest::addColumn<QRect>("main");
        QTest::addColumn<QSize>("tool");
        QTest::addColumn<QRect>("expected");
        // The right pane (what stays clear) is the main window's last 180 pixels.
        QTest::newRow("room on the right")
            << QRect(0, 0, 700, 800) << QSize(500, 400) << QRect(700, 0, 500, 400);
        QTest::newRow("room on the left only")
            << QRect(1000, 100, 700, 800) << QSize(500, 400) << QRect(500, 100, 500, 400);
        QTest::newRow("no room: over the left pane")
            << QRect(200, 0, 1600, 1000) << QSize(500, 400) << QRect(1120, 0, 500, 400);
        QTest::newRow("no room, wide tool: narrowed")
            << QRect(0, 0, 1920, 1080) << QSize(2500, 400) << QRect(0, 0, 1740, 400);
        QTest::newRow("tall tool, main low on the desktop")
            << QRect(0, 700, 700, 300) << QSize(500, 1200) << QRect(700, 0, 500, 1080);
    }

    void toolWindow() {
        QFETCH(QRect, main);
        QFETCH(QSize, tool);
        QFETCH(QRect, expected);
        const QRect desktop(0, 0, 1920, 1080);
        const QRect clear(main.right() - 179, main.top(), 180, main.height());
        const QRect placed = PlaceToolWindow(main, clear, tool, desktop);
        QCOMPARE(placed, expected);
        QVERIFY(desktop.contains(placed));
        QVERIFY(!placed.intersects(clear));
    }
};

QTEST_GUILESS_MAIN(TestWindowPlacement)
#include "tst_windowplacement.moc"
