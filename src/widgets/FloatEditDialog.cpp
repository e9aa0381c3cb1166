// SPDX-License-Identifier: Apache-2.0
#include "widgets/FloatEditDialog.h"

#include "widgets/TrackCoupling.h"

#include <QFont>
#include <QLabel>
#include <QPushButton>
#include <QResizeEvent>
#include <QShowEvent>
#include <QSlider>

#include <algorithm>
#include <cmath>

namespace {
constexpr int kDesignWidth = 300;
constexpr int kDesignHeight = 165;
constexpr int kDescriptionHeight = 33;
constexpr int kButtonsHeight = 41;
constexpr int kMiddleMinHeight = 30;

} // namespace

TFloatEditDlg::TFloatEditDlg(QWidget* owner)
    : QDialog(owner, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                         Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint) {
    setObjectName(QStringLiteral("FloatEditDlg"));
    setMinimumWidth(kDesignWidth);

    pnDescription = new QLabel(QStringLiteral("Please enter a new value"), this);
    pnDescription->setObjectName(QStringLiteral("pnDescription"));
    pnDescription->setAlignment(Qt::AlignCenter);

    Panel1 = new QWidget(this);
    Panel1->setObjectName(QStringLiteral("Panel1"));
    const int middle = kDesignHeight - kDescriptionHeight - kButtonsHeight;
    Panel1->setGeometry(0, kDescriptionHeight, kDesignWidth, middle);

    tb = new QSlider(Qt::Horizontal, Panel1);
    tb->setObjectName(QStringLiteral("tb"));
    tb->setRange(0, TrackMax);
    tb->setGeometry(8, 0, 184, 30);
    PrepareCoupledTrack(tb);

    ed = new TFloatEdit(Panel1);
    ed->setObjectName(QStringLiteral("ed"));
    ed->setGeometry(200, 0, 56, 22);
    ed->SetErrorBkgColor(ed->palette().color(QPalette::Base));
    QFont errorFont = ed->font();
    errorFont.setBold(true);
    ed->SetErrorFont(errorFont);
    ed->SetErrorFontColor(Qt::red);
    ed->SetDecSeparator(dsDefault);
    ed->SetMinValue(2);
    ed->SetMaxValue(65);
    ed->setText(QStringLiteral("50"));

    lbUnit = new QLabel(QStringLiteral("mm/s²"), Panel1);
    lbUnit->setObjectName(QStringLiteral("lbUnit"));
    lbUnit->setGeometry(262, 0, 34, 16);

    lbRange = new QLabel(Panel1);
    lbRange->setObjectName(QStringLiteral("lbRange"));
    lbRange->hide();

    FEdRight = kDesignWidth - ed->x();
    FUnitRight = kDesignWidth - lbUnit->x();

    Panel2 = new QWidget(this);
    Panel2->setObjectName(QStringLiteral("Panel2"));
    BitBtn2 = new QPushButton(QStringLiteral("OK"), Panel2);
    BitBtn2->setObjectName(QStringLiteral("BitBtn2"));
    BitBtn2->setDefault(true);
    BitBtn2->setGeometry(130, 8, 75, 25);
    BitBtn1 = new QPushButton(QStringLiteral("Cancel"), Panel2);
    BitBtn1->setObjectName(QStringLiteral("BitBtn1"));
    BitBtn1->setAutoDefault(false);
    BitBtn1->setGeometry(213, 8, 75, 25);
    FButtonsRight = kDesignWidth - BitBtn2->x();
    connect(BitBtn2, &QPushButton::clicked, this, &QDialog::accept);
    connect(BitBtn1, &QPushButton::clicked, this, &QDialog::reject);

    connect(tb, &QSlider::valueChanged, this, [this] { tbChange(); });
    ed->OnNumericChange = [this](QObject* sender) { edNumericChange(sender); };
    // OK stays unavailable while the entry is invalid, so nothing typed is thrown away.
    ed->OnChange = [this](QObject*) { BitBtn2->setEnabled(ed->IsValid()); };
    BitBtn2->setEnabled(ed->IsValid());

    resize(kDesignWidth, kDesignHeight);
    FitUnit();
}

void TFloatEditDlg::SetUnit(const QString& unit) {
    lbUnit->setText(unit);
    FitUnit();
}

void TFloatEditDlg::FitUnit() {
    // The unit keeps its design distance from the right edge unless its text needs more; the
    // entry then moves left with it.
    const int unitWidth = std::max(lbUnit->sizeHint().width(), 34);
    const int unitRight = std::max(kDesignWidth - 262, unitWidth + 4);
    lbUnit->resize(unitWidth, std::max(lbUnit->sizeHint().height(), 16));
    FUnitRight = unitRight;
    FEdRight = unitRight + 6 + ed->width();
    FormResize();
}

void TFloatEditDlg::SetMinimum(double v) {
    ed->SetMinValue(v);
    BitBtn2->setEnabled(ed->IsValid());
}

void TFloatEditDlg::SetMaximum(double v) {
    ed->SetMaxValue(v);
    BitBtn2->setEnabled(ed->IsValid());
}

void TFloatEditDlg::SetRangeText(const QString& text) {
    lbRange->setText(text);
    lbRange->setVisible(!text.isEmpty());
    PlaceTrackBar();
}

void TFloatEditDlg::SetValue(double v) {
    ed->SetValue(v);
    BitBtn2->setEnabled(ed->IsValid());
    edNumericChange(ed);
}

void TFloatEditDlg::showEvent(QShowEvent* e) {
    QDialog::showEvent(e);
    // Typing replaces the old value at once.
    ed->setFocus(Qt::OtherFocusReason);
    ed->selectAll();
}

bool TFloatEditDlg::Execute() {
    return exec() == QDialog::Accepted;
}

double TFloatEditDlg::Value() {
    try {
        return static_cast<double>(ed->Value());
    } catch (const EConvertError&) {
        throw EConvertError(QStringLiteral("Edit field does not contain a valid number"));
    }
}

void TFloatEditDlg::tbChange() {
    if (!tb->hasFocus())
        return;
    ed->SetValue(TrackValue(tb->value(), ed->MinValue(), ed->MaxValue(), TrackMax));
}

void TFloatEditDlg::edNumericChange(QObject* /*Sender*/) {
    if (isVisible() && !(ed->hasFocus() && ed->IsValid()))
        return;
    tb->setValue(TrackPosition(ed->Value(), ed->MinValue(), ed->MaxValue(), TrackMax));
}

void TFloatEditDlg::PlaceTrackBar() {
    const int h = Panel1->height();
    for (QWidget* w :
         {static_cast<QWidget*>(tb), static_cast<QWidget*>(ed), static_cast<QWidget*>(lbUnit)})
        w->move(w->x(), (h - w->height()) / 2);
    tb->resize(ed->x() - 2 * tb->x(), tb->height());
    const int below = ed->y() + ed->height() + 4;
    lbRange->setGeometry(tb->x(), std::min(below, h - lbRange->sizeHint().height()),
                         Panel1->width() - 2 * tb->x(), lbRange->sizeHint().height());
}

void TFloatEditDlg::FormResize() {
    const int w = width();
    const int middle = std::max(kMiddleMinHeight, height() - kDescriptionHeight - kButtonsHeight);
    pnDescription->setGeometry(0, 0, w, kDescriptionHeight);
    Panel1->setGeometry(0, kDescriptionHeight, w, middle);
    Panel2->setGeometry(0, kDescriptionHeight + middle, w, kButtonsHeight);
    // Anchored to the right edge.
    ed->move(w - FEdRight, ed->y());
    lbUnit->move(w - FUnitRight, lbUnit->y());
    BitBtn2->move(w - FButtonsRight, BitBtn2->y());
    BitBtn1->move(BitBtn2->x() + 83, BitBtn1->y());
    PlaceTrackBar();
}

void TFloatEditDlg::resizeEvent(QResizeEvent* e) {
    QDialog::resizeEvent(e);
    FormResize();
}
