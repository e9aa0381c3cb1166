#pragma once

#include "ui/widgets/ConvertError.h"

#include <QColor>
#include <QFont>
#include <QLineEdit>

#include <cstdint>
#include <functional>
#include <optional>

// The integer twin of TFloatEdit: decimal, or hexadecimal with "$", "x", "X", "0x" or "0X".
class TIntegerEdit : public QLineEdit {
    Q_OBJECT
public:
    using TNotifyEvent = std::function<void(QObject* Sender)>;

    explicit TIntegerEdit(QWidget* owner = nullptr);

    QColor ErrorBkgColor() const { return FErrorBkgColor; }
    void SetErrorBkgColor(const QColor& c) { FErrorBkgColor = c; }
    QFont ErrorFont() const { return FErrorFont; }
    void SetErrorFont(const QFont& f) { FErrorFont = f; }
    // The colour of ErrorFont (a QFont carries none); the normal text colour unless set.
    QColor ErrorFontColor() const { return FErrorFontColor; }
    void SetErrorFontColor(const QColor& c) { FErrorFontColor = c; }
    std::int32_t MinValue() const { return FMinValue; }
    void SetMinValue(std::int32_t v);
    std::int32_t MaxValue() const { return FMaxValue; }
    void SetMaxValue(std::int32_t v);

    TNotifyEvent OnNumericChange;
    TNotifyEvent OnChange;

    // Re-checks the text; raises EConvertError when it is not a valid value.
    std::int32_t Value();
    void SetValue(std::int32_t v);
    bool IsValid() const { return FIsValid; }

    // Reads `text` as the field does; nothing when unreadable.
    static std::optional<std::int32_t> ReadInteger(const QString& text);

private:
    bool Check();
    void UpdateAppearance();
    void TextChanged();

    QColor FErrorBkgColor;
    QFont FErrorFont;
    std::int32_t FMinValue = 0;
    std::int32_t FMaxValue = 0;
    QColor FErrorFontColor;
    QColor FNormalColor;
    QColor FNormalTextColor;
    QFont FNormalFont;
    std::int32_t FValue = 0;
    std::int32_t FLastReported = 2147483647;
    bool FIsValid = false;
};
