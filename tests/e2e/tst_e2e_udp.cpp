// SPDX-License-Identifier: Apache-2.0
#include "EngineOverSim.h"
#include "MemoryDevice.h"
#include "WidgetSupport.h"
#include "devices/udp/UDPDevice.h"
#include "protocol/Frame.h"
#include "widgets/IntegerEdit.h"

#include <QLineEdit>
#include <QPushButton>
#include <QUdpSocket>

using namespace e2e;

namespace {
quint16 FreeUdpPort() {
    QUdpSocket s;
    s.bind(QHostAddress::AnyIPv4, 0);
    return s.localPort();
}

// Connects the command set through both dialogs; replies come back to a free local port.
TStat ConnectUdp(TMorv& morv, const QString& host, quint16 transmitPort) {
    AnswerDeviceDialog(DeviceIndex(morv.Command(), QStringLiteral("Ethernet/UDP")));
    const quint16 listen = FreeUdpPort();
    AnswerModal(QStringLiteral("UDPSettingsDlg"), [host, transmitPort, listen](QWidget* w) {
        w->findChild<QLineEdit*>(QStringLiteral("edHostname"))->setText(host);
        w->findChild<TIntegerEdit*>(QStringLiteral("edTransmitPort"))
            ->setText(QString::number(transmitPort));
        w->findChild<TIntegerEdit*>(QStringLiteral("edListeningPort"))
            ->setText(QString::number(listen));
        w->findChild<QPushButton*>(QStringLiteral("btnOk"))->click();
    });
    InstallDialogPrompts(morv.Command());
    return morv.Connect();
}

TPacket PacketOfFrameSize(std::size_t frameSize) {
    TPacket p;
    p.ID = CMD_SET_DEVICE_TAG;
    p.Length = static_cast<std::int32_t>(frameSize - 8);
    p.Data.assign(frameSize - 8, 0x41);
    return p;
}
} // namespace

class TestE2eUdp : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void allCommandsOverUdp() {
        SimProcess sim(SimIdentity());
        QVERIFY2(sim.Start(), qPrintable(sim.ErrorString()));
        TempSettingsDir dir;
        TMorv morv(nullptr);
        Recorder rec(morv);
        QCOMPARE(ConnectUdp(morv, QStringLiteral("127.0.0.1"), sim.UdpPort()), E_SUCCESS);
        QVERIFY(rec.Events.isEmpty());
        QTRY_COMPARE_WITH_TIMEOUT(rec.Events, QStringList{QStringLiteral("connect")}, 10000);
        RunAllCommands(morv, rec);
        if (QTest::currentTestFailed())
            return;

        // The largest frame a datagram carries goes out; one byte more is refused.
        QCOMPARE(morv.Command()->SendPacket(PacketOfFrameSize(4097)), E_RANGE_ERROR);
        QCOMPARE(morv.Command()->SendPacket(PacketOfFrameSize(4096)), E_SUCCESS);
        // The session goes on afterwards.
        float v = 0;
        QCOMPARE(morv.GetForceLimit(v), E_SUCCESS);

        QVERIFY(rec.Errors.empty());
        morv.Disconnect();
        QCOMPARE(rec.Events,
                 (QStringList{QStringLiteral("connect"), QStringLiteral("disconnect")}));
        QCOMPARE(morv.Stop(), E_CMD_FAILED);
    }

    void unusableAddresses() {
        SimProcess sim(SimIdentity());
        QVERIFY2(sim.Start(), qPrintable(sim.ErrorString()));
        TempSettingsDir dir;
        TMorv morv(nullptr);
        Recorder rec(morv);
        TPacket stop;
        stop.ID = CMD_STOP;
        for (const QString& host : {QStringLiteral("0.0.0.0"), QString()}) {
            rec.Events.clear();
            QCOMPARE(ConnectUdp(morv, host, sim.UdpPort()), E_SUCCESS);
            // UDP has nothing to wait for: it reports connected all the same.
            QTRY_VERIFY_WITH_TIMEOUT(rec.Events.contains(QStringLiteral("connect")), 10000);
            QCOMPARE(morv.Command()->SendPacket(stop), E_WRITE_ERROR);
            QCOMPARE(morv.Command()->SendPacket(stop), E_WRITE_ERROR);
            QCOMPARE(morv.Stop(), E_CMD_FAILED);
        }
        QVERIFY(rec.Errors.empty());
    }

    void gripperVanishing() {
        SimProcess sim(SimIdentity());
        QVERIFY2(sim.Start(), qPrintable(sim.ErrorString()));
        TempSettingsDir dir;
        TMorv morv(nullptr);
        Recorder rec(morv);
        QCOMPARE(ConnectUdp(morv, QStringLiteral("127.0.0.1"), sim.UdpPort()), E_SUCCESS);
        QTRY_COMPARE_WITH_TIMEOUT(rec.Events, QStringList{QStringLiteral("connect")}, 10000);
        float v = 0;
        QCOMPARE(morv.GetAcceleration(v), E_SUCCESS);
        sim.Kill();
        // Datagrams have no connection to lose: the reply simply never comes.
        QCOMPARE(morv.GetAcceleration(v), E_CMD_FAILED);
        QVERIFY(morv.IsConnected());
    }
};

QTEST_MAIN(TestE2eUdp)
#include "tst_e2e_udp.moc"
