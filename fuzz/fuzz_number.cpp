// SPDX-License-Identifier: Apache-2.0
// The entry fields' number readers: whatever they accept must read back the same when written
// out again, and a float they accept is finite.
#include "FuzzSupport.h"
#include "protocol/NumberText.h"

#include <cmath>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QString text = FuzzText(data, size);

    if (const auto v = ReadIntegerText(text)) {
        FuzzCheck(ReadIntegerText(QString::number(*v)) == v);
        const auto bits = static_cast<std::uint32_t>(*v);
        FuzzCheck(ReadIntegerText(QStringLiteral("$") + QString::number(bits, 16)) == v);
        FuzzCheck(ReadIntegerText(QStringLiteral("0X") + QString::number(bits, 16).toUpper()) == v);
    }

    const QString sep = QLocale().decimalPoint();
    for (const TDecSeparator ds : {dsDefault, dsPoint, dsComma}) {
        const auto v = ReadFloatText(text, ds);
        if (!v)
            continue;
        FuzzCheck(std::isfinite(*v));
        // Written in the locale's own notation the value reads back within rounding.
        const double d = static_cast<double>(*v);
        if (!std::isfinite(d))
            continue; // beyond double: the fields range-check the long double themselves
        QString again = QString::number(d, 'g', 17);
        again.replace(QLatin1Char('.'), sep);
        const auto back = ReadFloatText(again, dsDefault);
        FuzzCheck(back.has_value());
        const double b = static_cast<double>(*back);
        FuzzCheck(b == d || std::fabs(b - d) <= std::fabs(d) * 1e-15 ||
                  std::fpclassify(d) == FP_SUBNORMAL);
    }
    return 0;
}
