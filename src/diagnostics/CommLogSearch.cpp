// SPDX-License-Identifier: Apache-2.0
#include "diagnostics/CommLogSearch.h"

#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QToolButton>

std::optional<TFoundText> FindInLines(int count, const std::function<QString(int)>& line,
                                      TLogView::TPos from, const QString& text, bool backward) {
    if (count <= 0 || text.isEmpty())
        return std::nullopt;
    from.Line = std::clamp(from.Line, 0, count - 1);
    const auto len = static_cast<int>(text.size());
    // count + 1 visits: the start line is searched again from its other end after wrapping.
    for (int step = 0; step <= count; ++step) {
        const int index =
            backward ? ((from.Line - step) % count + count) % count : (from.Line + step) % count;
        const QString s = line(index);
        qsizetype at = -1;
        if (!backward) {
            const int start = step == 0 ? from.Column : 0;
            at = s.indexOf(text, start, Qt::CaseInsensitive);
            if (step == count && at >= from.Column)
                at = -1;
        } else if (step == 0) {
            at = from.Column - len < 0
                     ? -1
                     : s.lastIndexOf(text, from.Column - len, Qt::CaseInsensitive);
        } else {
            at = s.lastIndexOf(text, -1, Qt::CaseInsensitive);
            if (step == count && at + len <= from.Column)
                at = -1;
        }
        if (at >= 0)
            return TFoundText{{index, static_cast<int>(at)}, {index, static_cast<int>(at) + len}};
    }
    return std::nullopt;
}

TLogFindBar::TLogFindBar(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("FindBar"));
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* caption = new QLabel(QStringLiteral("Find:"), this);
    edFind = new QLineEdit(this);
    edFind->setObjectName(QStringLiteral("edFind"));
    edFind->setClearButtonEnabled(true);
    caption->setBuddy(edFind);
    btnFindNext = new QToolButton(this);
    btnFindNext->setObjectName(QStringLiteral("btnFindNext"));
    btnFindNext->setText(QStringLiteral("Next"));
    btnFindNext->setToolTip(QStringLiteral("Find next (F3)"));
    btnFindPrevious = new QToolButton(this);
    btnFindPrevious->setObjectName(QStringLiteral("btnFindPrevious"));
    btnFindPrevious->setText(QStringLiteral("Previous"));
    btnFindPrevious->setToolTip(QStringLiteral("Find previous (Shift+F3)"));
    lbFindStatus = new QLabel(this);
    lbFindStatus->setObjectName(QStringLiteral("lbFindStatus"));
    auto* close = new QToolButton(this);
    close->setText(QStringLiteral("Close"));
    layout->addWidget(caption);
    layout->addWidget(edFind, 1);
    layout->addWidget(btnFindNext);
    layout->addWidget(btnFindPrevious);
    layout->addWidget(lbFindStatus);
    layout->addWidget(close);
    connect(btnFindNext, &QToolButton::clicked, this, [this] { Q_EMIT findRequested(false); });
    connect(btnFindPrevious, &QToolButton::clicked, this, [this] { Q_EMIT findRequested(true); });
    connect(edFind, &QLineEdit::returnPressed, this, [this] {
        Q_EMIT findRequested(QGuiApplication::keyboardModifiers() & Qt::ShiftModifier);
    });
    connect(close, &QToolButton::clicked, this, &QWidget::hide);
}

void TLogFindBar::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape) {
        hide();
        return;
    }
    QWidget::keyPressEvent(event);
}
