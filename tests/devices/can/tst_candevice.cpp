// SPDX-License-Identifier: Apache-2.0
#include "FreePorts.h"
#include "SimProcess.h"
#include "TestSupport.h"
#include "devices/can/CANDevice.h"
#include "devices/can/HandOver.h"
#include "devices/can/platform/CanNets.h"

#include <QCanBus>
#include <QCanBusDevice>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QPointer>
#include <QTcpServer>
#include <QTest>
#include <QThread>

#include <atomic>
#include <memory>
#include <thread>

namespace {
constexpr int Patience = 10000;

QString Bus(quint16 port, int channel = 0) {
    return QStringLiteral("virtualcan:tcp://127.0.0.1:%1/can%2").arg(port).arg(channel);
}

// Prompts that answer with given values and count how often the transport asked.
struct CountingPrompts : TGivenPrompts {
    using TGivenPrompts::TGivenPrompts;
    int Asked = 0;
    bool Edit(TDeviceSettings& s, const QString& port) override {
        ++Asked;
        return TGivenPrompts::Edit(s, port);
    }
};

TConnectTarget Target(int bitrateCode = 4, int targetId = 100) {
    TConnectTarget t;
    t.Device = QStringLiteral("can");
    t.Can = {bitrateCode, targetId};
    return t;
}

// The gripper's side of the bus: a device of Qt Serial Bus itself, on the test's thread.
struct Peer {
    std::unique_ptr<QCanBusDevice> Dev;
    explicit Peer(const QString& bus) {
        QString plugin, iface;
        CanNets::SplitBus(bus, plugin, iface);
        Dev.reset(QCanBus::instance()->createDevice(plugin, iface));
        Dev->connectDevice();
    }
    bool Up() {
        return QTest::qWaitFor([&] { return Dev->state() == QCanBusDevice::ConnectedState; },
                               Patience);
    }
    void Send(quint32 id, const QByteArray& data) { Dev->writeFrame(QCanBusFrame(id, data)); }
    // The bus's server learns of a new client a little after the client is up, and frames
    // meanwhile pass it by. Once an empty frame on `id` reached the transport (`reader`), both
    // are known to the server.
    bool SyncWith(quint32 id, QList<int>& notifications) {
        if (!Up())
            return false;
        for (int attempt = 0; attempt < 100; ++attempt) {
            const auto before = notifications.size();
            Send(id, {});
            if (QTest::qWaitFor([&] { return notifications.size() > before; }, 100)) {
                notifications.clear();
                return true;
            }
        }
        return false;
    }
    // The next `n` frames that reach the peer.
    QList<QCanBusFrame> Take(int n) {
        QList<QCanBusFrame> got;
        (void)QTest::qWaitFor(
            [&] {
                while (Dev->framesAvailable() > 0)
                    got << Dev->readFrame();
                return got.size() >= n;
            },
            Patience);
        return got;
    }
};

// Everything the transport announced and, unless told not to, read.
struct Reader {
    QList<int> Counts;
    QByteArray Bytes;
    bool Reading = true;
    explicit Reader(TDevice& d) {
        d.OnDataAvailable = [this](TDevice* dev, std::int32_t count) {
            Counts << count;
            if (!Reading)
                return;
            std::uint8_t buf[4096];
            const int n = dev->Read(buf, count);
            if (n > 0)
                Bytes.append(reinterpret_cast<const char*>(buf), n);
        };
    }
};
} // namespace

class TestCanDevice : public QObject {
    Q_OBJECT
    quint16 FPort = 0;
    std::unique_ptr<TempSettingsDir> FDir;

    void WriteNets(const QByteArray& lines) {
        FDir->WriteFile(QStringLiteral("can.cfg"), "[nets]\n" + lines);
    }

private Q_SLOTS:
    void initTestCase() {
        // One bus of this test's own; its server lives in this process from the first open.
        FPort = FreeTcpPort();
        FDir = std::make_unique<TempSettingsDir>();
    }

    void init() {
        WriteNets(QStringLiteral("19=%1\n20=%2\n").arg(Bus(FPort, 0), Bus(FPort, 1)).toLatin1());
    }

    void framesAndIdentifiers() {
        TCANDevice dev(nullptr);
        CountingPrompts prompts(Target(4, 100));
        dev.SetPrompts(&prompts);
        Reader reader(dev);
        int connects = 0;
        dev.OnConnect = [&](TDevice*) { ++connects; };
        QCOMPARE(dev.Open(QStringLiteral("Net 19")), E_SUCCESS);
        QCOMPARE(prompts.Asked, 1);
        QCOMPARE(connects, 0); // never inside Open
        QTRY_COMPARE_WITH_TIMEOUT(connects, 1, Patience);
        Peer peer(Bus(FPort));
        QVERIFY(peer.SyncWith(101, reader.Counts));

        // 14 bytes: 8 + 6; 8 bytes: exactly one frame; all on the target identifier.
        const QByteArray fourteen = QByteArrayLiteral("ABCDEFGHIJKLMN");
        QCOMPARE(dev.Write(reinterpret_cast<const std::uint8_t*>(fourteen.constData()), 14),
                 E_SUCCESS);
        QCOMPARE(dev.Write(reinterpret_cast<const std::uint8_t*>("12345678"), 8), E_SUCCESS);
        const QList<QCanBusFrame> frames = peer.Take(3);
        QCOMPARE(frames.size(), 3);
        QCOMPARE(frames[0].payload(), QByteArrayLiteral("ABCDEFGH"));
        QCOMPARE(frames[1].payload(), QByteArrayLiteral("IJKLMN"));
        QCOMPARE(frames[2].payload(), QByteArrayLiteral("12345678"));
        for (const QCanBusFrame& f : frames)
            QCOMPARE(f.frameId(), 100u);

        // Only the target identifier + 1 comes back; the order of the bytes is kept.
        peer.Send(102, "xx");
        peer.Send(100, "yy");
        peer.Send(101, "hello ");
        peer.Send(0x65, "world");
        QTRY_COMPARE_WITH_TIMEOUT(reader.Bytes, QByteArrayLiteral("hello world"), Patience);
        // What the queue held once the first frame was in: whole frames only, and under load
        // the second may have come in the same read.
        const int first = reader.Counts.value(0);
        QVERIFY2(first == 6 || first == 11, qPrintable(QString::number(first)));

        // Closing raises OnDisconnect once; a second Close finds nothing open.
        int disconnects = 0;
        dev.OnDisconnect = [&](TDevice*) { ++disconnects; };
        QCOMPARE(dev.Close(), E_SUCCESS);
        QCOMPARE(disconnects, 1);
        QVERIFY(!dev.IsOpen());
        QCOMPARE(dev.Read(nullptr, 0), -1);
        QCOMPARE(dev.Close(), E_NOT_OPENED);
        QCOMPARE(disconnects, 1);
    }

    void abortEndsAWaitingReadAtOnce() {
        // A receive time-out of a minute: only the abort can end this read early.
        TCanHandle h = -1;
        QCOMPARE(canOpen(19, 0, 64, 64, 1000, 60000, &h), CAN_SUCCESS);
        QCOMPARE(canIdAdd(h, 101), CAN_SUCCESS);
        std::atomic<std::int32_t> result{-1};
        std::atomic<bool> entered{false};
        std::thread reader([&] {
            TCanMsg msg;
            std::int32_t n = 1;
            entered = true;
            result = canRead(h, &msg, &n, nullptr);
        });
        QTRY_VERIFY(entered);
        QCOMPARE(canIoctl(h, CAN_IOCTL_ABORT_RX, nullptr), CAN_SUCCESS);
        reader.join();
        QCOMPARE(result.load(), CAN_ABORTED);
        QCOMPARE(canClose(h), CAN_SUCCESS);
        QCOMPARE(canClose(h), CAN_INVALID_HANDLE);
    }

    void closingFromItsOwnDataNotification() {
        // The receive thread waits for the notification it handed over while that very
        // notification closes the transport, which waits for the thread.
        TCANDevice dev(nullptr);
        CountingPrompts prompts(Target());
        dev.SetPrompts(&prompts);
        QList<int> counts;
        dev.OnDataAvailable = [&](TDevice* d, std::int32_t n) {
            counts << n;
            if (n > 0)
                d->Close();
        };
        int disconnects = 0;
        dev.OnDisconnect = [&](TDevice*) { ++disconnects; };
        QCOMPARE(dev.Open(QStringLiteral("Net 19")), E_SUCCESS);
        Peer peer(Bus(FPort));
        QVERIFY(peer.SyncWith(101, counts));
        QPointer<TCANRxThread> thread = dev.RxThread();
        peer.Send(101, "bye");
        QTRY_COMPARE_WITH_TIMEOUT(disconnects, 1, Patience);
        QVERIFY(!dev.IsOpen());
        QTRY_VERIFY_WITH_TIMEOUT(thread.isNull(), Patience);
    }

    void handlerWaitingForAReplyInsideItsNotification() {
        // A handler that asks the gripper something and waits for the answer in the event
        // loop, as the window does inside a state update: the answer must get through.
        TCANDevice dev(nullptr);
        CountingPrompts prompts(Target());
        dev.SetPrompts(&prompts);
        QList<int> counts;
        QByteArray got;
        bool answered = false;
        dev.OnDataAvailable = [&](TDevice* d, std::int32_t n) {
            counts << n;
            std::uint8_t buf[512];
            const int r = d->Read(buf, n);
            if (r <= 0)
                return;
            got.append(reinterpret_cast<const char*>(buf), r);
            if (got == "ask") {
                d->Write(reinterpret_cast<const std::uint8_t*>("q"), 1);
                answered = QTest::qWaitFor([&] { return got.endsWith("answer"); }, Patience);
            }
        };
        QCOMPARE(dev.Open(QStringLiteral("Net 19")), E_SUCCESS);
        Peer peer(Bus(FPort));
        QVERIFY(peer.SyncWith(101, counts));
        connect(peer.Dev.get(), &QCanBusDevice::framesReceived, this, [&] {
            while (peer.Dev->framesAvailable() > 0)
                if (peer.Dev->readFrame().payload() == "q")
                    peer.Send(101, "answer");
        });
        peer.Send(101, "ask");
        QTRY_VERIFY_WITH_TIMEOUT(answered, Patience);
        QCOMPARE(got, QByteArrayLiteral("askanswer"));
    }

    // A worker that queues its next hand-over while this thread still runs the last one (a
    // flood) still leaves the event loop its turn between them.
    void aFloodOfHandOversLeavesTheEventLoopItsTurn() {
        constexpr int Tasks = 100;
        int ran = 0;
        int ranWhenLoopRan = -1;
        QObject context; // goes first: a posted call that never ran goes with it
        THandOver handOver;
        std::thread worker([&] {
            for (int i = 0; i < Tasks; ++i)
                handOver.Run([&] {
                    if (ran++ == 0)
                        QMetaObject::invokeMethod(
                            &context, [&] { ranWhenLoopRan = ran; }, Qt::QueuedConnection);
                    QElapsedTimer t;
                    t.start();
                    while (ran < Tasks && handOver.Pending() == 0 && t.elapsed() < 10000)
                        QThread::yieldCurrentThread();
                });
            handOver.WorkerDone();
        });
        (void)QTest::qWaitFor([&] { return ranWhenLoopRan >= 0; }, 20000);
        // The worker ends before any check can return from here.
        handOver.WaitForWorker();
        worker.join();
        QVERIFY2(ranWhenLoopRan >= 0 && ranWhenLoopRan < 10,
                 qPrintable(QString::number(ranWhenLoopRan)));
        QCOMPARE(ran, Tasks);
    }

    void queueOverflowAndClearedAtOpen() {
        TCANDevice dev(nullptr);
        CountingPrompts prompts(Target(0, 0x300));
        dev.SetPrompts(&prompts);
        Reader reader(dev);
        reader.Reading = false; // nobody takes the bytes
        QCOMPARE(dev.Open(QStringLiteral("Net 19")), E_SUCCESS);
        Peer peer(Bus(FPort));
        QVERIFY(peer.SyncWith(0x301, reader.Counts));
        // 512 bytes: as many frames as the library holds, one byte more than the queue.
        QByteArray sent;
        for (int i = 0; i < 64; ++i) {
            const QByteArray chunk(8, char('A' + i % 26));
            sent += chunk;
            peer.Send(0x301, chunk);
        }
        // Frames that wait together come in one notification.
        QTRY_COMPARE_WITH_TIMEOUT(reader.Counts.isEmpty() ? 0 : reader.Counts.last(), 511,
                                  Patience);
        QVERIFY(reader.Counts.size() <= 64);
        QCOMPARE(dev.BytesAvailable(), 511);
        std::uint8_t buf[600];
        QCOMPARE(dev.Read(buf, 600), 511);
        QCOMPARE(QByteArray(reinterpret_cast<const char*>(buf), 511), sent.left(511));

        // Bytes left over from one connection do not come first in the next.
        peer.Send(0x301, "stale");
        QTRY_COMPARE_WITH_TIMEOUT(dev.BytesAvailable(), 5, Patience);
        QCOMPARE(dev.Close(), E_SUCCESS);
        QCOMPARE(dev.Open(QStringLiteral("Net 19")), E_SUCCESS);
        QCOMPARE(dev.BytesAvailable(), 0);
        reader.Reading = true;
        QVERIFY(peer.SyncWith(0x301, reader.Counts));
        peer.Send(0x301, "fresh");
        QTRY_COMPARE_WITH_TIMEOUT(reader.Bytes, QByteArrayLiteral("fresh"), Patience);
    }

    void netListAndRefusals() {
        const quint16 nobody = FreeTcpPort();
        WriteNets(QStringLiteral("0=%1\n2=%2\n5=socketcan:nosuchcan\n7=nosuchplugin:can0\n"
                                 "9=%3\n")
                      .arg(Bus(FPort, 0), Bus(FPort, 1), Bus(nobody))
                      .toLatin1());
        TCANDevice dev(nullptr);
        QStringList ports;
        dev.GetPortList(ports);
        QCOMPARE(ports, (QStringList{QStringLiteral("Net 0"), QStringLiteral("Net 2")}));

        // "Net 2" is the bus's second channel.
        CountingPrompts prompts(Target());
        dev.SetPrompts(&prompts);
        Reader reader(dev);
        QCOMPARE(dev.Open(ports[1]), E_SUCCESS);
        Peer can1(Bus(FPort, 1));
        QVERIFY(can1.SyncWith(101, reader.Counts));
        QCOMPARE(dev.Write(reinterpret_cast<const std::uint8_t*>("ping"), 4), E_SUCCESS);
        QCOMPARE(can1.Take(1).value(0).payload(), QByteArrayLiteral("ping"));
        dev.Close();

        // Refusals of Open, in the order of its steps.
        prompts.Asked = 0;
        // Each says why, and the bus a net stands for.
        QCOMPARE(dev.Open(QStringLiteral("Net 5")), E_IO_ERROR);
        QCOMPARE(dev.LastErrorText(),
                 QStringLiteral("the bus did not open (no such device, or not up)"));
        QCOMPARE(dev.Address(), QStringLiteral("Net 5 (socketcan:nosuchcan), identifier 100"));
        QCOMPARE(dev.Open(QStringLiteral("Net 9")), E_IO_ERROR);
        QCOMPARE(dev.Open(QStringLiteral("Net 4")), E_IO_ERROR);
        QCOMPARE(dev.LastErrorText(), QStringLiteral("no bus is configured for this net"));
        QCOMPARE(dev.Open(QStringLiteral("COM1")), E_NOT_FOUND);
        QCOMPARE(dev.LastErrorText(), QStringLiteral("no CAN net is installed"));
        QCOMPARE(prompts.Asked, 3);
        CountingPrompts badRate(Target(3, 100));
        dev.SetPrompts(&badRate);
        QCOMPARE(dev.Open(QStringLiteral("Net 0")), E_INVALID_PARAMETER);
        QVERIFY2(badRate.LastError().contains(QStringLiteral("3")),
                 qPrintable(badRate.LastError()));
        CountingPrompts badId(Target(4, 0x1FFFFFFF));
        dev.SetPrompts(&badId);
        QCOMPARE(dev.Open(QStringLiteral("Net 0")), E_INSUFFICIENT_RESOURCES);
        QCOMPARE(dev.LastErrorText(), QStringLiteral("receive identifier 536870912 refused"));
        QVERIFY(!dev.IsOpen());
        QCOMPARE(dev.Handle(), -1);
        dev.SetPrompts(nullptr);
        QCOMPARE(dev.Open(QStringLiteral("Net 0")), E_CMD_ABORTED);

        // Nothing usable: the single entry "not installed", which opens nothing and asks nobody.
        WriteNets("3=socketcan:nosuchcan\n");
        dev.GetPortList(ports);
        QCOMPARE(ports, QStringList{QStringLiteral("not installed")});
        dev.SetPrompts(&prompts);
        prompts.Asked = 0;
        QCOMPARE(dev.Open(ports[0]), E_NOT_FOUND);
        QCOMPARE(prompts.Asked, 0);

        // Without a "nets" section the virtual bus's two channels are nets 19 and 20, and any
        // lower net is a SocketCAN interface of this machine.
        FDir->WriteFile(QStringLiteral("can.cfg"), "[common]\n");
        const auto nets = CanNets::NetMap();
        QCOMPARE(nets.at(19), QStringLiteral("virtualcan:can0"));
        QCOMPARE(nets.at(20), QStringLiteral("virtualcan:can1"));
        for (const auto& [net, bus] : nets)
            if (net < 19)
                QVERIFY2(bus.startsWith(QStringLiteral("socketcan:")), qPrintable(bus));
        // Listing them hosts no virtual bus: this process holds no socket more than before.
        const auto sockets = [] {
            int n = 0;
            const QDir fds(QStringLiteral("/proc/self/fd"));
            for (const QString& fd :
                 fds.entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot))
                n += QFile::symLinkTarget(fds.filePath(fd)).contains(QLatin1String("socket:"));
            return n;
        };
        const int before = sockets();
        dev.GetPortList(ports);
        QVERIFY(ports.contains(QStringLiteral("Net 19")));
        QCOMPARE(sockets(), before);
    }

    void receiveErrorReachesOnErrorOnce() {
        // The simulator hosts the bus; when it dies, the bus goes with it.
        const quint16 port = FreeTcpPort();
        SimProcess sim(
            {QStringLiteral("--can"), Bus(port), QStringLiteral("--can-id"), QStringLiteral("100")},
            false);
        QVERIFY2(sim.Start(), qPrintable(sim.ErrorString()));
        WriteNets(QStringLiteral("1=%1\n").arg(Bus(port)).toLatin1());
        TCANDevice dev(nullptr);
        CountingPrompts prompts(Target());
        dev.SetPrompts(&prompts);
        QList<TStat> errors;
        dev.OnError = [&](TDevice*, TStat code) { errors << code; };
        QCOMPARE(dev.Open(QStringLiteral("Net 1")), E_SUCCESS);
        sim.Kill();
        QTRY_COMPARE_WITH_TIMEOUT(errors, QList<TStat>{E_READ_ERROR}, Patience);
        QCOMPARE(dev.RxThread()->ErrorCode(), E_READ_ERROR);
        // Still open, receiving nothing more, and no second report.
        QVERIFY(dev.IsOpen());
        QVERIFY(!dev.RxThread()->ErrorTimer()->isActive());
        QTest::qWait(300);
        QCOMPARE(errors.size(), 1);
        QCOMPARE(dev.Close(), E_SUCCESS);
    }
};

QTEST_MAIN(TestCanDevice)
#include "tst_candevice.moc"
