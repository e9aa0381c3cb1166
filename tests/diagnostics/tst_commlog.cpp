// SPDX-License-Identifier: Apache-2.0
#include "diagnostics/CommLogForm.h"

#include "CommLogLines.h"
#include "WidgetSupport.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QMenu>
#include <QMouseEvent>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>

#include <limits>

namespace {

// Marks characters [from, to) of line `line` in the view.
void Select(TCommLog& log, int line, int from, int to) {
    log.RxMsgMemo->SetSelection({line, from}, {line, to});
}

// Marks the first occurrence of `text` in the view, the way a mouse drag would.
void SelectText(TCommLog& log, const QString& text) {
    const QStringList lines = Lines(log);
    const QString all = lines.join(QLatin1Char('\n'));
    const qsizetype at = all.indexOf(text);
    QVERIFY2(at >= 0, qPrintable(text));
    auto posOf = [&](qsizetype offset) {
        int line = 0;
        while (offset > lines[line].size()) {
            offset -= lines[line].size() + 1;
            ++line;
        }
        return TLogView::TPos{line, static_cast<int>(offset)};
    };
    log.RxMsgMemo->SetSelection(posOf(at + text.size()), posOf(at)); // dragged backwards
}

} // namespace

class TestCommLog : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void linesInEveryOptionCombination();
    void optionsRerenderStoredCopies();
    void conversionsOfSelectedBytes();
    void selectionsThatDoNotConvert();
    void floatFormatting();
    void lineLengthMatchesLine();
    void menuOpensOnlyForMarkedText();
    void viewFollowsNewestUnlessOperatorLooksElsewhere();
    void capacityDropsTheOldest();
};

// Beyond its capacity the log drops its oldest entries and says how many went; marked text
// stays on the entry it was on.
void TestCommLog::capacityDropsTheOldest() {
    TCommLog log;
    log.SetCapacity(3);
    for (int id = 1; id <= 3; ++id)
        log.LogPacket(MakePacket(id, "00"), false);
    QCOMPARE(Lines(log).size(), 3);
    Select(log, 2, 0, 17);
    QCOMPARE(log.RxMsgMemo->SelectedText(), QStringLiteral("TX PACKET: ID=03h"));
    for (int id = 4; id <= 5; ++id)
        log.LogPacket(MakePacket(id, "00"), id == 5);
    QCOMPARE(log.Count(), 3);
    QCOMPARE(log.Dropped(), 2);
    QCOMPARE(log.Packet(0).ID, 3);
    QCOMPARE(Lines(log), (QStringList{QStringLiteral("2 older entries dropped"),
                                      QStringLiteral("TX PACKET: ID=03h, Length=1: 00"),
                                      QStringLiteral("TX PACKET: ID=04h, Length=1: 00"),
                                      QStringLiteral("RX PACKET: ID=05h, Length=1: 00")}));
    QCOMPARE(log.RxMsgMemo->SelectedText(), QStringLiteral("TX PACKET: ID=03h"));
    log.cbShowIDDescr->click();
    QCOMPARE(Lines(log).at(0), QStringLiteral("2 older entries dropped"));
    QCOMPARE(Lines(log).size(), 4);
    log.SetCapacity(1);
    QCOMPARE(Lines(log).at(0), QStringLiteral("4 older entries dropped"));
    QCOMPARE(log.Packet(0).ID, 5);
    log.btnClear->click();
    QVERIFY(Lines(log).isEmpty());
    QCOMPARE(log.Dropped(), 0);
}

void TestCommLog::linesInEveryOptionCombination() {
    TCommLog log;
    QCOMPARE(log.windowTitle(), QStringLiteral("Communications log"));
    QVERIFY(!log.isVisible());
    QVERIFY(!log.cbShowIDDescr->isChecked());
    QVERIFY(!log.cbEvaluateErrorCodes->isChecked());

    log.LogPacket(MakePacket(0x43, "00 00 00 00 48 42"), true);
    log.LogPacket(MakePacket(0x20, "00"), false);
    log.LogPacket(MakePacket(0x60, ""), false);
    log.LogPacket(MakePacket(0x40, "00"), true);           // one byte: never evaluated
    log.LogPacket(MakePacket(0x21, "00 00 01 02"), false); // transmitted: never evaluated
    log.LogPacket(MakePacket(0x22, "2A 00 07"), true);     // status beyond the table

    QCOMPARE(Lines(log), (QStringList{
                             QStringLiteral("RX PACKET: ID=43h, Length=6: 00 00 00 00 48 42"),
                             QStringLiteral("TX PACKET: ID=20h, Length=1: 00"),
                             QStringLiteral("TX PACKET: ID=60h, Length=0"),
                             QStringLiteral("RX PACKET: ID=40h, Length=1: 00"),
                             QStringLiteral("TX PACKET: ID=21h, Length=4: 00 00 01 02"),
                             QStringLiteral("RX PACKET: ID=22h, Length=3: 2A 00 07"),
                         }));

    log.cbShowIDDescr->click();
    log.cbEvaluateErrorCodes->click();
    const QStringList both{
        QStringLiteral("RX PACKET: ID=43h (GET_POS), Length=6: 00 00 (E_SUCCESS) 00 00 48 42"),
        QStringLiteral("TX PACKET: ID=20h (HOMING), Length=1: 00"),
        QStringLiteral("TX PACKET: ID=60h (unknown ID(96)), Length=0"),
        QStringLiteral("RX PACKET: ID=40h (GET_SYSTEM_STATE), Length=1: 00"),
        QStringLiteral("TX PACKET: ID=21h (GOTO), Length=4: 00 00 01 02"),
        QStringLiteral("RX PACKET: ID=22h (STOP), Length=3: 2A 00 (42) 07"),
    };
    QCOMPARE(Lines(log), both);

    // Live logging with the options on gives the same lines as the re-render.
    log.LogPacket(MakePacket(0x33, "1A 00"), true);
    QCOMPARE(
        Lines(log).last(),
        QStringLiteral("RX PACKET: ID=33h (GET_FORCE_LIMIT), Length=2: 1A 00 (E_CMD_PENDING)"));

    log.cbShowIDDescr->click();
    QCOMPARE(Lines(log).first(),
             QStringLiteral("RX PACKET: ID=43h, Length=6: 00 00 (E_SUCCESS) 00 00 48 42"));
    QCOMPARE(Lines(log).size(), 7);
}

void TestCommLog::optionsRerenderStoredCopies() {
    TCommLog log;
    TPacket p = MakePacket(0x43, "00 00 00 00 48 42");
    log.LogPacket(p, true);
    // The log keeps its own copy.
    p.Data[5] = 0xFF;
    p.ID = 0x44;
    // A length that claims less than the data holds: only the claimed bytes are stored.
    TPacket shortLen = MakePacket(0x50, "01 02 03");
    shortLen.Length = 2;
    log.LogPacket(shortLen, false);
    QCOMPARE(log.Count(), 2);
    QVERIFY(log.Received(0));
    QVERIFY(!log.Received(1));
    QCOMPARE(log.Packet(1).Data.size(), std::size_t(2));

    log.cbEvaluateErrorCodes->click();
    QCOMPARE(Lines(log),
             (QStringList{
                 QStringLiteral("RX PACKET: ID=43h, Length=6: 00 00 (E_SUCCESS) 00 00 48 42"),
                 QStringLiteral("TX PACKET: ID=50h, Length=2: 01 02"),
             }));

    log.btnClear->click();
    QCOMPARE(log.Count(), 0);
    QCOMPARE(log.RxMsgMemo->ToPlainText(), QString());
    log.cbShowIDDescr->click();
    QCOMPARE(log.RxMsgMemo->ToPlainText(), QString());
    // After clearing, the first new line is not preceded by an empty one.
    log.LogPacket(MakePacket(0x20, ""), false);
    QCOMPARE(Lines(log), QStringList{QStringLiteral("TX PACKET: ID=20h (HOMING), Length=0")});
}

void TestCommLog::conversionsOfSelectedBytes() {
    MessageRecorder boxes;
    TCommLog log;
    log.LogPacket(MakePacket(0x43, "00 00 00 00 20 41 01 02 03 04 05 48 69 0A FF FF FF FF"), true);
    SelectText(log, QStringLiteral("00 00 20 41"));
    log.miAsFloat->trigger();
    SelectText(log, QStringLiteral("01 02 03 04 05"));
    log.miAsInteger->trigger();
    SelectText(log, QStringLiteral("48 69 0A"));
    log.miAsText->trigger();
    SelectText(log, QStringLiteral("FF FF FF FF"));
    log.miAsInteger->trigger();
    SelectText(log, QStringLiteral("01"));
    log.miAsInteger->trigger();
    // Lower case, leading zeros and surrounding blanks are accepted.
    SelectText(log, QStringLiteral(" 00 20 41 01"));
    log.miAsText->trigger();

    QCOMPARE(boxes.Boxes.size(), 6);
    for (const auto& box : boxes.Boxes)
        QCOMPARE(box.first, TMsgKind::Information);
    QCOMPARE(boxes.Texts(),
             (QStringList{
                 QStringLiteral("Value is 10"),
                 QStringLiteral("Value is 67305985 (04030201h)"),
                 QStringLiteral("Text string is \"Hi_\""),
                 QStringLiteral("Value is -1 (FFFFFFFFh)"),
                 QStringLiteral("Value is 1 (00000001h)"),
                 QStringLiteral("Text string is \"_ A\x01\"").replace(QChar(1), QLatin1Char('_')),
             }));
    QCOMPARE(SelectionToBytes(QStringLiteral("4a 04A\t")), HexBytes("4A 4A"));
    QCOMPARE(ConvertAsText(HexBytes("E9 7F")).Text,
             QStringLiteral("Text string is \"") + QChar(0xE9) + QChar(0x7F) + QLatin1Char('"'));
}

void TestCommLog::selectionsThatDoNotConvert() {
    MessageRecorder boxes;
    TCommLog log;
    log.LogPacket(MakePacket(0x43, "00 00 00 00 48 42"), true);
    log.LogPacket(MakePacket(0x44, "10 00"), true);
    const int before = log.Count();
    const QString text = log.RxMsgMemo->ToPlainText();

    SelectText(log, QStringLiteral("00 48 42"));
    log.miAsFloat->trigger(); // three bytes
    SelectText(log, QStringLiteral("Length=6: 00"));
    log.miAsInteger->trigger();
    SelectText(log, QStringLiteral("48 42\nRX"));
    log.miAsText->trigger();
    Select(log, 0, 0, 2); // "RX"
    log.miAsFloat->trigger();
    QCOMPARE(SelectionToBytes(QStringLiteral("100")), TByteArray());
    QCOMPARE(SelectionToBytes(QStringLiteral("41 -1")), TByteArray());
    QCOMPARE(SelectionToBytes(QStringLiteral("(E_SUCCESS)")), TByteArray());
    QCOMPARE(ConvertAsInteger({}).Text, QStringLiteral("Error while converting selected data."));

    QCOMPARE(boxes.Texts(), (QStringList{
                                QStringLiteral("Error: 4 bytes required to form a float value"),
                                QStringLiteral("Error while converting selected data."),
                                QStringLiteral("Error while converting selected data."),
                                QStringLiteral("Error while converting selected data."),
                            }));
    for (const auto& box : boxes.Boxes)
        QCOMPARE(box.first, TMsgKind::Error);
    QCOMPARE(log.Count(), before);
    QCOMPARE(log.RxMsgMemo->ToPlainText(), text);
}

void TestCommLog::floatFormatting() {
    QCOMPARE(FormatFloat4(10), QStringLiteral("10"));
    QCOMPARE(FormatFloat4(0.0001), QStringLiteral("0.0001"));
    QCOMPARE(FormatFloat4(1234), QStringLiteral("1234"));
    QCOMPARE(FormatFloat4(12345), QStringLiteral("1.235E4")); // ties go away from zero
    QCOMPARE(FormatFloat4(12346), QStringLiteral("1.235E4"));
    QCOMPARE(FormatFloat4(0.00001), QStringLiteral("1E-5"));
    QCOMPARE(FormatFloat4(0.00009999), QStringLiteral("9.999E-5"));
    QCOMPARE(FormatFloat4(9999.4), QStringLiteral("9999"));
    QCOMPARE(FormatFloat4(9999.5), QStringLiteral("1E4"));
    QCOMPARE(FormatFloat4(99999), QStringLiteral("1E5"));
    QCOMPARE(FormatFloat4(1.5e20), QStringLiteral("1.5E20"));
    QCOMPARE(FormatFloat4(-3.14159), QStringLiteral("-3.142"));
    QCOMPARE(FormatFloat4(0.5), QStringLiteral("0.5"));
    QCOMPARE(FormatFloat4(0), QStringLiteral("0"));
    QCOMPARE(FormatFloat4(std::numeric_limits<double>::infinity()), QStringLiteral("INF"));
    QCOMPARE(FormatFloat4(-std::numeric_limits<double>::infinity()), QStringLiteral("-INF"));
    QCOMPARE(FormatFloat4(std::numeric_limits<double>::quiet_NaN()), QStringLiteral("NAN"));
    QCOMPARE(ConvertAsFloat(HexBytes("00 00 C0 7F")).Text, QStringLiteral("Value is NAN"));
    QCOMPARE(ConvertAsFloat(HexBytes("00 00 80 FF")).Text, QStringLiteral("Value is -INF"));

    const QLocale previous;
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    QCOMPARE(FormatFloat4(1.5), QStringLiteral("1,5"));
    QCOMPARE(FormatFloat4(12345), QStringLiteral("1,235E4"));
    QLocale::setDefault(previous);
}

void TestCommLog::lineLengthMatchesLine() {
    const TPacket packets[] = {MakePacket(0x43, "00 00 00 00 48 42"), MakePacket(0x60, ""),
                               MakePacket(0x22, "2A 00 07"), MakePacket(0x20, "00"),
                               MakePacket(0xFF, "1F 00")};
    for (const TPacket& p : packets)
        for (int flags = 0; flags < 8; ++flags) {
            const bool rx = flags & 1, ids = flags & 2, eval = flags & 4;
            QCOMPARE(LogLineLength(p, rx, ids, eval), FormatLogLine(p, rx, ids, eval).size());
        }
    TPacket big;
    big.ID = 0x51;
    big.Length = 12345;
    big.Data.assign(12345, 0x41);
    QCOMPARE(LogLineLength(big, true, true, true), FormatLogLine(big, true, true, true).size());
}

void TestCommLog::menuOpensOnlyForMarkedText() {
    TCommLog log;
    log.show();
    log.LogPacket(MakePacket(0x43, "00 00 00 00 48 42"), true);
    QWidget* vp = log.RxMsgMemo->viewport();
    auto release = [&](Qt::MouseButton button) {
        QMouseEvent ev(QEvent::MouseButtonRelease, QPointF(20, 5), vp->mapToGlobal(QPointF(20, 5)),
                       button, Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(vp, &ev);
    };
    Select(log, 0, 10, 11); // the blank after "PACKET:"
    release(Qt::LeftButton);
    QVERIFY(!log.PopupMenu1->isVisible());
    SelectText(log, QStringLiteral("48 42"));
    release(Qt::RightButton);
    QVERIFY(!log.PopupMenu1->isVisible());
    release(Qt::LeftButton);
    QTRY_VERIFY(log.PopupMenu1->isVisible());
    const QList<QAction*> actions = log.PopupMenu1->actions();
    QCOMPARE(actions.size(), 3);
    QCOMPARE(actions[0]->text(), QStringLiteral("as Float"));
    QCOMPARE(actions[1]->text(), QStringLiteral("as Integer"));
    QCOMPARE(actions[2]->text(), QStringLiteral("as Text"));
    log.PopupMenu1->hide();
}

void TestCommLog::viewFollowsNewestUnlessOperatorLooksElsewhere() {
    TCommLog log;
    log.resize(500, 200);
    log.show();
    QScrollBar* bar = log.RxMsgMemo->verticalScrollBar();
    for (int i = 0; i < 100; ++i)
        log.LogPacket(MakePacket(0x43, "00 00 00 00 48 42"), true);
    QVERIFY(bar->maximum() > 0);
    QCOMPARE(bar->value(), bar->maximum());

    bar->setValue(3);
    log.LogPacket(MakePacket(0x43, "00 00"), true);
    QCOMPARE(bar->value(), 3);

    bar->setValue(bar->maximum());
    Select(log, 2, 0, 5);
    log.LogPacket(MakePacket(0x43, "00 00"), true);
    QVERIFY(bar->value() < bar->maximum());
    QCOMPARE(log.RxMsgMemo->SelectedText(), QStringLiteral("RX PA"));

    log.RxMsgMemo->ClearSelection();
    bar->setValue(bar->maximum());
    log.LogPacket(MakePacket(0x43, "00 00"), true);
    QCOMPARE(bar->value(), bar->maximum());
    QCOMPARE(Lines(log).size(), 103);

    // Marking with the mouse, across a line end.
    log.RxMsgMemo->ScrollToNewest();
    QWidget* vp = log.RxMsgMemo->viewport();
    const int lh = log.RxMsgMemo->fontMetrics().lineSpacing();
    const int first = bar->value();
    const QPoint from = log.RxMsgMemo->PointOf({first, 45}) + QPoint(0, lh / 2);
    const QPoint to = log.RxMsgMemo->PointOf({first + 1, 2}) + QPoint(0, lh / 2);
    QTest::mousePress(vp, Qt::LeftButton, {}, from);
    QTest::mouseMove(vp, to);
    QTest::mouseRelease(vp, Qt::LeftButton, {}, to);
    QCOMPARE(log.RxMsgMemo->SelectedText(), Lines(log)[first].mid(45) + QStringLiteral("\nRX"));
}

QTEST_MAIN(TestCommLog)
#include "tst_commlog.moc"
