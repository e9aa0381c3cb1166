// SPDX-License-Identifier: Apache-2.0
#include "FreePorts.h"
#include "WidgetSupport.h"
#include "devices/udp/UDPDevice.h"
#include "dialogs/DialogPrompts.h"
#include "dialogs/UDPSettingsDialog.h"
#include "widgets/IntegerEdit.h"

#include <QApplication>
#include <QLineEdit>
#include <QNetworkDatagram>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QUdpSocket>

#include <functional>

namespace {
// The gripper's side: receives what the transport sends and answers to its listening port.
struct Peer {
    QUdpSocket sock;
    Peer() { sock.bind(QHostAddress::LocalHost, 0); }
    quint16 Port() const { return sock.localPort(); }
    QByteArray Next() {
        if (!sock.hasPendingDatagrams() &&
            !QTest::qWaitFor([&] { return sock.hasPendingDatagrams(); }, 10000))
            return QByteArray("<nothing>");
        return sock.receiveDatagram().data();
    }
};

// Everything the transport delivered, in order.
struct Reader {
    explicit Reader(TDevice& d) {
        d.OnDataAvailable = [this](TDevice* dev, std::int32_t count) {
            counts << count;
            std::uint8_t buf[4096];
            const int n = dev->Read(buf, 4096);
            if (n > 0)
                bytes.append(reinterpret_cast<const char*>(buf), n);
        };
    }
    QList<int> counts;
    QByteArray bytes;
};
} // namespace

class TestUdpDevice : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void openThroughDialogAndExchangeDatagrams() {
        TempSettingsDir dir;
        TUDPDevice dev(nullptr);
        TDialogPrompts prompts;
        dev.SetPrompts(&prompts);
        QCOMPARE(dev.objectName(), QStringLiteral("udp"));
        QStringList ports;
        dev.GetPortList(ports);
        QCOMPARE(ports, QStringList{QStringLiteral("UDP")});
        QStringList events;
        dev.OnConnect = [&](TDevice*) { events << QStringLiteral("connect"); };
        dev.OnDisconnect = [&](TDevice*) { events << QStringLiteral("disconnect"); };
        dev.OnError = [&](TDevice*, TStat) { events << QStringLiteral("error"); };
        Reader r(dev);

        WhenModal(
            [](QWidget* w) { w->findChild<QPushButton*>(QStringLiteral("btnCancel"))->click(); });
        QCOMPARE(dev.Open(QString()), E_CMD_ABORTED);
        QVERIFY(!dev.IsOpen());
        QVERIFY(!QFile::exists(dir.FilePath(QStringLiteral("udp.cfg"))));

        Peer peer;
        const quint16 listen = FreeUdpPort();
        QString shown;
        bool okWithBadPort = true;
        WhenModal([&](QWidget* w) {
            QCOMPARE(w->windowTitle(), QStringLiteral("UDP Connection"));
            auto* host = w->findChild<QLineEdit*>(QStringLiteral("edHostname"));
            auto* tx = w->findChild<TIntegerEdit*>(QStringLiteral("edTransmitPort"));
            auto* rx = w->findChild<TIntegerEdit*>(QStringLiteral("edListeningPort"));
            auto* ok = w->findChild<QPushButton*>(QStringLiteral("btnOk"));
            shown = host->text() + QLatin1Char('|') + tx->text() + QLatin1Char('|') + rx->text();
            rx->setText(QStringLiteral("0"));
            okWithBadPort = ok->isEnabled();
            host->setText(QStringLiteral("127.0.0.1"));
            tx->setText(QString::number(peer.Port()));
            rx->setText(QString::number(listen));
            ok->click();
        });
        QCOMPARE(dev.Open(QStringLiteral("UDP")), E_SUCCESS);
        QCOMPARE(shown, QStringLiteral("|1500|1501"));
        QVERIFY(!okWithBadPort);
        QVERIFY(dev.IsOpen());
        QVERIFY(events.isEmpty());
        const QByteArray cfg = dir.ReadFile(QStringLiteral("udp.cfg"));
        QVERIFY(cfg.contains("ipaddr=127.0.0.1"));
        QVERIFY(cfg.contains("listening_port=" + QByteArray::number(listen)));
        QVERIFY(cfg.contains("transmit_port=" + QByteArray::number(peer.Port())));
        // No gripper needed: the first tick connects.
        QTRY_COMPARE_WITH_TIMEOUT(events, QStringList{QStringLiteral("connect")}, 10000);

        const auto frame = HexBytes("AA AA AA 22 00 00 0E 76");
        QCOMPARE(dev.Write(frame.data(), std::int32_t(frame.size())), E_SUCCESS);
        QCOMPARE(HexString(peer.Next()), HexString(frame));

        // A frame cut over two datagrams, and one from another port of the gripper's address,
        // join one stream in order.
        peer.sock.writeDatagram(QByteArray("\xAA\xAA\xAA\x40", 4), QHostAddress::LocalHost, listen);
        QTRY_COMPARE_WITH_TIMEOUT(r.bytes.size(), 4, 10000);
        peer.sock.writeDatagram(QByteArray("\x03\x00", 2), QHostAddress::LocalHost, listen);
        QTRY_COMPARE_WITH_TIMEOUT(r.bytes.size(), 6, 10000);
        QUdpSocket stranger;
        stranger.writeDatagram(QByteArray("xyz"), QHostAddress::LocalHost, listen);
        QTRY_COMPARE_WITH_TIMEOUT(r.bytes, QByteArray("\xAA\xAA\xAA\x40\x03\x00xyz", 9), 10000);
        QCOMPARE(r.counts, (QList<int>{4, 2, 3}));

        // Close and reopen on the same port: datagrams arrive again.
        QCOMPARE(dev.Close(), E_SUCCESS);
        QVERIFY(!dev.IsOpen());
        QCOMPARE(dev.BytesAvailable(), 0);
        std::uint8_t b;
        QCOMPARE(dev.Read(&b, 1), -1);
        QCOMPARE(dev.OpenWith(QStringLiteral("127.0.0.1"), listen, peer.Port()), E_SUCCESS);
        peer.sock.writeDatagram(QByteArray("again"), QHostAddress::LocalHost, listen);
        QTRY_VERIFY_WITH_TIMEOUT(r.bytes.endsWith("again"), 10000);
        QVERIFY(!events.contains(QStringLiteral("error")));
    }

    // Datagrams from any other address are counted and dropped; a host name is known only once
    // the first send has resolved it.
    void strangersAreDropped() {
        TempSettingsDir dir;
        TUDPDevice dev(nullptr);
        Reader r(dev);
        Peer peer;
        QUdpSocket stranger;
        QVERIFY(stranger.bind(QHostAddress(QStringLiteral("127.0.0.2")), 0));
        const quint16 listen = FreeUdpPort();
        QCOMPARE(dev.OpenWith(QStringLiteral("127.0.0.1"), listen, peer.Port()), E_SUCCESS);
        stranger.writeDatagram(QByteArray("AAAA"), QHostAddress::LocalHost, listen);
        QUdpSocket otherPort;
        otherPort.writeDatagram(QByteArray("ok"), QHostAddress::LocalHost, listen);
        QTRY_COMPARE_WITH_TIMEOUT(r.bytes, QByteArray("ok"), 10000);
        QCOMPARE(dev.StrangerDatagrams(), 1);
        QCOMPARE(r.counts, QList<int>{2});

        QCOMPARE(dev.OpenWith(QStringLiteral("localhost"), listen, peer.Port()), E_SUCCESS);
        QCOMPARE(dev.StrangerDatagrams(), 0);
        peer.sock.writeDatagram(QByteArray("early"), QHostAddress::LocalHost, listen);
        QTRY_COMPARE_WITH_TIMEOUT(dev.StrangerDatagrams(), 1, 10000);
        const auto frame = HexBytes("AA AA AA 22 00 00 0E 76");
        QCOMPARE(dev.Write(frame.data(), std::int32_t(frame.size())), E_SUCCESS);
        peer.sock.writeDatagram(QByteArray("late"), QHostAddress::LocalHost, listen);
        QTRY_COMPARE_WITH_TIMEOUT(r.bytes, QByteArray("oklate"), 10000);
        QCOMPARE(dev.StrangerDatagrams(), 1);
    }

    // The listening port is taken only on the address that reaches the gripper: the same port
    // on another local address stays free.
    void listensOnlyWhereTheGripperIs() {
        TempSettingsDir dir;
        TUDPDevice dev(nullptr);
        Peer peer;
        const quint16 listen = FreeUdpPort();
        for (const char* host : {"127.0.0.1", "localhost", ""}) {
            QCOMPARE(dev.OpenWith(QLatin1String(host), listen, peer.Port()), E_SUCCESS);
            QUdpSocket beside;
            QVERIFY2(beside.bind(QHostAddress(QStringLiteral("127.0.0.2")), listen,
                                 QUdpSocket::DontShareAddress),
                     host);
            QUdpSocket anywhere;
            QVERIFY(!anywhere.bind(QHostAddress::LocalHost, listen, QUdpSocket::DontShareAddress));
            dev.Close();
        }
    }

    void writeLimitsAndUnusableAddresses() {
        TempSettingsDir dir;
        TUDPDevice dev(nullptr);
        Peer peer;
        const quint16 listen = FreeUdpPort();
        QCOMPARE(dev.OpenWith(QStringLiteral("127.0.0.1"), listen, peer.Port()), E_SUCCESS);
        std::vector<std::uint8_t> big(4097, 0x5A);
        QCOMPARE(dev.Write(big.data(), 4097), E_RANGE_ERROR);
        QCOMPARE(dev.Write(big.data(), 4096), E_SUCCESS);
        QCOMPARE(peer.Next().size(), 4096);
        QCOMPARE(dev.Write(big.data(), 0), E_WRITE_ERROR); // an empty datagram is refused
        QCOMPARE(dev.Write(nullptr, 5), E_WRITE_ERROR);    // and so is one without a source

        // A name is looked up at every send.
        QCOMPARE(dev.OpenWith(QStringLiteral("localhost"), listen, peer.Port()), E_SUCCESS);
        QCOMPARE(dev.Write(big.data(), 3), E_SUCCESS);
        QCOMPARE(peer.Next().size(), 3);

        const QString unusable[] = {QStringLiteral("0.0.0.0"), QString(),
                                    QStringLiteral("nosuchhost.invalid"), QString(200, u'a')};
        for (const QString& host : unusable) {
            QCOMPARE(dev.OpenWith(host, listen, peer.Port()), E_SUCCESS);
            QCOMPARE(dev.Write(big.data(), 8), E_WRITE_ERROR);
            QCOMPARE(dev.Write(big.data(), 8), E_WRITE_ERROR);
        }
    }

    void portThatCannotBeBoundFailsOpen() {
        TempSettingsDir dir;
        QUdpSocket holder;
        QVERIFY(holder.bind(QHostAddress::AnyIPv4, 0));
        TUDPDevice dev(nullptr);
        bool connected = false;
        dev.OnConnect = [&](TDevice*) { connected = true; };
        QCOMPARE(dev.OpenWith(QStringLiteral("127.0.0.1"), holder.localPort(), 1500), E_IO_ERROR);
        QCOMPARE(dev.LastErrorText(),
                 QStringLiteral("listening port %1 is in use by another program")
                     .arg(holder.localPort()));
        QVERIFY(!dev.IsOpen());
        QVERIFY(!dev.ConnectTimer()->isActive());
        QVERIFY(!QFile::exists(dir.FilePath(QStringLiteral("udp.cfg"))));
        QVERIFY(!connected);
    }

    void oversizedDatagramIsDroppedWhole() {
        TempSettingsDir dir;
        TUDPDevice dev(nullptr);
        Reader r(dev);
        const quint16 listen = FreeUdpPort();
        QCOMPARE(dev.OpenWith(QStringLiteral("127.0.0.1"), listen, 1500), E_SUCCESS);
        QUdpSocket peer;
        peer.writeDatagram(QByteArray(2049, 'x'), QHostAddress::LocalHost, listen);
        peer.writeDatagram(QByteArray(2048, 'y'), QHostAddress::LocalHost, listen);
        QTRY_COMPARE_WITH_TIMEOUT(r.bytes.size(), 2048, 10000);
        QCOMPARE(r.bytes, QByteArray(2048, 'y'));
        QCOMPARE(r.counts, QList<int>{2048});
    }

    void closeInsideNotificationsIsSafe() {
        TempSettingsDir dir;
        TUDPDevice dev(nullptr);
        QStringList events;
        dev.OnDisconnect = [&](TDevice*) { events << QStringLiteral("disconnect"); };
        dev.OnConnect = [&](TDevice*) { events << QStringLiteral("connect"); };
        // Closing a transport that is not open still reports the close.
        QCOMPARE(dev.Close(), E_SUCCESS);
        QCOMPARE(events, QStringList{QStringLiteral("disconnect")});
        events.clear();

        const quint16 listen = FreeUdpPort();
        QCOMPARE(dev.OpenWith(QStringLiteral("127.0.0.1"), listen, 1500), E_SUCCESS);
        dev.OnDataAvailable = [&](TDevice* d, std::int32_t) { d->Close(); };
        QUdpSocket peer;
        peer.writeDatagram(QByteArray("abc"), QHostAddress::LocalHost, listen);
        QTRY_COMPARE_WITH_TIMEOUT(events, QStringList{QStringLiteral("disconnect")}, 10000);
        QVERIFY(!dev.IsOpen());
        // Closed before the first tick: no OnConnect follows.
        QVERIFY(!dev.ConnectTimer()->isActive());

        // Closed while a host name is being looked up inside Write.
        dev.OnDataAvailable = nullptr;
        QCOMPARE(dev.OpenWith(QStringLiteral("localhost"), listen, 1500), E_SUCCESS);
        bool ranDuringWrite = false;
        QTimer::singleShot(0, &dev, [&] {
            ranDuringWrite = true;
            dev.Close();
        });
        const std::uint8_t byte = 1;
        // Events are processed while the name is looked up; the queued call comes first.
        QCOMPARE(dev.Write(&byte, 1), E_WRITE_ERROR);
        QVERIFY(ranDuringWrite);
        QVERIFY(!dev.IsOpen());
    }

    void settingsAreReadAtConstruction() {
        TempSettingsDir dir;
        dir.WriteFile(QStringLiteral("udp.cfg"),
                      "[Common]\nIPADDR=10.1.2.3\nlistening_port=0x10\ntransmit_port=junk\n");
        TUDPDevice dev(nullptr);
        TDialogPrompts prompts;
        dev.SetPrompts(&prompts);
        QString host;
        int listening = 0, transmit = 0;
        bool okEnabled = true;
        QString error;
        WhenModal<TUDPSettingsDlg>([&](TUDPSettingsDlg* dlg) {
            host = dlg->Host();
            listening = dlg->ListeningPort();
            transmit = dlg->TransmitPort();
            dlg->edTransmitPort->setText(QStringLiteral("70000"));
            okEnabled = dlg->btnOk->isEnabled();
            try {
                dlg->TransmitPort();
            } catch (const EKaroError& e) {
                error = e.Message();
            }
            dlg->reject();
        });
        QCOMPARE(dev.Open(QStringLiteral("UDP")), E_CMD_ABORTED);
        QCOMPARE(host, QStringLiteral("10.1.2.3"));
        QCOMPARE(listening, 16);
        QCOMPARE(transmit, 1500);
        QVERIFY(!okEnabled);
        QCOMPARE(error, QStringLiteral("Transmit Port value is invalid"));
    }

    void socketComponentReports() {
        TNMUDP udp(nullptr);
        QStringList reports;
        udp.ReportLevel = 16;
        udp.OnStatus = [&](QObject*, const QString& s) { reports << s; };
        QUdpSocket holder;
        QVERIFY(holder.bind(QHostAddress::AnyIPv4, 0));
        try {
            udp.SetLocalPort(holder.localPort());
            QFAIL("bound a busy port");
        } catch (const UDPSockError& e) {
            QCOMPARE(e.Message(), QStringLiteral("Unbekannte Fehlernummer %1").arg(EADDRINUSE));
        }
        QCOMPARE(reports.first(), QStringLiteral("Überprüfung eines Fehlers im Fehler-Manager"));
        QCOMPARE(
            reports.last(),
            QStringLiteral("Fehlermeldung wird gelesenUnbekannte Fehlernummer %1").arg(EADDRINUSE));

        udp.SetLocalPort(0);
        reports.clear();
        udp.RemoteHost = QStringLiteral("0.0.0.0");
        const std::uint8_t b = 0;
        try {
            udp.SendBuffer(&b, 1);
            QFAIL("sent to 0.0.0.0");
        } catch (const UDPSockError& e) {
            QCOMPARE(e.Message(), QStringLiteral("Null Externe Adresse"));
        }
        udp.ReportLevel = 2;
        udp.RemoteHost = QStringLiteral("127.0.0.1");
        udp.RemotePort = holder.localPort();
        udp.SendBuffer(&b, 1);
        QCOMPARE(reports, QStringList{QStringLiteral("Daten werden gesendet")});
        QCOMPARE(udp.LastStatus(), QStringLiteral("Daten werden gesendet"));

        // An empty buffer, with and without a handler that fails to supply one.
        int asked = 0;
        try {
            udp.SendBuffer(&b, 0);
            QFAIL("sent nothing");
        } catch (const EKaroError& e) {
            QCOMPARE(e.Message(), QStringLiteral("Ungültiger Puffer"));
        }
        udp.OnBufferInvalid = [&](bool& handled, const std::uint8_t*, int&) {
            ++asked;
            handled = true;
        };
        QVERIFY_THROWS_EXCEPTION(EKaroError, udp.SendBuffer(&b, 0));
        QCOMPARE(asked, 1);

        // A failed look-up is retried once when the handler asks for it.
        int invalid = 0;
        udp.OnInvalidHost = [&](bool& handled) {
            ++invalid;
            handled = true;
        };
        udp.RemoteHost = QStringLiteral("nosuchhost.invalid");
        try {
            udp.SendBuffer(&b, 1);
            QFAIL("resolved");
        } catch (const UDPSockError& e) {
            QCOMPARE(e.Message(), QStringLiteral("Host-Lookup abgebrochen"));
        }
        QCOMPARE(invalid, 1);
    }
};

QTEST_MAIN(TestUdpDevice)
#include "tst_udpdevice.moc"
