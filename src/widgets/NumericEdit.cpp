// SPDX-License-Identifier: Apache-2.0
#include "widgets/NumericEdit.h"

#include <QGuiApplication>
#include <QPalette>

TNumericEdit::TNumericEdit(QWidget* owner) : QLineEdit(owner) {
    FNormalColor = palette().color(QPalette::Base);
    FNormalFont = font();
    FNormalTextColor = palette().color(QPalette::Text);
    FErrorFontColor = FNormalTextColor;
    FErrorBkgColor = QGuiApplication::palette().color(QPalette::Base);
    FErrorFont = QFont();
    connect(this, &QLineEdit::textChanged, this, &TNumericEdit::TextChanged);
}

bool TNumericEdit::Check() {
    FIsValid = ReadText();
    return FIsValid;
}

void TNumericEdit::Revalidate() {
    Check();
    UpdateAppearance();
}

void TNumericEdit::UpdateAppearance() {
    QPalette p = palette();
    p.setColor(QPalette::Base, FIsValid ? FNormalColor : FErrorBkgColor);
    p.setColor(QPalette::Text, FIsValid ? FNormalTextColor : FErrorFontColor);
    setPalette(p);
    setFont(FIsValid ? FNormalFont : FErrorFont);
    update();
}

void TNumericEdit::TextChanged() {
    Revalidate();
    if (FIsValid && OnNumericChange && ValueUnreported()) {
        OnNumericChange(this);
        MarkReported();
    }
    if (OnChange)
        OnChange(this);
}
