// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <QString>

// Strips the space and every control character from both ends; QString::trimmed knows only
// Unicode white space.
inline bool IsTrimmed(QChar c) {
    return c.unicode() <= 0x20;
}

inline QString TrimControl(const QString& s) {
    qsizetype b = 0;
    qsizetype e = s.size();
    while (b < e && IsTrimmed(s[b]))
        ++b;
    while (e > b && IsTrimmed(s[e - 1]))
        --e;
    return s.mid(b, e - b);
}
