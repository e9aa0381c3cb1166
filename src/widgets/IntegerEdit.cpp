// SPDX-License-Identifier: Apache-2.0
#include "widgets/IntegerEdit.h"

namespace {

const QString kValueError =
    QStringLiteral("TIntegerEdit.value: the text property is not a valid integer value");

} // namespace

TIntegerEdit::TIntegerEdit(QWidget* owner) : TNumericEdit(owner) {
    Revalidate();
}

std::optional<std::int32_t> TIntegerEdit::ReadInteger(const QString& text) {
    return ReadIntegerText(text);
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
