// SPDX-License-Identifier: Apache-2.0
#include "widgets/NumericEdit.h"

#include <QGuiApplication>
#include <QPalette>

TNumericEdit::TNumericEdit(QWidget* owner) : QLineEdit(owner) {
    FNormalColor = palette().color(QPalette::Base);
    FNormalFont = font();
    FNormalTextColor = palette().color(QPalette::Text);
    // A palette without a distinct disabled field colour gets the disabled window colours.
    const QPalette& n = palette();
    FDisabledColor = n.color(QPalette::Disabled, QPalette::Base);
    if (FDisabledColor == n.color(QPalette::Active, QPalette::Base))
        FDisabledColor = n.color(QPalette::Disabled, QPalette::Window);
    FDisabledTextColor = n.color(QPalette::Disabled, QPalette::Text);
    if (FDisabledTextColor == n.color(QPalette::Active, QPalette::Text))
        FDisabledTextColor = n.color(QPalette::Disabled, QPalette::WindowText);
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
    for (const QPalette::ColorGroup g : {QPalette::Active, QPalette::Inactive}) {
        p.setColor(g, QPalette::Base, FIsValid ? FNormalColor : FErrorBkgColor);
        p.setColor(g, QPalette::Text, FIsValid ? FNormalTextColor : FErrorFontColor);
    }
    // Colours set for every group would make a disabled field look enabled.
    p.setColor(QPalette::Disabled, QPalette::Base, FDisabledColor);
    p.setColor(QPalette::Disabled, QPalette::Text, FDisabledTextColor);
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
