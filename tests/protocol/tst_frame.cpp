// SPDX-License-Identifier: Apache-2.0
#include "TestSupport.h"
#include "protocol/Frame.h"
#include "protocol/crc.h"

#include <QTest>

class TestFrame : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void checksumCheckValues() {
        const char* digits = "123456789";
        QCOMPARE(Crc16(reinterpret_cast<const std::uint8_t*>(digits), 9, 0xFFFF), 0x6EB4);
        const std::uint8_t pre[] = {0xAA, 0xAA, 0xAA};
        QCOMPARE(Crc16(pre, 3, 0xFFFF), Crc16Preamble);
        QCOMPARE(Crc16(pre, 0, 0x1234), 0x1234);
        // Continuing over a second buffer gives the same as one pass over both.
        QCOMPARE(Crc16(reinterpret_cast<const std::uint8_t*>(digits) + 4, 5,
                       Crc16(reinterpret_cast<const std::uint8_t*>(digits), 4, 0xFFFF)),
                 0x6EB4);
    }

    void tableEntries() {
        QCOMPARE(Crc16Table[0], 0x0000);
        QCOMPARE(Crc16Table[1], 0x1021);
        QCOMPARE(Crc16Table[2], 0x2042);
        QCOMPARE(Crc16Table[128], 0x9188);
        QCOMPARE(Crc16Table[255], 0x1EF0);
    }

    void workedFrames_data() {
        QTest::addColumn<int>("id");
        QTest::addColumn<QString>("payload");
        QTest::addColumn<QString>("frame");
        QTest::newRow("stop") << 0x22 << ""
                              << "AA AA AA 22 00 00 0E 76";
        QTest::newRow("homing") << 0x20 << "00"
                                << "AA AA AA 20 01 00 00 8F 83";
        QTest::newRow("system state") << 0x40 << "03 32 00"
                                      << "AA AA AA 40 03 00 03 32 00 15 CD";
    }
    void workedFrames() {
        QFETCH(int, id);
        QFETCH(QString, payload);
        QFETCH(QString, frame);
        const TByteArray built =
            MakeFrame(static_cast<std::uint8_t>(id), HexBytes(payload.toLatin1().constData()));
        QCOMPARE(HexString(built), frame);
        // The residue over an intact frame is zero.
        QCOMPARE(Crc16(built.data(), static_cast<std::uint16_t>(built.size()), 0xFFFF), 0);
    }

    void refusesWhatTheFrameCannotCarry() {
        std::vector<std::uint8_t> out(70000, 0x55);
        TPacket p;
        p.ID = 0x21;
        p.Length = 65536;
        p.Data.assign(65536, 0);
        QCOMPARE(BuildFrame(p, out.data(), out.size()), -1);
        QCOMPARE(out[0], 0x55); // nothing written
        p.Length = -1;
        QCOMPARE(BuildFrame(p, out.data(), out.size()), -1);
        // Data shorter than the declared length must not be read past its end.
        p.Length = 10;
        p.Data.assign(3, 0);
        QCOMPARE(BuildFrame(p, out.data(), out.size()), -1);
        // Too small an output buffer.
        p.Length = 3;
        QCOMPARE(BuildFrame(p, out.data(), 10), -1);
        QCOMPARE(BuildFrame(p, out.data(), 11), 11);
    }

    void largestFrame() {
        TPacket p;
        p.ID = 0x51;
        p.Length = 65535;
        p.Data.assign(65535, 0xAA);
        const TByteArray f = MakeFrame(p);
        QCOMPARE(f.size(), std::size_t(65543));
        QCOMPARE(f[4], 0xFF);
        QCOMPARE(f[5], 0xFF);
        QCOMPARE(Crc16(f.data() + 65535, 8, Crc16(f.data(), 65535, 0xFFFF)), 0);
    }
};

QTEST_GUILESS_MAIN(TestFrame)
#include "tst_frame.moc"
