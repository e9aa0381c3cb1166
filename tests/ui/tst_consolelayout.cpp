// SPDX-License-Identifier: Apache-2.0
// The console as an operator meets it: what fits on screen, what the keys and the wheel do.

#include "ConsoleRig.h"
#include "diagnostics/CommLogForm.h"
#include "diagnostics/CustomCmdForm.h"
#include "ui/KaroApplication.h"
#include "ui/ListBoxDialog.h"
#include "widgets/FloatEditDialog.h"
#include "widgets/RollPanel.h"
#include "widgets/TrackCoupling.h"

#include <QAction>
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPointer>
#include <QRadioButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSplitter>
#include <QStyle>
#include <QTimer>
#include <QToolButton>
#include <QWheelEvent>

namespace {

QString PlainText(QString text) {
    return text.replace(QStringLiteral("&&"), QStringLiteral("\x1")).remove(QLatin1Char('&'));
}

// Every label, button, check box, group title and menu title of a shown window whose text
// needs more room than its control has, as "name: text".
QStringList CutTexts(QWidget* window) {
    QStringList cut;
    auto report = [&](const QWidget* w, const QString& text, int need, int have) {
        cut << QStringLiteral("%1/%2 \"%3\": needs %4, has %5")
                   .arg(window->objectName(), w->objectName(), text)
                   .arg(need)
                   .arg(have);
    };
    const auto widgets = window->findChildren<QWidget*>();
    for (QWidget* w : widgets) {
        if (!w->isVisibleTo(window) || w->window() != window)
            continue;
        if (auto* l = qobject_cast<QLabel*>(w)) {
            if (l->text().isEmpty())
                continue;
            if (l->wordWrap()) {
                if (l->heightForWidth(l->width()) > l->height())
                    report(l, l->text(), l->heightForWidth(l->width()), l->height());
            } else if (l->minimumSizeHint().width() > l->width()) {
                report(l, l->text(), l->minimumSizeHint().width(), l->width());
            }
        } else if (qobject_cast<QCheckBox*>(w) || qobject_cast<QRadioButton*>(w)) {
            auto* b = static_cast<QAbstractButton*>(w);
            if (b->sizeHint().width() > b->width())
                report(b, b->text(), b->sizeHint().width(), b->width());
        } else if (auto* b = qobject_cast<QAbstractButton*>(w)) {
            if (b->text().isEmpty())
                continue;
            const int margin =
                2 * b->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, b);
            const int need = b->fontMetrics().horizontalAdvance(PlainText(b->text())) + margin;
            if (need > b->width())
                report(b, b->text(), need, b->width());
        } else if (auto* g = qobject_cast<QGroupBox*>(w)) {
            const int need = g->fontMetrics().horizontalAdvance(PlainText(g->title()));
            if (need > g->width())
                report(g, g->title(), need, g->width());
        } else if (auto* bar = qobject_cast<QMenuBar*>(w)) {
            const auto actions = bar->actions();
            for (QAction* a : actions)
                if (!bar->rect().contains(bar->actionGeometry(a)))
                    report(bar, a->text(), bar->actionGeometry(a).right(), bar->width());
        }
    }
    return cut;
}

QStringList ShowAndCheck(QWidget* window) {
    window->show();
    if (!QTest::qWaitForWindowExposed(window))
        return {window->objectName() + QStringLiteral(": never shown")};
    return CutTexts(window);
}

// The first modal dialog that `open` brings up is checked and cancelled; none is fine.
QStringList CheckModal(const std::function<void()>& open) {
    QStringList cut;
    QPointer<QTimer> poll = WhenModalWidget([](QWidget*) { return true; },
                                            [&cut](QWidget* dialog) {
                                                cut = CutTexts(dialog);
                                                dialog->close();
                                            });
    open();
    delete poll.data();
    return cut;
}

const std::initializer_list<const char*> AllBandButtons = {"btnAcc",   "btnForce",   "btnMove",
                                                           "btnGrasp", "btnRelease", "btnStop"};

// Whether the buttons lie wholly inside the visible part of the command column, which the
// window's edge may also clip.
bool ButtonsInView(const TMainWin& w, std::initializer_list<const char*> names) {
    const QWidget* view = Part<QScrollArea>(&w, "sbCommands")->viewport();
    QRect visible = view->rect();
    for (const QWidget* outer = view->parentWidget(); outer; outer = outer->parentWidget())
        visible &= QRect(view->mapFrom(outer, QPoint()), outer->size());
    for (const char* name : names) {
        const auto* b = Part<QPushButton>(&w, name);
        if (!visible.contains(QRect(b->mapTo(view, QPoint()), b->size())))
            return false;
    }
    return true;
}

void Wheel(QWidget* target, int steps) {
    const QPointF at(target->width() / 2.0, target->height() / 2.0);
    QWheelEvent e(at, target->mapToGlobal(at), QPoint(), QPoint(0, 120 * steps), Qt::NoButton,
                  Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(target, &e);
}

} // namespace

class TestConsoleLayout : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void everythingFitsAndMoveAndGraspStayInViewAtTheMinimum() {
        TConsoleRig rig;
        TMainWin& w = *rig.Win;
        auto* column = Part<QScrollArea>(&w, "sbCommands");
        // The design size shows every band's button and both state panels without scrolling
        // (the first size may be smaller, on a screen that does not hold it).
        w.resize(QSize(680, 779).expandedTo(w.ContentSize()));
        QTRY_VERIFY(ButtonsInView(w, AllBandButtons));
        QVERIFY(!column->horizontalScrollBar()->isVisible());
        QVERIFY(!column->verticalScrollBar()->isVisible());
        QVERIFY(!Part<QScrollArea>(&w, "ScrollBox1")->verticalScrollBar()->isVisible());
        const int track = Part<QSlider>(&w, "tbGraspingPos")->width();
        const int readout = QFontInfo(Part<QLabel>(&w, "lbPosition")->font()).pixelSize();
        // Nothing smaller than the minimum; there the track bars have shortened, Move and
        // Grasp are in view without scrolling, and the bands below them scroll, unsqueezed.
        w.resize(100, 100);
        QTRY_COMPARE(w.size(), w.minimumSize());
        QVERIFY(w.minimumSize().width() >= 300 && w.minimumSize().height() >= 480);
        QTRY_VERIFY(Part<QSlider>(&w, "tbGraspingPos")->width() < track);
        QVERIFY(ButtonsInView(w, {"btnMove", "btnGrasp"}));
        QVERIFY(!column->horizontalScrollBar()->isVisible());
        QTRY_VERIFY(column->verticalScrollBar()->isVisible());
        QCOMPARE(Part<QWidget>(&w, "pnRelease")->height(),
                 Part<QWidget>(&w, "pnRelease")->sizeHint().height());
        const QStringList cut = CutTexts(&w);
        QVERIFY2(cut.isEmpty(), qPrintable(cut.join(QLatin1Char('\n'))));
        // A larger window has larger read-outs; back at the design size they are as before.
        w.resize(QSize(680, 779).expandedTo(w.ContentSize()) * 1.5);
        QTRY_VERIFY(QFontInfo(Part<QLabel>(&w, "lbPosition")->font()).pixelSize() > readout);
        QTRY_VERIFY(ButtonsInView(w, AllBandButtons));
        w.resize(QSize(680, 779).expandedTo(w.ContentSize()));
        QTRY_COMPARE(QFontInfo(Part<QLabel>(&w, "lbPosition")->font()).pixelSize(), readout);
    }

    void resultsFollowTheSplitter() {
        TConsoleRig rig;
        TMainWin& w = *rig.Win;
        const int text = Part<QPlainTextEdit>(&w, "AsyncLog")->height();
        const QList<int> sizes = Part<QSplitter>(&w, "Splitter1")->sizes();
        Part<QSplitter>(&w, "Splitter1")->setSizes({sizes[0] - 120, sizes[1] + 120});
        QTRY_COMPARE(Part<QPlainTextEdit>(&w, "AsyncLog")->height(), text + 120);
        QCOMPARE(Part<TRollPanel>(&w, "RollPanel2")->height(),
                 Part<QWidget>(&w, "pnResults")->height());
        // Collapsed, the panel keeps to its caption and the splitter stays where it was put.
        const QList<int> placed = Part<QSplitter>(&w, "Splitter1")->sizes();
        Part<TRollPanel>(&w, "RollPanel2")->SetState(TRollPanel::rpCollapsed);
        QTRY_VERIFY(!Part<TRollPanel>(&w, "RollPanel2")->IsAnimating());
        QCOMPARE(Part<TRollPanel>(&w, "RollPanel2")->height(),
                 Part<TRollPanel>(&w, "RollPanel2")->CollapsedHeight());
        QCOMPARE(Part<QSplitter>(&w, "Splitter1")->sizes(), placed);
        // Moved while collapsed, then expanded: the panel fills its new place.
        Part<QSplitter>(&w, "Splitter1")->setSizes({placed[0] + 60, placed[1] - 60});
        Part<TRollPanel>(&w, "RollPanel2")->SetState(TRollPanel::rpExpanded);
        QTRY_VERIFY(!Part<TRollPanel>(&w, "RollPanel2")->IsAnimating());
        QCOMPARE(Part<TRollPanel>(&w, "RollPanel2")->height(),
                 Part<QWidget>(&w, "pnResults")->height());
        QCOMPARE(Part<QPlainTextEdit>(&w, "AsyncLog")->height(), text + 60);
    }

    void noTextIsWiderThanItsControl() {
        TConsoleRig rig;
        TMainWin& w = *rig.Win;
        QStringList cut = CutTexts(&w);
        // The windows the console owns, each at its first size ...
        const auto owned = w.findChildren<QDialog*>(Qt::FindDirectChildrenOnly);
        QVERIFY(owned.size() >= 2);
        for (QDialog* d : owned) {
            cut += ShowAndCheck(d);
            d->hide();
        }
        for (const char* unit : {"mm/s²", "N"}) {
            w.ValueDialog()->SetUnit(QString::fromUtf8(unit));
            w.ValueDialog()->SetRangeText(QStringLiteral("Allowed: 1000.00 to 10000.00 ") +
                                          QString::fromUtf8(unit));
            cut += ShowAndCheck(w.ValueDialog());
            w.ValueDialog()->hide();
        }
        TCommLog log;
        log.setObjectName(QStringLiteral("CommLog"));
        cut += ShowAndCheck(&log);
        TListBoxDlg list(&w);
        list.AddRow(QStringLiteral("Maximum acceleration"), QStringLiteral("5000 mm/s²"));
        list.AddRow(QStringLiteral("Number of not found parts"), QStringLiteral("65535"));
        cut += ShowAndCheck(&list);
        // ... and every dialog a transport may ask through, whichever transports exist.
        IDevicePrompts* prompts = w.Gripper()->Command()->Prompts();
        QVERIFY(prompts);
        int index = 0;
        QString port;
        cut += CheckModal([&] { prompts->SelectDevice(*w.Gripper()->Command(), index, port); });
        TDeviceSettings tcp = TTcpSettings{};
        cut += CheckModal([&] { prompts->Edit(tcp, QStringLiteral("TCP")); });
        TDeviceSettings udp = TUdpSettings{};
        cut += CheckModal([&] { prompts->Edit(udp, QStringLiteral("UDP")); });
        TDeviceSettings serial = TSerialSettings{};
        cut += CheckModal([&] { prompts->Edit(serial, QStringLiteral("ttyS0")); });
        TDeviceSettings can = TCanSettings{};
        cut += CheckModal([&] { prompts->Edit(can, QStringLiteral("can0")); });
        QVERIFY2(cut.isEmpty(), qPrintable(cut.join(QLatin1Char('\n'))));
    }

    void mnemonicsDoNotCollide() {
        TConsoleRig rig;
        TMainWin& w = *rig.Win;
        // Alt+letter of the window: menu titles and controls share one set.
        QMap<QKeySequence, QStringList> owners;
        const auto titles = w.menuBar()->actions();
        for (QAction* a : titles)
            owners[QKeySequence::mnemonic(a->text())] << a->text();
        const auto controls = w.findChildren<QAbstractButton*>();
        for (QAbstractButton* b : controls)
            owners[QKeySequence::mnemonic(b->text())] << b->text();
        const auto labels = w.findChildren<QLabel*>();
        for (QLabel* l : labels)
            if (l->buddy())
                owners[QKeySequence::mnemonic(l->text())] << l->text();
        // Inside each menu its entries share another.
        for (QAction* title : titles) {
            QMap<QKeySequence, QStringList> entries;
            const auto actions = title->menu()->actions();
            for (QAction* a : actions)
                entries[QKeySequence::mnemonic(a->text())] << a->text();
            entries.remove(QKeySequence());
            for (auto it = entries.cbegin(); it != entries.cend(); ++it)
                QVERIFY2(it.value().size() == 1, qPrintable(it.value().join(u'|')));
        }
        owners.remove(QKeySequence());
        QVERIFY(owners.size() >= 6);
        for (auto it = owners.cbegin(); it != owners.cend(); ++it)
            QVERIFY2(it.value().size() == 1, qPrintable(it.value().join(u'|')));

        // The grasp key reaches the button, not the Gripper menu.
        QVERIFY(rig.Connect());
        w.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        QTest::keyClick(&w,
                        QKeySequence::mnemonic(Part<QPushButton>(&w, "btnGrasp")->text())[0].key(),
                        Qt::AltModifier);
        QTRY_COMPARE(rig.Count(CMD_GRASP_RAW), 1);
    }

    void theWheelMovesTrackBarAndEntryTogether() {
        TConsoleRig rig;
        TMainWin& w = *rig.Win;
        QVERIFY(rig.Connect());
        Part<TFloatEdit>(&w, "edGraspingSpeed")->setFocus();
        const int before = Part<QSlider>(&w, "tbGotoPos")->value();
        Wheel(Part<QSlider>(&w, "tbGotoPos"), -3);
        QVERIFY(Part<QSlider>(&w, "tbGotoPos")->value() != before);
        QCOMPARE(
            TrackPosition(Part<TFloatEdit>(&w, "edGotoPos")->Value(), 0, 110, TMainWin::TrackMax),
            Part<QSlider>(&w, "tbGotoPos")->value());

        // The value dialog's pair follows the same rule.
        int track = -1;
        long double entry = -1;
        int moved = -1;
        bool active = false;
        WhenModal<TFloatEditDlg>([&](TFloatEditDlg* d) {
            // A loaded machine runs this before the dialog is the active window, and until it is
            // none of its parts can take the focus. (Its main window being active counts as
            // active for qWaitForWindowActive.)
            active = QTest::qWaitFor([d] { return QApplication::activeWindow() == d; });
            moved = d->tb->value();
            Wheel(d->tb, 4);
            track = d->tb->value();
            entry = d->ed->Value();
            d->BitBtn1->click();
        });
        QTest::mouseClick(Part<QPushButton>(&w, "btnAcc"), Qt::LeftButton);
        QVERIFY(active);
        QVERIFY(track != moved);
        QCOMPARE(TrackPosition(entry, 100, 5000, TFloatEditDlg::TrackMax), track);
    }
};

int main(int argc, char** argv) {
    TKaroApplication app(argc, argv);
    TestConsoleLayout test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_consolelayout.moc"
