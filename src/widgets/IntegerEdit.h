// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "protocol/NumberText.h"
#include "widgets/ConvertError.h"
#include "widgets/NumericEdit.h"

#include <cstdint>
#include <optional>

// The integer twin of TFloatEdit: decimal, or hexadecimal with "$", "x", "X", "0x" or "0X".
class TIntegerEdit : public TNumericEdit {
    Q_OBJECT
public:
    explicit TIntegerEdit(QWidget* owner = nullptr);

    std::int32_t MinValue() const { return FMinValue; }
    void SetMinValue(std::int32_t v);
    std::int32_t MaxValue() const { return FMaxValue; }
    void SetMaxValue(std::int32_t v);

    // Re-checks the text; raises EConvertError when it is not a valid value.
    std::int32_t Value();
    void SetValue(std::int32_t v);

    // Reads `text` as the field does; nothing when unreadable.
    static std::optional<std::int32_t> ReadInteger(const QString& text);

private:
    bool ReadText() override;
    bool ValueUnreported() const override { return FValue != FLastReported; }
    void MarkReported() override { FLastReported = FValue; }

    std::int32_t FMinValue = 0;
    std::int32_t FMaxValue = 0;
    std::int32_t FValue = 0;
    std::int32_t FLastReported = 2147483647;
};
