// SPDX-License-Identifier: Apache-2.0
#include "ui/MainForm.h"

#include "ui/MainFormShared.h"
#include "ui/WindowPlacement.h"

#include "devices/IniFile.h"
#include "diagnostics/CustomCmdForm.h"
#include "diagnostics/PlotForm.h"
#include "widgets/MessageBoxes.h"

#include <QAction>
#include <QApplication>
#include <QCoreApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QKeyEvent>
#include <QPushButton>
#include <QScreen>
#include <QTextBrowser>
#include <QVBoxLayout>

#include <algorithm>

using namespace mainwin;

// ---------------------------------------------------------------------------------------------
// The Fast Stop key

QString TMainWin::FastStopKeyText() {
    return QKeySequence(FastStopKey).toString(QKeySequence::NativeText);
}

bool TMainWin::eventFilter(QObject* watched, QEvent* e) {
    // Seen by the application before any window, modal ones included; only for widgets, since
    // the key first passes the window object that hands it on to its widget.
    if (e->type() == QEvent::KeyPress && watched->isWidgetType()) {
        const auto* k = static_cast<QKeyEvent*>(e);
        if (k->key() == FastStopKey && !k->isAutoRepeat() &&
            (k->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
            if (btnEmergencyStop->isEnabled())
                btnEmergencyStop->click();
            return true;
        }
    }
    // A tool window's place is noted as it changes: the window may be gone when the settings
    // are written.
    if ((e->type() == QEvent::Move || e->type() == QEvent::Resize) && watched->isWidgetType() &&
        static_cast<QWidget*>(watched)->isWindow()) {
        for (auto it = FPlacedTools.cbegin(); it != FPlacedTools.cend(); ++it)
            if (it.value() == watched)
                FToolGeometry[it.key()] = static_cast<QWidget*>(watched)->geometry();
    }
    return QMainWindow::eventFilter(watched, e);
}

// ---------------------------------------------------------------------------------------------
// Tool windows

namespace {
QMargins FrameOf(const QWidget* w) {
    const QRect inner = w->geometry();
    const QRect outer = w->frameGeometry();
    return {inner.left() - outer.left(), inner.top() - outer.top(), outer.right() - inner.right(),
            outer.bottom() - inner.bottom()};
}
} // namespace

QRect TMainWin::KeepClearArea() const {
    // The Fast Stop button and the state panel: the whole right pane.
    return QRect(pnRight->mapToGlobal(QPoint(0, 0)), pnRight->size());
}

void TMainWin::ShowToolWindow(QWidget* w, const QString& key) {
    if (!w->isVisible() && !FPlacedTools.contains(key)) {
        FPlacedTools.insert(key, w);
        // A resize just made may still move the right pane: settle the layouts first.
        QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
        const QScreen* s = screen() ? screen() : QApplication::primaryScreen();
        const QRect desktop = s ? s->availableGeometry() : QRect();
        // A window not shown yet has no frame of its own; the main window's is the best guess.
        const QMargins frame = FrameOf(this);
        const std::optional<TWindowPlacement> stored =
            ParsePlacement(FSettings->ReadString(QStringLiteral("Common"), key, QString()));
        QRect client;
        if (stored && !desktop.isEmpty()) {
            client = ClampToDesktop(stored->Normal, frame, desktop);
        } else if (!desktop.isEmpty()) {
            w->ensurePolished();
            const QSize size = w->testAttribute(Qt::WA_Resized)
                                   ? w->size()
                                   : w->sizeHint().expandedTo(w->minimumSize());
            const QRect placed =
                PlaceToolWindow(frameGeometry(), KeepClearArea(), size.grownBy(frame), desktop);
            client = placed.marginsRemoved(frame);
        }
        if (!client.isEmpty()) {
            // Its layout's own minimum counts too: the window would grow to it when shown.
            const QSize least = w->minimumSize().expandedTo(w->minimumSizeHint());
            const QSize size = client.size().expandedTo(least).boundedTo(w->maximumSize());
            QPoint at = client.topLeft();
            // Placed left of what must stay in sight, it grows leftwards, not over it.
            if (size.width() > client.width() && client.right() < KeepClearArea().left())
                at.setX(std::max(desktop.left() + frame.left(), client.right() + 1 - size.width()));
            w->resize(size);
            w->move(at - QPoint(frame.left(), frame.top()));
        }
    }
    if (!w->isVisible())
        w->show();
    w->raise();
    w->activateWindow();
}

void TMainWin::WriteToolPlacements() {
    for (auto it = FPlacedTools.cbegin(); it != FPlacedTools.cend(); ++it) {
        TWindowPlacement p;
        p.Normal = it.value() ? it.value()->geometry() : FToolGeometry.value(it.key());
        if (!p.Normal.isEmpty())
            FSettings->WriteString(QStringLiteral("Common"), it.key(), FormatPlacement(p));
    }
}

// ---------------------------------------------------------------------------------------------
// Help

QString TMainWin::ShortcutsText() const {
    QStringList lines;
    auto add = [&lines](const QString& key, const QString& what) {
        lines << key + QLatin1Char('\t') + what;
    };
    add(FastStopKeyText(), QStringLiteral("Fast Stop, from every window of the program"));
    add(QKeySequence(Qt::Key_Escape).toString(QKeySequence::NativeText),
        QStringLiteral("Stop a motion (main window)"));
    for (const QAction* a : findChildren<QAction*>()) {
        if (a->shortcut().isEmpty())
            continue;
        add(a->shortcut().toString(QKeySequence::NativeText),
            QString(a->text()).remove(QLatin1Char('&')));
    }
    add(QKeySequence(QKeySequence::Find).toString(QKeySequence::NativeText),
        QStringLiteral("Find (command log)"));
    add(QKeySequence(Qt::Key_F3).toString(QKeySequence::NativeText),
        QStringLiteral("Find next (command log)"));
    add(QKeySequence(Qt::SHIFT | Qt::Key_F3).toString(QKeySequence::NativeText),
        QStringLiteral("Find previous (command log)"));
    add(QKeySequence(QKeySequence::Copy).toString(QKeySequence::NativeText),
        QStringLiteral("Copy the selected lines (command log)"));
    add(QKeySequence(QKeySequence::SelectAll).toString(QKeySequence::NativeText),
        QStringLiteral("Select all lines (command log)"));
    add(QStringLiteral("Alt+letter"),
        QStringLiteral("Open the menu whose underlined letter it is"));
    return lines.join(QLatin1Char('\n'));
}

void TMainWin::KeyboardShortcuts1Click() {
    ShowInformation(QStringLiteral("Keyboard shortcuts\n\n") + ShortcutsText(), this);
}

QStringList TMainWin::DocumentationCandidates(const QString& programDir) {
    // The build tree puts the program below the source folder that holds the README; the
    // package installs it under share/doc beside the program's bin folder.
    QStringList found;
    QString dir = QDir::cleanPath(programDir);
    for (int up = 0; up < 4; ++up) {
        found << dir + QStringLiteral("/README.md");
        const QString parent = QDir::cleanPath(dir + QStringLiteral("/.."));
        if (parent == dir)
            break;
        dir = parent;
    }
    found << QDir(programDir).filePath(QStringLiteral("../share/doc/karo-commander/README.md"))
          << QStringLiteral("/usr/share/doc/karo-commander/README.md");
    for (QString& f : found)
        f = QDir::cleanPath(f);
    found.removeDuplicates();
    return found;
}

void TMainWin::OpenDocumentation() {
    QString path;
    for (const QString& candidate : DocumentationCandidates(QCoreApplication::applicationDirPath()))
        if (QFileInfo::exists(candidate)) {
            path = candidate;
            break;
        }
    QFile f(path);
    if (path.isEmpty() || !f.open(QIODevice::ReadOnly)) {
        ShowError(path.isEmpty()
                      ? QStringLiteral("The documentation page README.md was not found near the "
                                       "program nor in /usr/share/doc/karo-commander.")
                      : QStringLiteral("Cannot open the documentation page %1: %2.")
                            .arg(QDir::toNativeSeparators(path), f.errorString()),
                  this);
        return;
    }
    // Shown by the program itself: a desktop without a browser or a file handler is common on
    // the machines that drive a gripper.
    if (!FDocumentation) {
        FDocumentation = new QDialog(this);
        FDocumentation->setObjectName(QStringLiteral("Documentation"));
        FDocumentation->setAttribute(Qt::WA_QuitOnClose, false);
        auto* v = new QVBoxLayout(FDocumentation);
        auto* text = new QTextBrowser(FDocumentation);
        text->setObjectName(QStringLiteral("DocumentationText"));
        text->setOpenExternalLinks(true);
        v->addWidget(text);
        auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, FDocumentation);
        connect(buttons, &QDialogButtonBox::rejected, FDocumentation, &QDialog::close);
        v->addWidget(buttons);
        FDocumentation->resize(720, 600);
    }
    auto* text = FDocumentation->findChild<QTextBrowser*>(QStringLiteral("DocumentationText"));
    text->setSearchPaths({QFileInfo(path).absolutePath()});
    text->setMarkdown(QString::fromUtf8(f.readAll()));
    FDocumentation->setWindowTitle(QStringLiteral("Karo Commander: ") +
                                   QDir::toNativeSeparators(path));
    ShowToolWindow(FDocumentation, QStringLiteral("Documentation"));
}
