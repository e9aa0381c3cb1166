// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "protocol/NumberText.h"
#include "widgets/ConvertError.h"
#include "widgets/NumericEdit.h"

#include <optional>

// A one-line field that accepts a floating-point number within [MinValue, MaxValue] (no range
// when both are 0). An invalid text shows in ErrorBkgColor and ErrorFont.
class TFloatEdit : public TNumericEdit {
    Q_OBJECT
public:
    explicit TFloatEdit(QWidget* owner = nullptr);

    TDecSeparator DecSeparator() const { return FDecSeparator; }
    void SetDecSeparator(TDecSeparator ds) { FDecSeparator = ds; }
    long double MinValue() const { return FMinValue; }
    void SetMinValue(long double v);
    long double MaxValue() const { return FMaxValue; }
    void SetMaxValue(long double v);

    // Re-checks the text; raises EConvertError when it is not a valid value.
    long double Value();
    // Writes the number in general format with the locale's decimal separator.
    void SetValue(long double v);

    // Reads `text` as the field would with the given separator choice; nothing when unreadable.
    static std::optional<long double> ReadFloat(const QString& text, TDecSeparator ds);
    // At most 15 significant digits, fixed notation from 1E-4 to below 1E15, else scientific.
    static QString FormatGeneral(long double v);

private:
    bool ReadText() override;
    bool ValueUnreported() const override { return FValue != FLastReported; }
    void MarkReported() override { FLastReported = FValue; }

    TDecSeparator FDecSeparator = dsDefault;
    long double FMinValue = 0;
    long double FMaxValue = 0;
    long double FValue = 0;
    long double FLastReported = 1.1e4932L;
};
