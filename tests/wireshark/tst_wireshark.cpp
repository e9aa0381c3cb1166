// The dissector under tshark: captures written here from known frames, split, joined and
// corrupted, on TCP and UDP; tshark's field output is compared with the values put in.

#include "protocol/ByteConv.h"
#include "protocol/Frame.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <cstring>

namespace {

// Text lists from literals (QString has no implicit conversion from char* here).
QStringList L(std::initializer_list<const char*> texts) {
    QStringList out;
    for (const char* t : texts)
        out.append(QString::fromUtf8(t));
    return out;
}

using TBytes = QByteArray;

TBytes Frame(std::uint8_t id, const TByteArray& payload) {
    const TByteArray f = MakeFrame(id, payload);
    return {reinterpret_cast<const char*>(f.data()), static_cast<qsizetype>(f.size())};
}
TByteArray Float(float v) {
    const auto b = SingleToBytes(v);
    return {b.begin(), b.end()};
}
TByteArray Cat(std::initializer_list<TByteArray> parts) {
    TByteArray out;
    for (const TByteArray& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}
TBytes Flip(TBytes b, qsizetype at) {
    b[at] = static_cast<char>(b[at] ^ 0x01);
    return b;
}

// One payload of a transport header: from the tool's side or from the gripper's.
struct TSegment {
    bool FromGripper;
    TBytes Bytes;
};

void Put16(TBytes& b, quint16 v) {
    b.append(static_cast<char>(v >> 8)).append(static_cast<char>(v & 0xFF));
}
void Put32(TBytes& b, quint32 v) {
    Put16(b, static_cast<quint16>(v >> 16));
    Put16(b, static_cast<quint16>(v & 0xFFFF));
}
void PutLe32(TBytes& b, quint32 v) {
    for (int i = 0; i < 4; ++i)
        b.append(static_cast<char>((v >> (8 * i)) & 0xFF));
}

// A classic pcap file of Ethernet frames with IPv4 and TCP or UDP headers built by hand. The
// TCP stream starts with a handshake so that sequence numbers are known to tshark.
class TCapture {
public:
    TCapture(bool tcp, quint16 toolPort, quint16 gripperPort, quint16 replyPort)
        : FTcp(tcp), FToolPort(toolPort), FGripperPort(gripperPort), FReplyPort(replyPort) {
        PutLe32(FFile, 0xA1B2C3D4);
        FFile.append("\x02\x00\x04\x00", 4).append(8, '\0');
        PutLe32(FFile, 65535);
        PutLe32(FFile, 1); // Ethernet
        if (tcp) {
            Tcp(false, {}, 0x02);
            Tcp(true, {}, 0x12);
            Tcp(false, {}, 0x10);
        }
    }
    void Add(const TSegment& s) {
        if (FTcp)
            Tcp(s.FromGripper, s.Bytes, 0x18);
        else
            Udp(s.FromGripper, s.Bytes);
    }
    const TBytes& File() const { return FFile; }

private:
    void Tcp(bool fromGripper, const TBytes& data, quint8 flags) {
        quint32& seq = fromGripper ? FGripperSeq : FToolSeq;
        const quint32 ack = fromGripper ? FToolSeq : FGripperSeq;
        TBytes h;
        Put16(h, fromGripper ? FGripperPort : FToolPort);
        Put16(h, fromGripper ? FToolPort : FGripperPort);
        Put32(h, seq);
        Put32(h, (flags & 0x10) ? ack : 0);
        h.append(static_cast<char>(0x50)).append(static_cast<char>(flags));
        Put16(h, 65535);
        Put32(h, 0); // checksum (unchecked by default) and urgent pointer
        seq += static_cast<quint32>(data.size()) + ((flags & 0x02) ? 1 : 0);
        Ip(fromGripper, 6, h + data);
    }
    void Udp(bool fromGripper, const TBytes& data) {
        TBytes h;
        Put16(h, fromGripper ? FGripperPort : FToolPort);
        Put16(h, fromGripper ? FReplyPort : FGripperPort);
        Put16(h, static_cast<quint16>(8 + data.size()));
        Put16(h, 0);
        Ip(fromGripper, 17, h + data);
    }
    void Ip(bool fromGripper, quint8 protocol, const TBytes& payload) {
        TBytes ip;
        Put16(ip, 0x4500);
        Put16(ip, static_cast<quint16>(20 + payload.size()));
        Put32(ip, 0);
        ip.append(static_cast<char>(64)).append(static_cast<char>(protocol));
        Put16(ip, 0);
        Put32(ip, fromGripper ? 0x0A000002 : 0x0A000001);
        Put32(ip, fromGripper ? 0x0A000001 : 0x0A000002);
        quint32 sum = 0;
        for (int i = 0; i < 20; i += 2)
            sum += (static_cast<quint8>(ip[i]) << 8) | static_cast<quint8>(ip[i + 1]);
        sum = (sum & 0xFFFF) + (sum >> 16);
        const quint16 check = static_cast<quint16>(~sum);
        ip[10] = static_cast<char>(check >> 8);
        ip[11] = static_cast<char>(check & 0xFF);
        TBytes eth("\x02\x00\x00\x00\x00\x02\x02\x00\x00\x00\x00\x01\x08\x00", 14);
        const TBytes record = eth + ip + payload;
        PutLe32(FFile, ++FCount);
        PutLe32(FFile, 0);
        PutLe32(FFile, static_cast<quint32>(record.size()));
        PutLe32(FFile, static_cast<quint32>(record.size()));
        FFile += record;
    }

    bool FTcp;
    quint16 FToolPort, FGripperPort, FReplyPort;
    quint32 FToolSeq = 1000, FGripperSeq = 5000, FCount = 0;
    TBytes FFile;
};

const TBytes GetPosRequest = Frame(0x43, {0, 0, 0});
const TBytes PositionReply = Frame(0x43, Cat({{0, 0}, Float(12.5f)}));
const TBytes StateUpdate = Frame(0x40, {0, 0, 0x81, 0x10, 0, 0});
const TBytes GraspRequest = Frame(0x25, Cat({Float(8), Float(50)}));
const TBytes GraspPending = Frame(0x25, {26, 0});
const TBytes GraspUpdate = Frame(0x41, {0, 0, 4});

} // namespace

class TestWireshark : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void decodes_data() {
        QTest::addColumn<bool>("tcp");
        QTest::addColumn<QList<quint16>>("ports"); // tool, gripper, reply (UDP)
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<QList<TSegment>>("segments");
        QTest::addColumn<QStringList>("fields");
        QTest::addColumn<QStringList>("expected"); // one line per packet that holds a frame
        const QStringList frameFields = L({"karo.direction", "karo.id", "karo.length",
                                           "karo.status", "karo.checksum", "karo.checksum.status"});
        const auto with = [&](std::initializer_list<const char*> more) {
            return frameFields + L(more);
        };
        const QList<quint16> tcp = {40000, 1000, 0};
        const QList<quint16> udp = {40001, 1500, 1501};

        QTest::newRow("tcp request and reply")
            << true << tcp << QStringList()
            << QList<TSegment>{{false, GetPosRequest}, {true, PositionReply}}
            << with({"karo.update.enabled", "karo.update.period", "karo.position"})
            << L({"0\t0x43\t3\t\t0x10b8\t1\t0\t0\t", "1\t0x43\t6\t0\t0xcf01\t1\t\t\t12.5"});
        // Split within the header and within the payload: one frame, in the last segment.
        QTest::newRow("tcp split")
            << true << tcp << QStringList()
            << QList<TSegment>{{true, StateUpdate.left(2)},
                               {true, StateUpdate.mid(2, 5)},
                               {true, StateUpdate.mid(7)}}
            << with({"karo.system_state", "karo.system_state.referenced",
                     "karo.system_state.moving", "karo.system_state.target_pos_reached",
                     "karo.system_state.fast_stop"})
            << L({"1\t0x40\t6\t0\t0xd1e7\t1\t0x00001081\t1\t0\t1\t1"});
        QTest::newRow("tcp joined and split across")
            << true << tcp << QStringList()
            << QList<TSegment>{{false, GraspRequest},
                               {true, GraspPending + GraspUpdate.left(4)},
                               {true, GraspUpdate.mid(4) + PositionReply}}
            << with({"karo.width", "karo.speed", "karo.grasping_state", "karo.position"})
            << L({"0\t0x25\t8\t\t0x6c27\t1\t8\t50\t\t", "1\t0x25\t2\t26\t0x486d\t1\t\t\t\t",
                  "1,1\t0x41,0x43\t3,6\t0,0\t0x025a,0xcf01\t1,1\t\t\t4\t12.5"});
        // A flipped payload bit and bytes before a preamble: both frames shown, the bad one
        // flagged with expert information.
        QTest::newRow("tcp corrupted")
            << true << tcp << QStringList()
            << QList<TSegment>{{true, TBytes("\x01\x02", 2) + Flip(PositionReply, 8) + StateUpdate}}
            << with({"karo.junk", "_ws.expert.message"})
            << L({"1,1\t0x43,0x40\t6,6\t0,0\t0xcf01,0xd1e7\t0,1\t0102\tBytes outside a frame,Bad "
                  "checksum: "
                  "0xcf01, computed 0x5ac3"});
        QTest::newRow("udp request and reply")
            << false << udp << QStringList()
            << QList<TSegment>{{false, Frame(0x53, {})},
                               {true, Frame(0x53, Cat({{0, 0},
                                                       Float(110),
                                                       Float(5),
                                                       Float(400),
                                                       Float(100),
                                                       Float(5000),
                                                       Float(10),
                                                       Float(80),
                                                       Float(0)}))}}
            << with({"karo.limits.stroke", "karo.limits.max_speed", "karo.limits.max_force"})
            << L({"0\t0x53\t0\t\t0x383d\t1\t\t\t", "1\t0x53\t34\t0\t0x1469\t1\t110\t400\t80"});
        QTest::newRow("udp joined, corrupted and cut")
            << false << udp << QStringList()
            << QList<TSegment>{{true, Frame(0x50, {0, 0, 7, 2, 0x10, 0x01, 0x39, 0x30, 0, 0}) +
                                          Flip(GraspUpdate, 3)},
                               {true, PositionReply.left(9)}}
            << with({"karo.info.type", "karo.info.firmware_revision", "karo.info.serial_number",
                     "_ws.expert.message"})
            << L({"1,1\t0x50,0x40\t10,3\t0,0\t0xb5a4,0x025a\t1,0\t7\t272\t12345\tExpected 4 bytes, "
                  "got 1,Bad checksum: "
                  "0x025a, computed 0x3071",
                  "\t\t\t\t\t\t\t\t\tFrame cut short"});
        // Other ports: found by the preamble; the gripper is the lower port.
        QTest::newRow("heuristic on another port")
            << true << QList<quint16>{50000, 47000, 0} << QStringList()
            << QList<TSegment>{{false, Frame(0x30, Float(500))},
                               {true, Frame(0x31, Cat({{0, 0}, Float(2500)}))}}
            << with({"karo.acceleration"})
            << L({"0\t0x30\t4\t\t0x584a\t1\t500", "1\t0x31\t6\t0\t0xb7e4\t1\t2500"});
        // A port given in the preferences needs no preamble at the start of a segment.
        QTest::newRow("port from the preferences")
            << true << QList<quint16>{50000, 2000, 0} << L({"-o", "karo.tcp_port:2000"})
            << QList<TSegment>{{true, TBytes("\x55", 1) + Frame(0x33, Cat({{0, 0}, Float(40)}))}}
            << with({"karo.force_limit", "karo.junk"}) << L({"1\t0x33\t6\t0\t0xaffd\t1\t40\t55"});
    }

    void decodes() {
        QFETCH(bool, tcp);
        QFETCH(QList<quint16>, ports);
        QFETCH(QStringList, options);
        QFETCH(QList<TSegment>, segments);
        QFETCH(QStringList, fields);
        QFETCH(QStringList, expected);
        QVERIFY2(std::strlen(KARO_TSHARK_PATH) > 0 &&
                     !QByteArray(KARO_TSHARK_PATH).endsWith("-NOTFOUND"),
                 "tshark is missing (scripts/install-deps.sh installs it)");

        TCapture capture(tcp, ports[0], ports[1], ports[2]);
        for (const TSegment& s : segments)
            capture.Add(s);
        QTemporaryDir dir;
        QFile file(dir.filePath(QStringLiteral("karo.pcap")));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(capture.File());
        file.close();

        QStringList args = {QStringLiteral("-n"),
                            QStringLiteral("-X"),
                            QStringLiteral("lua_script:" KARO_DISSECTOR_PATH),
                            QStringLiteral("-r"),
                            file.fileName(),
                            QStringLiteral("-Y"),
                            QStringLiteral("karo"),
                            QStringLiteral("-T"),
                            QStringLiteral("fields")};
        args += options;
        for (const QString& f : fields)
            args << QStringLiteral("-e") << f;
        QProcess tshark;
        // A user's own preferences and plugins must not change the result.
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("WIRESHARK_CONFIG_DIR"), dir.path());
        tshark.setProcessEnvironment(env);
        tshark.start(QStringLiteral(KARO_TSHARK_PATH), args);
        QVERIFY(tshark.waitForFinished(120000));
        const QByteArray err = tshark.readAllStandardError();
        QVERIFY2(tshark.exitCode() == 0, err.constData());
        // Lua errors show in the dissection, not in the exit code.
        QVERIFY2(!err.contains("Lua"), err.constData());
        const QStringList lines =
            QString::fromUtf8(tshark.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts);
        QCOMPARE(lines, expected);
    }
};

QTEST_GUILESS_MAIN(TestWireshark)
#include "tst_wireshark.moc"
