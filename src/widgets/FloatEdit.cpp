// SPDX-License-Identifier: Apache-2.0
#include "widgets/FloatEdit.h"

#include <QLocale>

#include <cerrno>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <locale.h>

namespace {

const QString kValueError =
    QStringLiteral("TFloatEdit.value: the text property is not a valid float value");

} // namespace

TFloatEdit::TFloatEdit(QWidget* owner) : TNumericEdit(owner) {
    Revalidate();
}

std::optional<long double> TFloatEdit::ReadFloat(const QString& text, TDecSeparator ds) {
    return ReadFloatText(text, ds);
}

QString TFloatEdit::FormatGeneral(long double v) {
    if (std::isnan(v))
        return QStringLiteral("NAN");
    if (std::isinf(v))
        return v < 0 ? QStringLiteral("-INF") : QStringLiteral("INF");
    if (v == 0)
        return QStringLiteral("0");

    // Rounded to 15 significant digits first, so that the notation follows the rounded number.
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.14Le", v);
    std::string s(buf);
    const bool negative = s.front() == '-';
    if (negative)
        s.erase(0, 1);
    const std::size_t ePos = s.find('e');
    const int exp = std::atoi(s.c_str() + ePos + 1);
    std::string digits = s.substr(0, 1) + s.substr(2, ePos - 2);
    while (digits.size() > 1 && digits.back() == '0')
        digits.pop_back();

    const QString sep = QLocale().decimalPoint();
    QString out = negative ? QStringLiteral("-") : QString();
    if (exp >= -4 && exp < 15) {
        if (exp >= 0) {
            const std::size_t intLen = std::size_t(exp) + 1;
            if (digits.size() <= intLen) {
                out += QString::fromLatin1(digits) +
                       QString(qsizetype(intLen - digits.size()), QLatin1Char('0'));
            } else {
                out += QString::fromLatin1(digits.substr(0, intLen)) + sep +
                       QString::fromLatin1(digits.substr(intLen));
            }
        } else {
            out += QStringLiteral("0") + sep + QString(qsizetype(-exp - 1), QLatin1Char('0')) +
                   QString::fromLatin1(digits);
        }
    } else {
        out += QLatin1Char(digits[0]);
        if (digits.size() > 1)
            out += sep + QString::fromLatin1(digits.substr(1));
        out += QStringLiteral("E") + QString::number(exp);
    }
    return out;
}

void TFloatEdit::SetMinValue(long double v) {
    FMinValue = v;
    Revalidate();
}

void TFloatEdit::SetMaxValue(long double v) {
    FMaxValue = v;
    Revalidate();
}

long double TFloatEdit::Value() {
    if (!Check())
        throw EConvertError(kValueError);
    return FValue;
}

void TFloatEdit::SetValue(long double v) {
    setText(FormatGeneral(v));
}

bool TFloatEdit::ReadText() {
    const std::optional<long double> v = ReadFloat(text(), FDecSeparator);
    if (!v || !InRange(*v, FMinValue, FMaxValue))
        return false;
    FValue = *v;
    return true;
}
