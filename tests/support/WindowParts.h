// SPDX-License-Identifier: Apache-2.0
#pragma once

// The console's controls as a test reaches them: by their object names, as an operator's tool
// would, never by member.

#include <QObject>
#include <QtGlobal>

template <typename T> T* Part(const QObject* window, const char* name) {
    T* part = window->findChild<T*>(QLatin1String(name));
    if (!part)
        qFatal("the window has no %s", name);
    return part;
}
