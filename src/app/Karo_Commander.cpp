// SPDX-License-Identifier: Apache-2.0
#include "Commander.h"
#include "FirstPaintProbe.h"
#include "ui/GripperPicture.h"
#include "ui/KaroApplication.h"

int main(int argc, char** argv) {
    QElapsedTimer started;
    started.start();
    TKaroApplication app(argc, argv);
    app.setWindowIcon(KaroAppIcon());
    QApplication::setApplicationName(QStringLiteral("Karo Commander"));

    const TCommander commander;
    const TFirstPaintProbe firstPaint(&commander.Win(), started);
    commander.Win().show();
    return app.exec();
}
