// SPDX-License-Identifier: Apache-2.0
#include "ui/MotionBand.h"

#include "ui/BandTitle.h"
#include "ui/MainFormShared.h"
#include "widgets/FloatEdit.h"
#include "widgets/TrackCoupling.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSlider>

void LayOutBand(QFrame* band, const QString& title, const QColor& color, QWidget* contents,
                QPushButton* button) {
    band->setFrameShape(QFrame::StyledPanel);
    // The design minimum of 495 pixels assumed a narrower font; the contents' own minimum
    // (track bars at their shortest) decides, so narrowing the window shortens the track bars
    // before the column scrolls.
    auto* h = new QHBoxLayout(band);
    h->setContentsMargins(0, 0, 8, 0);
    h->setSpacing(8);
    auto* strip = new TBandTitle(title, color, band);
    strip->setObjectName(band->objectName() + QStringLiteral("Title"));
    h->addWidget(strip);
    h->addWidget(contents, 1);
    h->addWidget(button);
}

QPushButton* MakeBandButton(const QString& name, const QString& text, const QString& hint) {
    auto* b = new QPushButton(text);
    b->setObjectName(name);
    b->setMinimumWidth(75);
    b->setAutoDefault(false);
    mainwin::SetHint(b, hint);
    return b;
}

TMotionBand::TMotionBand(const QString& name, const QString& title, const QColor& color,
                         const TMotionRow& position, const TMotionRow& speed, QPushButton* button)
    : FButton(button) {
    setObjectName(name);
    auto* rows = new QWidget;
    rows->setObjectName(name + QStringLiteral("Rows"));
    auto* g = new QGridLayout(rows);
    g->setContentsMargins(0, 6, 0, 6);
    g->setHorizontalSpacing(6);
    QFont bold = font();
    bold.setBold(true);
    const std::array<const TMotionRow*, 2> values{&position, &speed};
    for (int r = 0; r < 2; ++r) {
        const TMotionRow& row = *values[std::size_t(r)];
        auto* label = new QLabel(row.Caption, rows);
        auto* track = new QSlider(Qt::Horizontal, rows);
        track->setObjectName(row.TrackName);
        track->setRange(0, TrackMax);
        track->setValue(0);
        track->setMinimumWidth(40);
        PrepareCoupledTrack(track);
        auto* edit = new TFloatEdit(rows);
        edit->setObjectName(row.EditName);
        edit->SetErrorBkgColor(palette().color(QPalette::Base));
        edit->SetErrorFont(bold);
        edit->SetErrorFontColor(Qt::red);
        edit->SetDecSeparator(dsDefault);
        edit->SetMinValue(DesignMin);
        edit->SetMaxValue(row.DesignMax);
        edit->setText(row.DesignText);
        edit->setFixedWidth(64);
        auto* unit = new QLabel(row.Unit, rows);
        g->addWidget(label, r, 0);
        g->addWidget(track, r, 1);
        g->addWidget(edit, r, 2);
        g->addWidget(unit, r, 3);
        FTracks[std::size_t(r)] = track;
        FEdits[std::size_t(r)] = edit;
    }
    g->setColumnStretch(1, 1);
    LayOutBand(this, title, color, rows, button);
}

bool TMotionBand::ValuesValid() const {
    return FEdits[0]->IsValid() && FEdits[1]->IsValid();
}
