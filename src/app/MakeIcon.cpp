// SPDX-License-Identifier: Apache-2.0
// Writes the Commander's icon as a PNG for the desktop entry, from the same drawing the program
// paints at run time, so the installed icon never drifts from the window's.

#include "ui/GripperPicture.h"

#include <QGuiApplication>
#include <QImage>
#include <QPainter>

#include <cstdio>

int main(int argc, char* argv[]) {
    QGuiApplication app(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: karo-make-icon SIZE OUTPUT.png\n");
        return 2;
    }
    const int size = QByteArray(argv[1]).toInt();
    if (size < 16 || size > 1024) {
        std::fprintf(stderr, "karo-make-icon: size %s is not 16..1024\n", argv[1]);
        return 2;
    }
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    DrawGripper(p, QRectF(0, 0, size, size), 0.45, true);
    p.end();
    if (!image.save(QString::fromLocal8Bit(argv[2]), "PNG")) {
        std::fprintf(stderr, "karo-make-icon: cannot write %s\n", argv[2]);
        return 1;
    }
    return 0;
}
