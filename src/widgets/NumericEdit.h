// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <QColor>
#include <QFont>
#include <QLineEdit>

#include <functional>

// What TFloatEdit and TIntegerEdit share: the look of an invalid text and the change
// notifications. The number itself, its range and its reading stay with each field's own type.
class TNumericEdit : public QLineEdit {
    Q_OBJECT
public:
    using TNotifyEvent = std::function<void(QObject* Sender)>;

    QColor ErrorBkgColor() const { return FErrorBkgColor; }
    void SetErrorBkgColor(const QColor& c) { FErrorBkgColor = c; }
    QFont ErrorFont() const { return FErrorFont; }
    void SetErrorFont(const QFont& f) { FErrorFont = f; }
    // The colour of ErrorFont (a QFont carries none); the normal text colour unless set.
    QColor ErrorFontColor() const { return FErrorFontColor; }
    void SetErrorFontColor(const QColor& c) { FErrorFontColor = c; }

    // OnNumericChange reports each new valid value once, before OnChange, which reports every
    // text change.
    TNotifyEvent OnNumericChange;
    TNotifyEvent OnChange;

    bool IsValid() const { return FIsValid; }

protected:
    explicit TNumericEdit(QWidget* owner);

    // No range when both bounds are 0; a reversed or empty range accepts nothing.
    template <typename T> static bool InRange(T v, T minimum, T maximum) {
        if (minimum == 0 && maximum == 0)
            return true;
        return minimum < maximum && v >= minimum && v <= maximum;
    }

    bool Check();
    // Re-checks the text and shows the outcome; the derived constructor calls it once.
    void Revalidate();

private:
    // Reads the text into the field's value; false when it is not a valid value.
    virtual bool ReadText() = 0;
    virtual bool ValueUnreported() const = 0;
    virtual void MarkReported() = 0;

    void UpdateAppearance();
    void TextChanged();

    QColor FErrorBkgColor;
    QFont FErrorFont;
    QColor FErrorFontColor;
    QColor FNormalColor;
    QColor FNormalTextColor;
    QColor FDisabledColor;
    QColor FDisabledTextColor;
    QFont FNormalFont;
    bool FIsValid = false;
};
