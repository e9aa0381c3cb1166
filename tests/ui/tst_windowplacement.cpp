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
        // Larger than the desktop: the title bar stays reachable.
        QTest::newRow("too large") << QRect(0, 0, 3000, 2000) << QRect(4, 30, 3000, 2000);
    }

    void clamp() {
        QFETCH(QRect, client);
        QFETCH(QRect, expected);
        QCOMPARE(ClampToDesktop(client, QMargins(4, 30, 4, 4), QRect(0, 0, 1920, 1080)), expected);
    }
};

QTEST_GUILESS_MAIN(TestWindowPlacement)
#include "tst_windowplacement.moc"
