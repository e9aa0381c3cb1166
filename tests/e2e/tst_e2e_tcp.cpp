#include "EngineOverSim.h"
#include "MemoryDevice.h"
#include "TestSupport.h"
#include "devices/tcp/TCPDevice.h"
#include "widgets/IntegerEdit.h"

#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTcpServer>

using namespace e2e;

namespace {
// Connects the command set through both dialogs to host:port over TCP.
TStat ConnectTcp(TMorv& morv, const QString& host, quint16 port) {
    AnswerDeviceDialog(DeviceIndex(morv.Command(), QStringLiteral("Ethernet/TCP")));
    AnswerModal(QStringLiteral("HostNameDlg"), [host, port](QWidget* w) {
        w->findChild<QLineEdit*>(QStringLiteral("edHostname"))->setText(host);
        w->findChild<TIntegerEdit*>(QStringLiteral("edPort"))->setText(QString::number(port));
        w->findChild<QPushButton*>(QStringLiteral("btnOk"))->click();
    });
    InstallDialogPrompts(morv.Command());
    return morv.Connect();
}
} // namespace

class TestE2eTcp : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void allCommandsOverTcp() {
        SimProcess sim(SimIdentity());
        QVERIFY2(sim.Start(), qPrintable(sim.ErrorString()));
        TempSettingsDir dir;
        TMorv morv(nullptr);
        Recorder rec(morv);
        QCOMPARE(ConnectTcp(morv, QStringLiteral("127.0.0.1"), sim.TcpPort()), E_SUCCESS);
        QVERIFY(rec.Events.isEmpty());
        QTRY_COMPARE_WITH_TIMEOUT(rec.Events, QStringList{QStringLiteral("connect")}, 10000);
        RunAllCommands(morv, rec);
        if (QTest::currentTestFailed())
            return;
        QVERIFY(rec.Errors.empty());
        morv.Disconnect();
        QCOMPARE(rec.Events,
                 (QStringList{QStringLiteral("connect"), QStringLiteral("disconnect")}));
        QVERIFY(!morv.IsConnected());
        QCOMPARE(morv.Stop(), E_CMD_FAILED);
    }

    void nothingListening() {
        quint16 port = 0;
        {
            QTcpServer s;
            QVERIFY(s.listen(QHostAddress::LocalHost));
            port = s.serverPort();
        }
        TempSettingsDir dir;
        TMorv morv(nullptr);
        Recorder rec(morv);
        QCOMPARE(ConnectTcp(morv, QStringLiteral("127.0.0.1"), port), E_SUCCESS);
        QTRY_COMPARE_WITH_TIMEOUT(rec.Errors, std::vector<TStat>{E_CMD_FAILED}, 10000);
        // Some ticks of the connect timer later there is still no OnConnect.
        auto* dev =
            morv.Command()->Devices(DeviceIndex(morv.Command(), QStringLiteral("Ethernet/TCP")));
        QSignalSpy ticks(dev->ConnectTimer(), &QTimer::timeout);
        QTRY_VERIFY_WITH_TIMEOUT(ticks.size() >= 3, 10000);
        QVERIFY(!rec.Events.contains(QStringLiteral("connect")));
        QCOMPARE(morv.Stop(), E_CMD_FAILED);
    }

    void unresolvableHost() {
        TempSettingsDir dir;
        TMorv morv(nullptr);
        Recorder rec(morv);
        QCOMPARE(ConnectTcp(morv, QStringLiteral("gripper.invalid"), 1000), E_SUCCESS);
        QTRY_COMPARE_WITH_TIMEOUT(rec.Errors, std::vector<TStat>{E_INVALID_PARAMETER}, 20000);
        QVERIFY(!rec.Events.contains(QStringLiteral("connect")));
    }

    void peerClosingMidSession() {
        // The simulator drops the connection once it has answered three frames.
        QStringList args = SimIdentity();
        args << QStringLiteral("--disconnect-after") << QStringLiteral("3");
        SimProcess sim(args);
        QVERIFY2(sim.Start(), qPrintable(sim.ErrorString()));
        TempSettingsDir dir;
        TMorv morv(nullptr);
        Recorder rec(morv);
        QCOMPARE(ConnectTcp(morv, QStringLiteral("127.0.0.1"), sim.TcpPort()), E_SUCCESS);
        QTRY_COMPARE_WITH_TIMEOUT(rec.Events, QStringList{QStringLiteral("connect")}, 10000);
        float v = 0;
        QCOMPARE(morv.GetAcceleration(v), E_SUCCESS);
        QCOMPARE(morv.GetForceLimit(v), E_SUCCESS);
        TSystemInfo info;
        QCOMPARE(morv.GetSystemInfo(info), E_SUCCESS);
        QTRY_COMPARE_WITH_TIMEOUT(
            rec.Events, (QStringList{QStringLiteral("connect"), QStringLiteral("disconnect")}),
            10000);
        QVERIFY(rec.Errors.empty());
        QVERIFY(!morv.IsConnected());
        QCOMPARE(morv.GetAcceleration(v), E_CMD_FAILED);

        // And a gripper that vanishes outright.
        SimProcess sim2(SimIdentity());
        QVERIFY2(sim2.Start(), qPrintable(sim2.ErrorString()));
        rec.Events.clear();
        QCOMPARE(ConnectTcp(morv, QStringLiteral("127.0.0.1"), sim2.TcpPort()), E_SUCCESS);
        QTRY_COMPARE_WITH_TIMEOUT(rec.Events, QStringList{QStringLiteral("connect")}, 10000);
        QCOMPARE(morv.GetPosition(true, 100, true), E_SUCCESS);
        sim2.Kill();
        QTRY_VERIFY_WITH_TIMEOUT(
            rec.Events.contains(QStringLiteral("disconnect")) || !rec.Errors.empty(), 10000);
        QVERIFY(!morv.IsConnected());
        QCOMPARE(morv.Stop(), E_CMD_FAILED);
    }
};

QTEST_MAIN(TestE2eTcp)
#include "tst_e2e_tcp.moc"
