// SPDX-License-Identifier: Apache-2.0
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

void Be(TBytes& b, quint32 v, int n) {
    for (int i = n - 1; i >= 0; --i)
        b.append(static_cast<char>((v >> (8 * i)) & 0xFF));
}
void Le(TBytes& b, quint32 v) {
    for (int i = 0; i < 4; ++i)
        b.append(static_cast<char>((v >> (8 * i)) & 0xFF));
}

// A pcap file of Ethernet, IPv4 and TCP or UDP headers around the segments. Checksums stay 0,
// which tshark does not check by default; TCP needs no handshake for its reassembly.
TBytes Capture(bool tcp, const QList<quint16>& ports, const QList<TSegment>& segments) {
    const quint16 tool = ports[0], gripper = ports[1], reply = tcp ? ports[0] : ports[2];
    TBytes file = QByteArray::fromHex("d4c3b2a102000400000000000000000000000100"
                                      "01000000");
    quint32 seq[2] = {1000, 5000};
    for (const TSegment& s : segments) {
        TBytes l4;
        Be(l4, s.FromGripper ? gripper : tool, 2);
        Be(l4, s.FromGripper ? reply : gripper, 2);
        if (tcp) {
            Be(l4, seq[s.FromGripper], 4);
            l4 += QByteArray::fromHex("000000005008ffff00000000"); // PSH, window 65535
            seq[s.FromGripper] += static_cast<quint32>(s.Bytes.size());
        } else {
            Be(l4, static_cast<quint32>(8 + s.Bytes.size()), 2);
            Be(l4, 0, 2);
        }
        TBytes ip = QByteArray::fromHex("02000000000202000000000108004500");
        Be(ip, static_cast<quint32>(20 + l4.size() + s.Bytes.size()), 2);
        Be(ip, 0, 4);
        Be(ip, tcp ? 0x4006 : 0x4011, 2);
        Be(ip, 0, 2);
        Be(ip, s.FromGripper ? 0x0A000002 : 0x0A000001, 4);
        Be(ip, s.FromGripper ? 0x0A000001 : 0x0A000002, 4);
        const TBytes record = ip + l4 + s.Bytes;
        Le(file, 1);
        Le(file, 0);
        Le(file, static_cast<quint32>(record.size()));
        Le(file, static_cast<quint32>(record.size()));
        file += record;
    }
    return file;
}

const TBytes GetPosRequest = Frame(0x43, {0, 0, 0});
const TBytes PositionReply = Frame(0x43, Cat({{0, 0}, Float(12.5f)}));
const TBytes StateUpdate = Frame(0x40, {0, 0, 0x81, 0x10, 0, 0});
const TBytes GraspRequest = Frame(0x25, Cat({Float(8), Float(50)}));
const TBytes GraspPending = Frame(0x25, {26, 0});
const TBytes GraspUpdate = Frame(0x41, {0, 0, 4});
const TBytes AccReply = Frame(0x31, Cat({{0, 0}, Float(2500)}));

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
        // Other ports: found by the preamble, reassembled too; the gripper is the lower port.
        QTest::newRow("heuristic on another port")
            << true << QList<quint16>{50000, 47000, 0} << QStringList()
            << QList<TSegment>{{false, Frame(0x30, Float(500))},
                               {true, AccReply.left(7)},
                               {true, AccReply.mid(7)}}
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

        QTemporaryDir dir;
        QFile file(dir.filePath(QStringLiteral("karo.pcap")));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(Capture(tcp, ports, segments));
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
