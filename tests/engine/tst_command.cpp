// SPDX-License-Identifier: Apache-2.0
#include "MemoryDevice.h"
#include "TestSupport.h"
#include "engine/CommandComponent.h"
#include "protocol/Errors.h"
#include "protocol/Frame.h"

#include <QMap>
#include <QTcpServer>
#include <QTest>

#include <memory>

namespace {
TByteArray Frame(std::uint8_t id, const char* payloadHex) {
    return MakeFrame(id, HexBytes(payloadHex));
}

// An engine with two in-memory transports, "a" and "b".
struct Rig {
    TempSettingsDir settings;
    TPickPrompts prompts;
    TCommand cmd{nullptr};
    TMemoryDevice* a = new TMemoryDevice(&cmd, QStringLiteral("a"), QStringLiteral("A"));
    TMemoryDevice* b = new TMemoryDevice(&cmd, QStringLiteral("b"), QStringLiteral("B"));
    Rig() {
        cmd.ClearDevices(); // only the in-memory transports below
        a->Ports = {QStringLiteral("A1")};
        b->Ports = {QStringLiteral("B1"), QStringLiteral("B2")};
        cmd.AddDevice(a);
        cmd.AddDevice(b);
        cmd.SetPrompts(&prompts);
    }
    TStat ConnectTo(int index, bool confirm = true, const QString& port = {}) {
        prompts.Index = index;
        prompts.Confirm = confirm;
        prompts.Port = port;
        return cmd.Connect();
    }
};
// Answers the engine and the transports from a script; a cancelled settings prompt first
// scribbles over the values it was given, which must not matter.
struct ScriptedPrompts : IDevicePrompts {
    QString Device;
    TTcpSettings Tcp;
    bool Confirm = true;
    int Asked = 0;
    bool SelectDevice(IDeviceList& list, int& index, QString& port) override {
        for (int i = 0; i < list.DeviceCount(); ++i)
            if (list.Devices(i)->ShortName() == Device) {
                index = i;
                port.clear();
                return true;
            }
        return false;
    }
    bool Edit(TDeviceSettings& settings, const QString&) override {
        if (auto* s = std::get_if<TTcpSettings>(&settings))
            return Answer(*s, Tcp);
        if (auto* s = std::get_if<TUdpSettings>(&settings))
            return Answer(*s, TUdpSettings{QStringLiteral("127.0.0.1"), 0, 1});
        return false;
    }
    void ShowError(const QString&) override {}
    template <typename S> bool Answer(S& s, const S& given) {
        ++Asked;
        s = given;
        if (!Confirm)
            s.Host = QStringLiteral("elsewhere.invalid");
        return Confirm;
    }
};
} // namespace

class TestCommand : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void deviceListIsIndexedAndBounded() {
        Rig rig;
        QCOMPARE(rig.cmd.DeviceCount(), 2);
        QCOMPARE(rig.cmd.Devices(0), rig.a);
        QCOMPARE(rig.cmd.Devices(1), rig.b);
        auto* c = new TMemoryDevice(&rig.cmd, QStringLiteral("c"));
        QCOMPARE(rig.cmd.AddDevice(c), 2);
        for (int bad : {3, 4, -1}) {
            try {
                rig.cmd.Devices(bad);
                QFAIL("no error raised");
            } catch (const EKaroError& e) {
                QCOMPARE(e.Message(), QStringLiteral("Index out of bounds (%1).").arg(bad));
            }
        }
    }

    // The engine destroys the transports it is parent of, each once; the list owns none and
    // forgets a transport as soon as its owner destroys it.
    void listOwnsNoTransport() {
        TempSettingsDir settings;
        QMap<QString, int> destroyed;
        auto cmd = std::make_unique<TCommand>(nullptr);
        QObject outside;
        auto* kept = new TMemoryDevice(cmd.get(), QStringLiteral("kept"));
        auto* cleared = new TMemoryDevice(cmd.get(), QStringLiteral("cleared"));
        auto* foreign = new TMemoryDevice(&outside, QStringLiteral("foreign"));
        auto* gone = new TMemoryDevice(&outside, QStringLiteral("gone"));
        for (TMemoryDevice* d : {kept, cleared, foreign, gone})
            connect(d, &QObject::destroyed,
                    [&destroyed, name = d->ShortName()] { ++destroyed[name]; });
        cmd->ClearDevices();
        for (TMemoryDevice* d : {cleared, foreign, gone})
            cmd->AddDevice(d);

        delete gone;
        QCOMPARE(cmd->DeviceCount(), 2);
        QCOMPARE(cmd->Devices(0), cleared);
        QCOMPARE(cmd->Devices(1), foreign);

        cmd->ClearDevices();
        QCOMPARE(cmd->DeviceCount(), 0);
        cmd.reset();
        QCOMPARE(destroyed, (QMap<QString, int>{{QStringLiteral("kept"), 1},
                                                {QStringLiteral("cleared"), 1},
                                                {QStringLiteral("gone"), 1}}));
    }

    void sendingNeedsAnOpenAttachedDevice() {
        Rig rig;
        TPacket p;
        p.ID = 0x22;
        QCOMPARE(rig.cmd.SendPacket(p), E_NOT_INITIALIZED);
        QCOMPARE(rig.ConnectTo(0), E_SUCCESS);
        QVERIFY(rig.cmd.IsConnected());
        QCOMPARE(rig.cmd.SendPacket(p), E_SUCCESS);
        // The whole frame goes out in one write.
        QCOMPARE(rig.a->Writes.size(), std::size_t(1));
        QCOMPARE(HexString(rig.a->Writes[0]), QStringLiteral("AA AA AA 22 00 00 0E 76"));
        // A write error comes back unchanged and leaves the device open.
        rig.a->WriteResult = E_WRITE_ERROR;
        QCOMPARE(rig.cmd.SendPacket(p), E_WRITE_ERROR);
        QVERIFY(rig.cmd.IsConnected());
        // A device that closed by itself is not written either.
        rig.a->DropConnection();
        QVERIFY(!rig.cmd.IsConnected());
        QCOMPARE(rig.cmd.SendPacket(p), E_NOT_INITIALIZED);
        QCOMPARE(rig.a->Writes.size(), std::size_t(2));
        rig.a->OpenResult = E_SUCCESS;
        QCOMPARE(rig.ConnectTo(0), E_SUCCESS);
        rig.cmd.Disconnect();
        QVERIFY(!rig.a->IsOpen());
        QCOMPARE(rig.cmd.AttachedDevice(), nullptr);
        QCOMPARE(rig.cmd.SendPacket(p), E_NOT_INITIALIZED);
        // A packet whose declared length its data does not hold is refused, not framed.
        QCOMPARE(rig.ConnectTo(0), E_SUCCESS);
        TPacket bad;
        bad.ID = 0x21;
        bad.Length = 9;
        bad.Data = {1, 2};
        QCOMPARE(rig.cmd.SendPacket(bad), E_RANGE_ERROR);
        // The length field cannot express more than 65535 bytes.
        bad.Length = 65536;
        bad.Data.assign(65536, 0xAA);
        QCOMPARE(rig.cmd.SendPacket(bad), E_RANGE_ERROR);
        bad.Length = 65535;
        bad.Data.resize(65535);
        rig.a->WriteResult = E_SUCCESS;
        QCOMPARE(rig.cmd.SendPacket(bad), E_SUCCESS);
        QCOMPARE(rig.a->Writes.size(), std::size_t(3));
        QCOMPARE(rig.a->Writes.back().size(), std::size_t(65543));
    }

    // The operator's connect keeps the transport's 50 ms confirmation; a connect that nobody
    // watches has it confirmed at the next pass of the event loop. Neither changes the
    // transport's own setting.
    void connectWithoutAskingConfirmsAtOnce() {
        Rig rig;
        int connects = 0;
        rig.cmd.SetOnConnect([&](TDevice*) { ++connects; });
        TConnectTarget target;
        target.Device = QStringLiteral("b");
        QCOMPARE(rig.cmd.ConnectTo(target), E_SUCCESS);
        QCOMPARE(connects, 0);
        QVERIFY(rig.b->ConnectTimer()->isActive());
        QCOMPARE(rig.b->ConnectTimer()->interval(), 0);
        QCOMPARE(rig.b->Confirm(), TDevice::TConfirm::AfterInterval);
        QTRY_COMPARE(connects, 1);
        QCOMPARE(rig.ConnectTo(1), E_SUCCESS);
        QCOMPARE(rig.b->ConnectTimer()->interval(), TDevice::ConnectTimerInterval);
        QTRY_COMPARE(connects, 2);
    }

    void connectSwitchesDevicesAndStartsClean() {
        Rig rig;
        int connects = 0, disconnects = 0;
        TDevice* lastSender = nullptr;
        rig.cmd.SetOnConnect([&](TDevice* s) {
            ++connects;
            lastSender = s;
        });
        QCOMPARE(rig.ConnectTo(0), E_SUCCESS);
        QCOMPARE(rig.a->LastPortName, QStringLiteral("A1"));
        // The connection is confirmed later, from the event loop.
        QCOMPARE(connects, 0);
        QTRY_COMPARE(connects, 1);
        QCOMPARE(lastSender, rig.a);
        // Setting a slot while attached reaches the device at once.
        rig.cmd.SetOnDisconnect([&](TDevice*) { ++disconnects; });
        QVERIFY(bool(rig.a->OnDisconnect));

        // Leftovers from the first connection: a queued packet and half a frame.
        rig.a->Feed(Frame(0x40, "00 00"));
        TByteArray half = Frame(0x41, "00 00 01");
        half.resize(5);
        rig.a->Feed(half);
        QCOMPARE(rig.cmd.PacketCount(), 1);

        QCOMPARE(rig.ConnectTo(1, true, QStringLiteral("B2")), E_SUCCESS);
        QCOMPARE(rig.b->LastPortName, QStringLiteral("B2"));
        QVERIFY(!rig.a->IsOpen());
        QCOMPARE(disconnects, 1); // the old device's close was reported
        QCOMPARE(rig.cmd.AttachedDevice(), rig.b);
        QCOMPARE(rig.cmd.PacketCount(), 0);
        // The receiver starts from scratch: the rest of the half frame is no packet.
        TByteArray rest = Frame(0x41, "00 00 01");
        rig.b->Feed(TByteArray(rest.begin() + 5, rest.end()));
        QCOMPARE(rig.cmd.PacketCount(), 0);
        rig.b->Feed(Frame(0x43, "00 00"));
        TPacket got;
        QVERIFY(rig.cmd.GetPacket(got));
        QCOMPARE(got.ID, 0x43);
        // The old device is no longer read even if it announces data.
        rig.a->Open(QString());
        rig.a->Feed(Frame(0x50, "00 00"));
        QCOMPARE(rig.cmd.PacketCount(), 0);
        QVERIFY(rig.a->ReadRequests.size() == 2);
    }

    void cancelledOrFailedConnect() {
        Rig rig;
        QCOMPARE(rig.ConnectTo(0), E_SUCCESS);
        rig.a->ConfirmConnection();
        // Cancelled: nothing changes.
        QCOMPARE(rig.ConnectTo(1, false), E_CMD_ABORTED);
        QVERIFY(rig.cmd.IsConnected());
        QCOMPARE(rig.cmd.AttachedDevice(), rig.a);
        QCOMPARE(rig.b->OpenCalls, 0);
        QCOMPARE(rig.a->CloseCalls, 0);
        // Failed open: the device's status, and the engine ends up unattached.
        rig.b->OpenResult = E_IO_ERROR;
        QCOMPARE(rig.ConnectTo(1), E_IO_ERROR);
        QVERIFY(!rig.cmd.IsConnected());
        QCOMPARE(rig.cmd.AttachedDevice(), nullptr);
        QVERIFY(!rig.a->IsOpen());
        QVERIFY(!rig.b->OnConnect);
        QVERIFY(!rig.b->OnDisconnect);
    }

    // A transport that was replaced keeps the engine's slots; what it raises must go nowhere.
    void replacedTransportIsIgnored() {
        Rig rig;
        QStringList seen;
        rig.cmd.SetOnConnect(
            [&](TDevice* s) { seen << QStringLiteral("connect ") + s->ShortName(); });
        rig.cmd.SetOnDisconnect(
            [&](TDevice* s) { seen << QStringLiteral("disconnect ") + s->ShortName(); });
        rig.cmd.OnError = [&](TDevice* s, TStat) {
            seen << QStringLiteral("error ") + s->ShortName();
        };
        rig.a->AutoConfirm = false;
        rig.b->AutoConfirm = false;
        QCOMPARE(rig.ConnectTo(0), E_SUCCESS);
        QCOMPARE(rig.ConnectTo(1), E_SUCCESS);
        QCOMPARE(seen, QStringList{QStringLiteral("disconnect a")});
        rig.a->Open(QString());
        rig.a->ConfirmConnection();
        rig.a->RaiseError(E_READ_ERROR);
        rig.a->Feed(Frame(0x40, "00 00"));
        rig.a->DropConnection();
        QCOMPARE(seen, QStringList{QStringLiteral("disconnect a")});
        QCOMPARE(rig.cmd.PacketCount(), 0);
        rig.b->ConfirmConnection();
        rig.cmd.Disconnect();
        rig.b->DropConnection(); // late, after the engine let it go
        QCOMPARE(seen, (QStringList{QStringLiteral("disconnect a"), QStringLiteral("connect b"),
                                    QStringLiteral("disconnect b")}));
    }

    // Cancelling a transport's own settings while a connection is up, whether for the same
    // transport or another one, leaves that connection alone and writes no settings.
    void cancelledSettingsKeepTheConnection_data() {
        QTest::addColumn<QString>("second");
        QTest::newRow("same transport") << QStringLiteral("tcp");
        QTest::newRow("another transport") << QStringLiteral("udp");
    }
    void cancelledSettingsKeepTheConnection() {
        QFETCH(QString, second);
        TempSettingsDir dir;
        QTcpServer server;
        QVERIFY(server.listen(QHostAddress::LocalHost));
        ScriptedPrompts prompts;
        TCommand cmd(nullptr);
        cmd.SetPrompts(&prompts);
        QStringList seen;
        cmd.SetOnConnect([&](TDevice*) { seen << QStringLiteral("connect"); });
        cmd.SetOnDisconnect([&](TDevice*) { seen << QStringLiteral("disconnect"); });
        prompts.Device = QStringLiteral("tcp");
        prompts.Tcp = {QStringLiteral("127.0.0.1"), server.serverPort()};
        QCOMPARE(cmd.Connect(), E_SUCCESS);
        QTRY_COMPARE_WITH_TIMEOUT(seen, QStringList{QStringLiteral("connect")}, 10000);
        const QByteArray tcpCfg = dir.ReadFile(QStringLiteral("tcp.cfg"));
        QVERIFY(tcpCfg.contains("127.0.0.1"));

        prompts.Device = second;
        prompts.Confirm = false;
        QCOMPARE(cmd.Connect(), E_CMD_ABORTED);
        QCOMPARE(prompts.Asked, 2);
        QVERIFY(cmd.IsConnected());
        QCOMPARE(cmd.AttachedDevice()->ShortName(), QStringLiteral("tcp"));
        QCOMPARE(seen, QStringList{QStringLiteral("connect")});
        QCOMPARE(dir.ReadFile(QStringLiteral("tcp.cfg")), tcpCfg);
        QVERIFY(!QFile::exists(dir.FilePath(QStringLiteral("udp.cfg"))));

        // Confirmed, the other transport takes over and the old connection is closed.
        prompts.Confirm = true;
        QCOMPARE(cmd.Connect(), E_SUCCESS);
        QCOMPARE(seen, (QStringList{QStringLiteral("connect"), QStringLiteral("disconnect")}));
        QCOMPARE(cmd.AttachedDevice()->ShortName(), second);
    }

    void readsAtMost4096BytesPerNotification() {
        Rig rig;
        QCOMPARE(rig.ConnectTo(0), E_SUCCESS);
        rig.a->Announce(10000);
        QCOMPARE(rig.a->ReadRequests.back(), 4096);
        // 5000 bytes held: a frame straddling the 4096 boundary completes with the next
        // notification only.
        TByteArray bytes(4090, 0x00);
        const TByteArray frame = Frame(0x50, "00 00 01 02 03 04 05 06 07 08");
        bytes.insert(bytes.end(), frame.begin(), frame.end());
        bytes.resize(5000, 0x00);
        rig.a->Feed(bytes);
        QCOMPARE(rig.a->ReadRequests.back(), 4096);
        QCOMPARE(rig.a->Pending(), 5000 - 4096);
        QCOMPARE(rig.cmd.PacketCount(), 0);
        rig.a->Announce(rig.a->Pending());
        QCOMPARE(rig.cmd.PacketCount(), 1);
        TPacket got;
        QVERIFY(rig.cmd.GetPacket(got));
        QCOMPARE(HexString(got.Data), QStringLiteral("00 00 01 02 03 04 05 06 07 08"));
        QCOMPARE(got.Length, 10);
    }

    void fullQueueDropsButStillNotifies() {
        Rig rig;
        int notified = 0;
        rig.cmd.OnPacket = [&](TCommand* sender) {
            QCOMPARE(sender, &rig.cmd);
            ++notified;
        };
        QCOMPARE(rig.ConnectTo(0), E_SUCCESS);
        TByteArray many;
        for (int i = 0; i < 1025; ++i) {
            const TByteArray f = Frame(0x43, "00 00");
            many.insert(many.end(), f.begin(), f.end());
        }
        // 8 bytes each: feed in notifications of at most 4096 bytes.
        rig.a->Feed(many);
        while (rig.a->Pending() > 0)
            rig.a->Announce(rig.a->Pending());
        QCOMPARE(notified, 1025);
        QCOMPARE(rig.cmd.PacketCount(), 1024);

        while (rig.cmd.PacketCount() > 0) {
            TPacket p;
            rig.cmd.GetPacket(p);
        }
        TPacket keep;
        keep.ID = 7;
        keep.Data = {1};
        QVERIFY(!rig.cmd.GetPacket(keep));
        QCOMPARE(keep.ID, 7);
        QCOMPARE(keep.Data.size(), std::size_t(1));
    }

    // A full queue gives up the oldest automatic updates, never what an exchange waits for nor
    // another packet while updates are there, and says how many it dropped.
    void overflowDropsOldestUpdatesOnly() {
        Rig rig;
        std::vector<TLinkEvent> events;
        rig.cmd.OnLinkEvent = [&events](const TLinkEvent& e) { events.push_back(e); };
        rig.cmd.Awaits = [](std::int32_t id) { return id == 0x22; };
        QCOMPARE(rig.ConnectTo(0), E_SUCCESS);
        TByteArray wire = Frame(0x21, "1A 00");
        const int updates = TCommand::PacketQueueCapacity + 6;
        for (int i = 0; i < updates; ++i) {
            const TByteArray f =
                MakeFrame(i % 2 ? 0x40 : 0x43, {0, 0, static_cast<std::uint8_t>(i & 0xFF),
                                                static_cast<std::uint8_t>(i >> 8)});
            wire.insert(wire.end(), f.begin(), f.end());
            if (i == updates / 2) {
                const TByteArray reply = Frame(0x22, "00 00");
                wire.insert(wire.end(), reply.begin(), reply.end());
            }
        }
        rig.a->Feed(wire);
        while (rig.a->Pending() > 0)
            rig.a->Announce(rig.a->Pending());
        QCOMPARE(rig.cmd.PacketsDropped(), std::uint64_t(7));
        QCOMPARE(rig.cmd.PacketCount(), TCommand::PacketQueueCapacity + 1);
        QVERIFY(rig.cmd.AwaitedArrived());
        // What is left comes out in arrival order: updates 0 to 6 went.
        QStringList want{QStringLiteral("21")}, got;
        for (int i = 7; i < updates; ++i) {
            want << QString::number(i);
            if (i == updates / 2)
                want << QStringLiteral("22");
        }
        TPacket p;
        while (rig.cmd.GetPacket(p))
            got << (p.ID == 0x40 || p.ID == 0x43 ? QString::number(p.Data[2] | (p.Data[3] << 8))
                                                 : QString::number(p.ID, 16));
        QCOMPARE(got, want);
        rig.cmd.Disconnect(); // reports what was not reported yet
        std::uint32_t reported = 0;
        for (const TLinkEvent& e : events) {
            QCOMPARE(e.Kind, TLinkEventKind::UpdatesDropped);
            reported += e.Count;
        }
        QCOMPARE(reported, 7u);
        QCOMPARE(events.front().ID, 0x43);
    }

    // A packet handler may wait for a reply and so read the device again, nested. The bytes it
    // reads then must not cut into the chunk that is still being fed.
    void nestedReadKeepsByteOrder() {
        Rig rig;
        QCOMPARE(rig.ConnectTo(0), E_SUCCESS);
        bool nested = false;
        rig.cmd.OnPacket = [&](TCommand*) {
            if (!nested) {
                nested = true;
                rig.a->Feed(Frame(0x03, "00 00 03"));
            }
        };
        TByteArray two = Frame(0x01, "00 00 01");
        const TByteArray second = Frame(0x02, "00 00 02");
        two.insert(two.end(), second.begin(), second.end());
        rig.a->Feed(two);
        QCOMPARE(rig.cmd.PacketCount(), 3);
        for (int id : {1, 2, 3}) {
            TPacket p;
            QVERIFY(rig.cmd.GetPacket(p));
            QCOMPARE(p.ID, id);
        }
    }

    void errorsOfTheAttachedDeviceAreForwarded() {
        Rig rig;
        TDevice* sender = nullptr;
        int code = -1;
        rig.cmd.OnError = [&](TDevice* s, TStat c) {
            sender = s;
            code = c;
        };
        QCOMPARE(rig.ConnectTo(1), E_SUCCESS);
        rig.b->RaiseError(E_READ_ERROR);
        QCOMPARE(sender, rig.b);
        QCOMPARE(code, int(E_READ_ERROR));
        // Still attached: the owner decides.
        QCOMPARE(rig.cmd.AttachedDevice(), rig.b);
        rig.cmd.OnError = nullptr;
        rig.b->RaiseError(E_IO_ERROR); // no handler: nothing happens
        QCOMPARE(code, int(E_READ_ERROR));
    }
};

QTEST_MAIN(TestCommand)
#include "tst_command.moc"
