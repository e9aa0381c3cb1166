// SPDX-License-Identifier: Apache-2.0
#pragma once

// The command set over a real transport against karo-sim running as a separate process.

// It needs no display, so programs without Qt Gui use it too.

#include "SimProcess.h"
#include "engine/MorvForm.h"

#include <QTest>
#include <QTimer>

#include <cmath>
#include <functional>
#include <vector>

namespace e2e {

// What the command set reported, in order.
struct Recorder {
    QStringList Events;
    std::vector<TStat> Errors;
    std::vector<std::pair<int, int>> Results; // identifier, final status
    int Positions = 0;
    int SystemStates = 0;
    int GraspingStates = 0;

    explicit Recorder(TMorv& morv) {
        morv.OnConnect = [this](TMorv*) { Events << QStringLiteral("connect"); };
        morv.OnDisconnect = [this](TMorv*) { Events << QStringLiteral("disconnect"); };
        morv.OnConnectionError = [this](TMorv*) { Events << QStringLiteral("error"); };
        morv.OnPosition = [this](TMorv*) { ++Positions; };
        morv.OnSystemState = [this](TMorv*) { ++SystemStates; };
        morv.OnGraspingState = [this](TMorv*) { ++GraspingStates; };
        // Keep the command set's own error forwarding, and note the code on the way.
        TDevice::TErrorEvent forward = morv.Command()->OnError;
        morv.Command()->OnError = [this, forward](TDevice* d, TStat code) {
            Errors.push_back(code);
            if (forward)
                forward(d, code);
        };
    }

    TAsyncResultEvent Handler() {
        return [this](TMorv*, std::int32_t id, std::uint16_t status, const TByteArray&) {
            Results.emplace_back(id, status & 0xFF);
        };
    }
    bool HasResult(int id) const {
        for (const auto& r : Results)
            if (r.first == id)
                return true;
        return false;
    }
    int ResultOf(int id) const {
        for (auto it = Results.rbegin(); it != Results.rend(); ++it)
            if (it->first == id)
                return it->second;
        return -1;
    }
};

// The simulator is started with these identity values, so that defaults cannot pass by chance.
inline QStringList SimIdentity() {
    return {QStringLiteral("--type"),          QStringLiteral("3"),
            QStringLiteral("--hw-rev"),        QStringLiteral("7"),
            QStringLiteral("--fw-rev"),        QStringLiteral("0x0210"),
            QStringLiteral("--serial-number"), QStringLiteral("987654"),
            QStringLiteral("--part-width"),    QStringLiteral("30")};
}

inline bool Near(float a, float b, float tol = 0.5f) {
    return std::fabs(a - b) <= tol;
}

// Every command of the command set against the simulator's model; the caller checks
// QTest::currentTestFailed() afterwards.
inline void RunAllCommands(TMorv& morv, Recorder& rec) {
    constexpr int kWait = 15000;

    TSystemLimits limits;
    QCOMPARE(morv.GetSystemLimits(limits), E_SUCCESS);
    QCOMPARE(limits.Stroke, 110.0f);
    QCOMPARE(limits.MinSpeed, 5.0f);
    QCOMPARE(limits.MaxSpeed, 420.0f);
    QCOMPARE(limits.MinAcceleration, 100.0f);
    QCOMPARE(limits.MaxAcceleration, 5000.0f);
    QCOMPARE(limits.MinForce, 5.0f);
    QCOMPARE(limits.MaxForce, 80.0f);

    TSystemInfo info;
    QCOMPARE(morv.GetSystemInfo(info), E_SUCCESS);
    QCOMPARE(int(info.Type), 3);
    QCOMPARE(info.HardwareRevision, 7);
    QCOMPARE(info.FirmwareRevision, 0x0210);
    QCOMPARE(info.SerialNumber, 987654u);

    // Settings round trip.
    float value = 0;
    QCOMPARE(morv.SetAcceleration(2500.0f), E_SUCCESS);
    QCOMPARE(morv.GetAcceleration(value), E_SUCCESS);
    QCOMPARE(value, 2500.0f);
    QCOMPARE(morv.SetForceLimit(33.0f), E_SUCCESS);
    QCOMPARE(morv.GetForceLimit(value), E_SUCCESS);
    QCOMPARE(value, 33.0f);

    TGraspingStatistics stats;
    QCOMPARE(morv.GetGraspingStatistics(false, stats), E_SUCCESS);
    QCOMPARE(stats.NumberOfGrasps, 0u);

    // Automatic updates as the main window asks for them.
    QCOMPARE(morv.GetSystemState(true, 50, true), E_SUCCESS);
    QCOMPARE(morv.GetGraspingState(true, 50, true), E_SUCCESS);
    QCOMPARE(morv.GetPosition(true, 100, true), E_SUCCESS);
    QTRY_VERIFY_WITH_TIMEOUT(rec.Positions >= 2 && rec.SystemStates >= 2, kWait);
    QVERIFY(Near(morv.Position(), 55.0f));

    // Motions: accepted as pending, final results through the registered handler.
    TStat st = morv.Homing(0, rec.Handler());
    QVERIFY2(st == E_CMD_PENDING || st == E_SUCCESS, qPrintable(StatusText(st)));
    QTRY_VERIFY_WITH_TIMEOUT(rec.HasResult(CMD_HOMING), kWait);
    QCOMPARE(rec.ResultOf(CMD_HOMING), int(E_SUCCESS));
    QTRY_VERIFY_WITH_TIMEOUT(morv.SystemState() & 0x1, kWait); // referenced

    st = morv.GotoPosition(70.0f, 200.0f, rec.Handler());
    QCOMPARE(st, E_CMD_PENDING);
    QTRY_VERIFY_WITH_TIMEOUT(rec.HasResult(CMD_GOTO), kWait);
    QCOMPARE(rec.ResultOf(CMD_GOTO), int(E_SUCCESS));
    QTRY_VERIFY_WITH_TIMEOUT(Near(morv.Position(), 70.0f), kWait);

    st = morv.Grasp(30.0f, 100.0f, rec.Handler());
    QCOMPARE(st, E_CMD_PENDING);
    QTRY_VERIFY_WITH_TIMEOUT(rec.HasResult(CMD_GRASP_RAW), kWait);
    QCOMPARE(rec.ResultOf(CMD_GRASP_RAW), int(E_SUCCESS));
    QTRY_COMPARE_WITH_TIMEOUT(int(morv.GraspingState()), 4, kWait); // holding
    QTRY_VERIFY_WITH_TIMEOUT(Near(morv.Position(), 30.0f, 2.0f), kWait);
    QCOMPARE(morv.GetGraspingStatistics(false, stats), E_SUCCESS);
    QCOMPARE(stats.NumberOfGrasps, 1u);

    st = morv.ReleasePart(60.0f, 100.0f, rec.Handler());
    QCOMPARE(st, E_CMD_PENDING);
    QTRY_VERIFY_WITH_TIMEOUT(rec.HasResult(CMD_RELEASE_RAW), kWait);
    QCOMPARE(rec.ResultOf(CMD_RELEASE_RAW), int(E_SUCCESS));

    QCOMPARE(morv.Stop(), E_SUCCESS);
    QCOMPARE(morv.FastStop(), E_SUCCESS);
    QTRY_VERIFY_WITH_TIMEOUT(morv.SystemState() & 0x1000, kWait); // fast stop
    QCOMPARE(morv.AcknowledgeFastStop(), E_SUCCESS);
    QTRY_VERIFY_WITH_TIMEOUT(!(morv.SystemState() & 0x1000), kWait);
}

// Connects without asking, runs every command, then disconnects; the caller checks
// QTest::currentTestFailed() afterwards.
inline void ConnectAndRunAllCommands(TMorv& morv, Recorder& rec, const TConnectTarget& target,
                                     int patienceMs) {
    QCOMPARE(morv.ConnectTo(target), E_SUCCESS);
    QTRY_COMPARE_WITH_TIMEOUT(rec.Events, QStringList{QStringLiteral("connect")}, patienceMs);
    RunAllCommands(morv, rec);
    if (QTest::currentTestFailed())
        return;
    QVERIFY(rec.Errors.empty());
    morv.Disconnect();
    QCOMPARE(rec.Events, (QStringList{QStringLiteral("connect"), QStringLiteral("disconnect")}));
    QVERIFY(!morv.IsConnected());
    QCOMPARE(morv.Stop(), E_CMD_FAILED);
}

} // namespace e2e
