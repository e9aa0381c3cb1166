// SPDX-License-Identifier: Apache-2.0
// The gripper model in-process, on a clock the test moves by hand.

#include "GripperModel.h"
#include "MotionProfile.h"
#include "SimLink.h"
#include "TestSupport.h"
#include "WireClient.h"
#include "protocol/Constants.h"

#include <QSignalSpy>
#include <QTest>

#include <cmath>
#include <limits>

namespace {

// A link that keeps what the gripper sends.
class CaptureLink : public TSimLink {
public:
    using TSimLink::TSimLink;
    QString Name() const override { return QStringLiteral("capture"); }

    void Request(std::uint8_t id, const TByteArray& payload = {}) {
        const TByteArray f = MakeFrame(id, payload);
        FeedBytes(f.data(), f.size());
    }
    // Sends a request and returns the status and data of its reply, which the link keeps no
    // longer; packets with other identifiers stay.
    WireClient::Reply Ask(std::uint8_t id, const TByteArray& payload = {}) {
        const std::size_t before = Packets.size();
        Request(id, payload);
        for (auto it = Packets.begin() + std::ptrdiff_t(before); it != Packets.end(); ++it)
            if (it->ID == id) {
                const auto r = WireClient::Decode(*it);
                Packets.erase(it);
                return r;
            }
        return {};
    }
    int Count(std::uint8_t id) const {
        int n = 0;
        for (const auto& p : Packets)
            n += p.ID == id;
        return n;
    }

    std::deque<TPacket> Packets;
    int ClosedAfter = -1; // packets received when the link was closed

protected:
    void WriteFrame(const TByteArray& frame) override {
        TPacket p;
        for (auto b : frame)
            if (FRx->Feed(b, p))
                Packets.push_back(p);
    }
    void CloseLink() override { ClosedAfter = int(Packets.size()); }

private:
    std::unique_ptr<TPacketReceiver> FRx = std::make_unique<TPacketReceiver>();
};

TGripperConfig Referenced() {
    TGripperConfig c;
    c.Referenced = true;
    return c;
}

} // namespace

class TestGripperModel : public QObject {
    Q_OBJECT

    double FNow = 0.0;
    void Install(TGripperModel& m) {
        FNow = 0.0;
        m.SetClock([this] { return FNow; });
    }
    void At(TGripperModel& m, double ms) {
        FNow = ms;
        m.Tick();
    }

private Q_SLOTS:
    void profileShapes() {
        // Long enough to cruise: ramps of v/a each, the rest at the speed limit.
        const TTrapezoid cruise(55.0, 105.0, 50.0, 1000.0);
        QCOMPARE(cruise.Duration(), 50.0 / 50.0 + 50.0 / 1000.0);
        QCOMPARE(cruise.PeakSpeed(), 50.0);
        QCOMPARE(cruise.PositionAt(cruise.Duration() / 2), 80.0);
        QCOMPARE(cruise.PositionAt(cruise.Duration() + 1.0), 105.0);
        // Too short to reach the speed: a triangle with the peak at the middle.
        const TTrapezoid triangle(10.0, 9.0, 400.0, 100.0);
        QCOMPARE(triangle.Duration(), 0.2);
        QCOMPARE(triangle.PeakSpeed(), 10.0);
        QCOMPARE(triangle.SpeedAt(0.1), -10.0);
        QCOMPARE(TTrapezoid(30.0, 30.0, 50.0, 1000.0).Duration(), 0.0);

        // Continuous, monotone, within the speed and acceleration limits.
        for (const TTrapezoid& p : {cruise, triangle, TTrapezoid(110.0, 0.0, 420.0, 5000.0)}) {
            const double dt = 1e-4;
            double lastPos = p.PositionAt(0.0);
            double lastSpeed = 0.0;
            const double dir = p.Target() >= p.Start() ? 1.0 : -1.0;
            for (double t = dt; t < p.Duration() + 2 * dt; t += dt) {
                const double pos = p.PositionAt(t);
                const double v = p.SpeedAt(t);
                QVERIFY(dir * (pos - lastPos) >= -1e-12);
                QVERIFY(std::fabs(pos - lastPos) <= p.PeakSpeed() * dt + 1e-9);
                QVERIFY(std::fabs(v) <= p.PeakSpeed() + 1e-9);
                QVERIFY(std::fabs(v - lastSpeed) <= 5000.0 * dt + 1e-6);
                lastPos = pos;
                lastSpeed = v;
            }
            QCOMPARE(lastPos, p.Target());
        }
    }

    void motionRunsOnTheModelClock() {
        TGripperModel m(Referenced());
        Install(m);
        CaptureLink link(m);
        QSignalSpy finished(&m, &TGripperModel::MotionFinished);
        QCOMPARE(link.Ask(CMD_GOTO, GotoPayload(105.0f, 50.0f)).Status, int(E_CMD_PENDING));
        QVERIFY(m.SystemState() & SF_MOVING);
        QVERIFY(!(m.SystemState() & SF_TARGET_POS_REACHED));

        At(m, 500.0); // 50 ms ramp (1.25 mm), then 450 ms at 50 mm/s
        QCOMPARE(m.Position(), 78.75f);
        QCOMPARE(m.Speed(), 50.0f);
        QCOMPARE(FloatOf(link.Ask(CMD_GET_SPEED).Data), 50.0f);
        At(m, 1049.0);
        QVERIFY(m.IsMoving());
        QCOMPARE(link.Count(CMD_GOTO), 0);
        At(m, 1050.5);
        QVERIFY(!m.IsMoving());
        QCOMPARE(link.Count(CMD_GOTO), 1);
        QCOMPARE(WireClient::Decode(link.Packets.back()).Status, int(E_SUCCESS));
        QCOMPARE(finished.count(), 1);
        QCOMPARE(m.Position(), 105.0f);
        QCOMPARE(m.SystemState() & (SF_MOVING | SF_TARGET_POS_REACHED), SF_TARGET_POS_REACHED);

        // Homing: referenced only once it has ended.
        TGripperModel fresh;
        Install(fresh);
        CaptureLink other(fresh);
        QVERIFY(!(fresh.SystemState() & SF_REFERENCED));
        QCOMPARE(other.Ask(CMD_HOMING, {3}).Status, int(E_INVALID_PARAMETER));
        QCOMPARE(other.Ask(CMD_HOMING, {2}).Status, int(E_CMD_PENDING));
        At(fresh, 100.0);
        QVERIFY(!(fresh.SystemState() & SF_REFERENCED));
        At(fresh, 10000.0);
        QCOMPARE(fresh.Position(), 0.0f);
        QCOMPARE(fresh.SystemState() & SF_REFERENCED, SF_REFERENCED);
    }

    void stopsFreezeTheFingersWhereTheyAre() {
        TGripperModel m(Referenced());
        Install(m);
        CaptureLink link(m);
        QCOMPARE(link.Ask(CMD_GRASP_RAW, Floats({8.0f, 10.0f})).Status, int(E_CMD_PENDING));
        QCOMPARE(m.GraspingState(), GS_GRASPING);
        At(m, 300.0);
        const float at = m.Position();
        QCOMPARE(link.Ask(CMD_FAST_STOP).Status, int(E_SUCCESS));
        QCOMPARE(WireClient::Decode(link.Packets.back()).Status, int(E_CMD_ABORTED));
        QCOMPARE(link.Packets.back().ID, CMD_GRASP_RAW);
        QCOMPARE(m.GraspingState(), GS_IDLE);
        QCOMPARE(m.Speed(), 0.0f);
        At(m, 5000.0);
        QCOMPARE(m.Position(), at);
        QCOMPARE(m.SystemState() & (SF_FAST_STOP | SF_AXIS_STOPPED | SF_MOVING),
                 SF_FAST_STOP | SF_AXIS_STOPPED);
        // A second motion while one runs is refused, not queued.
        QCOMPARE(link.Ask(CMD_FAST_STOP_ACK, {'a', 'c', 'k'}).Status, 0);
        QCOMPARE(link.Ask(CMD_GOTO, GotoPayload(100.0f, 50.0f)).Status, int(E_CMD_PENDING));
        QCOMPARE(link.Ask(CMD_HOMING, {0}).Status, int(E_ALREADY_RUNNING));
        QVERIFY(!(m.SystemState() & SF_AXIS_STOPPED));
    }

    void onlyChangedOptionSendsChangesAfterTheFirst() {
        TGripperModel m(Referenced());
        Install(m);
        CaptureLink link(m);
        QCOMPARE(link.Ask(CMD_GET_POS, {0x03, 10, 0}).Status, 0);
        QCOMPARE(link.Ask(CMD_GET_SYSTEM_STATE, {0x01, 10, 0}).Status, 0);
        // The plain subscription serves as the clock: many periods pass, the position stands.
        QTRY_VERIFY_WITH_TIMEOUT(link.Count(CMD_GET_SYSTEM_STATE) >= 6, 10000);
        QCOMPARE(link.Count(CMD_GET_POS), 1);

        QCOMPARE(link.Ask(CMD_GOTO, GotoPayload(100.0f, 50.0f)).Status, int(E_CMD_PENDING));
        At(m, 200.0);
        QTRY_COMPARE_WITH_TIMEOUT(link.Count(CMD_GET_POS), 2, 10000);
        At(m, 400.0);
        QTRY_COMPARE_WITH_TIMEOUT(link.Count(CMD_GET_POS), 3, 10000);
        float last = -1.0f;
        for (const auto& p : link.Packets)
            if (p.ID == CMD_GET_POS) {
                const float v = FloatOf(WireClient::Decode(p).Data);
                QVERIFY(v > last);
                last = v;
            }
        QCOMPARE(last, m.Position());
    }

    void aLinkThatGoesAwayTakesItsUpdatesAlong() {
        TGripperModel m(Referenced());
        Install(m);
        CaptureLink stays(m);
        QSignalSpy finished(&m, &TGripperModel::MotionFinished);
        {
            CaptureLink leaves(m);
            QCOMPARE(leaves.Ask(CMD_GET_POS, {0x01, 5, 0}).Status, 0);
            QCOMPARE(leaves.Ask(CMD_GOTO, GotoPayload(60.0f, 50.0f)).Status, int(E_CMD_PENDING));
        }
        QCOMPARE(stays.Ask(CMD_GET_SYSTEM_STATE, {0x01, 5, 0}).Status, 0);
        QTRY_VERIFY_WITH_TIMEOUT(stays.Count(CMD_GET_SYSTEM_STATE) >= 4, 10000);
        At(m, 5000.0);
        QCOMPARE(finished.count(), 1);
        QCOMPARE(stays.Count(CMD_GOTO), 0);
        QCOMPARE(stays.Count(CMD_GET_POS), 0);
    }

    void everyIdentifierChecksItsPayload() {
        TGripperModel m(Referenced());
        Install(m);
        CaptureLink link(m);
        for (const TCommandID& c : CommandIDs) {
            const auto id = static_cast<std::uint8_t>(c.ID);
            QCOMPARE(link.Ask(id, TByteArray(200, 0x01)).Status, int(E_CMD_FORMAT_ERROR));
        }
        for (std::uint8_t id : {0x00, 0x29, 0x54, 0xFF})
            QCOMPARE(link.Ask(id).Status, int(E_CMD_UNKNOWN));
        const float nan = std::numeric_limits<float>::quiet_NaN();
        QCOMPARE(link.Ask(CMD_GOTO, GotoPayload(nan, 50.0f)).Status, int(E_RANGE_ERROR));
        QCOMPARE(link.Ask(CMD_GOTO, GotoPayload(50.0f, nan)).Status, int(E_RANGE_ERROR));
        QCOMPARE(link.Ask(CMD_SET_ACCELERATION, Floats({nan})).Status, int(E_RANGE_ERROR));
        QCOMPARE(link.Ask(CMD_SET_ACCELERATION, Floats({99.0f})).Status, int(E_RANGE_ERROR));
        QCOMPARE(link.Ask(CMD_SET_ACCELERATION, Floats({5000.0f})).Status, 0);
        QCOMPARE(FloatOf(link.Ask(CMD_GET_ACCELERATION).Data), 5000.0f);
        QCOMPARE(link.Ask(CMD_SET_FORCE_LIMIT, Floats({4.9f})).Status, int(E_RANGE_ERROR));
        QCOMPARE(link.Ask(CMD_SET_FORCE_LIMIT, Floats({5.0f})).Status, 0);
        QCOMPARE(FloatOf(link.Ask(CMD_GET_FORCE_LIMIT).Data), 5.0f);
        QVERIFY(!m.IsMoving());
        QVERIFY(link.Packets.empty());
    }

    void softLimitsTagOverdriveAndTare() {
        TGripperModel m(Referenced());
        Install(m);
        CaptureLink link(m);
        QCOMPARE(link.Ask(CMD_GET_SOFT_LIMITS).Status, int(E_NOT_AVAILABLE));
        QCOMPARE(link.Ask(CMD_SET_SOFT_LIMITS, Floats({60.0f, 50.0f})).Status, int(E_RANGE_ERROR));
        QCOMPARE(link.Ask(CMD_SET_SOFT_LIMITS, Floats({20.0f, 55.0f})).Status, 0);
        QCOMPARE(link.Ask(CMD_GET_SOFT_LIMITS).Data, Floats({20.0f, 55.0f}));
        QVERIFY(m.SystemState() & SF_SOFT_LIMIT_PLUS); // standing at 55
        QCOMPARE(link.Ask(CMD_GOTO, GotoPayload(60.0f, 50.0f)).Status, int(E_RANGE_ERROR));
        QCOMPARE(link.Ask(CMD_CLEAR_SOFT_LIMITS).Status, 0);
        QCOMPARE(link.Ask(CMD_GET_SOFT_LIMITS).Status, int(E_NOT_AVAILABLE));
        QVERIFY(!(m.SystemState() & SF_SOFT_LIMIT_PLUS));

        QCOMPARE(link.Ask(CMD_OVERDRIVE_MODE, {2}).Status, int(E_INVALID_PARAMETER));
        QCOMPARE(link.Ask(CMD_OVERDRIVE_MODE, {1}).Status, 0);
        QVERIFY(m.SystemState() & SF_OVERDRIVE_MODE);

        QCOMPARE(HexString(link.Ask(CMD_GET_DEVICE_TAG).Data), HexString(QByteArray("KARO-SIM")));
        QCOMPARE(link.Ask(CMD_SET_DEVICE_TAG, TByteArray(33, 'x')).Status, int(E_CMD_FORMAT_ERROR));
        QCOMPARE(link.Ask(CMD_SET_DEVICE_TAG, {'G', '1'}).Status, 0);
        QCOMPARE(link.Ask(CMD_GET_DEVICE_TAG).Data, (TByteArray{'G', '1'}));

        // A profile grasp holds with its own force; tare zeroes the reading.
        QCOMPARE(link.Ask(CMD_GRASP_PROFILE, Floats({8.0f, 100.0f, 81.0f})).Status,
                 int(E_RANGE_ERROR));
        QCOMPARE(link.Ask(CMD_GRASP_PROFILE, Floats({8.0f, 100.0f, 60.0f})).Status,
                 int(E_CMD_PENDING));
        At(m, 5000.0);
        QCOMPARE(link.Packets.back().ID, CMD_GRASP_PROFILE);
        QCOMPARE(WireClient::Decode(link.Packets.back()).Status, 0);
        QCOMPARE(m.GraspingState(), GS_HOLDING);
        QCOMPARE(FloatOf(link.Ask(CMD_GET_FORCE).Data), 60.0f);
        QCOMPARE(link.Ask(CMD_TARE).Status, 0);
        QCOMPARE(FloatOf(link.Ask(CMD_GET_FORCE).Data), 0.0f);
        QCOMPARE(link.Ask(CMD_RELEASE_PROFILE, Floats({50.0f, 100.0f, 99.0f})).Status,
                 int(E_RANGE_ERROR));
        QCOMPARE(link.Ask(CMD_RELEASE_PROFILE, Floats({50.0f, 100.0f, 100.0f})).Status,
                 int(E_CMD_PENDING));
        QCOMPARE(m.GraspingState(), GS_RELEASING);
        At(m, 10000.0);
        QCOMPARE(m.GraspingState(), GS_IDLE);
        QCOMPARE(m.Position(), 50.0f);
    }

    void heldPartSlipsAfterTheSetTime() {
        TGripperConfig config = Referenced();
        config.LosePartAfterMs = 20;
        TGripperModel m(config);
        Install(m);
        CaptureLink link(m);
        QCOMPARE(link.Ask(CMD_GRASP_RAW, Floats({40.0f, 400.0f})).Status, int(E_CMD_PENDING));
        At(m, 1000.0);
        QCOMPARE(m.GraspingState(), GS_HOLDING);
        QTRY_COMPARE_WITH_TIMEOUT(m.GraspingState(), GS_PART_LOST, 10000);
        QCOMPARE(m.Force(), 0.0f);
        At(m, 5000.0);
        QCOMPARE(m.Position(), 0.0f);
        QCOMPARE(link.Ask(CMD_GET_GRASPING_STATS, {0}).Data, (TByteArray{1, 0, 0, 0, 0, 0, 1, 0}));
    }

    void disconnectWaitsForTheDelayedReplies() {
        TSimFaults faults;
        faults.DelayMs = 30;
        faults.DisconnectAfter = 2;
        TGripperModel m({}, faults);
        CaptureLink link(m);
        link.Request(CMD_GET_FORCE_LIMIT);
        link.Request(CMD_GET_ACCELERATION);
        link.Request(CMD_GET_SYSINFO); // after the limit: never answered
        QVERIFY(link.Packets.empty());
        QTRY_COMPARE_WITH_TIMEOUT(link.ClosedAfter, 2, 10000);
        QCOMPARE(link.Packets[0].ID, CMD_GET_FORCE_LIMIT);
        QCOMPARE(link.Packets[1].ID, CMD_GET_ACCELERATION);
        QVERIFY(link.IsClosed());
    }
};

QTEST_GUILESS_MAIN(TestGripperModel)
#include "tst_grippermodel.moc"
