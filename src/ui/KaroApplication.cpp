// SPDX-License-Identifier: Apache-2.0
#include "ui/KaroApplication.h"

#include "protocol/Errors.h"
#include "widgets/MessageBoxes.h"

#include <exception>

TKaroApplication::TKaroApplication(int& argc, char** argv) : QApplication(argc, argv) {}

bool TKaroApplication::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (const EKaroError& e) {
        ShowError(e.Message());
    } catch (const std::exception& e) {
        ShowError(QString::fromLocal8Bit(e.what()));
    } catch (...) {
        ShowError(QStringLiteral("An unknown error occurred."));
    }
    return false;
}
