// SPDX-License-Identifier: Apache-2.0
// karo-sim as a separate process, spoken to over raw loopback sockets.

#include "SimProcess.h"
#include "TestSupport.h"
#include "WireClient.h"
#include "protocol/Constants.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTest>

#define START_SIM(sim) QVERIFY2((sim).Start(), qPrintable((sim).ErrorString()))

#define CONNECT(client) QVERIFY((client).WaitConnected())

class TestSimWire : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void answersTheWorkedFramesOnBothTransports() {
        for (bool udp : {false, true}) {
            // A fresh gripper each time: the homing has to take time to be seen moving.
            SimProcess sim;
            START_SIM(sim);
            QVERIFY(sim.TcpPort() != 0);
            QVERIFY(sim.UdpPort() != 0);
            WireClient c(udp ? sim.UdpPort() : sim.TcpPort(), udp);
            CONNECT(c);
            c.SendRaw(HexBytes("AA AA AA 22 00 00 0E 76")); // STOP
            auto p = c.Next(CMD_STOP);
            QVERIFY(p);
            QCOMPARE(HexString(MakeFrame(*p)), QStringLiteral("AA AA AA 22 02 00 00 00 A7 2E"));
            c.SendRaw(HexBytes("AA AA AA 20 01 00 00 8F 83")); // HOMING 0
            QCOMPARE(WireClient::Decode(c.Next(CMD_HOMING)).Status, int(E_CMD_PENDING));
            c.SendRaw(HexBytes("AA AA AA 40 03 00 03 32 00 15 CD")); // state every 50 ms
            const auto st = WireClient::Decode(c.Next(CMD_GET_SYSTEM_STATE));
            QCOMPARE(st.Status, 0);
            QCOMPARE(st.Data.size(), std::size_t(4));
            QVERIFY(DWordOf(st.Data) & SF_MOVING);
            // Homing ends referenced; the final result carries the request's identifier.
            QCOMPARE(WireClient::Decode(c.Next(CMD_HOMING, 10000)).Status, int(E_SUCCESS));
            QVERIFY(QTest::qWaitFor(
                [&] {
                    const auto u = WireClient::Decode(c.Next(CMD_GET_SYSTEM_STATE));
                    return u.Data.size() == 4 && (DWordOf(u.Data) & SF_REFERENCED) &&
                           !(DWordOf(u.Data) & SF_MOVING);
                },
                10000));
        }
    }

    void gotoTakesDistanceOverSpeed() {
        SimProcess sim({QStringLiteral("--referenced")});
        START_SIM(sim);
        WireClient c(sim.TcpPort());
        CONNECT(c);
        QCOMPARE(c.Ask(CMD_SET_ACCELERATION, Floats({5000.0f})).Status, 0);
        const float start = FloatOf(c.Ask(CMD_GET_POS).Data);
        QCOMPARE(start, 55.0f);

        // Refused at once, and nothing moves.
        QCOMPARE(c.Ask(CMD_GOTO, GotoPayload(110.5f, 50.0f)).Status, int(E_RANGE_ERROR));
        QCOMPARE(c.Ask(CMD_GOTO, GotoPayload(-1.0f, 50.0f)).Status, int(E_RANGE_ERROR));
        QCOMPARE(c.Ask(CMD_GOTO, GotoPayload(100.0f, 4.0f)).Status, int(E_RANGE_ERROR));
        QCOMPARE(c.Ask(CMD_GOTO, GotoPayload(100.0f, 421.0f)).Status, int(E_RANGE_ERROR));
        QCOMPARE(c.Ask(CMD_GOTO, TByteArray(8, 0)).Status, int(E_CMD_FORMAT_ERROR));
        QCOMPARE(FloatOf(c.Ask(CMD_GET_POS).Data), start);

        // 50 mm at 50 mm/s with 5000 mm/s²: 1 s of cruise plus 10 ms of ramps.
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(c.Ask(CMD_GOTO, GotoPayload(105.0f, 50.0f)).Status, int(E_CMD_PENDING));
        QCOMPARE(c.Ask(CMD_GOTO, GotoPayload(60.0f, 50.0f)).Status, int(E_ALREADY_RUNNING));
        const auto half = c.Ask(CMD_GET_POS);
        QVERIFY(FloatOf(half.Data) < 105.0f);
        const auto final = WireClient::Decode(c.Next(CMD_GOTO, 10000));
        const qint64 took = clock.elapsed();
        QCOMPARE(final.Status, int(E_SUCCESS));
        // Only the lower bound: an upper one would measure the machine's load, not the model.
        QVERIFY2(took >= 950, qPrintable(QString::number(took)));
        QCOMPARE(FloatOf(c.Ask(CMD_GET_POS).Data), 105.0f);
        const auto st = DWordOf(c.Ask(CMD_GET_SYSTEM_STATE, {0, 0, 0}).Data);
        QVERIFY(st & SF_TARGET_POS_REACHED);
        QVERIFY(!(st & SF_MOVING));

        // STOP ends a motion: its final result is "aborted", and the axis stays where it was.
        QCOMPARE(c.Ask(CMD_GOTO, GotoPayload(5.0f, 20.0f)).Status, int(E_CMD_PENDING));
        QCOMPARE(c.Ask(CMD_STOP).Status, 0);
        QCOMPARE(WireClient::Decode(c.Next(CMD_GOTO)).Status, int(E_CMD_ABORTED));
        const float stopped = FloatOf(c.Ask(CMD_GET_POS).Data);
        QVERIFY(stopped > 5.0f && stopped <= 105.0f);
        QVERIFY(DWordOf(c.Ask(CMD_GET_SYSTEM_STATE).Data) & SF_AXIS_STOPPED);
    }

    void automaticUpdatesArriveAtTheirPeriodOnTheirOwnLink() {
        SimProcess sim;
        START_SIM(sim);
        WireClient a(sim.TcpPort());
        WireClient b(sim.UdpPort(), true);
        CONNECT(a);
        QCOMPARE(a.Ask(CMD_GET_SYSTEM_STATE, {0x01, 0x00, 0x00}).Status, int(E_INVALID_PARAMETER));
        QCOMPARE(a.Ask(CMD_GET_SYSTEM_STATE, {0x01, 0x01}).Status, int(E_CMD_FORMAT_ERROR));

        // Bit 0 alone: every period, changed or not. The clock starts before the request, so
        // however late the client reads, the tenth update cannot be seen before 10 periods.
        QElapsedTimer clock;
        clock.start();
        const auto first = a.Ask(CMD_GET_SYSTEM_STATE, {0x01, 50, 0x00});
        QCOMPARE(first.Status, 0);
        QCOMPARE(first.Data.size(), std::size_t(4));
        for (int i = 0; i < 10; ++i) {
            const auto u = WireClient::Decode(a.Next(CMD_GET_SYSTEM_STATE));
            QCOMPARE(u.Status, 0);
            QCOMPARE(u.Data, first.Data);
        }
        const qint64 tenPeriods = clock.elapsed();
        QVERIFY2(tenPeriods >= 495, qPrintable(QString::number(tenPeriods)));

        // Both clients see the same gripper.
        QCOMPARE(a.Ask(CMD_SET_ACCELERATION, Floats({2500.0f})).Status, 0);
        QCOMPARE(FloatOf(b.Ask(CMD_GET_ACCELERATION).Data), 2500.0f);

        // The UDP peer only queried: it gets no updates of the TCP client's subscription.
        // Its own 20 ms position updates serve as the clock while we watch.
        QCOMPARE(b.Ask(CMD_GET_POS, {0x01, 20, 0x00}).Status, 0);
        for (int i = 0; i < 10; ++i)
            QVERIFY(b.Next(CMD_GET_POS));
        for (const TPacket& p : b.Packets)
            QVERIFY(p.ID != CMD_GET_SYSTEM_STATE);

        // Switching off: nothing more arrives after the reply, while the peer's clock ticks on.
        // Updates already on their way look like the reply, so a second request marks the
        // point after which nothing may come.
        a.Send(CMD_GET_SYSTEM_STATE, {0x00, 0x00, 0x00});
        QCOMPARE(a.Ask(CMD_GET_FORCE_LIMIT).Status, 0);
        a.Packets.clear();
        for (int i = 0; i < 10; ++i)
            QVERIFY(b.Next(CMD_GET_POS));
        QVERIFY(a.Packets.empty());
    }

    void fastStopBlocksMotionUntilAcknowledged() {
        SimProcess sim({QStringLiteral("--referenced")});
        START_SIM(sim);
        WireClient c(sim.TcpPort());
        CONNECT(c);
        QCOMPARE(c.Ask(CMD_GOTO, GotoPayload(100.0f, 10.0f)).Status, int(E_CMD_PENDING));
        QCOMPARE(c.Ask(CMD_FAST_STOP).Status, 0);
        QCOMPARE(WireClient::Decode(c.Next(CMD_GOTO)).Status, int(E_CMD_ABORTED));
        QVERIFY(DWordOf(c.Ask(CMD_GET_SYSTEM_STATE).Data) & SF_FAST_STOP);

        for (std::uint8_t id : {CMD_HOMING, CMD_GOTO, CMD_GRASP_RAW, CMD_RELEASE_RAW}) {
            const TByteArray payload = id == CMD_HOMING ? TByteArray{0}
                                       : id == CMD_GOTO ? GotoPayload(50.0f, 50.0f)
                                                        : Floats({50.0f, 50.0f});
            QCOMPARE(c.Ask(id, payload).Status, int(E_ACCESS_DENIED));
        }
        QCOMPARE(c.Ask(CMD_FAST_STOP_ACK, {'a', 'c', 'k', '!'}).Status, int(E_CMD_FORMAT_ERROR));
        QCOMPARE(c.Ask(CMD_FAST_STOP_ACK, {'A', 'C', 'K'}).Status, int(E_CMD_FORMAT_ERROR));
        QCOMPARE(c.Ask(CMD_FAST_STOP_ACK).Status, int(E_CMD_FORMAT_ERROR));
        QCOMPARE(c.Ask(CMD_GOTO, GotoPayload(50.0f, 50.0f)).Status, int(E_ACCESS_DENIED));

        QCOMPARE(c.Ask(CMD_FAST_STOP_ACK, {'a', 'c', 'k'}).Status, 0);
        QVERIFY(!(DWordOf(c.Ask(CMD_GET_SYSTEM_STATE).Data) & SF_FAST_STOP));
        QCOMPARE(c.Ask(CMD_GOTO, GotoPayload(50.0f, 400.0f)).Status, int(E_CMD_PENDING));
        QCOMPARE(WireClient::Decode(c.Next(CMD_GOTO)).Status, 0);
    }

    void badChecksumIgnoredNextFrameAnswered() {
        SimProcess sim;
        START_SIM(sim);
        WireClient c(sim.TcpPort());
        CONNECT(c);
        TByteArray bad = MakeFrame(CMD_GET_SYSINFO, {});
        bad.back() ^= 0x01;
        TByteArray both = bad;
        const TByteArray good = MakeFrame(CMD_GET_ACCELERATION, {});
        both.insert(both.end(), good.begin(), good.end());
        c.SendRaw(both);
        const auto reply = WireClient::Decode(c.Next(CMD_GET_ACCELERATION));
        QCOMPARE(reply.Status, 0);
        QCOMPARE(FloatOf(reply.Data), 1000.0f);
        // A later request is answered next: nothing for the spoiled frame came in between.
        QCOMPARE(c.Ask(CMD_GET_FORCE_LIMIT).Status, 0);
        QVERIFY(c.Packets.empty());
        QCOMPARE(c.Raw.size(), qsizetype((8 + 6) * 2));
    }

    void largestPayloadDoesNotUpsetIt() {
        SimProcess sim;
        START_SIM(sim);
        WireClient c(sim.TcpPort());
        CONNECT(c);
        const TByteArray big(65535, 0xAA); // preamble bytes inside the payload, too
        QCOMPARE(c.Ask(0x7F, big, 30000).Status, int(E_CMD_UNKNOWN));
        QCOMPARE(c.Ask(CMD_SET_DEVICE_TAG, big, 30000).Status, int(E_CMD_FORMAT_ERROR));
        const auto info = c.Ask(CMD_GET_SYSINFO);
        QCOMPARE(info.Status, 0);
        QCOMPARE(info.Data.size(), std::size_t(8));
        QVERIFY(c.Packets.empty());
        QVERIFY(sim.IsRunning());
    }

    void graspHoldsReleasesAndCounts() {
        SimProcess sim(
            {QStringLiteral("--referenced"), QStringLiteral("--part-width"), QStringLiteral("30")});
        START_SIM(sim);
        WireClient c(sim.TcpPort());
        CONNECT(c);
        QCOMPARE(c.Ask(CMD_SET_FORCE_LIMIT, Floats({25.0f})).Status, 0);
        QCOMPARE(c.Ask(CMD_SET_FORCE_LIMIT, Floats({81.0f})).Status, int(E_RANGE_ERROR));
        QCOMPARE(c.Ask(CMD_GRASP_RAW, Floats({8.0f, 200.0f})).Status, int(E_CMD_PENDING));
        QCOMPARE(c.Ask(CMD_GET_GRASPING_STATE).Data, TByteArray{GS_GRASPING});
        QCOMPARE(WireClient::Decode(c.Next(CMD_GRASP_RAW)).Status, 0);
        QCOMPARE(c.Ask(CMD_GET_GRASPING_STATE).Data, TByteArray{GS_HOLDING});
        QCOMPARE(FloatOf(c.Ask(CMD_GET_POS).Data), 30.0f);
        QCOMPARE(FloatOf(c.Ask(CMD_GET_FORCE).Data), 25.0f);
        QVERIFY(DWordOf(c.Ask(CMD_GET_SYSTEM_STATE).Data) & SF_BLOCKED_MINUS);

        // The part slips out on request; the fingers close on the empty space.
        sim.LosePart();
        QVERIFY(QTest::qWaitFor(
            [&] { return c.Ask(CMD_GET_GRASPING_STATE).Data == TByteArray{GS_PART_LOST}; }, 5000));

        QCOMPARE(c.Ask(CMD_RELEASE_RAW, Floats({70.0f, 300.0f})).Status, int(E_CMD_PENDING));
        QCOMPARE(WireClient::Decode(c.Next(CMD_RELEASE_RAW)).Status, 0);
        QCOMPARE(c.Ask(CMD_GET_GRASPING_STATE).Data, TByteArray{GS_IDLE});
        QCOMPARE(FloatOf(c.Ask(CMD_GET_POS).Data), 70.0f);

        // A grasp that starts with the fingers closer than the part finds nothing.
        QCOMPARE(c.Ask(CMD_GOTO, GotoPayload(20.0f, 400.0f)).Status, int(E_CMD_PENDING));
        QCOMPARE(WireClient::Decode(c.Next(CMD_GOTO)).Status, 0);
        QCOMPARE(c.Ask(CMD_GRASP_RAW, Floats({8.0f, 400.0f})).Status, int(E_CMD_PENDING));
        QCOMPARE(WireClient::Decode(c.Next(CMD_GRASP_RAW)).Status, int(E_CMD_FAILED));
        QCOMPARE(c.Ask(CMD_GET_GRASPING_STATE).Data, TByteArray{GS_NO_PART});

        // grasps 2, not found 1, lost 1; the reset flag answers first, then clears.
        const TByteArray counts{2, 0, 0, 0, 1, 0, 1, 0};
        QCOMPARE(c.Ask(CMD_GET_GRASPING_STATS, {0}).Data, counts);
        QCOMPARE(c.Ask(CMD_GET_GRASPING_STATS, {1}).Data, counts);
        QCOMPARE(c.Ask(CMD_GET_GRASPING_STATS, {0}).Data, TByteArray(8, 0));
        QCOMPARE(c.Ask(CMD_GET_GRASPING_STATS).Status, int(E_CMD_FORMAT_ERROR));
    }

    void switchesSetWhatTheGripperReports() {
        SimProcess sim({QStringLiteral("--serial-number"), QStringLiteral("3000000000"),
                        QStringLiteral("--type"), QStringLiteral("7"), QStringLiteral("--hw-rev"),
                        QStringLiteral("3"), QStringLiteral("--fw-rev"), QStringLiteral("0x0210"),
                        QStringLiteral("--no-part")});
        START_SIM(sim);
        WireClient c(sim.UdpPort(), true);
        const auto info = c.Ask(CMD_GET_SYSINFO);
        QCOMPARE(info.Status, 0);
        QCOMPARE(HexString(info.Data), QStringLiteral("07 03 10 02 00 5E D0 B2"));
        const auto limits = c.Ask(CMD_GET_SYSTEM_LIMITS);
        QCOMPARE(limits.Data.size(), std::size_t(32));
        const float expected[8] = {110, 5, 420, 100, 5000, 5, 80, 0};
        for (int i = 0; i < 8; ++i)
            QCOMPARE(FloatOf(limits.Data, std::size_t(4 * i)), expected[i]);
        // Not referenced until homed.
        QVERIFY(!(DWordOf(c.Ask(CMD_GET_SYSTEM_STATE).Data) & SF_REFERENCED));
        // Without a part a grasp closes the fingers completely.
        QCOMPARE(c.Ask(CMD_GRASP_RAW, Floats({40.0f, 400.0f})).Status, int(E_CMD_PENDING));
        QCOMPARE(WireClient::Decode(c.Next(CMD_GRASP_RAW)).Status, int(E_CMD_FAILED));
        QCOMPARE(FloatOf(c.Ask(CMD_GET_POS).Data), 0.0f);
    }

    void faultSwitches() {
        {
            SimProcess sim({QStringLiteral("--silent-ids"), QStringLiteral("0x50,49")});
            START_SIM(sim);
            WireClient c(sim.TcpPort());
            CONNECT(c);
            c.Send(CMD_GET_SYSINFO);
            c.Send(CMD_GET_ACCELERATION);
            QCOMPARE(c.Ask(CMD_GET_FORCE_LIMIT).Status, 0);
            QVERIFY(c.Packets.empty());
        }
        {
            SimProcess sim({QStringLiteral("--delay-ms"), QStringLiteral("300")});
            START_SIM(sim);
            WireClient c(sim.TcpPort());
            CONNECT(c);
            QElapsedTimer clock;
            clock.start();
            QCOMPARE(c.Ask(CMD_GET_FORCE_LIMIT).Status, 0);
            QVERIFY(clock.elapsed() >= 290);
        }
        {
            SimProcess sim({QStringLiteral("--disconnect-after"), QStringLiteral("2")});
            START_SIM(sim);
            WireClient c(sim.TcpPort());
            CONNECT(c);
            QSignalSpy gone(&c.Tcp(), &QTcpSocket::disconnected);
            QCOMPARE(c.Ask(CMD_GET_FORCE_LIMIT).Status, 0);
            QCOMPARE(c.Ask(CMD_GET_ACCELERATION).Status, 0); // still answered, then closed
            QVERIFY(gone.count() == 1 || gone.wait(5000));
            // The next client is served.
            WireClient next(sim.TcpPort());
            CONNECT(next);
            QCOMPARE(next.Ask(CMD_GET_FORCE_LIMIT).Status, 0);
        }
        {
            // Every outgoing frame corrupted: bytes arrive, no intact packet does.
            SimProcess sim({QStringLiteral("--corrupt-rate"), QStringLiteral("1")});
            START_SIM(sim);
            WireClient c(sim.TcpPort());
            CONNECT(c);
            c.Send(CMD_GET_SYSINFO);
            QVERIFY(QTest::qWaitFor([&] { return c.Raw.size() >= 18; }, 5000));
            QVERIFY(c.Packets.empty());
        }
        {
            // Every outgoing frame dropped; the connection closing after the first request
            // tells when the reply would have gone out.
            SimProcess sim({QStringLiteral("--drop-rate"), QStringLiteral("1"),
                            QStringLiteral("--disconnect-after"), QStringLiteral("1")});
            START_SIM(sim);
            WireClient c(sim.TcpPort());
            CONNECT(c);
            QSignalSpy gone(&c.Tcp(), &QTcpSocket::disconnected);
            c.Send(CMD_GET_SYSINFO);
            QVERIFY(gone.wait(5000));
            QVERIFY(c.Raw.isEmpty());
        }
    }

    void seedRepeatsTheFaults() {
        QByteArray streams[2];
        for (QByteArray& stream : streams) {
            SimProcess sim({QStringLiteral("--corrupt-rate"), QStringLiteral("0.5"),
                            QStringLiteral("--drop-rate"), QStringLiteral("0.2"),
                            QStringLiteral("--seed"), QStringLiteral("42"),
                            QStringLiteral("--disconnect-after"), QStringLiteral("20")});
            START_SIM(sim);
            WireClient c(sim.TcpPort());
            CONNECT(c);
            QSignalSpy gone(&c.Tcp(), &QTcpSocket::disconnected);
            for (int i = 0; i < 20; ++i)
                c.Send(CMD_GET_SYSINFO);
            QVERIFY(gone.wait(5000));
            stream = c.Raw;
        }
        QVERIFY(!streams[0].isEmpty());
        QCOMPARE(streams[0], streams[1]);
    }

    void endsCleanlyOnSigterm() {
        SimProcess sim;
        START_SIM(sim);
        WireClient c(sim.TcpPort());
        CONNECT(c);
        QCOMPARE(c.Ask(CMD_GET_POS, {0x03, 10, 0}).Status, 0);
        QVERIFY(sim.Terminate());
        QVERIFY(!sim.IsRunning());
    }

    void refusesAPortInUse() {
        SimProcess holder({QStringLiteral("--tcp"), QStringLiteral("0")}, false);
        START_SIM(holder);
        SimProcess second({QStringLiteral("--tcp"), QString::number(holder.TcpPort())}, false);
        QVERIFY(!second.Start(5000));
        QVERIFY(!second.IsRunning());
        QVERIFY(second.Process().exitCode() != 0);
    }
};

QTEST_GUILESS_MAIN(TestSimWire)
#include "tst_simwire.moc"
