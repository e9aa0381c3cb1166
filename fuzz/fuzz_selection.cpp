// SPDX-License-Identifier: Apache-2.0
// The command log's conversions of selected text: the selection reader over any text, the three
// conversions over what it reads, the float formatting over any double, and the log line over
// any packet record, whose payload part must read back as the payload it shows.
#include "FuzzSupport.h"
#include "diagnostics/CommLogForm.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cmath>
#include <cstdlib>
#include <cstring>

namespace {

// FormatFloat4's text read back: the locale's separator, "E" exponent, INF and NAN.
void CheckFloatText(double v) {
    const QString text = FormatFloat4(v);
    FuzzCheck(!text.isEmpty());
    if (std::isnan(v)) {
        FuzzCheck(text == QLatin1String("NAN"));
        return;
    }
    if (std::isinf(v)) {
        FuzzCheck(text == (v > 0 ? QLatin1String("INF") : QLatin1String("-INF")));
        return;
    }
    QString c = text;
    c.replace(QLocale().decimalPoint(), QLatin1String("."));
    // Rounding may go past the largest double (1.798E308), so read it back wider.
    const QByteArray plain = c.toLatin1();
    char* end = nullptr;
    const long double back = std::strtold(plain.constData(), &end);
    FuzzCheck(end == plain.constData() + plain.size());
    // Four significant digits: off by at most half a unit in the fourth digit.
    const long double lv = v;
    FuzzCheck(std::fabs(back - lv) <= std::fabs(lv) * 5.0001e-4L);
    const QString mantissa = text.section(QLatin1Char('E'), 0, 0);
    int digits = 0;
    for (const QChar ch : mantissa)
        digits += ch.isDigit() ? 1 : 0;
    FuzzCheck(digits >= 1);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    const QString text = FuzzText(data, size);
    const TByteArray bytes = SelectionToBytes(text);
    const TConversionResult f = ConvertAsFloat(bytes);
    const TConversionResult i = ConvertAsInteger(bytes);
    const TConversionResult t = ConvertAsText(bytes);
    FuzzCheck(f.Error == (bytes.size() != 4));
    FuzzCheck(i.Error == bytes.empty() && t.Error == bytes.empty());
    if (!t.Error)
        FuzzCheck(t.Text.size() == 17 + static_cast<qsizetype>(bytes.size()));

    FuzzedDataProvider fdp(data, size);
    double d = 0;
    const std::vector<std::uint8_t> raw = fdp.ConsumeBytes<std::uint8_t>(sizeof d);
    if (raw.size() == sizeof d) {
        std::memcpy(&d, raw.data(), sizeof d);
        CheckFloatText(d);
        float fl = 0;
        std::memcpy(&fl, raw.data(), sizeof fl);
        CheckFloatText(static_cast<double>(fl));
    }

    TPacket p;
    p.ID = fdp.ConsumeIntegral<std::int32_t>();
    p.Data = fdp.ConsumeBytes<std::uint8_t>(fdp.ConsumeIntegralInRange<std::size_t>(0, 300));
    // Usually consistent, sometimes a record whose length disagrees with its payload.
    p.Length = fdp.ConsumeBool() ? fdp.ConsumeIntegral<std::int32_t>()
                                 : static_cast<std::int32_t>(p.Data.size());
    const bool received = fdp.ConsumeBool();
    for (const bool showID : {false, true}) {
        for (const bool evaluate : {false, true}) {
            const QString line = FormatLogLine(p, received, showID, evaluate);
            FuzzCheck(LogLineLength(p, received, showID, evaluate) == line.size());
            if (evaluate)
                continue;
            const qsizetype colon = line.indexOf(QLatin1String(": "), 12);
            const std::size_t shown =
                std::min(p.Data.size(), static_cast<std::size_t>(std::max(p.Length, 0)));
            if (shown == 0) {
                FuzzCheck(colon < 0);
                continue;
            }
            FuzzCheck(colon > 0);
            const TByteArray back = SelectionToBytes(line.mid(colon + 2));
            FuzzCheck(back == TByteArray(p.Data.begin(),
                                         p.Data.begin() + static_cast<std::ptrdiff_t>(shown)));
        }
    }
    return 0;
}
