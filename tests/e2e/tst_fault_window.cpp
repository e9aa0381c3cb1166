// SPDX-License-Identifier: Apache-2.0
// The real main window against karo-sim losing and corrupting frames: an operator clicks through
// the bands and menus and closes every box; afterwards no box may be open, the window must be
// usable, and the next connection must work.

#include "WindowRun.h"
#include "ui/KaroApplication.h"

#include <QTest>

using namespace soak;

class TestFaultWindow : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void operatorThroughFaults_data() {
        QTest::addColumn<QString>("link");
        QTest::newRow("tcp") << QStringLiteral("tcp");
    }

    void operatorThroughFaults() {
        QFETCH(QString, link);
        TRunOptions options;
        options.Link = *LinkFromName(link);
        options.Commands = 200;
        options.Seed = 20261208;
        const TWindowFigures f = RunWindow(options);
        const QStringList faults = WindowFaults(f);
        QVERIFY2(faults.isEmpty(), qPrintable(faults.join(QStringLiteral("; "))));
        QCOMPARE(f.Commands, options.Commands);
        // The value dialogs and information dialogs really came up and were answered.
        QVERIFY(f.OtherDialogs > 0);
    }
};

int main(int argc, char** argv) {
    TKaroApplication app(argc, argv);
    TestFaultWindow test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_fault_window.moc"
