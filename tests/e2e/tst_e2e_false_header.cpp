// SPDX-License-Identifier: Apache-2.0
// A header that announces 65535 bytes that never come, then updates every 50 ms, over each link
// to karo-sim: the reply behind the header and every update after it still arrive.

#include "FaultRun.h"
#include "devices/IniFile.h"
#include "engine/MorvForm.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTest>

using namespace soak;

namespace {
struct TLinkEvents : IPacketLog {
    std::vector<TLinkEvent> Events;
    void LogPacket(const TPacket&, bool) override {}
    void LogLinkEvent(const TLinkEvent& event, const TLogStamp&) override {
        Events.push_back(event);
    }
};
} // namespace

Q_DECLARE_METATYPE(TLink)

class TestFalseHeader : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void updatesBehindAFalseHeader_data() {
        QTest::addColumn<TLink>("link");
        for (TLink link : {TLink::Tcp, TLink::Udp, TLink::Serial, TLink::Can})
            QTest::newRow(qPrintable(LinkName(link))) << link;
    }
    void updatesBehindAFalseHeader() {
        QFETCH(TLink, link);
        QTemporaryDir settings;
        SetSettingsDirectory(settings.path());
        TSimTarget sim(link, {QStringLiteral("--false-header")});
        QVERIFY2(sim.Start(), qPrintable(sim.ErrorString()));
        TMorv morv(nullptr);
        TLinkEvents log;
        morv.SetPacketLog(&log);
        std::vector<qint64> at;
        QElapsedTimer clock;
        clock.start();
        morv.OnPosition = [&](TMorv*) { at.push_back(clock.elapsed()); };
        QVERIFY(ConnectAndWait(morv, sim.Target()));

        // The header goes out right before the reply; the reply must not wait behind it.
        QCOMPARE(morv.GetPosition(true, 50, false), E_SUCCESS);
        QCOMPARE(morv.LastOutcome().Kind, TOutcomeKind::Replied);
        QCOMPARE(log.Events.size(), std::size_t(1));
        QCOMPARE(log.Events[0].Kind, TLinkEventKind::FalsePreamble);
        QCOMPARE(log.Events[0].Bytes,
                 (std::vector<std::uint8_t>{0xAA, 0xAA, 0xAA, 0x40, 0xFF, 0xFF}));
        // A blind receiver would wait for 65535 bytes (minutes at this rate); the safety net is
        // far above the 50 ms period.
        QTRY_VERIFY_WITH_TIMEOUT(at.size() >= 6, 10000);
        morv.SetPacketLog(nullptr);
        morv.Disconnect();
        SetSettingsDirectory(QString());
    }
};

QTEST_GUILESS_MAIN(TestFalseHeader)
#include "tst_e2e_false_header.moc"
