// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <QLocale>
#include <QString>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

// Text for the readers, from fuzz bytes: the low two bits of the first byte pick UTF-8, Latin-1
// or raw UTF-16 (lone surrogates included); the next two bits the locale whose decimal
// separator the readers use.
inline QString FuzzText(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return {};
    const std::uint8_t how = data[0];
    static const QLocale locales[] = {QLocale::c(), QLocale(QLocale::German, QLocale::Germany),
                                      QLocale(QLocale::Arabic, QLocale::Egypt),
                                      QLocale(QLocale::French, QLocale::Switzerland)};
    QLocale::setDefault(locales[(how >> 2) & 3]);
    const char* bytes = reinterpret_cast<const char*>(data + 1);
    const auto n = static_cast<qsizetype>(size - 1);
    switch (how & 3) {
    case 0:
        return QString::fromLatin1(bytes, n);
    case 1:
        return QString(reinterpret_cast<const QChar*>(data + 1), n / 2);
    default:
        return QString::fromUtf8(bytes, n);
    }
}

// A broken property: says which before the abort that libFuzzer records as a crash.
inline void FuzzCheckAt(bool ok, const char* what, const char* file, int line) {
    if (ok)
        return;
    std::fprintf(stderr, "%s:%d: check failed: %s\n", file, line, what);
    std::abort();
}
#define FuzzCheck(ok) FuzzCheckAt((ok), #ok, __FILE__, __LINE__)
