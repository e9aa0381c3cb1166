// SPDX-License-Identifier: Apache-2.0
#include "EngineOverSim.h"
#include "MemoryDevice.h"
#include "WidgetSupport.h"
#include "devices/tcp/TCPDevice.h"
#include "widgets/IntegerEdit.h"

#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>

#include <memory>
#include <random>

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
// Stands between the Commander and the simulator as the gripper: first it pushes `floodBytes`
// of random bytes, topping the socket up as the reader drains it, then it passes everything on
// in both directions.
struct FloodingProxy : QObject {
    QTcpServer Server;
    QTcpSocket* Client = nullptr;
    QTcpSocket Upstream;
    QByteArray Held; // from the simulator while the flood runs
    qint64 FloodBytes;
    qint64 Flooded = 0;
    std::mt19937 Random{20261208};
    std::function<void()> OnChunk;

    FloodingProxy(quint16 simPort, qint64 floodBytes) : FloodBytes(floodBytes) {
        Server.listen(QHostAddress::LocalHost);
        connect(&Server, &QTcpServer::newConnection, this, [this, simPort] {
            Client = Server.nextPendingConnection();
            connect(Client, &QTcpSocket::readyRead, this,
                    [this] { Upstream.write(Client->readAll()); });
            connect(Client, &QTcpSocket::bytesWritten, this, [this] { Flood(); });
            connect(&Upstream, &QTcpSocket::readyRead, this, [this] {
                Held += Upstream.readAll();
                Flood();
            });
            Upstream.connectToHost(QHostAddress::LocalHost, simPort);
            Flood();
        });
    }
    bool FloodDone() const { return Flooded == FloodBytes; }
    void Flood() {
        constexpr qint64 Chunk = 64 * 1024;
        while (!FloodDone() && Client->bytesToWrite() < Chunk) {
            QByteArray bytes(static_cast<qsizetype>(std::min(Chunk, FloodBytes - Flooded)),
                             Qt::Uninitialized);
            for (char& c : bytes)
                c = static_cast<char>(Random() & 0xFF);
            Client->write(bytes);
            Flooded += bytes.size();
            if (OnChunk)
                OnChunk();
        }
        if (FloodDone() && !Held.isEmpty())
            Client->write(std::exchange(Held, QByteArray()));
    }
};
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

    // 10 MB of random bytes from the gripper's side: the unread bytes the socket keeps stay
    // bounded, and once the flood is over (and the receiver's gap has passed) every command
    // works again.
    void floodThenAllCommands() {
        SimProcess sim(SimIdentity());
        QVERIFY2(sim.Start(), qPrintable(sim.ErrorString()));
        TempSettingsDir dir;
        FakeTick tick;
        // Only a safety net: a lost reply must end its wait instead of hanging the test.
        QTimer watchdog;
        QObject::connect(&watchdog, &QTimer::timeout, [&] { tick.Advance(3001); });
        watchdog.start(20000);

        constexpr qint64 floodBytes = 10 * 1024 * 1024;
        FloodingProxy proxy(sim.TcpPort(), floodBytes);
        TMorv morv(nullptr);
        morv.SetClock(tick.Clock());
        Recorder rec(morv);
        TConnectTarget target;
        target.Device = QStringLiteral("tcp");
        target.Tcp = {QStringLiteral("127.0.0.1"), proxy.Server.serverPort()};
        QCOMPARE(morv.ConnectTo(target), E_SUCCESS);
        auto* dev = static_cast<TTCPDevice*>(morv.Command()->AttachedDevice());
        qint64 mostUnread = 0;
        proxy.OnChunk = [&] {
            mostUnread = std::max(mostUnread, dev->ClientSocket()->bytesAvailable());
        };
        QTRY_VERIFY_WITH_TIMEOUT(dev->BytesRead() >= floodBytes, 120000);
        QCOMPARE(dev->BytesRead(), floodBytes);
        QVERIFY2(mostUnread <= TTCPDevice::ReadBufferSize, qPrintable(QString::number(mostUnread)));
        QVERIFY(morv.IsConnected());
        tick.Advance(101); // the half frame the flood may have left is given up

        RunAllCommands(morv, rec);
        if (QTest::currentTestFailed())
            return;
        QVERIFY(rec.Errors.empty());
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
