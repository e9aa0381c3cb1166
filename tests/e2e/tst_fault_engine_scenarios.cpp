// SPDX-License-Identifier: Apache-2.0
// Each fault scenario once on every link it applies to: late replies either side of the reply
// time-out, an identifier never answered, the simulator ending the link, and the simulator dying
// mid-command. Each must end in its documented state and leave the next connection working.

#include "FaultRun.h"

#include <QCoreApplication>
#include <QTest>

using namespace soak;

class TestFaultEngineScenarios : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void scenario_data() {
        QTest::addColumn<QString>("link");
        QTest::addColumn<QString>("scenario");
        for (const char* link : {"tcp", "udp", "serial", "can"})
            for (TScenario s : AllScenarios())
                QTest::addRow("%s %s", link, qPrintable(ScenarioName(s)))
                    << QString::fromLatin1(link) << ScenarioName(s);
    }

    void scenario() {
        QFETCH(QString, link);
        QFETCH(QString, scenario);
        const TLink l = *LinkFromName(link);
        const TScenario s = *ScenarioFromName(scenario);
        const TScenarioResult r = RunScenario(s, l);
        const QStringList faults = ScenarioFaults(s, l, r, false);
        QVERIFY2(faults.isEmpty(), qPrintable(faults.join(QStringLiteral("; "))));
    }
};

QTEST_GUILESS_MAIN(TestFaultEngineScenarios)
#include "tst_fault_engine_scenarios.moc"
