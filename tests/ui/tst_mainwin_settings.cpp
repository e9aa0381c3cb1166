// SPDX-License-Identifier: Apache-2.0
// "settings.ini": what the window keeps across runs, and where it goes.

#include "ConsoleRig.h"
#include "ui/KaroApplication.h"
#include "ui/WindowPlacement.h"

#include <QAction>
#include <QLocale>

class TestMainWinSettings : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // Settings that cannot be written are reported once, naming the file.
    void unwritableSettingsAreReported() {
        TempSettingsDir dir;
        MessageRecorder boxes;
        const QString missing = dir.FilePath(QStringLiteral("missing"));
        SetSettingsDirectory(missing);
        { const TCommander console; }
        QCOMPARE(boxes.Texts(), QStringList(QStringLiteral("Cannot write the settings file %1.")
                                                .arg(missing + QStringLiteral("/settings.ini"))));
    }

    void settingsSurviveARestart() {
        TempSettingsDir dir;
        MessageRecorder boxes;
        const QRect desk = QGuiApplication::primaryScreen()->availableVirtualGeometry();
        // Every size here is above the window's minimum, which holds the bands.
        const QRect wanted(desk.left() + 40, desk.top() + 30, 700, 500);
        {
            const TCommander console;
            TMainWin& w = console.Win();
            w.show();
            QVERIFY(QTest::qWaitForWindowExposed(&w));
            w.setGeometry(wanted);
            Part<QAction>(&w, "manualinit1")->trigger();
            QVERIFY(Part<QAction>(&w, "manualinit1")->isChecked());
        }
        const QString ini = QString::fromLatin1(dir.ReadFile(QStringLiteral("settings.ini")));
        QVERIFY2(ini.contains(QStringLiteral("manualinit=1")), qPrintable(ini));
        QVERIFY2(ini.contains(QStringLiteral("MainWin=200,0,1,%1,%2,%3,%4")
                                  .arg(wanted.left())
                                  .arg(wanted.top())
                                  .arg(wanted.left() + 700)
                                  .arg(wanted.top() + 500)),
                 qPrintable(ini));
        {
            const TCommander console;
            TMainWin& w = console.Win();
            QVERIFY(Part<QAction>(&w, "manualinit1")->isChecked());
            w.show();
            QVERIFY(QTest::qWaitForWindowExposed(&w));
            QCOMPARE(w.geometry(), wanted);
        }
        // A rectangle past the desktop's right and bottom edges moves back inside, keeping its
        // size; one past the left and top edges starts at them.
        {
            dir.WriteFile(QStringLiteral("settings.ini"),
                          QStringLiteral("[Common]\nMainWin=200,0,1,%1,%2,%3,%4\n")
                              .arg(desk.right() - 100)
                              .arg(desk.bottom() - 50)
                              .arg(desk.right() + 600)
                              .arg(desk.bottom() + 450)
                              .toLatin1());
            const TCommander console;
            TMainWin& w = console.Win();
            w.show();
            QVERIFY(QTest::qWaitForWindowExposed(&w));
            QCOMPARE(w.geometry().size(), QSize(700, 500));
            QCOMPARE(w.frameGeometry().right(), desk.right());
            QCOMPARE(w.frameGeometry().bottom(), desk.bottom());
        }
        {
            dir.WriteFile(QStringLiteral("settings.ini"),
                          QStringLiteral("[Common]\nMainWin=200,0,1,%1,%2,%3,%4\n")
                              .arg(desk.left() - 80)
                              .arg(desk.top() - 20)
                              .arg(desk.left() + 620)
                              .arg(desk.top() + 480)
                              .toLatin1());
            const TCommander console;
            TMainWin& w = console.Win();
            w.show();
            QVERIFY(QTest::qWaitForWindowExposed(&w));
            QCOMPARE(w.frameGeometry().topLeft(), desk.topLeft());
            QCOMPARE(w.geometry().size(), QSize(700, 500));
        }
        // Broken values are ignored: the window keeps its design size.
        for (const char* broken :
             {"201,0,1,10,10,500,500", "200,0,1,10,10,500", "200,0,1,a,10,500,500",
              "200,0,1,10,10,500,500,7", "200,0,1,500,500,10,10"}) {
            dir.WriteFile(QStringLiteral("settings.ini"),
                          QByteArray("[Common]\nMainWin=") + broken + "\n[main]\nmanualinit=0\n");
            const TCommander console;
            TMainWin& w = console.Win();
            QVERIFY(!w.ApplyPlacement(QString::fromLatin1(broken)));
            w.show();
            QVERIFY(QTest::qWaitForWindowExposed(&w));
            QCOMPARE(w.size(), DefaultWindowSize(
                                   QSize(680, 779).expandedTo(w.ContentSize()),
                                   QGuiApplication::primaryScreen()->availableGeometry().size()));
            QVERIFY(!Part<QAction>(&w, "manualinit1")->isChecked());
        }
        QVERIFY(boxes.Boxes.isEmpty());
    }
};

int main(int argc, char** argv) {
    TKaroApplication app(argc, argv);
    // Read-outs are compared as the operator reads them, with a point for the decimals.
    QLocale::setDefault(QLocale::c());
    TestMainWinSettings test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_mainwin_settings.moc"
