// SPDX-License-Identifier: Apache-2.0
// The serial transport on a pseudo-terminal, its port names, and its place in the engine.

#include "TestSupport.h"
#include "devices/serial/SerialDevice.h"
#include "engine/CommandComponent.h"

#include <QDir>
#include <QElapsedTimer>
#include <QTest>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

namespace {

struct PtyPair {
    int Master = -1;
    int Holder = -1;
    QString Path;
    PtyPair() {
        char name[128] = {};
        if (::openpty(&Master, &Holder, name, nullptr, nullptr) == 0)
            Path = QString::fromLocal8Bit(name);
        ::fcntl(Master, F_SETFL, O_NONBLOCK);
    }
    ~PtyPair() { Hangup(); }
    void Hangup() {
        for (int* fd : {&Holder, &Master})
            if (*fd >= 0)
                ::close(*fd);
        Holder = Master = -1;
    }
    QByteArray Receive(int n) const {
        QByteArray got;
        QElapsedTimer t;
        t.start();
        while (got.size() < n && t.elapsed() < 10000) {
            pollfd p{Master, POLLIN, 0};
            char buf[4096];
            if (::poll(&p, 1, 100) > 0)
                if (const ssize_t r = ::read(Master, buf, sizeof buf); r > 0)
                    got.append(buf, r);
        }
        return got;
    }
};

void Touch(const QString& path) {
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
}

} // namespace

class TestSerialDevice : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void portNamesKeepTheirNumbers() {
        TempSettingsDir dir;
        QTemporaryDir dev;
        QTemporaryDir sys;
        for (const char* n : {"ttyUSB0", "ttyACM0", "ttyS0", "ttyS1", "rfcomm0", "ttyAMA10"})
            Touch(dev.filePath(QString::fromLatin1(n)));
        // ttyS0 has no UART behind it; ttyS1 has a 16550A.
        for (auto [n, type] : {std::pair{"ttyS0", "0"}, std::pair{"ttyS1", "4"}}) {
            QVERIFY(QDir(sys.path()).mkpath(QString::fromLatin1(n)));
            QFile f(sys.filePath(QString::fromLatin1(n) + QStringLiteral("/type")));
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(type);
        }
        // COM1 is the adapter from last time; COM3 belongs to a device unplugged now; COM9 an
        // operator's hand-written pseudo-terminal.
        PtyPair pty;
        dir.WriteFile(QStringLiteral("uart.cfg"),
                      QStringLiteral("[common]\nbaudrate=3\n[ports]\nCOM1=%1\nCOM3=%2\nCOM9=%3\n")
                          .arg(dev.filePath(QStringLiteral("ttyUSB0")),
                               dev.filePath(QStringLiteral("gone")), pty.Path)
                          .toLocal8Bit());
        TIniFile ini(dir.FilePath(QStringLiteral("uart.cfg")));
        TSerialPortMap map(ini, dev.path(), sys.path());
        const QStringList expected{QStringLiteral("COM1"), QStringLiteral("COM2"),
                                   QStringLiteral("COM4"), QStringLiteral("COM5"),
                                   QStringLiteral("COM6"), QStringLiteral("COM9")};
        QCOMPARE(map.PortList(), expected);
        // New devices take the free numbers in the order of their names.
        QCOMPARE(map.DevicePath(QStringLiteral("com2")), dev.filePath(QStringLiteral("rfcomm0")));
        QCOMPARE(map.DevicePath(QStringLiteral("COM4")), dev.filePath(QStringLiteral("ttyACM0")));
        QCOMPARE(map.DevicePath(QStringLiteral("COM5")), dev.filePath(QStringLiteral("ttyAMA10")));
        QCOMPARE(map.DevicePath(QStringLiteral("COM6")), dev.filePath(QStringLiteral("ttyS1")));
        QCOMPARE(map.DevicePath(QStringLiteral("COM3")), dev.filePath(QStringLiteral("gone")));
        QCOMPARE(map.DevicePath(QStringLiteral("COM03")), QString());
        // The next run finds the same numbers, and the other settings are untouched.
        TSerialPortMap again(ini, dev.path(), sys.path());
        QCOMPARE(again.PortList(), expected);
        QCOMPARE(ini.ReadInteger(QStringLiteral("common"), QStringLiteral("baudrate"), 0), 3);
    }

    void openWriteCloseAndVanish() {
        TempSettingsDir dir;
        PtyPair pty;
        dir.WriteFile(QStringLiteral("uart.cfg"),
                      QStringLiteral("[ports]\nCOM4=%1\n").arg(pty.Path).toLocal8Bit());
        TCommand cmd(nullptr);
        QCOMPARE(cmd.Devices(0)->DisplayName(), QStringLiteral("Serial (RS232)"));
        auto* dev = qobject_cast<TSerialDevice*>(cmd.Devices(0));
        QVERIFY(dev);
        dev->Comm()->ClosePause = 0;
        QStringList events;
        cmd.SetOnConnect([&](TDevice*) { events << QStringLiteral("connect"); });
        cmd.SetOnDisconnect([&](TDevice*) { events << QStringLiteral("disconnect"); });
        QStringList ports;
        dev->GetPortList(ports);
        QVERIFY(ports.contains(QStringLiteral("COM4")));
        QCOMPARE(dev->PortMap().DevicePath(QStringLiteral("COM4")), pty.Path);

        // Not there, then a rate outside the list, then the port by its name at 57600 baud.
        TConnectTarget target;
        target.Device = QStringLiteral("uart");
        target.Port = QStringLiteral("COM5");
        QCOMPARE(cmd.ConnectTo(target), E_IO_ERROR);
        target.Port = QStringLiteral("com4");
        target.Serial.BaudIndex = 8;
        QCOMPARE(cmd.ConnectTo(target), E_INVALID_PARAMETER);
        QVERIFY(!dir.ReadFile(QStringLiteral("uart.cfg")).contains("baudrate"));
        target.Serial.BaudIndex = 6;
        QCOMPARE(cmd.ConnectTo(target), E_SUCCESS);
        QVERIFY(events.isEmpty()); // never inside Open
        QTRY_COMPARE_WITH_TIMEOUT(events, QStringList{QStringLiteral("connect")}, 10000);
        termios t{};
        QVERIFY(::tcgetattr(pty.Holder, &t) == 0);
        QCOMPARE(cfgetospeed(&t), speed_t(B57600));
        QCOMPARE(TIniFile(dir.FilePath(QStringLiteral("uart.cfg")))
                     .ReadInteger(QStringLiteral("common"), QStringLiteral("baudrate"), -1),
                 6);

        // Close waits for what is still buffered before it closes.
        const QByteArray frame(1800, 'k');
        QCOMPARE(
            cmd.Devices(0)->Write(reinterpret_cast<const std::uint8_t*>(frame.constData()), 1800),
            E_SUCCESS);
        cmd.Disconnect();
        QCOMPARE(events, (QStringList{QStringLiteral("connect"), QStringLiteral("disconnect")}));
        QCOMPARE(pty.Receive(1800), frame);
        QCOMPARE(dev->Read(nullptr, 1), -1);
        // Closed already: the transport still reports it, and the engine, no longer attached to
        // it, does not pass that on.
        bool reported = false;
        const TDevice::TNotifyEvent engineHandler = dev->OnDisconnect;
        dev->OnDisconnect = [&](TDevice* sender) {
            reported = true;
            if (engineHandler)
                engineHandler(sender);
        };
        QCOMPARE(dev->Close(), E_SUCCESS);
        QVERIFY(reported);
        QCOMPARE(events.size(), 2);

        // The device path works as well; then the far end goes away.
        events.clear();
        target.Port = pty.Path;
        QCOMPARE(cmd.ConnectTo(target), E_SUCCESS);
        QTRY_COMPARE_WITH_TIMEOUT(events, QStringList{QStringLiteral("connect")}, 10000);
        pty.Hangup();
        QTRY_COMPARE_WITH_TIMEOUT(
            events, (QStringList{QStringLiteral("connect"), QStringLiteral("disconnect")}), 10000);
        QVERIFY(!cmd.IsConnected());
        QCOMPARE(dev->LastErrorText(), QStringLiteral("the device went away (unplugged?)"));
        QCOMPARE(dev->Comm()->ThreadCount(), 0);
    }

    // A port that does not open says where it is and why, in plain words.
    void failuresSayWhereAndWhy_data() {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("cause");
        QTest::newRow("closed pseudo-terminal") << "closed"
                                                << "no such device";
        QTest::newRow("name without a device") << "unmapped"
                                               << "no such device";
        QTest::newRow("held by another program") << "held"
                                                 << "port held by another program";
        QTest::newRow("plain file") << "file"
                                    << "not a serial port";
    }
    void failuresSayWhereAndWhy() {
        QFETCH(QString, kind);
        QFETCH(QString, cause);
        TempSettingsDir dir;
        PtyPair pty;
        QString port = pty.Path;
        QString address = pty.Path;
        TSerialDevice holder(nullptr);
        holder.Comm()->ClosePause = 0;
        if (kind == QLatin1String("closed")) {
            pty.Hangup();
            if (QFile::exists(port))
                QSKIP("the pseudo-terminal's number was taken again meanwhile");
        } else if (kind == QLatin1String("unmapped")) {
            port = address = QStringLiteral("COM7");
        } else if (kind == QLatin1String("held")) {
            QCOMPARE(holder.OpenPort(port, 3), E_SUCCESS);
        } else {
            port = address = dir.FilePath(QStringLiteral("plain.txt"));
            Touch(port);
        }
        TSerialDevice dev(nullptr);
        dev.Comm()->ClosePause = 0;
        QCOMPARE(dev.OpenPort(port, 3), E_IO_ERROR);
        QCOMPARE(dev.LastErrorText(), cause);
        QCOMPARE(dev.Address(), address);
    }
};

QTEST_GUILESS_MAIN(TestSerialDevice)
#include "tst_serialdevice.moc"
