#include "TestSupport.h"
#include "protocol/Frame.h"
#include "protocol/Receiver.h"

#include <QTest>

#include <cstdlib>
#include <new>

namespace {
// Counts heap allocations so the test can hold the receive path to one per intact frame.
std::size_t g_allocations = 0;
} // namespace

void* operator new(std::size_t n) {
    ++g_allocations;
    if (void* p = std::malloc(n ? n : 1))
        return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}

class TestReceiver : public QObject {
    Q_OBJECT

    // Feeds bytes one by one, collecting completed packets.
    static QList<TPacket> Feed(TPacketReceiver& r, const std::vector<std::uint8_t>& bytes) {
        QList<TPacket> out;
        TPacket p;
        for (std::uint8_t b : bytes)
            if (r.Feed(b, p))
                out.append(p);
        return out;
    }
    static std::vector<std::uint8_t> Bytes(const char* hex) { return HexBytes(hex); }

private Q_SLOTS:
    void wholeFrame() {
        FakeTick tick;
        TPacketReceiver r;
        const auto got = Feed(r, Bytes("AA AA AA 22 00 00 0E 76"));
        QCOMPARE(got.size(), 1);
        QCOMPARE(got[0].ID, 0x22);
        QCOMPARE(got[0].Length, 0);
        QVERIFY(got[0].Data.empty());
        QVERIFY(!r.InPacket());
    }

    void everyFlippedBitDropsTheFrame() {
        FakeTick tick;
        const std::vector<std::uint8_t> frame = Bytes("AA AA AA 40 03 00 03 32 00 15 CD");
        // Bits after the preamble: a flip in the length field makes the receiver wait for more
        // bytes, so a following intact frame is fed to prove nothing was delivered in between.
        for (std::size_t i = 3; i < frame.size(); ++i) {
            for (int bit = 0; bit < 8; ++bit) {
                TPacketReceiver r;
                std::vector<std::uint8_t> bad = frame;
                bad[i] ^= static_cast<std::uint8_t>(1u << bit);
                const auto got = Feed(r, bad);
                QVERIFY2(got.isEmpty(),
                         qPrintable(QStringLiteral("byte %1 bit %2").arg(i).arg(bit)));
            }
        }
    }

    void fourthPreambleByteIsTheIdentifier() {
        FakeTick tick;
        TPacketReceiver r;
        // A frame whose identifier is 0xAA.
        const TByteArray f = MakeFrame(0xAA, Bytes("01"));
        QCOMPARE(HexString(f).left(14), QStringLiteral("AA AA AA AA 01"));
        auto got = Feed(r, f);
        QCOMPARE(got.size(), 1);
        QCOMPARE(got[0].ID, 0xAA);
        QCOMPARE(got[0].Data, Bytes("01"));

        // A stray extra 0xAA in front of a frame spoils that frame.
        std::vector<std::uint8_t> stray = {0xAA};
        const TByteArray stop = MakeFrame(0x22, {});
        stray.insert(stray.end(), stop.begin(), stop.end());
        TPacketReceiver r2;
        QVERIFY(Feed(r2, stray).isEmpty());
    }

    void preambleInsidePayloadIsData() {
        FakeTick tick;
        TPacketReceiver r;
        const TByteArray payload = Bytes("00 00 AA AA AA AA 22 00 00 0E 76");
        const auto got = Feed(r, MakeFrame(0x51, payload));
        QCOMPARE(got.size(), 1);
        QCOMPARE(got[0].ID, 0x51);
        QCOMPARE(got[0].Data, payload);
    }

    void gapRule() {
        // More than 100 ms inside the preamble resets it; exactly 100 ms does not.
        for (std::uint32_t pause : {150u, 101u, 100u, 50u}) {
            FakeTick tick;
            TPacketReceiver r;
            QVERIFY(Feed(r, Bytes("AA AA")).isEmpty());
            tick.Advance(pause);
            const auto got = Feed(r, Bytes("AA 22 00 00 0E 76"));
            QCOMPARE(got.size(), pause > 100 ? 0 : 1);
        }
        // A gap inside the payload drops the partial frame; the next frame still arrives.
        FakeTick tick;
        TPacketReceiver r;
        const TByteArray f = MakeFrame(0x21, Bytes("00 00 00 48 41 00 00 48 42"));
        QVERIFY(Feed(r, {f.begin(), f.begin() + 8}).isEmpty());
        tick.Advance(101);
        QVERIFY(Feed(r, {f.begin() + 8, f.end()}).isEmpty());
        QCOMPARE(Feed(r, MakeFrame(0x22, {})).size(), 1);
    }

    void noGapCheckRightAfterThePreamble() {
        FakeTick tick;
        TPacketReceiver r;
        QVERIFY(Feed(r, Bytes("AA AA AA")).isEmpty());
        tick.Advance(5000);
        QCOMPARE(Feed(r, Bytes("22 00 00 0E 76")).size(), 1);
    }

    void gapAcrossTickWraparound() {
        FakeTick tick(0xFFFFFFF0u);
        TPacketReceiver r;
        QVERIFY(Feed(r, Bytes("AA AA")).isEmpty());
        tick.Advance(0x30); // wraps; 48 ms
        QCOMPARE(Feed(r, Bytes("AA 22 00 00 0E 76")).size(), 1);
    }

    void largestPayload() {
        FakeTick tick;
        TPacketReceiver r;
        TByteArray payload(65535);
        for (std::size_t i = 0; i < payload.size(); ++i)
            payload[i] = static_cast<std::uint8_t>(i * 7);
        const auto got = Feed(r, MakeFrame(0x99, payload));
        QCOMPARE(got.size(), 1);
        QCOMPARE(got[0].Length, 65535);
        QVERIFY(got[0].Data == payload);
    }

    void backToBackFramesAndGarbage() {
        FakeTick tick;
        TPacketReceiver r;
        std::vector<std::uint8_t> stream = Bytes("00 13 AA 37");
        for (int id : {0x40, 0x41, 0x43}) {
            const TByteArray f = MakeFrame(static_cast<std::uint8_t>(id), Bytes("00 00 01"));
            stream.insert(stream.end(), f.begin(), f.end());
        }
        const auto got = Feed(r, stream);
        QCOMPARE(got.size(), 3);
        QCOMPARE(got[2].ID, 0x43);
    }

    void resetDropsAPartialFrame() {
        FakeTick tick;
        TPacketReceiver r;
        Feed(r, Bytes("AA AA AA 22 00"));
        QVERIFY(r.InPacket());
        r.Reset();
        QVERIFY(!r.InPacket());
        QVERIFY(Feed(r, Bytes("00 0E 76")).isEmpty());
        QCOMPARE(Feed(r, Bytes("AA AA AA 22 00 00 0E 76")).size(), 1);
    }

    void allocatesOncePerIntactFrame() {
        FakeTick tick;
        TPacketReceiver r;
        const TByteArray frame = MakeFrame(0x43, Bytes("00 00 00 00 48 41"));
        TByteArray corrupt = frame;
        corrupt.back() ^= 1;
        TPacket p;
        const std::size_t before = g_allocations;
        int packets = 0;
        for (int i = 0; i < 50; ++i) {
            for (std::uint8_t b : frame)
                if (r.Feed(b, p)) {
                    ++packets;
                    p = TPacket{}; // hand the payload away, as the engine does
                }
            for (std::uint8_t b : corrupt)
                packets += r.Feed(b, p) ? 1 : 0;
        }
        QCOMPARE(packets, 50);
        QCOMPARE(g_allocations - before, std::size_t(50));
    }
};

QTEST_GUILESS_MAIN(TestReceiver)
#include "tst_receiver.moc"
