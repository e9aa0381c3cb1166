// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "diagnostics/CommLogView.h"

#include <QWidget>

#include <functional>
#include <optional>

class QLabel;
class QLineEdit;
class QToolButton;

struct TFoundText {
    TLogView::TPos From;
    TLogView::TPos To;
};

// The next occurrence of `text` (case-insensitive) starting at `from`, or the last one ending
// before it when `backward`; the search wraps around the end.
std::optional<TFoundText> FindInLines(int count, const std::function<QString(int)>& line,
                                      TLogView::TPos from, const QString& text, bool backward);

// The search strip under the log: what to look for, next and previous.
class TLogFindBar : public QWidget {
    Q_OBJECT
public:
    explicit TLogFindBar(QWidget* parent = nullptr);

    QLineEdit* edFind;
    QToolButton* btnFindNext;
    QToolButton* btnFindPrevious;
    QLabel* lbFindStatus;

Q_SIGNALS:
    void findRequested(bool backward);

protected:
    void keyPressEvent(QKeyEvent* event) override;
};
