// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "diagnostics/CommLogForm.h"

#include "TestSupport.h"

#include <QStringList>

inline TPacket MakePacket(int id, const char* hex) {
    TPacket p;
    p.ID = id;
    p.Data = HexBytes(hex);
    p.Length = static_cast<int>(p.Data.size());
    return p;
}

// The view's lines as the operator reads them.
inline QStringList Lines(const TCommLog& log) {
    const QString text = log.RxMsgMemo->ToPlainText();
    return text.isEmpty() ? QStringList() : text.split(QLatin1Char('\n'));
}
