// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <QApplication>

// The program's application object. No error may unwind through the event loop: one that
// escapes a handler is shown in an error box, and the program goes on.
class TKaroApplication : public QApplication {
    Q_OBJECT
public:
    TKaroApplication(int& argc, char** argv);

    bool notify(QObject* receiver, QEvent* event) override;
};
