// SPDX-License-Identifier: Apache-2.0
#include "diagnostics/PlotForm.h"

#include "protocol/Constants.h"
#include "widgets/MessageBoxes.h"
#include "widgets/SaveDialogs.h"

#include <QDateTime>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>

// ---------------------------------------------------------------------------------------------
// The drawing

class TPlotCanvas : public QWidget {
public:
    TPlotCanvas(const TPlotForm* form, QWidget* parent) : QWidget(parent), FForm(form) {
        setObjectName(QStringLiteral("PlotCanvas"));
        setAttribute(Qt::WA_OpaquePaintEvent);
        setMinimumSize(520, 380);
    }
    QSize sizeHint() const override { return {820, 560}; }

protected:
    void paintEvent(QPaintEvent*) override;

private:
    const TPlotForm* FForm;
};

namespace {

const QColor PositionColor(0, 90, 200);
const QColor GraspingColor(230, 120, 0);
const QColor GridColor(225, 225, 225);

QColor LaneColor(std::uint32_t flag) {
    if (flag == SF_FAST_STOP || (flag >= 0x4000 && flag != 0x80000))
        return {210, 40, 40}; // stops, faults, failures
    if (flag == 0x2000)
        return {235, 150, 0}; // temperature warning
    return {60, 140, 90};
}

// A tick step of 1, 2 or 5 times a power of ten giving about `ticks` intervals.
double NiceStep(double span, int ticks) {
    const double raw = span / ticks;
    const double power = std::pow(10.0, std::floor(std::log10(raw)));
    for (const double m : {1.0, 2.0, 5.0})
        if (raw <= m * power)
            return m * power;
    return 10 * power;
}

} // namespace

void TPlotCanvas::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), Qt::white);
    const TPlotTrace& trace = FForm->Trace();
    const QFontMetrics fm = p.fontMetrics();
    const int lineH = fm.height();

    // The flag names are many; a smaller font keeps the strip from crowding out the graph.
    QFont laneFont = font();
    laneFont.setPointSizeF(laneFont.pointSizeF() * 0.85);
    const QFontMetrics laneFm(laneFont);
    int labelW = fm.horizontalAdvance(QStringLiteral("000.0 mm"));
    for (const TSysflagDescr& d : SysflagDescr)
        labelW = std::max(labelW, laneFm.horizontalAdvance(QString::fromLatin1(d.Descr)));
    int stateW = 0;
    for (const char* n : GraspingStateNames)
        stateW = std::max(stateW, fm.horizontalAdvance(QString::fromLatin1(n)));
    const int left = labelW + 14;
    const int right = width() - stateW - 14;
    const int laneH =
        std::clamp((height() - 2 * lineH) / 2 / int(SysflagDescr.size()), 6, laneFm.height());
    const int stripH = laneH * int(SysflagDescr.size());
    const int top = lineH + 6;
    const int timeAxisY = height() - lineH - 2;
    const int stripTop = timeAxisY - 4 - stripH;
    const int graphBottom = stripTop - 10;
    if (right - left < 40 || graphBottom - top < 40)
        return;

    const std::int64_t end = trace.ViewEnd(FForm->Now());
    const std::int64_t start = end - TPlotTrace::WindowMs;
    const double pxPerMs = double(right - left) / double(TPlotTrace::WindowMs);
    auto xOf = [&](std::int64_t t) {
        return left + double(std::clamp(t, start, end) - start) * pxPerMs;
    };

    // Position range over what is visible, at least 10 mm.
    double lo = std::numeric_limits<double>::max();
    double hi = std::numeric_limits<double>::lowest();
    for (std::size_t i = 0; i < trace.Size(); ++i) {
        const TPlotSample& s = trace.At(i);
        if ((s.Known & TPlotTrace::HasPosition) && std::isfinite(s.Position)) {
            lo = std::min(lo, double(s.Position));
            hi = std::max(hi, double(s.Position));
        }
    }
    if (lo > hi)
        lo = 0, hi = 100;
    if (hi - lo < 10) {
        const double mid = (hi + lo) / 2;
        lo = mid - 5;
        hi = mid + 5;
    }
    // A little room, so a line at the extremes does not vanish in the frame.
    const double pad = (hi - lo) * 0.03;
    lo -= pad;
    hi += pad;
    double step = NiceStep(hi - lo, 5);
    lo = std::floor(lo / step) * step;
    hi = std::ceil(hi / step) * step;
    // Values far beyond any stroke lose the fraction that the steps need; stepping through
    // them would never end.
    if (!std::isfinite(lo) || !std::isfinite(hi) || !(hi > lo) || !(step > 0) ||
        (hi - lo) / step > 20 || lo + step == lo)
        lo = 0, hi = 100, step = 20;
    const int ticks = int(std::lround((hi - lo) / step));
    auto yOf = [&](double mm) { return graphBottom - (mm - lo) / (hi - lo) * (graphBottom - top); };
    auto yOfState = [&](int state) {
        return graphBottom -
               (state + 0.5) / double(GraspingStateNames.size()) * (graphBottom - top);
    };

    // Grid and axes.
    p.setPen(GridColor);
    for (int k = 0; k <= ticks; ++k)
        p.drawLine(QPointF(left, yOf(lo + k * step)), QPointF(right, yOf(lo + k * step)));
    for (int s = 0; s <= 60; s += 10) {
        const double x = left + s * 1000 * pxPerMs;
        p.drawLine(QPointF(x, top), QPointF(x, stripTop + stripH));
    }
    p.setPen(Qt::black);
    p.drawRect(QRectF(left, top, right - left, graphBottom - top));
    p.drawRect(QRectF(left, stripTop, right - left, stripH));
    for (int k = 0; k <= ticks; ++k) {
        const double v = lo + k * step;
        const QString t = QString::number(v, 'f', step < 1 ? 1 : 0) + QStringLiteral(" mm");
        p.drawText(QRectF(0, yOf(v) - lineH / 2.0, left - 6, lineH), Qt::AlignRight, t);
    }
    for (int s = 0; s <= 60; s += 10) {
        const double x = left + s * 1000 * pxPerMs;
        const QString t = s == 60 ? QStringLiteral("0 s") : QStringLiteral("-%1 s").arg(60 - s);
        p.drawText(QRectF(x - 40, timeAxisY, 80, lineH), Qt::AlignHCenter, t);
    }
    p.setPen(GraspingColor);
    for (int g = 0; g < int(GraspingStateNames.size()); ++g)
        p.drawText(QRectF(right + 6, yOfState(g) - lineH / 2.0, stateW + 8, lineH), Qt::AlignLeft,
                   QString::fromLatin1(GraspingStateNames[std::size_t(g)]));
    p.setPen(PositionColor);
    p.drawText(QRectF(left, 2, right - left, lineH), Qt::AlignLeft,
               QStringLiteral("Position (mm)"));
    p.setPen(GraspingColor);
    p.drawText(QRectF(left, 2, right - left, lineH), Qt::AlignRight,
               QStringLiteral("Grasping state"));
    p.setPen(Qt::black);
    p.setFont(laneFont);
    for (std::size_t i = 0; i < SysflagDescr.size(); ++i)
        p.drawText(QRectF(0, stripTop + laneH * int(i), left - 6, laneH),
                   Qt::AlignRight | Qt::AlignVCenter, QString::fromLatin1(SysflagDescr[i].Descr));

    // One pass over the samples builds the two lines and the flag bars.
    QPainterPath position;
    QPainterPath grasping;
    bool posStarted = false;
    bool graspStarted = false;
    double lastPosX = -1;
    double lastPosY = 0;
    std::array<std::int64_t, SysflagDescr.size()> open{};
    open.fill(-1);
    const QRectF stripClip(left, stripTop, right - left, stripH);
    auto bar = [&](std::size_t lane, std::int64_t from, std::int64_t to) {
        const QRectF r(xOf(from), stripTop + laneH * int(lane) + 1,
                       std::max(1.0, xOf(to) - xOf(from)), laneH - 2);
        p.fillRect(r.intersected(stripClip), LaneColor(SysflagDescr[lane].Flag));
    };
    for (std::size_t i = 0; i < trace.Size(); ++i) {
        const TPlotSample& s = trace.At(i);
        const double x = xOf(s.Time);
        if ((s.Known & TPlotTrace::HasPosition) && std::isfinite(s.Position)) {
            const double y = std::clamp(yOf(s.Position), top - 10.0, graphBottom + 10.0);
            if (!posStarted) {
                position.moveTo(x, y);
                posStarted = true;
            } else if (x - lastPosX >= 0.5 || std::abs(y - lastPosY) >= 0.5) {
                // Many samples on one pixel column add nothing but path elements.
                position.lineTo(x, y);
            }
            lastPosX = x;
            lastPosY = y;
        }
        if (s.Known & TPlotTrace::HasGraspingState) {
            const double y = yOfState(std::min<int>(s.GraspingState, 5));
            if (!graspStarted) {
                grasping.moveTo(x, y);
                graspStarted = true;
            } else if (grasping.currentPosition().y() != y) {
                grasping.lineTo(x, grasping.currentPosition().y());
                grasping.lineTo(x, y);
            }
        }
        if (s.Known & TPlotTrace::HasSystemState) {
            for (std::size_t lane = 0; lane < SysflagDescr.size(); ++lane) {
                const bool set = (s.SystemState & SysflagDescr[lane].Flag) != 0;
                if (set && open[lane] < 0) {
                    open[lane] = s.Time;
                } else if (!set && open[lane] >= 0) {
                    bar(lane, open[lane], s.Time);
                    open[lane] = -1;
                }
            }
        }
    }
    // The last reported values hold until the end of the view.
    const double xEnd = xOf(end);
    for (std::size_t lane = 0; lane < SysflagDescr.size(); ++lane)
        if (open[lane] >= 0)
            bar(lane, open[lane], end);
    p.setRenderHint(QPainter::Antialiasing);
    p.setClipRect(QRectF(left, top, right - left, graphBottom - top).adjusted(0, -2, 0, 2));
    if (graspStarted) {
        grasping.lineTo(xEnd, grasping.currentPosition().y());
        p.setPen(QPen(GraspingColor, 1.5));
        p.drawPath(grasping);
    }
    if (posStarted) {
        position.lineTo(xEnd, position.currentPosition().y());
        p.setPen(QPen(PositionColor, 2));
        p.drawPath(position);
    }
}

// ---------------------------------------------------------------------------------------------
// The window

TPlotForm::TPlotForm(QWidget* parent) : QWidget(parent, Qt::Window) {
    setObjectName(QStringLiteral("PlotForm"));
    setWindowTitle(QStringLiteral("Plot"));
    FElapsed.start();

    lbPlotStatus = new QLabel(this);
    lbPlotStatus->setObjectName(QStringLiteral("lbPlotStatus"));
    btnSavePng = new QPushButton(QStringLiteral("Save as PNG..."), this);
    btnSavePng->setObjectName(QStringLiteral("btnSavePng"));
    Canvas = new TPlotCanvas(this, this);
    auto* bar = new QHBoxLayout;
    bar->addWidget(lbPlotStatus, 1);
    bar->addWidget(btnSavePng);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(bar);
    layout->addWidget(Canvas, 1);

    // Updates come at up to 100 Hz; the view needs far fewer frames to scroll smoothly.
    FRepaint = new QTimer(this);
    FRepaint->setInterval(100);
    connect(FRepaint, &QTimer::timeout, Canvas, qOverload<>(&QWidget::update));
    connect(btnSavePng, &QPushButton::clicked, this, &TPlotForm::btnSavePngClick);
    ShowStatus();
}

std::int64_t TPlotForm::Now() const {
    return FClock ? FClock() : FElapsed.elapsed();
}

void TPlotForm::SetConnected(bool connected) {
    if (connected == FTrace.Running())
        return;
    if (connected)
        FTrace.BeginRun(Now());
    else
        FTrace.EndRun(Now());
    ShowStatus();
    UpdateFollowing();
    Canvas->update();
}

void TPlotForm::AddPosition(float mm) {
    FTrace.AddPosition(Now(), mm);
}

void TPlotForm::AddGraspingState(std::uint8_t state) {
    FTrace.AddGraspingState(Now(), state);
}

void TPlotForm::AddSystemState(std::uint32_t state) {
    FTrace.AddSystemState(Now(), state);
}

void TPlotForm::ShowStatus() {
    if (FTrace.Running())
        lbPlotStatus->setText(QStringLiteral("Following the connected gripper (last 60 s)"));
    else if (!FTrace.Empty())
        lbPlotStatus->setText(QStringLiteral("Last run, until the link ended at %1")
                                  .arg(QDateTime::currentDateTime()
                                           .addMSecs(FTrace.ViewEnd(0) - Now())
                                           .toString(QStringLiteral("HH:mm:ss"))));
    else
        lbPlotStatus->setText(QStringLiteral("No gripper connected"));
}

void TPlotForm::UpdateFollowing() {
    // Nobody looks at a hidden window, and a stopped run does not move.
    if (isVisible() && FTrace.Running())
        FRepaint->start();
    else
        FRepaint->stop();
}

void TPlotForm::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    UpdateFollowing();
}

void TPlotForm::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    UpdateFollowing();
}

bool TPlotForm::SavePng(const QString& fileName) {
    return grab().save(fileName, "PNG");
}

void TPlotForm::btnSavePngClick() {
    QString name = AskSaveFile(this, QStringLiteral("Save plot"), QStringLiteral("plot"),
                               QStringLiteral("png"), QStringLiteral("PNG images (*.png)"));
    if (name.isEmpty())
        return;
    if (!name.endsWith(QStringLiteral(".png"), Qt::CaseInsensitive))
        name += QStringLiteral(".png");
    if (!SavePng(name))
        ShowError(QStringLiteral("Cannot write the file %1.").arg(name), this);
}
