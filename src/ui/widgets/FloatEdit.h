#pragma once

#include "ui/widgets/ConvertError.h"

#include <QColor>
#include <QFont>
#include <QLineEdit>

#include <functional>
#include <optional>

enum TDecSeparator { dsDefault, dsPoint, dsComma };

// A one-line field that accepts a floating-point number within [MinValue, MaxValue] (no range
// when both are 0). An invalid text shows in ErrorBkgColor and ErrorFont. OnNumericChange
// reports each new valid value once, before OnChange, which reports every text change.
class TFloatEdit : public QLineEdit {
    Q_OBJECT
public:
    using TNotifyEvent = std::function<void(QObject* Sender)>;

    explicit TFloatEdit(QWidget* owner = nullptr);

    QColor ErrorBkgColor() const { return FErrorBkgColor; }
    void SetErrorBkgColor(const QColor& c) { FErrorBkgColor = c; }
    QFont ErrorFont() const { return FErrorFont; }
    void SetErrorFont(const QFont& f) { FErrorFont = f; }
    // The colour of ErrorFont (a QFont carries none); the normal text colour unless set.
    QColor ErrorFontColor() const { return FErrorFontColor; }
    void SetErrorFontColor(const QColor& c) { FErrorFontColor = c; }
    TDecSeparator DecSeparator() const { return FDecSeparator; }
    void SetDecSeparator(TDecSeparator ds) { FDecSeparator = ds; }
    long double MinValue() const { return FMinValue; }
    void SetMinValue(long double v);
    long double MaxValue() const { return FMaxValue; }
    void SetMaxValue(long double v);

    TNotifyEvent OnNumericChange;
    TNotifyEvent OnChange;

    // Re-checks the text; raises EConvertError when it is not a valid value.
    long double Value();
    // Writes the number in general format with the locale's decimal separator.
    void SetValue(long double v);
    bool IsValid() const { return FIsValid; }

    // Reads `text` as the field would with the given separator choice; nothing when unreadable.
    static std::optional<long double> ReadFloat(const QString& text, TDecSeparator ds);
    // At most 15 significant digits, fixed notation from 1E-4 to below 1E15, else scientific.
    static QString FormatGeneral(long double v);

private:
    bool Check();
    void UpdateAppearance();
    void TextChanged();

    QColor FErrorBkgColor;
    QFont FErrorFont;
    TDecSeparator FDecSeparator = dsDefault;
    long double FMinValue = 0;
    long double FMaxValue = 0;
    QColor FErrorFontColor;
    QColor FNormalColor;
    QColor FNormalTextColor;
    QFont FNormalFont;
    long double FValue = 0;
    long double FLastReported = 1.1e4932L;
    bool FIsValid = false;
};
