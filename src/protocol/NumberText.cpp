// SPDX-License-Identifier: Apache-2.0
#include "protocol/NumberText.h"

#include <QLocale>

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <locale.h>
#include <string>

namespace {

bool IsDigit(QChar c) {
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}

// strtold in the "C" locale, whatever LC_NUMERIC the process runs with.
long double StrToLongDouble(const char* s, bool* overflow) {
    static const locale_t cLocale = newlocale(LC_NUMERIC_MASK, "C", locale_t(nullptr));
    errno = 0;
    const long double v = strtold_l(s, nullptr, cLocale);
    *overflow = errno == ERANGE && std::isinf(v);
    return v;
}

} // namespace

std::optional<std::int32_t> ReadIntegerText(const QString& input) {
    QString text = input;
    const qsizetype prefix = text.indexOf(QLatin1String("0x"));
    if (prefix >= 0)
        text.replace(prefix, 2, QLatin1String("$"));

    qsizetype i = 0;
    const qsizetype n = text.size();
    while (i < n && text[i] == QLatin1Char(' '))
        ++i;
    if (i == n)
        return std::nullopt;

    bool hex = false;
    if (text[i] == QLatin1Char('$') || text[i] == QLatin1Char('x') || text[i] == QLatin1Char('X')) {
        hex = true;
        ++i;
    } else if (text[i] == QLatin1Char('0') && i + 1 < n &&
               (text[i + 1] == QLatin1Char('X') || text[i + 1] == QLatin1Char('x'))) {
        hex = true;
        i += 2;
    }
    if (hex) {
        const qsizetype count = n - i;
        if (count < 1 || count > 8)
            return std::nullopt;
        std::uint32_t v = 0;
        for (; i < n; ++i) {
            const int d = HexDigitValue(text[i]);
            if (d < 0)
                return std::nullopt;
            v = v << 4 | std::uint32_t(d);
        }
        return static_cast<std::int32_t>(v);
    }

    bool negative = false;
    if (text[i] == QLatin1Char('+') || text[i] == QLatin1Char('-')) {
        negative = text[i] == QLatin1Char('-');
        ++i;
    }
    if (i == n)
        return std::nullopt;
    std::int64_t v = 0;
    for (; i < n; ++i) {
        const char16_t u = text[i].unicode();
        if (u < u'0' || u > u'9')
            return std::nullopt;
        v = v * 10 + (u - u'0');
        if (v > 2147483648LL)
            return std::nullopt;
    }
    if (negative)
        v = -v;
    if (v > 2147483647LL)
        return std::nullopt;
    return static_cast<std::int32_t>(v);
}

std::optional<long double> ReadFloatText(const QString& input, TDecSeparator ds) {
    const QString sep = QLocale().decimalPoint();
    QString text = input;
    const QChar typed = ds == dsPoint ? QLatin1Char('.') : QLatin1Char(',');
    if (ds != dsDefault) {
        const qsizetype at = text.indexOf(typed);
        if (at >= 0)
            text.replace(at, 1, sep);
    }

    // Rebuilt in the "C" format so that only what the rules accept reaches the conversion.
    std::string plain;
    qsizetype i = 0;
    const qsizetype n = text.size();
    while (i < n && text[i] == QLatin1Char(' '))
        ++i;
    if (i < n && (text[i] == QLatin1Char('+') || text[i] == QLatin1Char('-'))) {
        if (text[i] == QLatin1Char('-'))
            plain += '-';
        ++i;
    }
    bool mantissa = false;
    bool digits = false;
    while (i < n && IsDigit(text[i])) {
        plain += char(text[i].unicode());
        ++i;
        mantissa = digits = true;
    }
    if (!sep.isEmpty() && QStringView(text).mid(i).startsWith(sep)) {
        i += sep.size();
        mantissa = true;
        plain += '.';
        while (i < n && IsDigit(text[i])) {
            plain += char(text[i].unicode());
            ++i;
            digits = true;
        }
    }
    if (!mantissa)
        return std::nullopt;
    if (!digits)
        plain = !plain.empty() && plain.front() == '-' ? "-0" : "0"; // the separator alone
    if (i < n && (text[i] == QLatin1Char('E') || text[i] == QLatin1Char('e'))) {
        ++i;
        plain += 'e';
        if (i < n && (text[i] == QLatin1Char('+') || text[i] == QLatin1Char('-'))) {
            plain += char(text[i].unicode());
            ++i;
        }
        bool expDigits = false;
        while (i < n && IsDigit(text[i])) {
            plain += char(text[i].unicode());
            ++i;
            expDigits = true;
        }
        if (!expDigits)
            return std::nullopt;
    }
    while (i < n && text[i] == QLatin1Char(' '))
        ++i;
    if (i != n)
        return std::nullopt;
    bool overflow = false;
    const long double v = StrToLongDouble(plain.c_str(), &overflow);
    if (overflow)
        return std::nullopt;
    return v;
}

int HexDigitValue(QChar c) {
    const char16_t u = c.unicode();
    if (u >= u'0' && u <= u'9')
        return u - u'0';
    if (u >= u'a' && u <= u'f')
        return u - u'a' + 10;
    if (u >= u'A' && u <= u'F')
        return u - u'A' + 10;
    return -1;
}
