// SPDX-License-Identifier: Apache-2.0
// What every transport promises its caller about opening, closing and the notifications that
// follow, checked on the real transports: TCP and UDP on loopback, serial on a pseudo-terminal,
// CAN on a virtual bus of this test's own.

#include "FreePorts.h"
#include "TestSupport.h"
#include "devices/DeviceComponent.h"
#include "devices/DeviceRegistry.h"
#include "devices/serial/SerialDevice.h"

#include <QElapsedTimer>
#include <QTcpServer>
#include <QTest>
#include <QUdpSocket>

#include <pty.h>
#include <unistd.h>

#include <memory>

namespace {
constexpr int Patience = 10000;

// Everything a transport raised, in order.
struct Events {
    QStringList Log;
    void Watch(TDevice& d) {
        d.OnConnect = [this](TDevice*) { Log << QStringLiteral("connect"); };
        d.OnDisconnect = [this](TDevice*) { Log << QStringLiteral("disconnect"); };
        d.OnError = [this](TDevice*, TStat code) { Log << QStringLiteral("error %1").arg(code); };
    }
};

// Something a transport of each kind can reach, and how to name it in a connect target.
struct Reachable {
    TempSettingsDir Dir;
    QTcpServer Server;
    int Master = -1;
    int Holder = -1;
    TConnectTarget Target;

    explicit Reachable(const QString& device) {
        Target.Device = device;
        if (device == QStringLiteral("uart")) {
            char name[128] = {};
            QVERIFY(::openpty(&Master, &Holder, name, nullptr, nullptr) == 0);
            Dir.WriteFile(QStringLiteral("uart.cfg"), QByteArray("[ports]\nCOM4=") + name);
            Target.Port = QStringLiteral("COM4");
            Target.Serial.BaudIndex = 6;
        } else if (device == QStringLiteral("tcp")) {
            QVERIFY(Server.listen(QHostAddress::LocalHost));
            Target.Port = QStringLiteral("TCP");
            Target.Tcp = {QStringLiteral("127.0.0.1"), Server.serverPort()};
        } else if (device == QStringLiteral("udp")) {
            Target.Port = QStringLiteral("UDP");
            Target.Udp = {QStringLiteral("127.0.0.1"), FreeUdpPort(), FreeUdpPort()};
        } else {
            Dir.WriteFile(QStringLiteral("can.cfg"),
                          QStringLiteral("[nets]\n19=virtualcan:tcp://127.0.0.1:%1/can0\n")
                              .arg(FreeTcpPort())
                              .toLatin1());
            Target.Port = QStringLiteral("Net 19");
        }
    }
    ~Reachable() {
        for (int fd : {Holder, Master})
            if (fd >= 0)
                ::close(fd);
    }
};
} // namespace

class TestDeviceContract : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void registryOrder() {
        TempSettingsDir dir;
        QObject owner;
        QStringList names;
        for (TDevice* d : CreateTransports(&owner)) {
            QCOMPARE(d->parent(), &owner);
            names << d->ShortName();
        }
        QCOMPARE(names, (QStringList{QStringLiteral("uart"), QStringLiteral("tcp"),
                                     QStringLiteral("udp"), QStringLiteral("can")}));
    }

    void openCloseAndNotifications_data() {
        QTest::addColumn<QString>("device");
        QTest::addColumn<int>("closedResult");      // Close when not open
        QTest::addColumn<bool>("closedDisconnect"); // and whether it raises OnDisconnect
        QTest::newRow("serial") << QStringLiteral("uart") << int(E_SUCCESS) << true;
        QTest::newRow("tcp") << QStringLiteral("tcp") << int(E_SUCCESS) << false;
        QTest::newRow("udp") << QStringLiteral("udp") << int(E_SUCCESS) << true;
        QTest::newRow("can") << QStringLiteral("can") << int(E_NOT_OPENED) << false;
    }

    void openCloseAndNotifications() {
        QFETCH(QString, device);
        QFETCH(int, closedResult);
        QFETCH(bool, closedDisconnect);
        Reachable peer(device);
        QObject owner;
        TDevice* dev = nullptr;
        for (TDevice* d : CreateTransports(&owner))
            if (d->ShortName() == device)
                dev = d;
        QVERIFY(dev);
        if (auto* serial = qobject_cast<TSerialDevice*>(dev))
            serial->Comm()->ClosePause = 0;
        Events ev;
        ev.Watch(*dev);
        QVERIFY(!dev->IsOpen());
        QCOMPARE(dev->State(), TDevice::TState::Unconnected);
        QCOMPARE(dev->Read(nullptr, 1), -1);
        QVERIFY(dev->IsAvailable());

        // Never opened.
        QCOMPARE(int(dev->Close()), closedResult);
        QCOMPARE(ev.Log,
                 closedDisconnect ? QStringList{QStringLiteral("disconnect")} : QStringList{});
        ev.Log.clear();

        // Nobody to ask: cancelled, and nothing happens.
        QCOMPARE(dev->Open(peer.Target.Port), E_CMD_ABORTED);
        QVERIFY(!dev->IsOpen());
        QVERIFY(!dev->ConnectTimer()->isActive());

        // The caller gets its result first; OnConnect follows once, at least 50 ms later.
        TGivenPrompts given(peer.Target, 0);
        dev->SetPrompts(&given);
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(dev->Open(peer.Target.Port), E_SUCCESS);
        QVERIFY(ev.Log.isEmpty());
        QVERIFY(dev->ConnectTimer()->isActive());
        QTRY_COMPARE_WITH_TIMEOUT(ev.Log, QStringList{QStringLiteral("connect")}, Patience);
        QVERIFY2(clock.elapsed() >= TDevice::ConnectTimerInterval,
                 qPrintable(QString::number(clock.elapsed())));
        QVERIFY(dev->IsOpen());
        QCOMPARE(dev->State(), TDevice::TState::Connected);
        QVERIFY(!dev->ConnectTimer()->isActive());

        // Opening an open transport passes through closed, and connects again.
        ev.Log.clear();
        QCOMPARE(dev->Open(peer.Target.Port), E_SUCCESS);
        QCOMPARE(ev.Log, QStringList{QStringLiteral("disconnect")});
        QTRY_COMPARE_WITH_TIMEOUT(ev.Log.size(), 2, Patience);
        QCOMPARE(ev.Log.last(), QStringLiteral("connect"));

        // Closing an open transport raises OnDisconnect once.
        ev.Log.clear();
        QCOMPARE(dev->Close(), E_SUCCESS);
        QCOMPARE(ev.Log, QStringList{QStringLiteral("disconnect")});
        QVERIFY(!dev->IsOpen());
        QCOMPARE(dev->State(), TDevice::TState::Unconnected);
        QCOMPARE(dev->BytesAvailable(), 0);

        // Confirmed as soon as it is usable: the result still comes first, and the tick that
        // raises OnConnect did not wait the interval.
        dev->SetConfirm(TDevice::TConfirm::WhenUsable);
        int interval = -1;
        dev->OnConnect = [&](TDevice*) {
            ev.Log << QStringLiteral("connect");
            interval = dev->ConnectTimer()->interval();
        };
        ev.Log.clear();
        QCOMPARE(dev->Open(peer.Target.Port), E_SUCCESS);
        QVERIFY(ev.Log.isEmpty());
        QTRY_COMPARE_WITH_TIMEOUT(ev.Log, QStringList{QStringLiteral("connect")}, Patience);
        QCOMPARE(interval, 0);
        dev->SetConfirm(TDevice::TConfirm::AfterInterval);
        QCOMPARE(dev->Close(), E_SUCCESS);
        ev.Watch(*dev);

        // Closed before its first tick: no OnConnect is left to come.
        QCOMPARE(dev->Open(peer.Target.Port), E_SUCCESS);
        QCOMPARE(dev->Close(), E_SUCCESS);
        QVERIFY(!dev->ConnectTimer()->isActive());

        // Destroyed while open: nothing is raised.
        QCOMPARE(dev->Open(peer.Target.Port), E_SUCCESS);
        QTRY_COMPARE_WITH_TIMEOUT(ev.Log.count(QStringLiteral("connect")), 1, Patience);
        ev.Log.clear();
        delete dev;
        QVERIFY(ev.Log.isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestDeviceContract)
#include "tst_devicecontract.moc"
