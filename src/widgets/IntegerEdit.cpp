#include "widgets/IntegerEdit.h"

namespace {

const QString kValueError =
    QStringLiteral("TIntegerEdit.value: the text property is not a valid integer value");

int HexDigit(QChar c) {
    const char16_t u = c.unicode();
    if (u >= u'0' && u <= u'9')
        return u - u'0';
    if (u >= u'a' && u <= u'f')
        return u - u'a' + 10;
    if (u >= u'A' && u <= u'F')
        return u - u'A' + 10;
    return -1;
}

} // namespace

TIntegerEdit::TIntegerEdit(QWidget* owner) : TNumericEdit(owner) {
    Revalidate();
}

std::optional<std::int32_t> TIntegerEdit::ReadInteger(const QString& input) {
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
            const int d = HexDigit(text[i]);
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

void TIntegerEdit::SetMinValue(std::int32_t v) {
    FMinValue = v;
    Revalidate();
}

void TIntegerEdit::SetMaxValue(std::int32_t v) {
    FMaxValue = v;
    Revalidate();
}

std::int32_t TIntegerEdit::Value() {
    if (!Check())
        throw EConvertError(kValueError);
    return FValue;
}

void TIntegerEdit::SetValue(std::int32_t v) {
    setText(QString::number(v));
}

bool TIntegerEdit::ReadText() {
    const std::optional<std::int32_t> v = ReadInteger(text());
    if (!v || !InRange(*v, FMinValue, FMaxValue))
        return false;
    FValue = *v;
    return true;
}
