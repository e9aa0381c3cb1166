// SPDX-License-Identifier: Apache-2.0
// The command log's tools for debugging a link: time stamps, saving, filters, pause, search and
// marking text with mouse and keys.
#include "diagnostics/CommLogForm.h"
#include "diagnostics/CommLogSearch.h"

#include "CommLogLines.h"
#include "MorvRig.h"
#include "WidgetSupport.h"
#include "protocol/Tick.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QDateTime>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QRegularExpression>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

namespace {

// 05:11:22.123 local time, whatever the machine's zone.
std::int64_t T0() {
    return QDateTime(QDate(2026, 12, 8), QTime(5, 11, 22, 123)).toMSecsSinceEpoch();
}

// Rows of a CSV file; fields may be quoted, with doubled quotes inside.
QList<QStringList> ReadCsv(const QString& path) {
    QFile file(path);
    QList<QStringList> rows;
    if (!file.open(QIODevice::ReadOnly))
        return rows;
    static const QRegularExpression field(
        QStringLiteral("(?:^|,)(?:\"((?:[^\"]|\"\")*)\"|([^,]*))"));
    for (const QString& line :
         QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        QStringList row;
        for (auto it = field.globalMatch(line); it.hasNext();) {
            const QRegularExpressionMatch m = it.next();
            row << (m.hasCaptured(1)
                        ? m.captured(1).replace(QStringLiteral("\"\""), QStringLiteral("\""))
                        : m.captured(2));
        }
        rows << row;
    }
    return rows;
}

QStringList Strs(std::initializer_list<const char*> texts) {
    QStringList out;
    for (const char* t : texts)
        out << QString::fromUtf8(t);
    return out;
}

QListWidgetItem* FilterItem(TCommLog& log, const QString& text) {
    const auto items = log.btnFilter->lbFilterIDs->findItems(text, Qt::MatchExactly);
    return items.isEmpty() ? nullptr : items.first();
}

} // namespace

class TestCommLogTools : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void timeStampsAndRoundTrips();
    void engineStampsRepliesWithTheirRoundTrip();
    void savedCsvAndTextReadBack();
    void filtersAndPause();
    void searchWithKeys();
    void markingWithMouseKeysAndContextMenu();
};

void TestCommLogTools::timeStampsAndRoundTrips() {
    TCommLog log;
    const std::int64_t t0 = T0();
    log.LogStampedPacket(MakePacket(0x33, ""), false, {t0, -1});
    log.LogStampedPacket(MakePacket(0x33, "00 00 00 00 48 42"), true, {t0 + 17, 17});
    log.LogStampedPacket(MakePacket(0x40, "00 00 01 00 00 00"), true, {t0 + 5000, -1});
    // The clock stepped back; a round trip beyond what the log keeps shows its limit.
    log.LogStampedPacket(MakePacket(0x41, "00 00 04"), true, {t0 + 4000, 99999});
    QCOMPARE(Lines(log).at(1), QStringLiteral("RX PACKET: ID=33h, Length=6: 00 00 00 00 48 42"));

    log.cbTimeStamps->click();
    QCOMPARE(
        Lines(log),
        (QStringList{
            QStringLiteral("05:11:22.123 TX PACKET: ID=33h, Length=0"),
            QStringLiteral("05:11:22.140 (17 ms) RX PACKET: ID=33h, Length=6: 00 00 00 00 48 42"),
            QStringLiteral("05:11:27.123 RX PACKET: ID=40h, Length=6: 00 00 01 00 00 00"),
            QStringLiteral("05:11:26.123 (4093 ms) RX PACKET: ID=41h, Length=3: 00 00 04"),
        }));

    // Live lines carry the prefix too, and the oldest entries can go without moving the times.
    log.cbEvaluateErrorCodes->click();
    log.LogStampedPacket(MakePacket(0x43, "00 00"), true, {t0 + 4001, 0});
    QCOMPARE(Lines(log).last(),
             QStringLiteral("05:11:26.124 (0 ms) RX PACKET: ID=43h, Length=2: 00 00 (E_SUCCESS)"));
    log.SetCapacity(2);
    QCOMPARE(Lines(log), (QStringList{QStringLiteral("3 older entries dropped"),
                                      QStringLiteral("05:11:26.123 (4093 ms) RX PACKET: ID=41h, "
                                                     "Length=3: 00 00 (E_SUCCESS) 04"),
                                      QStringLiteral("05:11:26.124 (0 ms) RX PACKET: ID=43h, "
                                                     "Length=2: 00 00 (E_SUCCESS)")}));
    QCOMPARE(log.Store().WallMs(0), t0 + 4000);
    QCOMPARE(log.Store().WallMs(1), t0 + 4001);
}

// The engine gives a reply the time since its request; other packets carry none.
void TestCommLogTools::engineStampsRepliesWithTheirRoundTrip() {
    std::uint32_t now = 1000;
    {
        TMorvRig rig;
        rig.Morv.SetClock({[&now] { return now; }, {}});
        TCommLog log;
        rig.Morv.SetPacketLog(&log);
        QVERIFY(rig.Connect());
        const int first = log.Count();
        rig.OnRequest = [&](const TPacket& request) {
            QTimer::singleShot(0, [&, id = request.ID] {
                now += 37;
                rig.Device->Feed(TMorvRig::Frame(id, "00 00 00 00 48 42"));
            });
        };
        const std::int64_t before = QDateTime::currentMSecsSinceEpoch();
        float force = 0;
        QCOMPARE(rig.Morv.GetForceLimit(force), E_SUCCESS);
        QCOMPARE(force, 50.0f);
        rig.Send(0x43, "00 00 00 00 20 41");
        QTRY_COMPARE(log.Count(), first + 3);
        const std::int64_t after = QDateTime::currentMSecsSinceEpoch();
        const TLogStore& store = log.Store();
        QVERIFY(!store.Received(first));
        QCOMPARE(store.RoundTripMs(first), -1);
        QCOMPARE(store.RoundTripMs(first + 1), 37);
        QCOMPARE(store.ID(first + 2), std::uint8_t(0x43));
        QCOMPARE(store.RoundTripMs(first + 2), -1);
        for (int i = first; i < first + 3; ++i)
            QVERIFY(store.WallMs(i) >= before && store.WallMs(i) <= after);
        rig.Morv.SetPacketLog(nullptr);
    }
}

void TestCommLogTools::savedCsvAndTextReadBack() {
    MessageRecorder boxes;
    QTemporaryDir dir;
    TCommLog log;
    const std::int64_t t0 = T0();
    log.LogStampedPacket(MakePacket(0x21, "00 00 01 02"), false, {t0, -1});
    log.LogStampedPacket(MakePacket(0x21, "1A 00"), true, {t0 + 3, 3});
    log.LogStampedPacket(MakePacket(0x60, ""), true, {t0 + 9, -1});
    log.LogStampedPacket(MakePacket(0x22, "2A 00 07"), true, {t0 + 2500, -1});
    log.cbShowIDDescr->click();
    log.cbTimeStamps->click();

    // No suffix: the chosen file type decides and names the file.
    log.AskSaveFileName = [&](QString& filter) {
        filter = LogCsvFilter;
        return dir.filePath(QStringLiteral("log"));
    };
    log.LinkDescription = [] { return QStringLiteral("TCP 10.0.0.5:1000"); };
    log.btnSave->click();
    QList<QStringList> rows = ReadCsv(dir.filePath(QStringLiteral("log.csv")));
    QCOMPARE(rows.size(), 11);
    // The header says what the file holds; the columns follow it.
    QCOMPARE(rows[0][0], QStringLiteral("# Karo Commander communications log"));
    QVERIFY(rows[1][0].startsWith(QStringLiteral("# Date: 20")));
    QCOMPARE(rows[2][0], QStringLiteral("# Version: " KARO_VERSION));
    QCOMPARE(rows[3][0], QStringLiteral("# Link: TCP 10.0.0.5:1000"));
    QCOMPARE(rows[4][0], QStringLiteral("# Entries: all 4"));
    QCOMPARE(rows[5][0], QStringLiteral("# First entry: ") + rows[7][0]);
    rows.erase(rows.begin(), rows.begin() + 6);
    const QStringList header =
        Strs({"time", "direction", "identifier", "command", "length", "status", "status text",
              "payload", "round trip ms", "event", "count"});
    QCOMPARE(rows[0], header);
    const std::int64_t times[] = {t0, t0 + 3, t0 + 9, t0 + 2500};
    for (int i = 1; i < 5; ++i) {
        QCOMPARE(rows[i].size(), 11);
        const QDateTime read = QDateTime::fromString(rows[i][0], Qt::ISODateWithMs);
        QVERIFY2(read.isValid(), qPrintable(rows[i][0]));
        QCOMPARE(read.toMSecsSinceEpoch(), times[i - 1]);
        rows[i].removeFirst();
    }
    QStringList expected[] = {
        Strs({"TX", "0x21", "GOTO", "4", "", "", "00 00 01 02", ""}),
        Strs({"RX", "0x21", "GOTO", "2", "26", "", "1A 00", "3"}),
        Strs({"RX", "0x60", "unknown ID(96)", "0", "", "", "", ""}),
        Strs({"RX", "0x22", "STOP", "3", "42", "Internal error, unknown error code (42)",
              "2A 00 07", ""}),
    };
    expected[1][5] = StatusText(26);
    for (int i = 0; i < 4; ++i)
        QCOMPARE(rows[i + 1], expected[i] << QString() << QString());

    // Text is the lines as shown; with a filter on, the file type says whether all entries go
    // in or only the shown ones, and the header says which.
    log.btnFilter->miShowTx->setChecked(false);
    const QStringList shown = Lines(log);
    QCOMPARE(shown.size(), 3);
    log.btnFilter->miShowTx->setChecked(true);
    const QStringList all = Lines(log);
    log.btnFilter->miShowTx->setChecked(false);
    const auto saveText = [&](const QString& chosen) {
        log.AskSaveFileName = [&](QString& filter) {
            filter = chosen; // the suffix wins over the type, the type chooses the entries
            return dir.filePath(QStringLiteral("log.txt"));
        };
        log.btnSave->click();
        QFile text(dir.filePath(QStringLiteral("log.txt")));
        return text.open(QIODevice::ReadOnly)
                   ? QString::fromUtf8(text.readAll()).split(QLatin1Char('\n'))
                   : QStringList();
    };
    QStringList text = saveText(LogCsvShownFilter);
    QCOMPARE(text.mid(6, shown.size() + 1), shown + QStringList{QString()});
    QCOMPARE(text[4], QStringLiteral("# Entries: 3 shown of 4 (a filter hides the others)"));
    text = saveText(LogTextFilter);
    QCOMPARE(text.mid(6, all.size() + 1), all + QStringList{QString()});
    QCOMPARE(log.SaveLog(dir.filePath(QStringLiteral("rx.csv")), TLogFileFormat::Csv, false),
             QString());
    QCOMPARE(ReadCsv(dir.filePath(QStringLiteral("rx.csv"))).size(), 6 + 4);
    QVERIFY(boxes.Boxes.isEmpty());

    // A file that cannot be written is reported.
    log.AskSaveFileName = [&](QString&) { return dir.filePath(QStringLiteral("no/such/log.csv")); };
    log.btnSave->click();
    QCOMPARE(boxes.Boxes.size(), 1);
    QCOMPARE(boxes.Boxes[0].first, TMsgKind::Error);
    QVERIFY(boxes.Boxes[0].second.startsWith(QStringLiteral("Error while saving the log to ")));
}

void TestCommLogTools::filtersAndPause() {
    TCommLog log;
    log.resize(600, 200);
    log.show();
    const QStringList all{QStringLiteral("RX PACKET: ID=43h, Length=2: 00 00"),
                          QStringLiteral("TX PACKET: ID=21h, Length=1: 00"),
                          QStringLiteral("RX PACKET: ID=41h, Length=2: 00 00"),
                          QStringLiteral("RX PACKET: ID=99h, Length=2: 00 00")};
    log.LogPacket(MakePacket(0x43, "00 00"), true);
    log.LogPacket(MakePacket(0x21, "00"), false);
    log.LogPacket(MakePacket(0x41, "00 00"), true);
    log.LogPacket(MakePacket(0x99, "00 00"), true);

    log.btnFilter->miShowTx->setChecked(false);
    QCOMPARE(Lines(log), (QStringList{all[0], all[2], all[3]}));
    QListWidgetItem* pos = FilterItem(log, QStringLiteral("43h GET_POS"));
    QListWidgetItem* other = FilterItem(log, QStringLiteral("Other identifiers"));
    QVERIFY(pos && other);
    pos->setCheckState(Qt::Unchecked);
    other->setCheckState(Qt::Unchecked);
    QCOMPARE(Lines(log), QStringList{all[2]});
    log.LogPacket(MakePacket(0x43, "00 00"), true);
    log.LogPacket(MakePacket(0x21, "00"), false);
    log.LogPacket(MakePacket(0x41, "00 01"), true);
    QCOMPARE(log.Count(), 7);
    QCOMPARE(Lines(log),
             (QStringList{all[2], QStringLiteral("RX PACKET: ID=41h, Length=2: 00 01")}));

    // Paused, the view keeps still while the log goes on recording.
    log.cbPause->click();
    log.LogPacket(MakePacket(0x41, "00 02"), true);
    log.LogPacket(MakePacket(0x43, "00 02"), true);
    QCOMPARE(log.Count(), 9);
    QCOMPARE(Lines(log).size(), 2);
    // Hiding while paused hides; showing again shows only what came before the pause.
    log.btnFilter->miShowAllIDs->trigger();
    log.btnFilter->miShowTx->setChecked(true);
    QCOMPARE(Lines(log).size(), 7);
    QCOMPARE(Lines(log).mid(0, 4), all);
    log.cbPause->click();
    QCOMPARE(Lines(log).size(), 9);
    QCOMPARE(Lines(log).last(), QStringLiteral("RX PACKET: ID=43h, Length=2: 00 02"));

    // Without a filter a paused view keeps its lines and its place however much comes in.
    QScrollBar* bar = log.RxMsgMemo->verticalScrollBar();
    log.cbPause->click();
    for (int i = 0; i < 100; ++i)
        log.LogPacket(MakePacket(0x40, "00 00"), true);
    QCOMPARE(Lines(log).size(), 9);
    QCOMPARE(bar->maximum(), std::max(0, 9 - bar->pageStep()));
    log.cbPause->click();
    QCOMPARE(Lines(log).size(), 109);
    QCOMPARE(bar->value(), bar->maximum());

    // Dropping the oldest entries while filtered keeps lines and store in step.
    log.btnFilter->miShowRx->setChecked(false);
    QCOMPARE(Lines(log), (QStringList{all[1], all[1]}));
    log.SetCapacity(105);
    QCOMPARE(Lines(log), (QStringList{QStringLiteral("4 older entries dropped"), all[1]}));
    log.LogPacket(MakePacket(0x21, "01"), false);
    log.LogPacket(MakePacket(0x21, "02"), false);
    // The count line stays on top; the one shown entry among the dropped ones went with them.
    QCOMPARE(Lines(log), (QStringList{QStringLiteral("6 older entries dropped"),
                                      QStringLiteral("TX PACKET: ID=21h, Length=1: 01"),
                                      QStringLiteral("TX PACKET: ID=21h, Length=1: 02")}));
    log.btnFilter->miShowRx->setChecked(true);
    QCOMPARE(Lines(log).size(), 106);
}

void TestCommLogTools::searchWithKeys() {
    TCommLog log;
    log.resize(600, 200);
    log.show();
    QApplication::setActiveWindow(&log);
    QVERIFY(QTest::qWaitForWindowActive(&log));
    for (int i = 0; i < 30; ++i)
        log.LogPacket(MakePacket(0x40 + i % 3, i == 20 ? "DE AD" : "00 00"), true);
    log.RxMsgMemo->setFocus();
    log.RxMsgMemo->SetSelection({0, 0}, {0, 0});

    QTest::keyClick(log.RxMsgMemo, Qt::Key_F, Qt::ControlModifier);
    QVERIFY(log.FindBar->isVisible());
    QTRY_VERIFY(log.FindBar->edFind->hasFocus());
    QTest::keyClicks(log.FindBar->edFind, QStringLiteral("id=41h"));
    QTest::keyClick(log.FindBar->edFind, Qt::Key_Return);
    auto marked = [&] {
        return std::make_pair(log.RxMsgMemo->Anchor().Line, log.RxMsgMemo->SelectedText());
    };
    QCOMPARE(marked(), std::make_pair(1, QStringLiteral("ID=41h")));
    QTest::keyClick(log.RxMsgMemo, Qt::Key_F3);
    QCOMPARE(marked().first, 4);
    QTest::keyClick(log.RxMsgMemo, Qt::Key_F3, Qt::ShiftModifier);
    QTest::keyClick(log.RxMsgMemo, Qt::Key_F3, Qt::ShiftModifier); // back, and round to the end
    QCOMPARE(marked().first, 28);
    QVERIFY(log.RxMsgMemo->verticalScrollBar()->value() > 20);
    log.FindBar->btnFindNext->click(); // and on past the end to the start
    QCOMPARE(marked().first, 1);

    log.FindBar->edFind->setText(QStringLiteral("de ad"));
    QVERIFY(log.FindNext());
    QCOMPARE(marked(), std::make_pair(20, QStringLiteral("DE AD")));
    log.FindBar->edFind->setText(QStringLiteral("zz"));
    QVERIFY(!log.FindNext(true));
    QCOMPARE(log.FindBar->lbFindStatus->text(), QStringLiteral("Not found"));
    QCOMPARE(marked(), std::make_pair(20, QStringLiteral("DE AD")));
}

void TestCommLogTools::markingWithMouseKeysAndContextMenu() {
    MessageRecorder boxes;
    TCommLog log;
    log.resize(600, 200);
    log.show();
    QVERIFY(QTest::qWaitForWindowExposed(&log));
    log.LogPacket(MakePacket(0x43, "00 00 00 00 48 42"), true);
    log.LogPacket(MakePacket(0x00, "00 00"), false);
    QWidget* vp = log.RxMsgMemo->viewport();
    auto at = [&](int line, int column) {
        const QPoint p = log.RxMsgMemo->PointOf({line, column});
        const int lh = log.RxMsgMemo->fontMetrics().lineSpacing();
        const int cw = log.RxMsgMemo->fontMetrics().horizontalAdvance(QLatin1Char('0'));
        return p + QPoint(cw * 3 / 4, lh / 2); // right half of the character
    };
    // "RX PACKET: ID=43h, Length=6: 00 00 00 00 48 42": the byte 48 starts at column 41.
    QTest::mouseDClick(vp, Qt::LeftButton, {}, at(0, 42));
    QCOMPARE(log.RxMsgMemo->SelectedText(), QStringLiteral("48"));
    // Digits glued to other text are no byte: the word is marked.
    QTest::mouseDClick(vp, Qt::LeftButton, {}, at(1, 15));
    QCOMPARE(log.RxMsgMemo->SelectedText(), QStringLiteral("00h"));
    log.PopupMenu1->hide();

    // Shift with the cursor keys and with a click extends what is marked.
    QTest::mouseDClick(vp, Qt::LeftButton, {}, at(0, 38));
    log.PopupMenu1->hide();
    QCOMPARE(log.RxMsgMemo->SelectedText(), QStringLiteral("00"));
    log.RxMsgMemo->setFocus();
    for (int i = 0; i < 3; ++i)
        QTest::keyClick(log.RxMsgMemo, Qt::Key_Right, Qt::ShiftModifier);
    QCOMPARE(log.RxMsgMemo->SelectedText(), QStringLiteral("00 48"));
    QTest::keyClick(log.RxMsgMemo, Qt::Key_Down, Qt::ShiftModifier); // to the shorter line's end
    QCOMPARE(log.RxMsgMemo->SelectedText(),
             QStringLiteral("00 48 42\nTX PACKET: ID=00h, Length=2: 00 00"));
    QTest::keyClick(log.RxMsgMemo, Qt::Key_Home, Qt::ShiftModifier);
    QCOMPARE(log.RxMsgMemo->SelectedText(), QStringLiteral("00 48 42\n"));
    const int cw = log.RxMsgMemo->fontMetrics().horizontalAdvance(QLatin1Char('0'));
    const QPoint edge = log.RxMsgMemo->PointOf({0, 43}) + QPoint(cw / 4, 3); // before "48"'s end
    QTest::mouseClick(vp, Qt::LeftButton, Qt::ShiftModifier, edge);
    log.PopupMenu1->hide();
    QCOMPARE(log.RxMsgMemo->SelectedText(), QStringLiteral("00 48"));
    QTest::keyClick(log.RxMsgMemo, Qt::Key_Left);
    QVERIFY(!log.RxMsgMemo->HasSelection());

    // The context menu copies, marks everything and converts.
    QTest::mouseDClick(vp, Qt::LeftButton, {}, at(0, 42));
    log.PopupMenu1->hide();
    QContextMenuEvent menuEvent(QContextMenuEvent::Mouse, at(0, 42), vp->mapToGlobal(at(0, 42)));
    QApplication::sendEvent(vp, &menuEvent);
    QTRY_VERIFY(log.mnContext->isVisible());
    QVERIFY(log.miCopy->isEnabled());
    log.miCopy->trigger();
    QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("48"));
    log.miAsInteger->trigger();
    QCOMPARE(boxes.Texts(), QStringList{QStringLiteral("Value is 72 (00000048h)")});
    log.miSelectAll->trigger();
    QCOMPARE(log.RxMsgMemo->SelectedText(), log.RxMsgMemo->ToPlainText());
    log.mnContext->hide();
    log.RxMsgMemo->ClearSelection();
    QApplication::sendEvent(vp, &menuEvent);
    QVERIFY(!log.miCopy->isEnabled());
    log.mnContext->hide();
}

QTEST_MAIN(TestCommLogTools)
#include "tst_commlog_tools.moc"
