// SPDX-License-Identifier: Apache-2.0
#include "WidgetSupport.h"
#include "devices/tcp/TCPDevice.h"
#include "dialogs/DialogPrompts.h"
#include "dialogs/HostnameDialog.h"
#include "widgets/IntegerEdit.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>

#include <functional>
#include <optional>

namespace {

// What a transport raised, in order.
struct Events {
    explicit Events(TDevice& d) {
        d.OnConnect = [this](TDevice*) { log << QStringLiteral("connect"); };
        d.OnDisconnect = [this](TDevice*) { log << QStringLiteral("disconnect"); };
        d.OnError = [this](TDevice*, TStat code) { log << QStringLiteral("error %1").arg(code); };
    }
    QStringList log;
};

quint16 UnusedPort() {
    QTcpServer s;
    s.listen(QHostAddress::LocalHost);
    return s.serverPort();
}

// A connected pair: the transport and the server's end.
struct Connected {
    TempSettingsDir dir;
    QTcpServer server;
    TTCPDevice dev{nullptr};
    Events ev{dev};
    QTcpSocket* peer = nullptr;

    bool Setup() {
        if (!server.listen(QHostAddress::LocalHost))
            return false;
        if (dev.OpenHost(QStringLiteral("127.0.0.1"), server.serverPort()) != E_SUCCESS)
            return false;
        if (!server.waitForNewConnection(10000))
            return false;
        peer = server.nextPendingConnection();
        return QTest::qWaitFor([&] { return ev.log.contains(QStringLiteral("connect")); }, 10000);
    }
};
} // namespace

class TestTcpDevice : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void openThroughDialogStoresSettings() {
        TempSettingsDir dir;
        QTcpServer server;
        QVERIFY(server.listen(QHostAddress::LocalHost));
        TTCPDevice dev(nullptr);
        TDialogPrompts prompts;
        dev.SetPrompts(&prompts);
        QCOMPARE(dev.objectName(), QStringLiteral("tcp"));
        QCOMPARE(dev.DisplayName(), QStringLiteral("Ethernet/TCP"));
        QStringList ports{QStringLiteral("junk")};
        dev.GetPortList(ports);
        QCOMPARE(ports, QStringList{QStringLiteral("TCP")});
        Events ev(dev);

        // Cancelled: nothing opens, nothing is written.
        WhenModal([](QWidget* w) { QTest::keyClick(w, Qt::Key_Escape); });
        QCOMPARE(dev.Open(QStringLiteral("whatever")), E_CMD_ABORTED);
        QVERIFY(!QFile::exists(dir.FilePath(QStringLiteral("tcp.cfg"))));

        bool okStates[5] = {false, false, false, false, true};
        const quint16 port = server.serverPort();
        WhenModal([&](QWidget* w) {
            QCOMPARE(w->windowTitle(), QStringLiteral("TCP Connection"));
            auto* host = w->findChild<QLineEdit*>(QStringLiteral("edHostname"));
            auto* edPort = w->findChild<TIntegerEdit*>(QStringLiteral("edPort"));
            auto* ok = w->findChild<QPushButton*>(QStringLiteral("btnOk"));
            okStates[0] = host->text().isEmpty() && edPort->text() == QStringLiteral("1000");
            edPort->setText(QString());
            okStates[1] = ok->isEnabled();
            edPort->setText(QStringLiteral("65536"));
            okStates[2] = ok->isEnabled();
            // A good port without a host is refused too.
            edPort->setText(QStringLiteral("1000"));
            host->setText(QStringLiteral("  "));
            okStates[4] = ok->isEnabled();
            host->setText(QStringLiteral("127.0.0.1"));
            edPort->setText(QStringLiteral("0x%1").arg(port, 0, 16));
            okStates[3] = ok->isEnabled();
            ok->click();
        });
        QCOMPARE(dev.Open(QStringLiteral("COM1")), E_SUCCESS);
        QVERIFY(okStates[0]);
        QVERIFY(!okStates[1]);
        QVERIFY(!okStates[2]);
        QVERIFY(okStates[3]);
        QVERIFY(!okStates[4]);
        QVERIFY(ev.log.isEmpty()); // OnConnect never inside Open
        const QByteArray cfg = dir.ReadFile(QStringLiteral("tcp.cfg"));
        QVERIFY2(cfg.contains("host=127.0.0.1"), cfg.constData());
        QVERIFY2(cfg.contains("port=" + QByteArray::number(port)), cfg.constData());
        QTRY_COMPARE_WITH_TIMEOUT(ev.log, QStringList{QStringLiteral("connect")}, 10000);
        QVERIFY(dev.IsOpen());
        QVERIFY(!dev.ConnectTimer()->isActive());

        // A second transport reads the stored values into its dialog.
        TTCPDevice again(nullptr);
        TDialogPrompts againPrompts;
        again.SetPrompts(&againPrompts);
        QString shownHost;
        int shownPort = 0;
        WhenModal<THostNameDlg>([&](THostNameDlg* dlg) {
            shownHost = dlg->Host();
            shownPort = dlg->Port();
            dlg->reject();
        });
        QCOMPARE(again.Open(QStringLiteral("TCP")), E_CMD_ABORTED);
        QCOMPARE(shownHost, QStringLiteral("127.0.0.1"));
        QCOMPARE(shownPort, int(port));
    }

    void bytesBothWays() {
        Connected c;
        QVERIFY(c.Setup());
        QByteArray got;
        QList<int> counts;
        c.dev.OnDataAvailable = [&](TDevice* d, std::int32_t count) {
            counts << count;
            QCOMPARE(d->BytesAvailable(), count);
            std::uint8_t buf[4096];
            const int n = d->Read(buf, std::min<std::int32_t>(count, 4096));
            QVERIFY(n > 0);
            got.append(reinterpret_cast<const char*>(buf), n);
        };
        const auto frame = HexBytes("AA AA AA 22 00 00 0E 76");
        QCOMPARE(c.dev.Write(frame.data(), std::int32_t(frame.size())), E_SUCCESS);
        QTRY_COMPARE_WITH_TIMEOUT(c.peer->bytesAvailable(), qint64(frame.size()), 10000);
        QCOMPARE(HexString(c.peer->readAll()), HexString(frame));

        // More than one read's worth: what the reader leaves behind is announced again.
        QByteArray big(10000, '\0');
        for (int i = 0; i < big.size(); ++i)
            big[i] = char(i * 7);
        c.peer->write(big);
        QTRY_COMPARE_WITH_TIMEOUT(got.size(), big.size(), 10000);
        QCOMPARE(got, big);
        QVERIFY(!counts.isEmpty());
        QVERIFY(c.ev.log == QStringList{QStringLiteral("connect")});
        std::uint8_t b;
        QCOMPARE(c.dev.Read(&b, 1), -1); // nothing waiting
    }

    void closeAndPeerClose() {
        Connected c;
        QVERIFY(c.Setup());
        QSignalSpy peerGone(c.peer, &QTcpSocket::disconnected);
        QCOMPARE(c.dev.Close(), E_SUCCESS);
        QCOMPARE(c.ev.log.last(), QStringLiteral("disconnect"));
        QVERIFY(!c.dev.IsOpen());
        QCOMPARE(c.dev.BytesAvailable(), 0);
        std::uint8_t b = 0;
        QCOMPARE(c.dev.Read(&b, 1), -1);
        QVERIFY(peerGone.wait(10000));
        // Closing a closed transport raises nothing.
        c.ev.log.clear();
        QCOMPARE(c.dev.Close(), E_SUCCESS);
        QVERIFY(c.ev.log.isEmpty());

        // The peer closing an established connection is reported as a disconnect, not an error.
        QVERIFY(c.dev.OpenHost(QStringLiteral("127.0.0.1"), c.server.serverPort()) == E_SUCCESS);
        QVERIFY(c.server.waitForNewConnection(10000));
        QTcpSocket* peer2 = c.server.nextPendingConnection();
        QTRY_COMPARE_WITH_TIMEOUT(c.ev.log, QStringList{QStringLiteral("connect")}, 10000);
        peer2->close();
        QTRY_COMPARE_WITH_TIMEOUT(
            c.ev.log, (QStringList{QStringLiteral("connect"), QStringLiteral("disconnect")}),
            10000);
        QVERIFY(!c.dev.IsOpen());
        QCOMPARE(c.dev.LastErrorText(), QStringLiteral("the gripper's end closed the connection"));
        QCOMPARE(c.dev.Close(), E_SUCCESS);
        QCOMPARE(c.ev.log.size(), 2);
        // A frame to a closed transport goes nowhere and says so.
        QVERIFY(c.dev.Write(reinterpret_cast<const std::uint8_t*>("x"), 1) != E_SUCCESS);
    }

    // A refused port is neither kept as the transport's settings nor offered next time.
    void refusedPortIsNotOffered_data() {
        QTest::addColumn<int>("port");
        QTest::newRow("0") << 0;
        QTest::newRow("70000") << 70000;
    }

    void refusedPortIsNotOffered() {
        QFETCH(int, port);
        TempSettingsDir dir;
        QTcpServer server;
        QVERIFY(server.listen(QHostAddress::LocalHost));
        struct Offered : TGivenPrompts {
            Offered() : TGivenPrompts({}, 0) {}
            std::optional<TTcpSettings> Seen;
            bool Edit(TDeviceSettings& s, const QString&) override {
                Seen = std::get<TTcpSettings>(s);
                return false;
            }
        } prompts;
        TTCPDevice dev(nullptr);
        dev.SetPrompts(&prompts);
        const TTcpSettings accepted{QStringLiteral("127.0.0.1"), server.serverPort()};
        QCOMPARE(dev.OpenHost(accepted.Host, accepted.Port), E_SUCCESS);
        QCOMPARE(dev.OpenHost(QStringLiteral("10.9.9.9"), port), E_IO_ERROR);
        QVERIFY(dev.HostSettings() == accepted);
        QCOMPARE(dev.Open(QStringLiteral("TCP")), E_CMD_ABORTED);
        QVERIFY(prompts.Seen);
        QCOMPARE(prompts.Seen->Host, accepted.Host);
        QCOMPARE(prompts.Seen->Port, accepted.Port);
    }

    void failedAttemptsReportLater() {
        TempSettingsDir dir;
        TTCPDevice dev(nullptr);
        Events ev(dev);
        const quint16 port = UnusedPort();
        QCOMPARE(dev.OpenHost(QStringLiteral("127.0.0.1"), port), E_SUCCESS);
        QVERIFY(ev.log.isEmpty());
        QTRY_COMPARE_WITH_TIMEOUT(ev.log, QStringList{QStringLiteral("error 18")}, 10000);
        // The settings were written because the attempt was started.
        QVERIFY(
            dir.ReadFile(QStringLiteral("tcp.cfg")).contains("port=" + QByteArray::number(port)));
        // The timer keeps ticking without ever raising OnConnect.
        QSignalSpy ticks(dev.ConnectTimer(), &QTimer::timeout);
        QTRY_VERIFY_WITH_TIMEOUT(ticks.size() >= 2, 10000);
        QCOMPARE(ev.log, QStringList{QStringLiteral("error 18")});
        QVERIFY(!dev.IsOpen());

        ev.log.clear();
        QCOMPARE(dev.OpenHost(QStringLiteral("nosuchhost.invalid"), 1000), E_SUCCESS);
        QTRY_COMPARE_WITH_TIMEOUT(ev.log, QStringList{QStringLiteral("error 24")}, 20000);

        // A later attempt that connects stops the timer with one OnConnect.
        QTcpServer server;
        QVERIFY(server.listen(QHostAddress::LocalHost));
        ev.log.clear();
        QCOMPARE(dev.OpenHost(QStringLiteral("127.0.0.1"), server.serverPort()), E_SUCCESS);
        QTRY_COMPARE_WITH_TIMEOUT(ev.log, QStringList{QStringLiteral("connect")}, 10000);
        QTRY_VERIFY_WITH_TIMEOUT(!dev.ConnectTimer()->isActive(), 10000);
    }

    // Each way an attempt fails leaves its cause in plain words; the next open forgets it.
    void failuresSayWhy_data() {
        QTest::addColumn<QString>("host");
        QTest::addColumn<int>("port"); // 0: nobody listens; -1: a listener that never answers
        QTest::addColumn<QString>("cause");
        QTest::newRow("refused") << QStringLiteral("127.0.0.1") << 0
                                 << QStringLiteral("connection refused (nothing listens on that "
                                                   "port)");
        QTest::newRow("unknown host")
            << QStringLiteral("nosuchhost.invalid") << 1000 << QStringLiteral("no such host");
        QTest::newRow("no answer")
            << QStringLiteral("127.0.0.1") << -1 << QStringLiteral("no answer within 0.3 s");
        QTest::newRow("port out of range") << QStringLiteral("127.0.0.1") << 70000
                                           << QStringLiteral("port 70000 is outside 1 to 65535");
    }
    void failuresSayWhy() {
        QFETCH(QString, host);
        QFETCH(int, port);
        QFETCH(QString, cause);
        TempSettingsDir dir;
        SilentListener listener;
        if (port == 0)
            port = UnusedPort();
        else if (port < 0) {
            QVERIFY(listener.Setup());
            port = listener.Port();
        }
        TTCPDevice dev(nullptr);
        Events ev(dev);
        dev.AttemptTimeoutMs = 300;
        if (dev.OpenHost(host, port) == E_SUCCESS)
            QTRY_VERIFY_WITH_TIMEOUT(!ev.log.isEmpty(), 20000);
        QCOMPARE(dev.LastErrorText(), cause);
        QTcpServer server;
        QVERIFY(server.listen(QHostAddress::LocalHost));
        QCOMPARE(dev.OpenHost(QStringLiteral("127.0.0.1"), server.serverPort()), E_SUCCESS);
        QCOMPARE(dev.LastErrorText(), QString());
    }

    // An attempt that gets no answer ends by itself; one that is closed ends quietly.
    void pendingAttemptsEnd() {
        TempSettingsDir dir;
        SilentListener listener;
        QVERIFY(listener.Setup());
        TTCPDevice dev(nullptr);
        Events ev(dev);
        dev.AttemptTimeoutMs = 300;
        QCOMPARE(dev.OpenHost(QStringLiteral("127.0.0.1"), listener.Port()), E_SUCCESS);
        QVERIFY(dev.IsConnecting());
        QTRY_COMPARE_WITH_TIMEOUT(ev.log, QStringList{QStringLiteral("error 18")}, 10000);
        QVERIFY(!dev.IsConnecting());
        QCOMPARE(dev.ClientSocket()->state(), QAbstractSocket::UnconnectedState);

        ev.log.clear();
        dev.AttemptTimeoutMs = 60000;
        QCOMPARE(dev.OpenHost(QStringLiteral("127.0.0.1"), listener.Port()), E_SUCCESS);
        QVERIFY(dev.ConnectTimer()->isActive());
        QCOMPARE(dev.Close(), E_SUCCESS);
        QCOMPARE(dev.ClientSocket()->state(), QAbstractSocket::UnconnectedState);
        QVERIFY(!dev.ConnectTimer()->isActive());
        QVERIFY(ev.log.isEmpty());
    }

    // A settings file that cannot be written is reported once, by name, and not again at every
    // value or every open; the attempt goes ahead all the same.
    void unwritableSettingsAreReportedOnce() {
        TempSettingsDir dir;
        const QString missing = dir.FilePath(QStringLiteral("missing"));
        SetSettingsDirectory(missing);
        struct Recorder : TGivenPrompts {
            Recorder() : TGivenPrompts({}, 0) {}
            QStringList errors;
            void ShowError(const QString& text) override { errors << text; }
        } prompts;
        TTCPDevice dev(nullptr);
        dev.SetPrompts(&prompts);
        QTcpServer server;
        QVERIFY(server.listen(QHostAddress::LocalHost));
        QCOMPARE(dev.OpenHost(QStringLiteral("127.0.0.1"), server.serverPort()), E_SUCCESS);
        QCOMPARE(dev.OpenHost(QStringLiteral("127.0.0.1"), server.serverPort()), E_SUCCESS);
        QCOMPARE(prompts.errors, QStringList{QStringLiteral("Cannot write the settings file %1.")
                                                 .arg(missing + QStringLiteral("/tcp.cfg"))});
        QVERIFY(QDir().mkpath(missing));
        QCOMPARE(dev.OpenHost(QStringLiteral("127.0.0.1"), server.serverPort()), E_SUCCESS);
        QVERIFY(QFile::exists(missing + QStringLiteral("/tcp.cfg")));
        QCOMPARE(prompts.errors.size(), 1);
    }
};

QTEST_MAIN(TestTcpDevice)
#include "tst_tcpdevice.moc"
