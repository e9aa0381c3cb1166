// SPDX-License-Identifier: Apache-2.0
// What the command log shows of the wire beyond intact packets: link events, counters, files
// that open again, the data inspector, and a selection drawn over its own glyphs.
#include "diagnostics/CommLogEvents.h"
#include "diagnostics/CommLogForm.h"
#include "diagnostics/CommLogInspector.h"
#include "diagnostics/CommLogSearch.h"
#include "diagnostics/CommLogViewer.h"

#include "CommLogLines.h"
#include "WidgetSupport.h"
#include "devices/IniFile.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <set>

namespace {

std::int64_t T0() {
    return QDateTime(QDate(2026, 12, 8), QTime(5, 11, 22, 123)).toMSecsSinceEpoch();
}

TLinkEvent Event(TLinkEventKind kind, const char* hex, std::uint32_t count = 0, int id = 0) {
    TLinkEvent e;
    e.Kind = kind;
    e.Bytes = HexBytes(hex);
    e.Count = count;
    e.ID = static_cast<std::uint8_t>(id);
    return e;
}

// A session with every kind of event between packets; returns each entry's expected line.
QStringList LogSession(TCommLog& log) {
    const std::int64_t t = T0();
    log.LogStampedPacket(MakePacket(0x43, "01 00 00"), false, {t, -1});
    log.LogStampedPacket(MakePacket(0x43, "00 00 00 00 48 42"), true, {t + 4, 4});
    log.LogLinkEvent(Event(TLinkEventKind::FalsePreamble, "AA AA AA 43 FF"), {t + 10, -1});
    log.LogLinkEvent(Event(TLinkEventKind::BadChecksum, "AA AA AA 22 00 00 0E 77"), {t + 11, -1});
    log.LogLinkEvent(Event(TLinkEventKind::SkippedBytes, "", 3), {t + 12, -1});
    log.LogLinkEvent(Event(TLinkEventKind::CutByPause, "AA AA AA 43"), {t + 13, -1});
    log.LogLinkEvent(Event(TLinkEventKind::UpdatesDropped, "", 2, 0x43), {t + 14, -1});
    log.LogStampedPacket(MakePacket(0x40, ""), false, {t + 20, -1});
    log.LogLinkEvent(Event(TLinkEventKind::ReplyMissing, "", 0, 0x40), {t + 3020, -1});
    log.LogStampedPacket(MakePacket(0x40, "00 00 01 00 00 00"), true, {t + 3030, 12});
    log.LogLinkEvent(Event(TLinkEventKind::LinkStale, "", 1500), {t + 4600, -1});
    log.LogLinkEvent(Event(TLinkEventKind::LinkLost, "", 5000), {t + 8100, -1});
    log.LogLinkEvent(Event(TLinkEventKind::LinkRestored, ""), {t + 9000, -1});
    return {
        QStringLiteral("TX PACKET: ID=43h, Length=3: 01 00 00"),
        QStringLiteral("RX PACKET: ID=43h, Length=6: 00 00 00 00 48 42"),
        QStringLiteral("RX FALSE PREAMBLE, bytes given up: 5 bytes: AA AA AA 43 FF"),
        QStringLiteral("RX CHECKSUM ERROR, frame dropped: 8 bytes: AA AA AA 22 00 00 0E 77"),
        QStringLiteral("RX SKIPPED outside any frame: 3 bytes"),
        QStringLiteral("RX FRAME CUT by a pause, dropped: 4 bytes: AA AA AA 43"),
        QStringLiteral("RX UPDATES DROPPED by a full queue: 2 updates, first: ID=43h"),
        QStringLiteral("TX PACKET: ID=40h, Length=0"),
        QStringLiteral("TX REPLY MISSING, no reply in time: ID=40h"),
        QStringLiteral("RX PACKET: ID=40h, Length=6: 00 00 01 00 00 00"),
        QStringLiteral("LINK STALE, no packet for 1500 ms"),
        QStringLiteral("LINK LOST, no packet for 5000 ms"),
        QStringLiteral("LINK RESTORED"),
    };
}

// Columns of `row` holding ink (dark pixels) in the band of one text line.
std::vector<int> InkRuns(const QImage& img, int top, int height, int gap, int from, int to) {
    std::vector<bool> ink(static_cast<std::size_t>(img.width()), false);
    for (int x = from; x < to; ++x)
        for (int y = top; y < top + height; ++y)
            if (qGray(img.pixel(x, y)) < 128)
                ink[static_cast<std::size_t>(x)] = true;
    // Start and end of each run of ink; runs closer than `gap` are one word.
    std::vector<int> runs;
    int last = -1000;
    for (int x = from; x < to; ++x) {
        if (!ink[static_cast<std::size_t>(x)])
            continue;
        if (x - last > gap) {
            runs.push_back(x);
            runs.push_back(x);
        }
        runs.back() = x;
        last = x;
    }
    return runs;
}

} // namespace

class TestCommLogWire : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void linkEventsAreEntriesOfTheirOwn();
    void savedLogsOpenAgain();
    void logToFileAndOptionsInTheSettings();
    void selectionIsDrawnOverItsText();
    void inspectorShowsEveryReading();
};

void TestCommLogWire::linkEventsAreEntriesOfTheirOwn() {
    TCommLog log;
    log.resize(900, 400);
    log.show();
    const QStringList expected = LogSession(log);
    QCOMPARE(Lines(log), expected);

    // Each kind has a colour of its own; packets keep the ordinary one.
    std::set<QRgb> colours;
    for (int line = 0; line < expected.size(); ++line) {
        const QColor c = log.RxMsgMemo->LineColor(line);
        QCOMPARE(c.isValid(), !expected[line].contains(QLatin1String(" PACKET: ")));
        if (c.isValid())
            colours.insert(c.rgb());
    }
    QCOMPARE(colours.size(), std::size_t(TLogFilter::EventKinds));

    // The operator finds them by the words of their lines.
    log.miFindClick();
    log.FindBar->edFind->setText(QStringLiteral("checksum"));
    QVERIFY(log.FindNext());
    QCOMPARE(log.RxMsgMemo->Anchor().Line, 3);

    // A filter of its own per kind; the descriptor option names an event's identifier.
    log.btnFilter->miShowEvents[static_cast<int>(TLinkEventKind::BadChecksum)]->setChecked(false);
    log.btnFilter->miShowEvents[static_cast<int>(TLinkEventKind::LinkStale)]->setChecked(false);
    QStringList filtered = expected;
    filtered.removeAt(10);
    filtered.removeAt(3);
    QCOMPARE(Lines(log), filtered);
    log.btnFilter->miShowTx->setChecked(false); // directions filter packets only
    QVERIFY(Lines(log).contains(expected[8]));
    log.cbShowIDDescr->click();
    QVERIFY(Lines(log).contains(
        QStringLiteral("TX REPLY MISSING, no reply in time: ID=40h (GET_SYSTEM_STATE)")));

    // Counters, live in the window.
    const TLinkCounters& c = log.Counters();
    QCOMPARE(c.FramesIn(), 2u);
    QCOMPARE(c.FramesOut(), 2u);
    QCOMPARE(c.ChecksumFailures(), 1u);
    QCOMPARE(c.BytesSkipped(), 3u);
    QCOMPARE(c.FalsePreambles(), 1u);
    QCOMPARE(c.FramesCut(), 1u);
    QCOMPARE(c.UpdatesDropped(), 2u);
    QCOMPARE(c.RepliesMissing(), 1u);
    QCOMPARE(c.MinRoundTripMs(), 4);
    QCOMPARE(c.MaxRoundTripMs(), 12);
    QCOMPARE(c.MeanRoundTripMs(), 8.0);
    QTRY_VERIFY(log.lbCounters->text().contains(QStringLiteral("checksum failures 1")));
    QVERIFY(log.lbCounters->text().contains(QStringLiteral("4 / 8.0 / 12 ms")));
    // For the documentation: the window with everything shown, a float marked.
    if (const QByteArray dir = qgetenv("KARO_SCREENSHOT_DIR"); !dir.isEmpty()) {
        for (QAction* a : log.btnFilter->miShowEvents)
            a->setChecked(true);
        log.btnFilter->miShowTx->setChecked(true);
        log.cbTimeStamps->click();
        log.cbInspector->click();
        const int at = static_cast<int>(Lines(log)[1].indexOf(QStringLiteral("00 00 48 42")));
        log.RxMsgMemo->SetSelection({1, at}, {1, at + 11});
        log.grab().save(QString::fromLocal8Bit(dir) + QStringLiteral("/log-window.png"));
    }
    log.btnClearClick();
    QCOMPARE(log.Counters().FramesIn(), 0u);
    QTRY_VERIFY(log.lbCounters->text().contains(QStringLiteral("round trip none")));
}

void TestCommLogWire::savedLogsOpenAgain() {
    MessageRecorder boxes;
    QTemporaryDir dir;
    TCommLog log;
    LogSession(log);
    log.cbTimeStamps->click();
    log.btnFilter->miShowRx->setChecked(false); // all entries go in all the same
    const QString csv = dir.filePath(QStringLiteral("log.csv"));
    const QString text = dir.filePath(QStringLiteral("log.txt"));
    QCOMPARE(log.SaveLog(csv, TLogFileFormat::Csv), QString());
    QCOMPARE(log.SaveLog(text, TLogFileFormat::Text), QString());
    log.btnFilter->miShowRx->setChecked(true);
    const QStringList lines = Lines(log);
    QCOMPARE(lines.size(), 13);

    for (const QString& path : {csv, text}) {
        QString error;
        std::unique_ptr<TLogViewer> viewer(TLogViewer::Open(path, error));
        QVERIFY2(viewer, qPrintable(error));
        QVERIFY(viewer->ReadOnly());
        QVERIFY(viewer->cbTimeStamps->isChecked());
        QCOMPARE(Lines(*viewer), lines);
        for (int i = 0; i < log.Count(); ++i)
            QCOMPARE(viewer->Store().WallMs(i), log.Store().WallMs(i));
        const TLinkCounters& a = viewer->Counters();
        const TLinkCounters& b = log.Counters();
        QCOMPARE(a.Lines(), b.Lines());
        // Filters work on the file as on the live log.
        viewer->btnFilter->miShowEvents[static_cast<int>(TLinkEventKind::BadChecksum)]->setChecked(
            false);
        QCOMPARE(Lines(*viewer).size(), 12);
    }

    // A CSV file of the layout before link events (no header, nine columns) still opens.
    QFile old(dir.filePath(QStringLiteral("old.csv")));
    QVERIFY(old.open(QIODevice::WriteOnly));
    old.write("time,direction,identifier,command,length,status,status text,payload,round trip ms\n"
              "2026-12-08T05:11:22.123+01:00,RX,0x43,GET_POS,6,0,E_SUCCESS,00 00 00 00 48 42,7\n");
    old.close();
    QString error;
    std::unique_ptr<TLogViewer> viewer(TLogViewer::Open(old.fileName(), error));
    QVERIFY2(viewer, qPrintable(error));
    QCOMPARE(viewer->Count(), 1);
    QCOMPARE(viewer->Store().RoundTripMs(0), 7);

    // What does not read is named with its line; the window opens nothing.
    QFile bad(dir.filePath(QStringLiteral("bad.txt")));
    QVERIFY(bad.open(QIODevice::WriteOnly));
    bad.write("# Karo Commander communications log\nRX PACKET: ID=43h, Length=3: 00 00\n");
    bad.close();
    QVERIFY(!TLogViewer::Open(bad.fileName(), error));
    QCOMPARE(error, QStringLiteral("line 2: the bytes do not match the length"));
    log.AskOpenFileName = [&] { return bad.fileName(); };
    log.btnOpen->click();
    QCOMPARE(boxes.Boxes.size(), 1);
    QVERIFY(boxes.Boxes[0].second.contains(QStringLiteral("line 2")));
}

void TestCommLogWire::logToFileAndOptionsInTheSettings() {
    MessageRecorder boxes;
    TempSettingsDir settings;
    const auto ini = [] {
        return std::make_unique<TIniFile>(SettingsFilePath(QStringLiteral("settings.ini")));
    };
    {
        TCommLog log;
        log.UseSettings(ini());
        log.cbShowIDDescr->click();
        log.cbInspector->click();
        log.SetLogFileLimit(700);
        const QString path = settings.FilePath(QStringLiteral("live"));
        log.AskLogFileName = [&] { return path; };
        log.btnLogToFile->click();
        QVERIFY(log.btnLogToFile->isChecked());
        QCOMPARE(log.LogFileName(), path + QStringLiteral(".csv"));
        for (int i = 0; i < 12; ++i)
            log.LogStampedPacket(MakePacket(0x43, "00 00 00 00 48 42"), true, {T0() + i, i});
        log.LogLinkEvent(Event(TLinkEventKind::BadChecksum, "AA AA AA 22"), {T0() + 20, -1});
        // Flushed within a second, while logging goes on.
        const QString last = log.LogFileName();
        QVERIFY(last.endsWith(QStringLiteral("live-2.csv")) ||
                last.endsWith(QStringLiteral("live-3.csv")));
        QTRY_VERIFY_WITH_TIMEOUT(
            QFile(last).size() > 0 &&
                settings.ReadFile(QFileInfo(last).fileName()).contains("bad checksum"),
            5000);
        log.btnLogToFile->click();
        QVERIFY(!log.btnLogToFile->isChecked());
        QVERIFY(log.LogFileName().isEmpty());
    }
    // Every part starts with the header and stays within the limit; together they hold every
    // entry in order, and each reads back.
    int rows = 0;
    const int parts =
        static_cast<int>(QDir(settings.Path()).entryList({QStringLiteral("live*.csv")}).size());
    QVERIFY(parts >= 2);
    for (int part = 1; part <= parts; ++part) {
        const QString name =
            part == 1 ? QStringLiteral("live.csv") : QStringLiteral("live-%1.csv").arg(part);
        const QByteArray bytes = settings.ReadFile(name);
        QVERIFY(bytes.startsWith("# Karo Commander communications log\n"));
        QVERIFY(bytes.size() <= 700);
        QString error;
        std::unique_ptr<TLogViewer> read(TLogViewer::Open(settings.FilePath(name), error));
        QVERIFY2(read, qPrintable(error));
        for (int i = 0; i < read->Count(); ++i, ++rows)
            QCOMPARE(read->Store().WallMs(i), T0() + (rows < 12 ? rows : 20));
    }
    QCOMPARE(rows, 13);
    QVERIFY(boxes.Boxes.isEmpty());

    // The options come back from the settings file.
    TCommLog again;
    again.UseSettings(ini());
    QVERIFY(again.cbShowIDDescr->isChecked());
    QVERIFY(again.cbInspector->isChecked());
    QVERIFY(!again.cbTimeStamps->isChecked());
    QCOMPARE(again.LogFileLimit(), qint64(1024 * 1024)); // kept in whole megabytes, at least 1
}

void TestCommLogWire::selectionIsDrawnOverItsText() {
    TCommLog log;
    log.resize(1100, 200);
    // An advance of a fraction of a pixel: a whole-pixel cell width drifts off the glyphs.
    QFont font(QStringLiteral("DejaVu Sans Mono"));
    font.setPixelSize(13);
    log.RxMsgMemo->setFont(font);
    log.show();
    QVERIFY(QTest::qWaitForWindowExposed(&log));
    QString payload;
    for (int i = 0; i < 30; ++i)
        payload += QStringLiteral("00 ");
    payload += QStringLiteral("48 42");
    log.LogPacket(MakePacket(0x43, payload.toLatin1().constData()), true);
    const QString line = Lines(log).at(0);
    const int from = static_cast<int>(line.indexOf(QStringLiteral("48 42")));
    TLogView* view = log.RxMsgMemo;
    const int lh = view->fontMetrics().lineSpacing();

    // Dragging from the first glyph to the last marks exactly those characters.
    const QPoint start = view->PointOf({0, from}) + QPoint(1, lh / 2);
    const QPoint end = view->PointOf({0, from + 5}) + QPoint(-1, lh / 2);
    QTest::mousePress(view->viewport(), Qt::LeftButton, {}, start);
    QTest::mouseMove(view->viewport(), end);
    QTest::mouseRelease(view->viewport(), Qt::LeftButton, {}, end);
    QCOMPARE(view->SelectedText(), QStringLiteral("48 42"));
    view->ClearSelection();
    // A double-click on a glyph marks its byte.
    QTest::mouseDClick(view->viewport(), Qt::LeftButton, {},
                       view->PointOf({0, from + 3}) + QPoint(2, lh / 2));
    QCOMPARE(view->SelectedText(), QStringLiteral("42"));

    // The marked band covers the glyphs of the marked text and no other.
    view->ClearSelection();
    const QImage plain = view->viewport()->grab().toImage();
    view->SetSelection({0, from}, {0, from + 5});
    const QImage marked = view->viewport()->grab().toImage();
    const QRgb highlight = view->palette().color(QPalette::Highlight).rgb();
    int left = -1;
    int right = -1;
    for (int x = 0; x < marked.width(); ++x)
        if (marked.pixel(x, 0) == highlight) {
            left = left < 0 ? x : left;
            right = x;
        }
    QVERIFY(left > 0);
    const std::vector<int> words = InkRuns(plain, 0, lh, 4, 0, plain.width());
    // The text's last two words are the marked ones, inside the band (antialiasing may reach a
    // pixel past a glyph's advance); the word before them ends outside it.
    QVERIFY(words.size() >= 6);
    const std::size_t n = words.size();
    QVERIFY2(words[n - 4] >= left && words[n - 1] <= right + 1,
             qPrintable(QStringLiteral("band %1..%2, glyphs %3..%4")
                            .arg(left)
                            .arg(right)
                            .arg(words[n - 4])
                            .arg(words[n - 1])));
    QVERIFY(words[n - 5] < left);
}

void TestCommLogWire::inspectorShowsEveryReading() {
    const QList<TInspectorRow> rows = InspectBytes(HexBytes("FF FE 20 41"));
    const QStringList expected[] = {
        {QStringLiteral("uint8"), QStringLiteral("255"), QStringLiteral("255")},
        {QStringLiteral("int8"), QStringLiteral("-1"), QStringLiteral("-1")},
        {QStringLiteral("uint16"), QStringLiteral("65279"), QStringLiteral("65534")},
        {QStringLiteral("int16"), QStringLiteral("-257"), QStringLiteral("-2")},
        {QStringLiteral("uint32"), QStringLiteral("1092681471"), QStringLiteral("4294844481")},
        {QStringLiteral("int32"), QStringLiteral("1092681471"), QStringLiteral("-122815")},
        {QStringLiteral("float"), QStringLiteral("10.0622549"), QStringLiteral("nan")},
        {QStringLiteral("text"), QStringLiteral("\"\u00FF\u00FE A\""), QString()},
    };
    QCOMPARE(rows.size(), 8);
    for (int i = 0; i < 8; ++i)
        QCOMPARE((QStringList{rows[i].Name, rows[i].Little, rows[i].Big}), expected[i]);
    // Too few bytes for a reading show none.
    const QList<TInspectorRow> one = InspectBytes(HexBytes("0A"));
    QCOMPARE(one[2].Little, QStringLiteral("-"));
    QCOMPARE(one[7].Little, QStringLiteral("\"_\""));

    // In the window: marking bytes shows them, and they copy as hexadecimal.
    TCommLog log;
    log.show();
    log.cbInspector->click();
    QVERIFY(log.Inspector->isVisible());
    log.LogPacket(MakePacket(0x43, "00 00 FF FE 20 41"), true);
    const int at = static_cast<int>(Lines(log)[0].indexOf(QStringLiteral("FF FE")));
    log.RxMsgMemo->SetSelection({0, at}, {0, at + 11});
    QCOMPARE(log.Inspector->Bytes(), HexBytes("FF FE 20 41"));
    QVERIFY(log.Inspector->edInspector->toPlainText().contains(QStringLiteral("1092681471")));
    log.Inspector->btnCopyHex->click();
    QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("FF FE 20 41"));

    // A full log drops a line per packet: a mark below rides along with its line, and with
    // nothing marked there, nobody is told (a flood would re-inspect for every packet).
    log.SetCapacity(3);
    for (int i = 0; i < 3; ++i)
        log.LogPacket(MakePacket(0x44, "00 00 FF FE 20 41"), true);
    const int last = static_cast<int>(Lines(log).size()) - 1;
    log.RxMsgMemo->SetSelection({last, at}, {last, at + 5});
    QSignalSpy told(log.RxMsgMemo, &TLogView::selectionChanged);
    log.LogPacket(MakePacket(0x45, "00 00"), true);
    log.LogPacket(MakePacket(0x45, "00 00"), true);
    QCOMPARE(log.Inspector->Bytes(), HexBytes("FF FE"));
    QCOMPARE(told.count(), 0);
}

QTEST_MAIN(TestCommLogWire)
#include "tst_commlog_wire.moc"
