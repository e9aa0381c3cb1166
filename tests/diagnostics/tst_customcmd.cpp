// SPDX-License-Identifier: Apache-2.0
#include "diagnostics/CustomCmdForm.h"

#include "MorvRig.h"
#include "WidgetSupport.h"
#include "diagnostics/CommLogForm.h"
#include "engine/MorvForm.h"
#include "protocol/Constants.h"
#include "protocol/Frame.h"
#include "protocol/Receiver.h"
#include "widgets/IntegerEdit.h"
#include "widgets/RollPanel.h"
#include "widgets/StampedLog.h"

#include <QAction>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTest>
#include <QTimer>

#include <malloc.h>
#include <map>
#include <stdexcept>

namespace {

// A command set on an in-memory transport with a scripted gripper, connected.
struct TGripperRig : TMorvRig {
    TGripperRig() {
        if (!Connect())
            qFatal("connecting the in-memory transport failed");
    }
};

// The results' lines; every one must carry its time stamp.
QStringList LogLines(const TCustomCmd& ed) {
    const QString text = ed.Log->toPlainText();
    const QStringList lines = text.isEmpty() ? QStringList() : text.split(QLatin1Char('\n'));
    for (int i = 0; i < lines.size(); ++i)
        if (!ed.Log->LineTime(i).isValid())
            qFatal("a results line without its time stamp: %s", qPrintable(lines[i]));
    return lines;
}

QStringList History(const TCustomCmd& ed) {
    QStringList items;
    for (int i = 0; i < ed.edPayload->count(); ++i)
        items << ed.edPayload->itemText(i);
    return items;
}

} // namespace

class TestCustomCmd : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void hexModeSendsTheLogsBytesAndResultsShowReplyData();
    void decodingPanel();
    void editorStartsWithEmptyCommand();
    void validationStoresCommandAndGatesSend();
    void sendLogsStatusAndKeepsHistory();
    void pendingCommandReportsItsFinalResult();
    void autosendRepeatsUntilInvalidOrDisconnected();
    void sendsDoNotNest();
    void invalidEntriesAreMarked();
    void hidingOrAFailedSendLeavesNoStuckSending();
    void resultsStayBoundedAndOverlongPastesAreRefused();
    void autosendTrafficCostsTheCommandLogLittleMemory();
};

void TestCustomCmd::hexModeSendsTheLogsBytesAndResultsShowReplyData() {
    TGripperRig rig;
    TCustomCmd ed(&rig.Morv);
    ed.SetConnected(true);
    QCOMPARE(ed.PayloadMode(), TCustomCmd::pmItems);
    ed.edID->setText(QStringLiteral("0x43"));
    ed.edPayload->setEditText(QStringLiteral("00 00 48 42"));
    QCOMPARE(HexString(ed.StoredPayload()), QStringLiteral("00 00 30 2A")); // decimal items
    ed.cbPayloadMode->setCurrentIndex(TCustomCmd::pmHexBytes);
    QCOMPARE(HexString(ed.StoredPayload()), QStringLiteral("00 00 48 42"));
    QCOMPARE(ed.lbPayload->text(), QStringLiteral("00 00 48 42 "));
    QCOMPARE(ed.lbPayloadSize->text(), QStringLiteral("4 bytes"));
    QCOMPARE(ed.edPayload->toolTip(), TCustomCmd::HexPayloadHelp);

    rig.Replies[0x43] = HexBytes("00 00 00 00 48 42");
    QVERIFY(ed.btnSend->isEnabled());
    ed.btnSend->click();
    QCOMPARE(rig.Requests.size(), std::size_t(1));
    QCOMPARE(HexString(rig.Requests[0].Data), QStringLiteral("00 00 48 42"));
    QCOMPARE(LogLines(ed),
             QStringList{QStringLiteral("Sending Command 43h: No error. Data: 00 00 48 42")});

    // Taken from the history, a payload is read the way it was sent.
    ed.cbPayloadMode->setCurrentIndex(TCustomCmd::pmItems);
    ed.edPayload->setCurrentIndex(0);
    Q_EMIT ed.edPayload->activated(0);
    QCOMPARE(ed.PayloadMode(), TCustomCmd::pmHexBytes);
    QCOMPARE(HexString(ed.StoredPayload()), QStringLiteral("00 00 48 42"));

    // A final result shows its data too; one without data reads as before.
    rig.Replies[0x21] = HexBytes("1A 00");
    ed.edID->setText(QStringLiteral("0x21"));
    ed.btnSend->click();
    rig.Device->FeedLater(MakeFrame(0x21, HexBytes("00 00 AB CD")));
    QTRY_COMPARE(LogLines(ed).size(), 3);
    QCOMPARE(LogLines(ed)[1], QStringLiteral("Sending Command 21h: ") + StatusText(E_CMD_PENDING));
    QCOMPARE(LogLines(ed)[2],
             QStringLiteral("Async result from command 21h: No error. Data: AB CD"));
}

void TestCustomCmd::decodingPanel() {
    TPacketDecoding d = DecodePacket(0x00, {});
    QCOMPARE(d.ID, QStringLiteral("00"));
    QCOMPARE(d.Length, QStringLiteral("00 00"));
    QCOMPARE(d.Payload, QStringLiteral("[n/a]"));
    QCOMPARE(d.Checksum, QStringLiteral("4A 7A"));
    QCOMPARE(DecodePacket(0x40, {}).Checksum, QStringLiteral("5B EB"));
    d = DecodePacket(0x20, {0x00});
    QCOMPARE(d.Checksum, QStringLiteral("8F 83"));
    QCOMPARE(d.Payload, QStringLiteral("00 "));
    QCOMPARE(d.Length, QStringLiteral("01 00"));
    d = DecodePacket(0x21, TByteArray(300, 0xAB));
    QCOMPARE(d.Length, QStringLiteral("2C 01"));
    QCOMPARE(d.Payload.size(), 900);
    QVERIFY(d.Payload.startsWith(QStringLiteral("AB AB ")));
}

void TestCustomCmd::editorStartsWithEmptyCommand() {
    TCustomCmd ed(nullptr);
    QCOMPARE(ed.windowTitle(), QStringLiteral("Custom Command Editor"));
    QCOMPARE(ed.edID->text(), QStringLiteral("0x00"));
    QCOMPARE(ed.lbId->text(), QStringLiteral("00"));
    QCOMPARE(ed.lbLength->text(), QStringLiteral("00 00"));
    QCOMPARE(ed.lbPayload->text(), QStringLiteral("[n/a]"));
    QCOMPARE(ed.lbChecksum->text(), QStringLiteral("4A 7A"));
    QCOMPARE(ed.lbPayloadSize->text(), QStringLiteral("0 bytes"));
    QCOMPARE(ed.edPayload->toolTip(), TCustomCmd::PayloadHelp);
    ed.SetConnected(false);
    QVERIFY(!ed.btnSend->isEnabled());
    QVERIFY(!ed.cbAutosend->isEnabled());
    QVERIFY(!ed.AutosendIntervalEdit->isEnabled());
    QCOMPARE(ed.AutosendIntervalEdit->value(), 50);
    QVERIFY(ed.btnSend->isDefault());
    QCOMPARE(ed.RollPanel1->Caption(), QStringLiteral("Command Results"));
    QCOMPARE(ed.RollPanel1->State(), TRollPanel::rpExpanded);
    ed.show();
    QVERIFY(QTest::qWaitForWindowExposed(&ed));
    // The results text fills the panel's body.
    QCOMPARE(ed.Log->geometry(), ed.RollPanel1->contentsRect());
    // The payload field stretches to 10 pixels short of its panel's inner right edge.
    const QRect entryInner = ed.edPayload->parentWidget()->contentsRect();
    QCOMPARE(ed.edPayload->geometry().right(), entryInner.right() - 10);

    const QList<QAction*> ids = ed.pmKnownIDs->actions();
    QCOMPARE(ids.size(), 28);
    QCOMPARE(ids.first()->text(), QStringLiteral("HOMING"));
    QCOMPARE(ids.last()->text(), QStringLiteral("GET_SYSTEM_LIMITS"));
    for (QAction* a : ids)
        if (a->text() == QStringLiteral("GET_SYSTEM_STATE"))
            a->trigger();
    // The menu writes identifiers in hexadecimal, as the rest of the editor shows them.
    QCOMPARE(ed.edID->text(), QStringLiteral("0x40"));
    QCOMPARE(ed.lbId->text(), QStringLiteral("40"));
    QCOMPARE(ed.lbChecksum->text(), QStringLiteral("5B EB"));
    QCOMPARE(ed.StoredID(), std::uint8_t(0x40));
}

void TestCustomCmd::validationStoresCommandAndGatesSend() {
    TCustomCmd ed(nullptr);
    ed.SetConnected(true);
    QVERIFY(ed.btnSend->isEnabled());
    QVERIFY(ed.cbAutosend->isEnabled());
    QVERIFY(ed.AutosendIntervalEdit->isEnabled());

    ed.edID->setText(QStringLiteral("0x20"));
    ed.edPayload->setEditText(QStringLiteral("0"));
    QCOMPARE(ed.lbPayloadSize->text(), QStringLiteral("1 bytes"));
    QCOMPARE(ed.lbChecksum->text(), QStringLiteral("8F 83"));
    QCOMPARE(ed.lbPayload->text(), QStringLiteral("00 "));
    QCOMPARE(ed.StoredID(), std::uint8_t(0x20));
    QCOMPARE(HexString(ed.StoredPayload()), QStringLiteral("00"));

    ed.edPayload->setEditText(QStringLiteral("1 256"));
    QCOMPARE(ed.edPayload->toolTip(), TCustomCmd::PayloadError);
    QCOMPARE(ed.edPayload->lineEdit()->palette().color(QPalette::Text), QColor(Qt::red));
    QCOMPARE(ed.lbPayloadSize->text(), QStringLiteral("0 bytes"));
    QCOMPARE(ed.StoredID(), std::uint8_t(0));
    QVERIFY(ed.StoredPayload().empty());
    // The panel shows the identifier field with the emptied payload.
    QCOMPARE(ed.lbId->text(), QStringLiteral("20"));
    QCOMPARE(ed.lbPayload->text(), QStringLiteral("[n/a]"));
    QVERIFY(!ed.btnSend->isEnabled());
    QVERIFY(!ed.cbAutosend->isEnabled());
    // Reconnecting does not enable sending an invalid entry.
    ed.SetConnected(true);
    QVERIFY(!ed.btnSend->isEnabled());

    ed.edPayload->setEditText(QStringLiteral("\"Hi\" 0x0F"));
    QCOMPARE(ed.edPayload->lineEdit()->palette().color(QPalette::Text), QColor(Qt::black));
    QCOMPARE(ed.edPayload->toolTip(), TCustomCmd::PayloadHelp);
    QCOMPARE(ed.lbPayloadSize->text(), QStringLiteral("3 bytes"));
    QVERIFY(ed.btnSend->isEnabled());

    // An invalid identifier disables Send and leaves the panel as it was.
    ed.edID->setText(QStringLiteral("300"));
    QVERIFY(!ed.btnSend->isEnabled());
    QCOMPARE(ed.lbId->text(), QStringLiteral("[n/a]"));
    ed.edPayload->setEditText(QStringLiteral("1 2 3 4"));
    QCOMPARE(ed.lbPayload->text(), QStringLiteral("48 69 0F "));
    QCOMPARE(ed.lbLength->text(), QStringLiteral("03 00"));

    ed.edID->setText(QStringLiteral("33"));
    QCOMPARE(ed.lbId->text(), QStringLiteral("21"));
    QCOMPARE(ed.lbPayload->text(), QStringLiteral("01 02 03 04 "));
    QVERIFY(ed.btnSend->isEnabled());

    // A long payload shows its start and an ellipsis.
    ed.edPayload->setEditText(QStringLiteral("\"") + QString(300, QLatin1Char('A')) +
                              QStringLiteral("\""));
    QCOMPARE(ed.lbLength->text(), QStringLiteral("2C 01"));
    QVERIFY(ed.lbPayload->text().startsWith(QStringLiteral("41 41 ")));
    QVERIFY(ed.lbPayload->text().endsWith(QChar(0x2026)));
}

void TestCustomCmd::sendLogsStatusAndKeepsHistory() {
    TGripperRig rig;
    TCommLog commLog;
    rig.Morv.SetPacketLog(&commLog);
    TCustomCmd ed(&rig.Morv);
    ed.SetConnected(true);
    rig.Replies[0x40] = HexBytes("00 00 11 22");
    ed.edID->setText(QStringLiteral("0x40"));
    ed.edPayload->setEditText(QStringLiteral("  \"ab\" 1.5f "));
    ed.btnSend->click();
    QCOMPARE(rig.Requests.size(), std::size_t(1));
    QCOMPARE(rig.Requests[0].ID, 0x40);
    QCOMPARE(HexString(rig.Requests[0].Data), QStringLiteral("61 62 00 00 C0 3F"));
    QCOMPARE(LogLines(ed),
             QStringList{QStringLiteral("Sending Command 40h: No error. Data: 11 22")});
    QCOMPARE(History(ed), QStringList{QStringLiteral("\"ab\" 1.5f")});
    // Both directions reach the program's log through the command set.
    QCOMPARE(commLog.RxMsgMemo->ToPlainText(),
             QStringLiteral("TX PACKET: ID=40h, Length=6: 61 62 00 00 C0 3F\n"
                            "RX PACKET: ID=40h, Length=4: 00 00 11 22"));
    // What the operator typed stays in the field.
    QCOMPARE(ed.edPayload->currentText(), QStringLiteral("  \"ab\" 1.5f "));

    ed.edPayload->setEditText(QStringLiteral("\"AB\" 1.5F"));
    ed.btnSend->click();
    QCOMPARE(History(ed), QStringList{QStringLiteral("\"ab\" 1.5f")});
    ed.edPayload->setEditText(QString());
    ed.btnSend->click();
    QCOMPARE(History(ed).size(), 1);

    // A send that fails adds nothing.
    rig.Device->WriteResult = E_WRITE_ERROR;
    ed.edPayload->setEditText(QStringLiteral("7"));
    ed.btnSend->click();
    QCOMPARE(LogLines(ed).last(), QStringLiteral("Sending Command 40h: ") +
                                      StatusText(E_CMD_FAILED) + QStringLiteral(" (not sent: ") +
                                      StatusText(E_WRITE_ERROR) + QLatin1Char(')'));
    QCOMPARE(History(ed).size(), 1);
    rig.Device->WriteResult = E_SUCCESS;
    ed.btnSend->click();
    QCOMPARE(History(ed), (QStringList{QStringLiteral("\"ab\" 1.5f"), QStringLiteral("7")}));

    // Without a connection the command set says so.
    rig.Morv.Disconnect();
    ed.btnSendClick();
    QCOMPARE(LogLines(ed).last(), QStringLiteral("Sending Command 40h: ") +
                                      StatusText(E_NOT_OPENED) +
                                      QStringLiteral(" (not connected)"));
    QCOMPARE(LogLines(ed).size(), 6);
    // Sent, answered and failed sends are counted with the answered ones' round trips.
    const TCustomCmd::TSendCounts& c = ed.Counts();
    QCOMPARE(c.Sent, 6);
    QCOMPARE(c.Answered, 4);
    QCOMPARE(c.Failed, 2);
    QVERIFY(c.MinMicros > 0 && c.MinMicros <= c.SumMicros / c.Answered &&
            c.SumMicros / c.Answered <= c.MaxMicros);
    QVERIFY2(ed.lbCounts->text().startsWith(
                 QStringLiteral("Sent 6, answered 4, failed 2; round trip min ")),
             qPrintable(ed.lbCounts->text()));
    ed.btnClear->click();
    QVERIFY(ed.Log->toPlainText().isEmpty());
    QCOMPARE(ed.Counts().Sent, 0);
    QCOMPARE(ed.lbCounts->text(), QStringLiteral("Sent 0, answered 0, failed 0"));
}

void TestCustomCmd::resultsStayBoundedAndOverlongPastesAreRefused() {
    TGripperRig rig;
    TCustomCmd ed(&rig.Morv);
    ed.SetConnected(true);
    rig.Replies[0x40] = HexBytes("00 00");
    ed.edID->setText(QStringLiteral("0x40"));
    const int sends = TCustomCmd::MaxResultLines + 50;
    for (int i = 0; i < sends; ++i)
        ed.btnSendClick();
    QCOMPARE(ed.Counts().Sent, sends);
    QCOMPARE(LogLines(ed).size(), TCustomCmd::MaxResultLines);

    // A paste longer than the field takes is refused as a whole, with a message.
    MessageRecorder boxes;
    ed.edPayload->setEditText(QStringLiteral("1 2"));
    QGuiApplication::clipboard()->setText(
        QString(TCustomCmd::MaxPayloadText + 1, QLatin1Char('1')));
    ed.edPayload->lineEdit()->end(false);
    ed.edPayload->lineEdit()->paste();
    QCOMPARE(ed.edPayload->currentText(), QStringLiteral("1 2"));
    QCOMPARE(boxes.Boxes.size(), 1);
    QVERIFY(boxes.Texts().first().contains(QString::number(TCustomCmd::MaxPayloadText)));
    QCOMPARE(HexString(ed.StoredPayload()), QStringLiteral("01 02"));
    // One that fits is taken whole, beyond the field's usual 32767 characters.
    const QString hex = QStringLiteral("AB ").repeated(20000);
    ed.SetPayloadMode(TCustomCmd::pmHexBytes);
    ed.edPayload->lineEdit()->clear();
    QGuiApplication::clipboard()->setText(hex);
    ed.edPayload->lineEdit()->paste();
    QCOMPARE(ed.StoredPayload().size(), std::size_t(20000));
    QCOMPARE(boxes.Boxes.size(), 1);
}

void TestCustomCmd::pendingCommandReportsItsFinalResult() {
    TGripperRig rig;
    TCustomCmd ed(&rig.Morv);
    ed.SetConnected(true);
    rig.Replies[0x21] = HexBytes("1A 00");
    ed.edID->setText(QStringLiteral("0x21"));
    ed.edPayload->setEditText(QStringLiteral("0 0 0 0 0 0 0 0"));
    ed.btnSend->click();
    QCOMPARE(LogLines(ed),
             QStringList{QStringLiteral("Sending Command 21h: ") + StatusText(E_CMD_PENDING)});
    rig.Device->FeedLater(MakeFrame(0x21, HexBytes("1C 00")));
    QTRY_COMPARE(LogLines(ed).size(), 2);
    QCOMPARE(LogLines(ed)[1], QStringLiteral("Async result from command 21h: ") +
                                  StatusText(E_RANGE_ERROR) + QLatin1Char('.'));
}

void TestCustomCmd::autosendRepeatsUntilInvalidOrDisconnected() {
    TGripperRig rig;
    TCustomCmd ed(&rig.Morv);
    ed.SetConnected(true);
    rig.Replies[0x40] = HexBytes("00 00");
    ed.edID->setText(QStringLiteral("64"));
    ed.AutosendIntervalEdit->setValue(60);
    ed.cbAutosend->click();
    QVERIFY(ed.AutosendTimer->isActive());
    QCOMPARE(ed.AutosendTimer->interval(), 60);
    QVERIFY(!ed.btnSend->isEnabled());
    QVERIFY(!ed.AutosendIntervalEdit->isEnabled());
    QTRY_VERIFY_WITH_TIMEOUT(rig.Requests.size() >= 2, 10000);

    ed.edPayload->setEditText(QStringLiteral("-1"));
    QVERIFY(!ed.AutosendTimer->isActive());
    QVERIFY(!ed.cbAutosend->isChecked());
    QVERIFY(!ed.cbAutosend->isEnabled());
    QVERIFY(!ed.btnSend->isEnabled());
    QVERIFY(ed.AutosendIntervalEdit->isEnabled());

    ed.edPayload->setEditText(QStringLiteral("1"));
    QVERIFY(ed.btnSend->isEnabled());
    ed.cbAutosend->click();
    QVERIFY(ed.AutosendTimer->isActive());
    ed.SetConnected(false);
    QVERIFY(!ed.AutosendTimer->isActive());
    QVERIFY(!ed.cbAutosend->isChecked());
    QVERIFY(!ed.btnSend->isEnabled());
    QVERIFY(!ed.AutosendIntervalEdit->isEnabled());
    ed.cbAutosend->click(); // disabled: no effect
    QVERIFY(!ed.AutosendTimer->isActive());
}

void TestCustomCmd::sendsDoNotNest() {
    TGripperRig rig;
    TCustomCmd ed(&rig.Morv);
    ed.SetConnected(true);
    ed.edID->setText(QStringLiteral("0x40"));
    // The gripper answers late; meanwhile the operator clicks again and the timer fires.
    rig.OnRequest = [&](const TPacket& p) {
        QVERIFY(ed.Sending());
        ed.btnSendClick();
        ed.AutosendTimerTimer();
        rig.Device->FeedLater(MakeFrame(static_cast<std::uint8_t>(p.ID), HexBytes("00 00")));
    };
    ed.btnSend->click();
    QCOMPARE(rig.Requests.size(), std::size_t(1));
    QCOMPARE(LogLines(ed), QStringList{QStringLiteral("Sending Command 40h: No error")});
    QVERIFY(!ed.Sending());
    rig.OnRequest = nullptr;
    rig.Replies[0x40] = HexBytes("00 00");
    ed.btnSend->click();
    QCOMPARE(rig.Requests.size(), std::size_t(2));
}

void TestCustomCmd::invalidEntriesAreMarked() {
    TCustomCmd ed(nullptr);
    ed.SetConnected(true);
    // A character without a single-byte code is refused with a hint, not sent as "?".
    ed.edPayload->setEditText(QStringLiteral("1 \"Gr\u00FC\u00DFe \u20AC\""));
    QVERIFY(!ed.btnSend->isEnabled());
    QCOMPARE(ed.edPayload->lineEdit()->palette().color(QPalette::Text), QColor(Qt::red));
    QVERIFY2(ed.edPayload->toolTip().startsWith(TCustomCmd::PayloadError + QLatin1Char('\n')),
             qPrintable(ed.edPayload->toolTip()));
    QVERIFY(ed.edPayload->toolTip().contains(QStringLiteral("\u20AC")));
    QVERIFY(ed.StoredPayload().empty());

    // An identifier the field refuses reads in the payload's error colour, and the panel does
    // not keep a value from an earlier text ("30" showed 1E) or a checksum over it.
    ed.edPayload->setEditText(QStringLiteral("1"));
    const QColor normal = ed.edID->palette().color(QPalette::Text);
    for (const char* text : {"30", "300", "abc", "-1"}) {
        ed.edID->setText(QString::fromLatin1(text));
        const bool valid = QByteArray(text) == "30";
        QCOMPARE(ed.lbId->text(), valid ? QStringLiteral("1E") : QStringLiteral("[n/a]"));
        QCOMPARE(ed.lbChecksum->text() == QStringLiteral("[n/a]"), !valid);
        QCOMPARE(ed.edID->palette().color(QPalette::Text), valid ? normal : QColor(Qt::red));
        QCOMPARE(ed.btnSend->isEnabled(), valid);
    }
}

void TestCustomCmd::hidingOrAFailedSendLeavesNoStuckSending() {
    TGripperRig rig;
    TCustomCmd ed(&rig.Morv);
    ed.SetConnected(true);
    rig.Replies[0x40] = HexBytes("00 00");
    ed.edID->setText(QStringLiteral("64"));
    // Escape hides the editor; nothing may go on sending unseen.
    ed.show();
    QVERIFY(QTest::qWaitForWindowExposed(&ed));
    ed.cbAutosend->click();
    QVERIFY(ed.AutosendTimer->isActive());
    QTest::keyClick(&ed, Qt::Key_Escape);
    QVERIFY(!ed.isVisible());
    QVERIFY(!ed.AutosendTimer->isActive());
    QVERIFY(!ed.cbAutosend->isChecked());
    const std::size_t sent = rig.Requests.size();

    // An error raised inside a send (the transport's own, say) must not leave Send dead.
    rig.OnRequest = [](const TPacket&) { throw std::runtime_error("port gone"); };
    QVERIFY_THROWS_EXCEPTION(std::runtime_error, ed.btnSendClick());
    QVERIFY(!ed.Sending());
    rig.OnRequest = nullptr;
    ed.btnSend->click();
    QCOMPARE(rig.Requests.size(), sent + 2);
    QCOMPARE(LogLines(ed).last(), QStringLiteral("Sending Command 40h: No error"));
}

void TestCustomCmd::autosendTrafficCostsTheCommandLogLittleMemory() {
    // Half an hour of auto-send at 50 ms: a request without payload and its short reply each
    // time. The log keeps every packet, so its cost per entry is what grows under auto-send.
    const int sends = 36000;
    const TPacket request{0x40, 0, {}};
    const TPacket reply{0x40, 6, HexBytes("00 00 01 00 00 00")};
    const std::int64_t t0 = 1'800'000'000'000;
    TLogStore store;
    const std::size_t before = mallinfo2().uordblks;
    for (int i = 0; i < sends; ++i) {
        store.Add(request, false, {t0 + 50 * i, -1});
        store.Add(reply, true, {t0 + 50 * i + 1, 1});
    }
    const double perEntry = double(mallinfo2().uordblks - before) / (2.0 * sends);
    QVERIFY2(perEntry < 24.0, qPrintable(QStringLiteral("%1 bytes per entry").arg(perEntry)));
    for (int i = 0; i < 100; ++i)
        store.DropOldest();
    const int last = store.Count() - 1;
    QCOMPARE(store.Count(), 2 * sends - 100);
    QCOMPARE(HexString(store.Packet(last).Data), QStringLiteral("00 00 01 00 00 00"));
    QVERIFY(store.Received(last) && !store.Received(0));
    QCOMPARE(store.WallMs(last), t0 + 50 * (sends - 1) + 1);
    QCOMPARE(store.RoundTripMs(last), 1);
    QVERIFY(store.Packet(0).Data.empty());
    QCOMPARE(store.WallMs(0), t0 + 50 * 50);
}

QTEST_MAIN(TestCustomCmd)
#include "tst_customcmd.moc"
