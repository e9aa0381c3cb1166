// SPDX-License-Identifier: Apache-2.0
// The engine and the transports without a display: a QCoreApplication that links the protocol,
// device and engine libraries only, connecting without any dialog.

#include "EngineOverSim.h"
#include "devices/IniFile.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QUdpSocket>

using namespace e2e;

class TestHeadlessEngine : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void allCommands_data() {
        QTest::addColumn<QString>("device");
        QTest::newRow("tcp") << QStringLiteral("tcp");
        QTest::newRow("udp") << QStringLiteral("udp");
    }

    void allCommands() {
        QFETCH(QString, device);
        QTemporaryDir settings;
        SetSettingsDirectory(settings.path());
        SimProcess sim(SimIdentity());
        QVERIFY2(sim.Start(), qPrintable(sim.ErrorString()));

        TConnectTarget target;
        target.Device = device;
        target.Tcp = {QStringLiteral("127.0.0.1"), sim.TcpPort()};
        QUdpSocket probe; // a free local port for the replies
        QVERIFY(probe.bind(QHostAddress::LocalHost, 0));
        const int listen = probe.localPort();
        probe.close();
        target.Udp = {QStringLiteral("127.0.0.1"), listen, sim.UdpPort()};

        TMorv morv(nullptr);
        Recorder rec(morv);
        ConnectAndRunAllCommands(morv, rec, target, 10000);
        // The same open as through the dialogs: the settings are stored.
        QVERIFY(QFile::exists(settings.filePath(device + QStringLiteral(".cfg"))));
        SetSettingsDirectory(QString());
    }

    void nobodyToAsk() {
        QTemporaryDir settings;
        SetSettingsDirectory(settings.path());
        TMorv morv(nullptr);
        // Without prompts an interactive connect cancels, and stays so after a ConnectTo.
        QCOMPARE(morv.Connect(), E_CMD_ABORTED);
        TConnectTarget unknown;
        unknown.Device = QStringLiteral("carrier-pigeon");
        QCOMPARE(morv.ConnectTo(unknown), E_NOT_FOUND);
        TConnectTarget udp;
        udp.Device = QStringLiteral("UDP");
        udp.Udp = {QStringLiteral("127.0.0.1"), 0, 9};
        QCOMPARE(morv.ConnectTo(udp), E_SUCCESS);
        QVERIFY(morv.IsConnected());
        for (int i = 0; i < morv.Command()->DeviceCount(); ++i)
            QCOMPARE(morv.Command()->Devices(i)->Prompts(), nullptr);
        QCOMPARE(morv.Connect(), E_CMD_ABORTED);
        QVERIFY(morv.IsConnected()); // a cancelled choice leaves the connection alone
        SetSettingsDirectory(QString());
    }
};

QTEST_GUILESS_MAIN(TestHeadlessEngine)
#include "tst_headless_engine.moc"
