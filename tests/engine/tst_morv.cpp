// SPDX-License-Identifier: Apache-2.0
#include "MorvRig.h"

#include <QTest>
#include <QTimer>

#include <chrono>
#include <memory>

namespace {
QString Ids(const std::vector<TPacketRecorder::Entry>& entries) {
    QStringList out;
    for (const auto& e : entries)
        out << QStringLiteral("%1%2")
                   .arg(e.Received ? QLatin1Char('<') : QLatin1Char('>'))
                   .arg(e.Packet.ID, 2, 16, QLatin1Char('0'));
    return out.join(QLatin1Char(' '));
}

// Replaces the engine's packet handler with a counter, so the test can see that a waiting
// exchange put back exactly what it found.
int* InstallCountingHandler(TMorv& morv, std::shared_ptr<int> counter) {
    morv.Command()->OnPacket = [counter](TCommand*) { ++*counter; };
    return counter.get();
}

// Keeps the wall time of every logged packet.
struct TStampRecorder : IPacketLog {
    std::vector<std::int64_t> WallMs;
    void LogPacket(const TPacket&, bool) override {}
    void LogStampedPacket(const TPacket&, bool, const TLogStamp& stamp) override {
        WallMs.push_back(stamp.WallMs);
    }
    // Kind and identifier of each link event, and its stamp among the others.
    QStringList Events;
    void LogLinkEvent(const TLinkEvent& event, const TLogStamp& stamp) override {
        Events << QStringLiteral("%1/%2").arg(static_cast<int>(event.Kind)).arg(event.ID, 0, 16);
        WallMs.push_back(stamp.WallMs);
    }
};

enum class TGripperSide { Answers, AnswersShort, Silent, Unconnected, RefusesWrite, DropsLink };
} // namespace

Q_DECLARE_METATYPE(TGripperSide)
Q_DECLARE_METATYPE(TOutcomeKind)

class TestMorv : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void nothingGoesOutWhileNotConnected() {
        TMorvRig rig;
        TByteArray reply{9};
        TStat status = E_TIMEOUT;
        QVERIFY(!rig.Morv.ExecuteCommand(0x40, {}, reply, status));
        QCOMPARE(status, E_TIMEOUT);
        QCOMPARE(reply.size(), std::size_t(1));
        QCOMPARE(rig.Morv.StartCommand(0x21, {}, nullptr), E_NOT_OPENED);
        QVERIFY(rig.Log.Entries.empty());
        QVERIFY(rig.Device->Writes.empty());
    }

    void exchangeDispatchesEveryPacketOnce() {
        TMorvRig rig;
        QVERIFY(rig.Connect());
        int positions = 0, systemStates = 0, graspingStates = 0;
        rig.Morv.OnPosition = [&](TMorv* s) {
            QCOMPARE(s, &rig.Morv);
            ++positions;
        };
        rig.Morv.OnSystemState = [&](TMorv*) { ++systemStates; };
        rig.Morv.OnGraspingState = [&](TMorv*) { ++graspingStates; };
        // Before the reply an automatic update, after it another one, all in one chunk.
        rig.OnRequest = [&](const TPacket&) {
            TByteArray bytes = TMorvRig::Frame(0x43, "00 00 00 00 48 41");
            for (const TByteArray& f : {TMorvRig::Frame(0x40, "00 00 01 10 00 00 AA BB"),
                                        TMorvRig::Frame(0x41, "00 00 04")})
                bytes.insert(bytes.end(), f.begin(), f.end());
            rig.Device->FeedLater(bytes);
        };
        auto counter = std::make_shared<int>(0);
        InstallCountingHandler(rig.Morv, counter);

        TByteArray reply;
        TStat status = E_TIMEOUT;
        QVERIFY(rig.Morv.ExecuteCommand(0x40, HexBytes("00 00 00"), reply, status));
        QCOMPARE(status, E_SUCCESS);
        QCOMPARE(HexString(reply), QStringLiteral("01 10 00 00 AA BB"));
        QCOMPARE(HexString(rig.Requests.at(0).Data), QStringLiteral("00 00 00"));
        // The update before the reply was dispatched during the wait; the reply too (six data
        // bytes: not a system state); the one behind the reply is left queued.
        QCOMPARE(Ids(rig.Log.Entries), QStringLiteral(">40 <43 <40"));
        QCOMPARE(positions, 1);
        QCOMPARE(rig.Morv.Position(), 12.5f);
        QCOMPARE(systemStates, 0);
        QCOMPARE(rig.Morv.Command()->PacketCount(), 1);
        // The handler found before the exchange is back in place and is told about what is
        // left over.
        QCOMPARE(*counter, 0);
        QTRY_COMPARE(*counter, 1);
        rig.Send(0x43, "00 00 00 00 00 00");
        QCOMPARE(*counter, 2);
        QCOMPARE(graspingStates, 0);
    }

    void replyAlreadyQueuedIsTaken() {
        TMorvRig rig;
        QVERIFY(rig.Connect());
        auto counter = std::make_shared<int>(0);
        InstallCountingHandler(rig.Morv, counter);
        rig.Send(0x31, "00 00 00 00 FA 43");
        QCOMPARE(rig.Morv.Command()->PacketCount(), 1);
        float value = 0;
        QCOMPARE(rig.Morv.GetAcceleration(value), E_SUCCESS); // the gripper stays silent
        QCOMPARE(value, 500.0f);
        QCOMPARE(Ids(rig.Log.Entries), QStringLiteral(">31 <31"));
    }

    void timeOutAndLateReply() {
        TMorvRig rig;
        QVERIFY(rig.Connect());
        FakeTick tick;
        rig.Morv.SetClock(tick.Clock());
        // In one pass of the wait the clock moves by `ms`; in the next the reply arrives.
        auto lateBy = [&](std::uint32_t ms, const char* payload) {
            rig.OnRequest = [&rig, &tick, ms, payload](const TPacket& p) {
                const TByteArray frame =
                    MakeFrame(static_cast<std::uint8_t>(p.ID), HexBytes(payload));
                QTimer::singleShot(0, [&rig, &tick, ms, frame] {
                    tick.Advance(ms);
                    rig.Device->FeedLater(frame);
                });
            };
        };
        TByteArray reply{7};
        TStat status = E_TIMEOUT;
        // Exactly 3000 ms is not over yet.
        lateBy(3000, "00 00");
        QVERIFY(rig.Morv.ExecuteCommand(0x50, {}, reply, status));
        QVERIFY(reply.empty());

        // One millisecond more is: no reply, outputs untouched.
        lateBy(3001, "00 00 01 10 00 00");
        reply = {7};
        status = E_TIMEOUT;
        QVERIFY(!rig.Morv.ExecuteCommand(0x40, {}, reply, status));
        QCOMPARE(reply.size(), std::size_t(1));
        QCOMPARE(status, E_TIMEOUT);
        // The late reply is an ordinary packet then, dispatched when it arrives.
        int systemStates = 0;
        rig.Morv.OnSystemState = [&](TMorv*) { ++systemStates; };
        QCOMPARE(rig.Log.Entries.size(), std::size_t(3));
        QTRY_COMPARE(systemStates, 1);
        QCOMPARE(rig.Morv.SystemState(), 0x1001u);
        QCOMPARE(Ids(rig.Log.Entries), QStringLiteral(">50 <50 >40 <40"));

        // A reply taken in the pass in which the time runs out still counts.
        rig.OnRequest = [&](const TPacket& p) {
            const TByteArray frame = MakeFrame(static_cast<std::uint8_t>(p.ID), HexBytes("03 00"));
            QTimer::singleShot(0, [&rig, &tick, frame] {
                tick.Advance(5000);
                rig.Device->Feed(frame);
            });
        };
        QCOMPARE(rig.Morv.Stop(), E_NOT_INITIALIZED);
    }

    // The wait must end on time even when no event at all comes to wake it: the tick here runs
    // fast and silently.
    void silentWaitStillSeesTheDeadline() {
        TMorvRig rig;
        QVERIFY(rig.Connect());
        const auto start = std::chrono::steady_clock::now();
        rig.Morv.SetClock({[start] {
                               const auto ms =
                                   std::chrono::duration_cast<std::chrono::milliseconds>(
                                       std::chrono::steady_clock::now() - start);
                               return static_cast<std::uint32_t>(ms.count() * 100);
                           },
                           {}});
        QCOMPARE(rig.Morv.Stop(), E_CMD_FAILED);
    }

    void shortReplyOrFailedSend() {
        TMorvRig rig;
        QVERIFY(rig.Connect());
        auto counter = std::make_shared<int>(0);
        InstallCountingHandler(rig.Morv, counter);
        rig.Reply(0x22, "00");
        TByteArray reply;
        TStat status = E_TIMEOUT;
        QVERIFY(!rig.Morv.ExecuteCommand(0x22, {}, reply, status));
        QCOMPARE(status, E_TIMEOUT);
        QCOMPARE(Ids(rig.Log.Entries), QStringLiteral(">22 <22")); // logged all the same

        rig.Device->WriteResult = E_WRITE_ERROR;
        QVERIFY(!rig.Morv.ExecuteCommand(0x22, {}, reply, status));
        QCOMPARE(rig.Log.Entries.size(), std::size_t(2)); // a failed send is not logged
        QCOMPARE(rig.Morv.StartCommand(0x21, {}, nullptr), E_CMD_FAILED);
        rig.Send(0x43, "01 00");
        QCOMPARE(*counter, 1); // the handler survived both
    }

    // A timer starts a second exchange while the first one waits: the inner one sets the outer
    // one's reply aside, takes its own, and the outer one still finds its reply although the
    // inner one used up its time.
    void nestedExchange() {
        TMorvRig rig;
        QVERIFY(rig.Connect());
        FakeTick tick;
        rig.Morv.SetClock(tick.Clock());
        auto counter = std::make_shared<int>(0);
        InstallCountingHandler(rig.Morv, counter);
        bool innerResult = false, innerSawClearedSlot = false, slotClearedAfterInner = false;
        rig.OnRequest = [&](const TPacket& p) {
            if (p.ID == 0x41) {
                innerSawClearedSlot = !rig.Morv.Command()->OnPacket;
                TByteArray bytes = TMorvRig::Frame(0x40, "00 00 02 00 00 00");
                const TByteArray own = TMorvRig::Frame(0x41, "00 00 04");
                bytes.insert(bytes.end(), own.begin(), own.end());
                rig.Device->FeedLater(bytes);
            }
        };
        QTimer::singleShot(0, [&] {
            TByteArray reply;
            TStat status = E_TIMEOUT;
            innerResult = rig.Morv.ExecuteCommand(0x41, {}, reply, status);
            slotClearedAfterInner = !rig.Morv.Command()->OnPacket;
            tick.Advance(3001);
        });
        TByteArray reply;
        TStat status = E_TIMEOUT;
        QVERIFY(rig.Morv.ExecuteCommand(0x40, {}, reply, status));
        QCOMPARE(HexString(reply), QStringLiteral("02 00 00 00"));
        QVERIFY(innerResult);
        QVERIFY(innerSawClearedSlot);
        QVERIFY(slotClearedAfterInner);
        QCOMPARE(rig.Morv.SystemState(), 2u);
        QCOMPARE(rig.Morv.GraspingState(), 4);
        QCOMPARE(Ids(rig.Log.Entries), QStringLiteral(">40 >41 <41 <40"));
        rig.Send(0x43, "01 00");
        QCOMPARE(*counter, 1); // the outer exchange restored the original handler
    }

    // The operator's Stop: an automatic update lands ahead of the reply, and its handler asks
    // for the position from inside Stop's wait. Both exchanges succeed and every packet is
    // dispatched once. With one identifier twice, the inner exchange gets the first reply.
    void updateAheadOfTheReplyStartsAnInnerExchange_data() {
        QTest::addColumn<int>("outerId");
        QTest::addColumn<QString>("log");
        QTest::addColumn<QString>("innerReply");
        QTest::addColumn<QString>("outerReply");
        QTest::newRow("stop") << 0x22 << QStringLiteral(">22 <40 >43 <43 <22")
                              << QStringLiteral("00 00 20 41") << QStringLiteral("00 00 48 42");
        QTest::newRow("same identifier")
            << 0x43 << QStringLiteral(">43 <40 >43 <43 <43") << QStringLiteral("00 00 48 42")
            << QStringLiteral("00 00 20 41");
    }
    void updateAheadOfTheReplyStartsAnInnerExchange() {
        QFETCH(int, outerId);
        QFETCH(QString, log);
        QFETCH(QString, innerReply);
        QFETCH(QString, outerReply);
        TMorvRig rig;
        QVERIFY(rig.Connect());
        int requests = 0;
        rig.OnRequest = [&](const TPacket& p) {
            if (++requests == 1) {
                // The update and the reply to the outer request arrive in one chunk.
                TByteArray bytes = TMorvRig::Frame(0x40, "00 00 00 00 00 00");
                const TByteArray own = TMorvRig::Frame(p.ID, "00 00 00 00 48 42");
                bytes.insert(bytes.end(), own.begin(), own.end());
                rig.Device->FeedLater(bytes);
            } else {
                rig.Device->FeedLater(TMorvRig::Frame(0x43, "00 00 00 00 20 41"));
            }
        };
        bool innerOk = false;
        TByteArray inner;
        rig.Morv.OnSystemState = [&](TMorv*) {
            TStat status = E_TIMEOUT;
            innerOk = rig.Morv.ExecuteCommand(0x43, {}, inner, status);
        };
        TByteArray reply;
        TStat status = E_TIMEOUT;
        QVERIFY(rig.Morv.ExecuteCommand(static_cast<std::uint8_t>(outerId), {}, reply, status));
        QCOMPARE(status, E_SUCCESS);
        QVERIFY(innerOk);
        QCOMPARE(HexString(inner), innerReply);
        QCOMPARE(HexString(reply), outerReply);
        QCOMPARE(Ids(rig.Log.Entries), log);
        QCOMPARE(rig.Morv.Command()->PacketCount(), 0);
        QVERIFY(!rig.Morv.InExchange());
    }

    // A call handed over while an exchange waits runs only after it, from the event loop.
    void callsWhenIdleWaitForTheExchange() {
        TMorvRig rig;
        QVERIFY(rig.Connect());
        QStringList order;
        rig.OnRequest = [&](const TPacket& p) {
            rig.Morv.CallWhenIdle([&] { order << QStringLiteral("call"); });
            QTimer::singleShot(0, [&rig, &order, p] {
                order << QStringLiteral("reply");
                rig.Device->Feed(MakeFrame(static_cast<std::uint8_t>(p.ID), HexBytes("00 00")));
            });
        };
        QCOMPARE(rig.Morv.Stop(), E_SUCCESS);
        order << QStringLiteral("returned");
        QTRY_COMPARE(order, (QStringList{QStringLiteral("reply"), QStringLiteral("returned"),
                                         QStringLiteral("call")}));
    }

    void resultsOfCommandsThatCompleteLater() {
        TMorvRig rig;
        QVERIFY(rig.Connect());
        struct Call {
            int id;
            int status;
            QString data;
        };
        std::vector<Call> calls;
        auto handler = [&](TMorv* s, std::int32_t id, std::uint16_t st, const TByteArray& d) {
            QCOMPARE(s, &rig.Morv);
            calls.push_back({id, st, HexString(d)});
        };
        rig.Reply(0x21, "1A 00");
        QCOMPARE(rig.Morv.StartCommand(0x21, HexBytes("01"), handler), E_CMD_PENDING);
        QVERIFY(calls.empty()); // the pending reply is no result
        rig.Send(0x21, "00 00");
        QCOMPARE(calls.size(), std::size_t(1));
        QCOMPARE(calls[0].status, 0);
        QCOMPARE(calls[0].data, QString());
        // Still registered for every later packet with a status word.
        rig.Send(0x21, "1D 01 05");
        rig.Send(0x21, "00");
        QCOMPARE(calls.size(), std::size_t(2));
        QCOMPARE(calls[1].status, 0x011D);
        QCOMPARE(calls[1].data, QStringLiteral("05"));

        // A new start drops the old handler before its request goes out; a final answer does
        // not register the new one.
        bool registeredWhileSending = true;
        rig.OnRequest = [&](const TPacket&) {
            registeredWhileSending = bool(rig.Morv.AsyncResults().Find(0x21));
        };
        rig.Reply(0x21, "00 00");
        QCOMPARE(rig.Morv.StartCommand(0x21, {}, handler), E_SUCCESS);
        QVERIFY(!registeredWhileSending);
        QVERIFY(!rig.Morv.AsyncResults().Find(0x21));
        rig.OnRequest = nullptr;

        // The final result arriving together with the pending reply is delivered without
        // waiting for some later packet.
        calls.clear();
        rig.Replies.erase(0x21);
        rig.OnRequest = [&](const TPacket&) {
            TByteArray bytes = TMorvRig::Frame(0x25, "1A 00");
            const TByteArray done = TMorvRig::Frame(0x25, "00 00");
            bytes.insert(bytes.end(), done.begin(), done.end());
            rig.Device->FeedLater(bytes);
        };
        QCOMPARE(rig.Morv.Grasp(8, 50, handler), E_CMD_PENDING);
        QTRY_COMPARE(calls.size(), std::size_t(1));
        QCOMPARE(calls[0].id, 0x25);
    }

    // A handler may drop its own registration (or start the next command) while it runs.
    void handlerMayRemoveItself() {
        TMorvRig rig;
        QVERIFY(rig.Connect());
        auto hits = std::make_shared<std::vector<int>>();
        rig.Reply(0x20, "1A 00");
        QCOMPARE(rig.Morv.Homing(
                     0,
                     [hits, &rig](TMorv*, std::int32_t id, std::uint16_t, const TByteArray&) {
                         rig.Morv.AsyncResults().Remove(id);
                         hits->push_back(
                             id); // uses its own captures after the registration is gone
                     }),
                 E_CMD_PENDING);
        rig.Send(0x20, "00 00");
        rig.Send(0x20, "00 00");
        QCOMPARE(*hits, std::vector<int>{0x20});
    }

    void cachedValues() {
        TMorvRig rig;
        QVERIFY(rig.Connect());
        int sys = 0, grasp = 0, pos = 0;
        rig.Morv.OnSystemState = [&](TMorv*) { ++sys; };
        rig.Morv.OnGraspingState = [&](TMorv*) { ++grasp; };
        rig.Morv.OnPosition = [&](TMorv*) { ++pos; };

        rig.Send(0x40, "00 00 01 10 00 00");
        QCOMPARE(rig.Morv.SystemState(), 0x1001u);
        rig.Send(0x40, "01 00 05 00 00 00"); // error status: nothing changes
        QCOMPARE(rig.Morv.SystemState(), 0x1001u);
        rig.Send(0x40, "00 00 01 10 00"); // wrong length: cleared, not announced
        QCOMPARE(rig.Morv.SystemState(), 0u);
        QCOMPARE(sys, 1);

        rig.Send(0x41, "00 00 03");
        QCOMPARE(rig.Morv.GraspingState(), 3);
        rig.Send(0x41, "00 00 03 00");
        QCOMPARE(rig.Morv.GraspingState(), 0);
        QCOMPARE(grasp, 1);

        rig.Send(0x43, "00 00 00 00 FA 43");
        QCOMPARE(rig.Morv.Position(), 500.0f);
        rig.Send(0x43, "00 00 00 00 48"); // wrong length: kept
        rig.Send(0x43, "02 00 00 00 48 41");
        QCOMPARE(rig.Morv.Position(), 500.0f);
        QCOMPARE(pos, 1);

        // Connection changes clear the states but keep the position.
        rig.Send(0x40, "00 00 01 00 00 00");
        rig.Send(0x41, "00 00 04");
        int connects = 0, disconnects = 0;
        rig.Morv.OnConnect = [&](TMorv*) { ++connects; };
        rig.Morv.OnDisconnect = [&](TMorv*) { ++disconnects; };
        rig.Device->ConfirmConnection();
        QCOMPARE(connects, 1);
        QCOMPARE(rig.Morv.SystemState(), 0u);
        QCOMPARE(rig.Morv.GraspingState(), 0);
        rig.Send(0x40, "00 00 01 00 00 00");
        rig.Morv.Disconnect();
        QCOMPARE(disconnects, 1);
        QCOMPARE(rig.Morv.SystemState(), 0u);
        QCOMPARE(rig.Morv.Position(), 500.0f);
    }

    // Every way an exchange can end, and what the outcome says about it.
    void outcomes_data() {
        QTest::addColumn<TGripperSide>("side");
        QTest::addColumn<TOutcomeKind>("kind");
        QTest::addColumn<int>("sendStatus");
        QTest::addColumn<bool>("hasStatus");
        QTest::addColumn<int>("statusWord");
        QTest::addColumn<QString>("data");
        QTest::newRow("replied") << TGripperSide::Answers << TOutcomeKind::Replied
                                 << int(E_NOT_OPENED) << true << 0x0103 << QStringLiteral("AB");
        QTest::newRow("reply without status") << TGripperSide::AnswersShort << TOutcomeKind::Replied
                                              << int(E_NOT_OPENED) << false << 0 << QString();
        QTest::newRow("no reply") << TGripperSide::Silent << TOutcomeKind::NoReply
                                  << int(E_NOT_OPENED) << false << 0 << QString();
        QTest::newRow("not connected") << TGripperSide::Unconnected << TOutcomeKind::NotSent
                                       << int(E_NOT_OPENED) << false << 0 << QString();
        QTest::newRow("write refused") << TGripperSide::RefusesWrite << TOutcomeKind::NotSent
                                       << int(E_WRITE_ERROR) << false << 0 << QString();
        QTest::newRow("link closed") << TGripperSide::DropsLink << TOutcomeKind::LinkClosed
                                     << int(E_NOT_OPENED) << false << 0 << QString();
    }
    void outcomes() {
        QFETCH(TGripperSide, side);
        QFETCH(TOutcomeKind, kind);
        QFETCH(int, sendStatus);
        QFETCH(bool, hasStatus);
        QFETCH(int, statusWord);
        QFETCH(QString, data);
        TMorvRig rig;
        FakeTick tick;
        rig.Morv.SetClock(tick.Clock());
        TStampRecorder log;
        rig.Morv.SetPacketLog(&log);
        if (side != TGripperSide::Unconnected)
            QVERIFY(rig.Connect());
        if (side == TGripperSide::Answers)
            rig.Reply(0x50, "03 01 AB");
        if (side == TGripperSide::AnswersShort)
            rig.Reply(0x50, "00");
        if (side == TGripperSide::RefusesWrite)
            rig.Device->WriteResult = E_WRITE_ERROR;
        rig.OnRequest = [&](const TPacket&) {
            QTimer::singleShot(0, [&] {
                if (side == TGripperSide::Silent)
                    tick.Advance(TMorv::ReplyTimeoutMs + 1);
                if (side == TGripperSide::DropsLink) {
                    rig.Device->DropConnection();
                    tick.Advance(TMorv::ReplyTimeoutMs + 1);
                }
            });
        };
        const TExchangeOutcome outcome = rig.Morv.Exchange(0x50, {});
        QCOMPARE(outcome.Kind, kind);
        QCOMPARE(int(outcome.ID), 0x50);
        QCOMPARE(rig.Morv.LastOutcome().Kind, kind);
        QCOMPARE(int(outcome.SendStatus), sendStatus);
        QCOMPARE(outcome.HasStatus, hasStatus);
        QCOMPARE(int(outcome.StatusWord), statusWord);
        QCOMPARE(HexString(outcome.Data), data);
        // Only a reply that did not come in time is a link event of its own.
        QCOMPARE(log.Events, kind == TOutcomeKind::NoReply
                                 ? QStringList{QStringLiteral("%1/50").arg(
                                       static_cast<int>(TLinkEventKind::ReplyMissing))}
                                 : QStringList{});
        rig.Morv.SetPacketLog(nullptr);
    }

    // The receiver's gaps and the log's stamps read the instance's clock too.
    void clockOfTheInstance() {
        TMorvRig rig;
        FakeTick tick;
        rig.Morv.SetClock({tick.Source(), [] { return std::int64_t(1234567); }});
        TStampRecorder stamps;
        rig.Morv.SetPacketLog(&stamps);
        QVERIFY(rig.Connect());
        const TByteArray frame = TMorvRig::Frame(0x43, "00 00 00 00 48 41");
        const auto split = [&](std::uint32_t pause) {
            rig.Device->Feed({frame.begin(), frame.begin() + 2});
            tick.Advance(pause);
            rig.Device->Feed({frame.begin() + 2, frame.end()});
        };
        split(TPacketReceiver::GapMs + 1); // the gap drops the first two preamble bytes
        QCOMPARE(rig.Morv.Position(), 0.0f);
        // What the receiver discards reaches the log through the engine, stamped alike.
        rig.Device->Feed(HexBytes("AA AA AA 40 FF FF"));
        split(0);
        QCOMPARE(stamps.Events,
                 (QStringList{QStringLiteral("%1/0").arg(int(TLinkEventKind::SkippedBytes)),
                              QStringLiteral("%1/0").arg(int(TLinkEventKind::FalsePreamble))}));
        stamps.Events.clear();
        split(TPacketReceiver::GapMs);
        QCOMPARE(rig.Morv.Position(), 12.5f);
        rig.Reply(0x22, "00 00");
        QCOMPARE(rig.Morv.Stop(), E_SUCCESS);
        QCOMPARE(stamps.WallMs, (std::vector<std::int64_t>(6, 1234567)));
        rig.Morv.SetPacketLog(nullptr);
    }

    void transportErrors() {
        TMorvRig rig;
        QVERIFY(rig.Connect());
        int errors = 0;
        rig.Morv.OnConnectionError = [&](TMorv*) { ++errors; };
        rig.Device->RaiseError(E_READ_ERROR);
        QCOMPARE(errors, 1);
        QVERIFY(rig.Morv.IsConnected()); // the handler decides
        rig.Morv.OnConnectionError = nullptr;
        rig.Device->RaiseError(E_READ_ERROR);
        QVERIFY(!rig.Morv.IsConnected()); // by default the connection is closed
    }
};

QTEST_MAIN(TestMorv)
#include "tst_morv.moc"
