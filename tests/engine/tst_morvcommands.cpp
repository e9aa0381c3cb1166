// SPDX-License-Identifier: Apache-2.0
#include "MorvRig.h"

#include <QTest>

#include <functional>

namespace {
using TRun = std::function<TStat(TMorv&)>;
const TAsyncResultEvent NoHandler;
} // namespace

Q_DECLARE_METATYPE(TRun)

class TestMorvCommands : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void requestPayloads_data() {
        QTest::addColumn<TRun>("run");
        QTest::addColumn<int>("id");
        QTest::addColumn<QString>("payload");
        auto row = [](const char* name, TRun run, int id, const char* payload) {
            QTest::newRow(name) << run << id << QString::fromLatin1(payload);
        };
        row(
            "Homing", [](TMorv& m) { return m.Homing(0, NoHandler); }, 0x20, "00");
        row(
            "Homing param", [](TMorv& m) { return m.Homing(2, NoHandler); }, 0x20, "02");
        row(
            "GotoPosition", [](TMorv& m) { return m.GotoPosition(12.5f, 50, NoHandler); }, 0x21,
            "00 00 00 48 41 00 00 48 42");
        row(
            "Grasp", [](TMorv& m) { return m.Grasp(8, 50, NoHandler); }, 0x25,
            "00 00 00 41 00 00 48 42");
        row(
            "ReleasePart", [](TMorv& m) { return m.ReleasePart(-1, 0.5f, NoHandler); }, 0x26,
            "00 00 80 BF 00 00 00 3F");
        row(
            "Stop", [](TMorv& m) { return m.Stop(); }, 0x22, "");
        row(
            "FastStop", [](TMorv& m) { return m.FastStop(); }, 0x23, "");
        row(
            "AcknowledgeFastStop", [](TMorv& m) { return m.AcknowledgeFastStop(); }, 0x24,
            "61 63 6B");
        row(
            "SetAcceleration", [](TMorv& m) { return m.SetAcceleration(500); }, 0x30,
            "00 00 FA 43");
        row(
            "SetForceLimit", [](TMorv& m) { return m.SetForceLimit(40); }, 0x32, "00 00 20 42");
        row(
            "GetAcceleration",
            [](TMorv& m) {
                float v;
                return m.GetAcceleration(v);
            },
            0x31, "");
        row(
            "GetForceLimit",
            [](TMorv& m) {
                float v;
                return m.GetForceLimit(v);
            },
            0x33, "");
        row(
            "GetGraspingStatistics",
            [](TMorv& m) {
                TGraspingStatistics s;
                return m.GetGraspingStatistics(false, s);
            },
            0x42, "00");
        row(
            "GetGraspingStatistics reset",
            [](TMorv& m) {
                TGraspingStatistics s;
                return m.GetGraspingStatistics(true, s);
            },
            0x42, "01");
        row(
            "GetSystemInfo",
            [](TMorv& m) {
                TSystemInfo i;
                return m.GetSystemInfo(i);
            },
            0x50, "");
        row(
            "GetSystemLimits",
            [](TMorv& m) {
                TSystemLimits l;
                return m.GetSystemLimits(l);
            },
            0x53, "");
        row(
            "GetSystemState auto", [](TMorv& m) { return m.GetSystemState(true, 50, true); }, 0x40,
            "03 32 00");
        row(
            "GetSystemState off", [](TMorv& m) { return m.GetSystemState(false, 50, true); }, 0x40,
            "00 00 00");
        row(
            "GetGraspingState auto", [](TMorv& m) { return m.GetGraspingState(true, 50, false); },
            0x41, "01 32 00");
        row(
            "GetPosition auto", [](TMorv& m) { return m.GetPosition(true, 0x1234, true); }, 0x43,
            "03 34 12");
        row(
            "GetPosition off", [](TMorv& m) { return m.GetPosition(false, 100, false); }, 0x43,
            "00 00 00");
    }
    // Every command sends exactly its request and returns the gripper's status.
    void requestPayloads() {
        QFETCH(TRun, run);
        QFETCH(int, id);
        QFETCH(QString, payload);
        TMorvRig rig;
        QVERIFY(rig.Connect());
        rig.Reply(id, "0D 00"); // E_NOT_ENOUGH_PARAMS: no command treats it specially
        const TStat status = run(rig.Morv);
        QCOMPARE(rig.Requests.size(), std::size_t(1));
        QCOMPARE(rig.Requests[0].ID, id);
        QCOMPARE(HexString(rig.Requests[0].Data), payload);
        // Queries need their data; without it the reply is unusable.
        const bool query = id == 0x31 || id == 0x33 || id == 0x42 || id == 0x50 || id == 0x53;
        QCOMPARE(status, query ? E_CMD_FAILED : E_NOT_ENOUGH_PARAMS);
    }

    void wholeFrames() {
        TMorvRig rig;
        QVERIFY(rig.Connect());
        rig.Reply(0x22, "00 00");
        rig.Reply(0x20, "1A 00");
        rig.Reply(0x40, "00 00");
        QCOMPARE(rig.Morv.Stop(), E_SUCCESS);
        QCOMPARE(rig.Morv.Homing(0, NoHandler), E_CMD_PENDING);
        QCOMPARE(rig.Morv.GetSystemState(true, 50, true), E_SUCCESS);
        QCOMPARE(rig.Device->Writes.size(), std::size_t(3));
        QCOMPARE(HexString(rig.Device->Writes[0]), QStringLiteral("AA AA AA 22 00 00 0E 76"));
        QCOMPARE(HexString(rig.Device->Writes[1]), QStringLiteral("AA AA AA 20 01 00 00 8F 83"));
        QCOMPARE(HexString(rig.Device->Writes[2]),
                 QStringLiteral("AA AA AA 40 03 00 03 32 00 15 CD"));
    }

    void notConnected() {
        TMorvRig rig;
        QCOMPARE(rig.Morv.Grasp(8, 50, NoHandler), E_NOT_OPENED);
        QCOMPARE(rig.Morv.GotoPosition(1, 1, NoHandler), E_NOT_OPENED);
        QCOMPARE(rig.Morv.Homing(0, NoHandler), E_NOT_OPENED);
        QCOMPARE(rig.Morv.ReleasePart(1, 1, NoHandler), E_NOT_OPENED);
        QCOMPARE(rig.Morv.Stop(), E_CMD_FAILED);
        QCOMPARE(rig.Morv.SetForceLimit(1), E_CMD_FAILED);
        QCOMPARE(rig.Morv.GetPosition(true, 100, true), E_CMD_FAILED);
        float v = 3;
        QCOMPARE(rig.Morv.GetForceLimit(v), E_CMD_FAILED);
        QCOMPARE(v, 3.0f);
        QVERIFY(rig.Device->Writes.empty());
    }

    void queriesDecode() {
        TMorvRig rig;
        QVERIFY(rig.Connect());
        rig.Reply(0x31, "00 00 00 00 FA 43");
        rig.Reply(0x33, "00 00 00 00 20 42");
        rig.Reply(0x42, "00 00 78 56 34 12 02 01 FF FF");
        rig.Reply(0x50, "00 00 07 02 34 12 EF BE AD DE");
        rig.Reply(0x53, "00 00 00 00 DC 42 00 00 80 3F 00 00 C8 42 00 00 C8 41 00 00 7A 45 "
                        "00 00 A0 40 00 00 48 42 00 00 80 BF");
        float acc = 0, force = 0;
        QCOMPARE(rig.Morv.GetAcceleration(acc), E_SUCCESS);
        QCOMPARE(acc, 500.0f);
        QCOMPARE(rig.Morv.GetForceLimit(force), E_SUCCESS);
        QCOMPARE(force, 40.0f);
        TGraspingStatistics stats;
        QCOMPARE(rig.Morv.GetGraspingStatistics(false, stats), E_SUCCESS);
        QCOMPARE(stats.NumberOfGrasps, 0x12345678u);
        QCOMPARE(stats.NumberOfNotFoundParts, 0x0102);
        QCOMPARE(stats.NumberOfPartsLost, 0xFFFF);
        TSystemInfo info;
        QCOMPARE(rig.Morv.GetSystemInfo(info), E_SUCCESS);
        QCOMPARE(info.Type, 7);
        QCOMPARE(info.HardwareRevision, 2);
        QCOMPARE(info.FirmwareRevision, 0x1234);
        QCOMPARE(info.SerialNumber, 0xDEADBEEFu);
        TSystemLimits limits;
        QCOMPARE(rig.Morv.GetSystemLimits(limits), E_SUCCESS);
        QCOMPARE(limits.Stroke, 110.0f);
        QCOMPARE(limits.MinSpeed, 1.0f);
        QCOMPARE(limits.MaxSpeed, 100.0f);
        QCOMPARE(limits.MinAcceleration, 25.0f);
        QCOMPARE(limits.MaxAcceleration, 4000.0f);
        QCOMPARE(limits.MinForce, 5.0f);
        QCOMPARE(limits.MaxForce, 50.0f);
        QCOMPARE(limits.Reserved, -1.0f);
    }

    // The output is written only for status 0 with data of the right length.
    void queriesRefuseUnusableReplies() {
        TMorvRig rig;
        QVERIFY(rig.Connect());
        TSystemLimits limits;
        limits.Stroke = 7;
        rig.Reply(0x53, "00 00 00 00 DC 42 00 00 80 3F 00 00 C8 42 00 00 C8 41 00 00 7A 45 "
                        "00 00 A0 40 00 00 48 42"); // 28 bytes
        QCOMPARE(rig.Morv.GetSystemLimits(limits), E_CMD_FAILED);
        QCOMPARE(limits.Stroke, 7.0f);

        TSystemInfo info;
        info.SerialNumber = 9;
        rig.Reply(0x50, "03 00 07 02 34 12 EF BE AD DE");
        QCOMPARE(rig.Morv.GetSystemInfo(info), E_NOT_INITIALIZED);
        QCOMPARE(info.SerialNumber, 9u);
        rig.Reply(0x50, "10 00"); // refused without data: shows up as a failed command
        QCOMPARE(rig.Morv.GetSystemInfo(info), E_CMD_FAILED);
        rig.Reply(0x50, "00 00 07 02 34 12 EF BE AD DE 00");
        QCOMPARE(rig.Morv.GetSystemInfo(info), E_CMD_FAILED);
        QCOMPARE(info.SerialNumber, 9u);

        TGraspingStatistics stats;
        stats.NumberOfGrasps = 5;
        rig.Reply(0x42, "00 00 01 00 00 00 00 00 00");
        QCOMPARE(rig.Morv.GetGraspingStatistics(false, stats), E_CMD_FAILED);
        QCOMPARE(stats.NumberOfGrasps, 5u);

        float v = 3;
        rig.Reply(0x31, "00 00 00 00 FA");
        QCOMPARE(rig.Morv.GetAcceleration(v), E_CMD_FAILED);
        rig.Reply(0x33, "05 00 00 00 FA 43");
        QCOMPARE(rig.Morv.GetForceLimit(v), E_FEATURE_NOT_SUPPORTED);
        QCOMPARE(v, 3.0f);

        // The state requests return the status without looking at the data.
        rig.Reply(0x43, "00 00 01");
        QCOMPARE(rig.Morv.GetPosition(false, 0, false), E_SUCCESS);
        rig.Reply(0x41, "00 00 02");
        QCOMPARE(rig.Morv.GetGraspingState(false, 0, false), E_SUCCESS);
        QCOMPARE(rig.Morv.GraspingState(), 2); // the reply itself updated the cached state
    }
};

QTEST_MAIN(TestMorvCommands)
#include "tst_morvcommands.moc"
