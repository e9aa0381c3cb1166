// SPDX-License-Identifier: Apache-2.0
#include "MorvRig.h"
#include "engine/LinkTarget.h"

#include <QTest>
#include <QTimer>

namespace {
// Counts the link notifications and keeps the link events the engine logged.
struct TLinkWatch : TPacketRecorder {
    std::vector<TLinkEvent> Events;
    int Stale = 0, Fresh = 0, Lost = 0, Connects = 0, Disconnects = 0;
    void LogLinkEvent(const TLinkEvent& event, const TLogStamp&) override {
        Events.push_back(event);
    }
    void Watch(TMorv& morv) {
        morv.SetPacketLog(this);
        morv.OnLinkStale = [this](TMorv*) { ++Stale; };
        morv.OnLinkFresh = [this](TMorv*) { ++Fresh; };
        morv.OnLinkLost = [this](TMorv*) { ++Lost; };
        morv.OnConnect = [this](TMorv*) { ++Connects; };
        morv.OnDisconnect = [this](TMorv*) { ++Disconnects; };
    }
    int Questions() const {
        int n = 0;
        for (const Entry& e : Entries)
            n += !e.Received && e.Packet.ID == CMD_GET_ACCELERATION;
        return n;
    }
};

// A connected rig on a fake clock, supervised with the default times.
struct TSupervisedRig : TMorvRig {
    FakeTick Tick;
    TLinkWatch Watch;
    TSupervisedRig() {
        Morv.SetClock(Tick.Clock());
        Watch.Watch(Morv);
    }
    void Pass(std::uint32_t ms) {
        Tick.Advance(ms);
        Morv.Supervisor()->Check();
    }
};
} // namespace

class TestLinkSupervisor : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void silenceIsQuestionedThenStaleThenLost() {
        TSupervisedRig rig;
        QVERIFY(rig.Connect());
        rig.Pass(999);
        QCOMPARE(rig.Watch.Questions(), 0);
        rig.Pass(1);
        QCOMPARE(rig.Watch.Questions(), 1);
        QCOMPARE(rig.Requests.back().ID, int(CMD_GET_ACCELERATION));
        QCOMPARE(rig.Requests.back().Length, 0);
        rig.Pass(999);
        QCOMPARE(rig.Watch.Stale, 0);
        rig.Pass(1);
        QCOMPARE(rig.Watch.Stale, 1);
        QCOMPARE(rig.Morv.LinkHealth(), TLinkHealth::Stale);
        QCOMPARE(rig.Watch.Questions(), 2); // asked again after another second
        rig.Pass(500);
        QCOMPARE(rig.Watch.Stale, 1); // still 2 whole seconds
        rig.Pass(500);
        QCOMPARE(rig.Watch.Stale, 2); // 3 s
        rig.Pass(1999);
        QVERIFY(rig.Morv.IsConnected());
        QCOMPARE(rig.Watch.Stale, 3); // 4 s
        rig.Pass(1);
        QCOMPARE(rig.Watch.Lost, 1);
        QCOMPARE(rig.Watch.Disconnects, 0); // one notice, not two
        QVERIFY(!rig.Morv.IsConnected());
        QCOMPARE(rig.Device->CloseCalls, 1);
        QCOMPARE(rig.Morv.LinkSilentMs(), 5000u);
        // Each of the four questions went unanswered, and the log says so like for a command.
        using K = TLinkEventKind;
        std::vector<K> kinds;
        for (const TLinkEvent& e : rig.Watch.Events)
            kinds.push_back(e.Kind);
        QCOMPARE(kinds, (std::vector<K>{K::LinkStale, K::ReplyMissing, K::ReplyMissing,
                                        K::ReplyMissing, K::ReplyMissing, K::LinkLost}));
        QCOMPARE(rig.Watch.Events[1].ID, std::uint8_t(CMD_GET_ACCELERATION));
        QCOMPARE(rig.Watch.Events.back().Count, 5000u);
        rig.Pass(10000);
        QCOMPARE(rig.Watch.Lost, 1);
    }

    void anyPacketKeepsTheLinkFreshAndTheTimesComeFromTheSettings() {
        TSupervisedRig rig;
        rig.Settings.WriteFile(QStringLiteral("settings.ini"),
                               "[link]\nStaleAfterMs=400\nLostAfterMs=900\n");
        rig.Morv.SetLinkTimes(
            ReadLinkTimes(TIniFile(rig.Settings.FilePath(QStringLiteral("settings.ini")))));
        QVERIFY(rig.Connect());
        rig.Pass(450);
        QCOMPARE(rig.Watch.Stale, 1);
        rig.Send(CMD_GET_POS, "00 00 00 00 20 41");
        rig.Pass(1);
        QCOMPARE(rig.Watch.Fresh, 1);
        QCOMPARE(rig.Morv.LinkHealth(), TLinkHealth::Fresh);
        rig.Pass(899);
        QVERIFY(rig.Morv.IsConnected());
        rig.Pass(1);
        QCOMPARE(rig.Watch.Lost, 1);
    }

    void theQuestionWaitsWhileAnExchangeWaits() {
        TSupervisedRig rig;
        QVERIFY(rig.Connect());
        int questionsDuringWait = -1;
        QTimer::singleShot(0, [&] {
            rig.Pass(1500);
            questionsDuringWait = rig.Watch.Questions();
            rig.Send(CMD_GET_FORCE_LIMIT, "00 00 00 00 20 41");
        });
        float force = 0;
        QCOMPARE(rig.Morv.GetForceLimit(force), E_SUCCESS);
        QCOMPARE(questionsDuringWait, 0);
        QCOMPARE(force, 10.0f);
    }

    // A transport that reports even a close after its link ended, as the serial one does.
    void anEndedTransportStaysQuietWhenAnotherConnects() {
        struct TLoudDevice : TMemoryDevice {
            using TMemoryDevice::TMemoryDevice;
            TCloseRules CloseRules() const override { return {true, E_SUCCESS}; }
        };
        TSupervisedRig rig;
        auto* loud = new TLoudDevice(rig.Morv.Command(), QStringLiteral("loud"));
        rig.Prompts.Index = rig.Morv.Command()->AddDevice(loud);
        int errors = 0;
        rig.Morv.OnConnectionError = [&](TMorv*) { ++errors; };
        QCOMPARE(rig.Morv.Connect(), E_SUCCESS);
        QTRY_COMPARE(rig.Watch.Connects, 1);
        loud->DropConnection();
        QCOMPARE(rig.Watch.Disconnects, 1);
        rig.Prompts.Index = 0;
        QVERIFY(rig.Connect());
        QCOMPARE(rig.Watch.Disconnects, 1);
        QCOMPARE(errors, 0);
        QCOMPARE(rig.Watch.Connects, 2);
    }

    void reconnectPausesDoubleUpToTenSeconds() {
        const std::vector<std::uint32_t> expected = {1000, 2000, 4000, 8000, 10000, 10000};
        for (int i = 0; i < int(expected.size()); ++i)
            QCOMPARE(ReconnectDelayMs(i + 1), expected[std::size_t(i)]);
    }

    void linkTimesFromTheSettingsFile_data() {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<uint>("stale");
        QTest::addColumn<uint>("lost");
        QTest::newRow("none") << QByteArray() << 2000u << 5000u;
        QTest::newRow("both") << QByteArray("[link]\nStaleAfterMs=300\nLostAfterMs=700\n") << 300u
                              << 700u;
        QTest::newRow("unusable") << QByteArray("[link]\nStaleAfterMs=-5\nLostAfterMs=x\n") << 2000u
                                  << 5000u;
        QTest::newRow("lost before stale")
            << QByteArray("[link]\nStaleAfterMs=3000\nLostAfterMs=1000\n") << 3000u << 3000u;
    }
    void linkTimesFromTheSettingsFile() {
        QFETCH(QByteArray, text);
        TempSettingsDir dir;
        dir.WriteFile(QStringLiteral("settings.ini"), text);
        const TLinkTimes times =
            ReadLinkTimes(TIniFile(dir.FilePath(QStringLiteral("settings.ini"))));
        QTEST(uint(times.StaleAfterMs), "stale");
        QTEST(uint(times.LostAfterMs), "lost");
    }

    void placeTextNamesWhereTheLinkGoes() {
        TConnectTarget t;
        t.Device = QStringLiteral("tcp");
        t.Tcp = {QStringLiteral("10.0.0.5"), 1000};
        QCOMPARE(LinkPlaceText(t), QStringLiteral("TCP 10.0.0.5:1000"));
        t.Device = QStringLiteral("uart");
        t.Port = QStringLiteral("COM3");
        t.Serial.BaudIndex = 7;
        QCOMPARE(LinkPlaceText(t), QStringLiteral("Serial COM3 at 115200 baud"));
        t.Device = QStringLiteral("can");
        t.Port = QStringLiteral("Net 1");
        t.Can.TargetId = 12;
        QCOMPARE(LinkPlaceText(t), QStringLiteral("CAN Net 1, identifier 12"));
    }
};

QTEST_GUILESS_MAIN(TestLinkSupervisor)
#include "tst_linksupervisor.moc"
