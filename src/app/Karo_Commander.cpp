#include "FirstPaintProbe.h"
#include "diagnostics/CommLogForm.h"
#include "ui/GripperPicture.h"
#include "ui/KaroApplication.h"
#include "ui/MainForm.h"

int main(int argc, char** argv) {
    QElapsedTimer started;
    started.start();
    TKaroApplication app(argc, argv);
    app.setWindowIcon(KaroAppIcon());
    QApplication::setApplicationName(QStringLiteral("Karo Commander"));

    TMainWin mainWin;
    // The one command log of the program, created hidden; it records while hidden.
    TCommLog commLog;
    // Closing the main window ends the program, whatever else is open.
    commLog.setAttribute(Qt::WA_QuitOnClose, false);
    mainWin.SetCommandLog(&commLog);
    const TFirstPaintProbe firstPaint(&mainWin, started);
    mainWin.show();
    const int result = app.exec();
    // The log outlives nothing that still reports to it.
    mainWin.SetCommandLog(nullptr);
    return result;
}
