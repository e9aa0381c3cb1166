// SPDX-License-Identifier: Apache-2.0
#include "TestSupport.h"
#include "protocol/Frame.h"
#include "protocol/Receiver.h"
#include "protocol/crc.h"

#include <QTest>

#include <algorithm>
#include <cstdlib>
#include <new>
#include <random>

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

    static std::uint16_t PlainCrc(const std::uint8_t* data, std::size_t n, std::uint16_t crc) {
        for (std::size_t i = 0; i < n; ++i)
            crc = Crc16Byte(data[i], crc);
        return crc;
    }

    // A frame checksummed one byte at a time, independent of the block methods under test.
    static std::vector<std::uint8_t> PlainFrame(std::uint8_t id, std::uint16_t announced,
                                                const std::vector<std::uint8_t>& payload) {
        std::vector<std::uint8_t> f = {0xAA,
                                       0xAA,
                                       0xAA,
                                       id,
                                       static_cast<std::uint8_t>(announced & 0xFF),
                                       static_cast<std::uint8_t>(announced >> 8)};
        f.insert(f.end(), payload.begin(), payload.end());
        const std::uint16_t crc = PlainCrc(f.data(), f.size(), Crc16Initial);
        f.push_back(static_cast<std::uint8_t>(crc & 0xFF));
        f.push_back(static_cast<std::uint8_t>(crc >> 8));
        return f;
    }

    // A stream of intact, corrupt, truncated and overlong frames with noise between them.
    static std::vector<std::uint8_t> MixedStream(std::mt19937& rng, int frames) {
        auto pick = [&rng](int lo, int hi) { return std::uniform_int_distribution(lo, hi)(rng); };
        std::vector<std::uint8_t> out;
        for (int k = 0; k < frames; ++k) {
            const int size = pick(0, 9) == 0 ? pick(300, 9000) : pick(0, 40);
            std::vector<std::uint8_t> payload(static_cast<std::size_t>(size));
            for (auto& b : payload)
                b = pick(0, 3) == 0 ? 0xAA : static_cast<std::uint8_t>(pick(0, 255));
            const auto id = static_cast<std::uint8_t>(pick(0, 4) == 0 ? 0xAA : pick(0, 255));
            std::vector<std::uint8_t> f =
                PlainFrame(id, static_cast<std::uint16_t>(payload.size()), payload);
            switch (pick(0, 9)) {
            case 0: // corrupt anywhere after the preamble
                f[static_cast<std::size_t>(pick(3, static_cast<int>(f.size()) - 1))] ^=
                    static_cast<std::uint8_t>(1u << pick(0, 7));
                break;
            case 1: // truncated
                f.resize(static_cast<std::size_t>(pick(1, static_cast<int>(f.size()) - 1)));
                break;
            case 2: // announces far more than follows
                f = PlainFrame(id, static_cast<std::uint16_t>(pick(9000, 65535)), payload);
                f.resize(f.size() - 2);
                break;
            case 3: // noise in front, often a stray preamble byte
                for (int n = pick(1, 5); n > 0; --n)
                    out.push_back(pick(0, 1) ? 0xAA : static_cast<std::uint8_t>(pick(0, 255)));
                break;
            default:
                break;
            }
            out.insert(out.end(), f.begin(), f.end());
        }
        return out;
    }

private Q_SLOTS:
    void wholeFrame() {
        FakeTick tick;
        TPacketReceiver r(tick.Source());
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
                TPacketReceiver r(tick.Source());
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
        TPacketReceiver r(tick.Source());
        // A frame whose identifier is 0xAA.
        const TByteArray f = MakeFrame(0xAA, Bytes("01"));
        QCOMPARE(HexString(f).left(14), QStringLiteral("AA AA AA AA 01"));
        auto got = Feed(r, f);
        QCOMPARE(got.size(), 1);
        QCOMPARE(got[0].ID, 0xAA);
        QCOMPARE(got[0].Data, Bytes("01"));

        // A stray extra 0xAA in front of a frame no longer spoils it.
        std::vector<std::uint8_t> stray = {0xAA};
        const TByteArray stop = MakeFrame(0x22, {});
        stray.insert(stray.end(), stop.begin(), stop.end());
        TPacketReceiver r2(tick.Source());
        got = Feed(r2, stray);
        QCOMPARE(got.size(), 1);
        QCOMPARE(got[0].ID, 0x22);
    }

    void preambleInsidePayload() {
        FakeTick tick;
        TPacketReceiver r(tick.Source());
        // A false header inside a payload is data of the frame that ends first.
        const TByteArray payload = Bytes("00 00 AA AA AA AA 40 FF FF 01 02");
        auto got = Feed(r, MakeFrame(0x51, payload));
        QCOMPARE(got.size(), 1);
        QCOMPARE(got[0].ID, 0x51);
        QCOMPARE(got[0].Data, payload);
        QVERIFY(!r.InPacket());
        // A whole frame inside a payload ends first and wins; the longer one is given up.
        got = Feed(r, MakeFrame(0x52, Bytes("00 00 AA AA AA 22 00 00 0E 76 01")));
        QCOMPARE(got.size(), 1);
        QCOMPARE(got[0].ID, 0x22);
        QCOMPARE(Feed(r, MakeFrame(0x22, {})).size(), 1);
        // A payload of preamble bytes opens far more candidates than are kept; the frame that
        // holds them is not among those given up.
        const TByteArray run(300, 0xAA);
        got = Feed(r, MakeFrame(0x53, run));
        QCOMPARE(got.size(), 1);
        QVERIFY(got[0].Data == run);
    }

    // The header of a frame that never comes (AA AA AA 40 FF FF announces 65535 bytes) must
    // not hide the frames behind it: each comes out with its own last byte.
    void falseHeaderDoesNotBlind() {
        FakeTick tick;
        TPacketReceiver r(tick.Source());
        std::vector<std::uint8_t> stream = Bytes("AA AA AA 40 FF FF");
        std::vector<std::size_t> ends;
        for (int k = 0; k < 3; ++k) {
            const TByteArray f =
                MakeFrame(0x43, Bytes(k == 1 ? "00 00 AA AA AA 41" : "00 00 00 00 48 41"));
            stream.insert(stream.end(), f.begin(), f.end());
            ends.push_back(stream.size() - 1);
            // A second false header between updates.
            if (k == 0)
                stream.insert(stream.end(), {0xAA, 0xAA, 0xAA, 0x41, 0x00, 0xF0});
        }
        std::vector<std::size_t> at;
        TPacket p;
        for (std::size_t i = 0; i < stream.size(); ++i) {
            tick.Advance(i % 7 == 0 ? 60 : 0); // pauses below the gap
            if (r.Feed(stream[i], p)) {
                QCOMPARE(p.ID, 0x43);
                at.push_back(i);
            }
        }
        QCOMPARE(at, ends);
    }

    // What the receiver gives up is reported, by kind and number of bytes.
    void discardsAreReported() {
        const TByteArray stop = MakeFrame(0x22, {});
        TByteArray bad = MakeFrame(0x43, Bytes("00 00 00 00 48 41"));
        bad.back() ^= 0x10;
        auto cat = [](std::initializer_list<std::vector<std::uint8_t>> parts) {
            std::vector<std::uint8_t> out;
            for (const auto& part : parts)
                out.insert(out.end(), part.begin(), part.end());
            return out;
        };
        const std::vector<std::uint8_t> run20(20, 0xAA);
        struct TCase {
            const char* name;
            std::vector<std::uint8_t> before; // fed, then a pause of `pause` ms
            std::uint32_t pause;
            std::vector<std::uint8_t> after;
            int packets;
            QString events; // kind:count, in order
        };
        using K = TLinkEventKind;
        const auto kind = [](K k) { return QString::number(static_cast<int>(k)); };
        const std::vector<TCase> cases = {
            {"bad header", Bytes("AA AA AA 40 FF FF"), 0, cat({stop, stop}), 2,
             kind(K::FalsePreamble) + QStringLiteral(":6")},
            {"bad checksum", bad, 0, stop, 1, kind(K::BadChecksum) + QStringLiteral(":14")},
            {"noise", Bytes("00 13 AA AA 37"), 0, stop, 1,
             kind(K::SkippedBytes) + QStringLiteral(":5")},
            {"stray preamble byte", Bytes("AA"), 0, stop, 1,
             kind(K::FalsePreamble) + QStringLiteral(":1")},
            {"cut by a pause", Bytes("AA AA AA 43 06 00 00"), 101, stop, 1,
             kind(K::CutByPause) + QStringLiteral(":7")},
            {"pause of exactly the gap", Bytes("AA AA AA 22 00"), 100, Bytes("00 0E 76"), 1, {}},
            {"long preamble run", run20, 0, Bytes("22 00 00 0E 76"), 1,
             kind(K::FalsePreamble) + QStringLiteral(":17")},
        };
        for (const TCase& c : cases) {
            for (const bool chunked : {false, true}) {
                FakeTick tick;
                TPacketReceiver r(tick.Source());
                QStringList events;
                r.OnLinkEvent = [&events](const TLinkEvent& e) {
                    const auto n =
                        e.Kind == TLinkEventKind::SkippedBytes ? e.Count : e.Bytes.size();
                    QCOMPARE(e.Bytes.empty() || e.Bytes.size() == e.Count, true);
                    events << QStringLiteral("%1:%2").arg(static_cast<int>(e.Kind)).arg(n);
                };
                int packets = 0;
                const auto feed = [&](const std::vector<std::uint8_t>& bytes) {
                    if (chunked)
                        r.Feed(bytes.data(), bytes.size(), [&packets](TPacket&) {
                            ++packets;
                            return true;
                        });
                    else
                        packets += static_cast<int>(Feed(r, bytes).size());
                };
                feed(c.before);
                tick.Advance(c.pause);
                feed(c.after);
                QVERIFY2(packets == c.packets, c.name);
                QVERIFY2(
                    events.join(u' ') == c.events,
                    qPrintable(QLatin1String(c.name) + QLatin1String(": ") + events.join(u' ')));
            }
        }
    }

    void gapRule() {
        // More than 100 ms inside the preamble resets it; exactly 100 ms does not.
        for (std::uint32_t pause : {150u, 101u, 100u, 50u}) {
            FakeTick tick;
            TPacketReceiver r(tick.Source());
            QVERIFY(Feed(r, Bytes("AA AA")).isEmpty());
            tick.Advance(pause);
            const auto got = Feed(r, Bytes("AA 22 00 00 0E 76"));
            QCOMPARE(got.size(), pause > 100 ? 0 : 1);
        }
        // A gap inside the payload drops the partial frame; the next frame still arrives.
        FakeTick tick;
        TPacketReceiver r(tick.Source());
        const TByteArray f = MakeFrame(0x21, Bytes("00 00 00 48 41 00 00 48 42"));
        QVERIFY(Feed(r, {f.begin(), f.begin() + 8}).isEmpty());
        tick.Advance(101);
        QVERIFY(Feed(r, {f.begin() + 8, f.end()}).isEmpty());
        QCOMPARE(Feed(r, MakeFrame(0x22, {})).size(), 1);
    }

    // A slow consumer of one read is not a pause on the line: the rest of a frame that comes
    // right after the read was handled still completes it.
    void handlingTimeIsNoPause() {
        FakeTick tick;
        TPacketReceiver r(tick.Source());
        const TByteArray first = MakeFrame(0x40, Bytes("00 00 00 00 00 00"));
        const TByteArray second = MakeFrame(0x43, Bytes("00 00 00 00 20 41"));
        TByteArray read1 = first;
        read1.insert(read1.end(), second.begin(), second.begin() + 7);
        int got = 0;
        const auto slowSink = [&](TPacket&) {
            ++got;
            tick.Advance(500);
            return true;
        };
        r.Feed(read1.data(), read1.size(), slowSink);
        r.Feed(second.data() + 7, second.size() - 7, slowSink);
        QCOMPARE(got, 2);
    }

    void noGapCheckRightAfterThePreamble() {
        FakeTick tick;
        TPacketReceiver r(tick.Source());
        QVERIFY(Feed(r, Bytes("AA AA AA")).isEmpty());
        tick.Advance(5000);
        QCOMPARE(Feed(r, Bytes("22 00 00 0E 76")).size(), 1);
    }

    void gapAcrossTickWraparound() {
        FakeTick tick(0xFFFFFFF0u);
        TPacketReceiver r(tick.Source());
        QVERIFY(Feed(r, Bytes("AA AA")).isEmpty());
        tick.Advance(0x30); // wraps; 48 ms
        QCOMPARE(Feed(r, Bytes("AA 22 00 00 0E 76")).size(), 1);
    }

    void largestPayload() {
        FakeTick tick;
        TPacketReceiver r(tick.Source());
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
        TPacketReceiver r(tick.Source());
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
        TPacketReceiver r(tick.Source());
        Feed(r, Bytes("AA AA AA 22 00"));
        QVERIFY(r.InPacket());
        r.Reset();
        QVERIFY(!r.InPacket());
        QVERIFY(Feed(r, Bytes("00 0E 76")).isEmpty());
        QCOMPARE(Feed(r, Bytes("AA AA AA 22 00 00 0E 76")).size(), 1);
    }

    void blockChecksumsMatchTheByteStep() {
        std::mt19937 rng(7);
        std::vector<std::uint8_t> data(300), copy(300);
        for (auto& b : data)
            b = static_cast<std::uint8_t>(rng());
        for (std::size_t n = 0; n <= data.size(); n += 1 + n / 8) {
            const auto initial = static_cast<std::uint16_t>(rng());
            const std::uint16_t want = PlainCrc(data.data(), n, initial);
            QCOMPARE(Crc16Block(data.data(), n, initial), want);
            std::fill(copy.begin(), copy.end(), 0);
            QCOMPARE(Crc16Copy(copy.data(), data.data(), n, initial), want);
            QVERIFY(std::equal(data.begin(), data.begin() + static_cast<std::ptrdiff_t>(n),
                               copy.begin()));
            QVERIFY(std::all_of(copy.begin() + static_cast<std::ptrdiff_t>(n), copy.end(),
                                [](std::uint8_t b) { return b == 0; }));
        }
    }

    // A chunk fed at once must decide exactly as its bytes fed one by one at the same tick:
    // same packets in the same order, same drops, same gap resets, same state between chunks.
    void chunksMatchBytesOneByOne() {
        std::mt19937 rng(20261208);
        auto pick = [&rng](int lo, int hi) { return std::uniform_int_distribution(lo, hi)(rng); };
        const std::uint32_t pauses[] = {0, 0, 0, 0, 1, 50, 100, 101, 150, 5000};
        int packets = 0, stops = 0;
        for (int round = 0; round < 120; ++round) {
            FakeTick tick(pick(0, 3) == 0 ? 0xFFFFFF00u : 1000u);
            TPacketReceiver bytewise(tick.Source()), chunked(tick.Source());
            const std::vector<std::uint8_t> stream = MixedStream(rng, 40);
            QList<TPacket> want, got;
            const int maxChunk = pick(0, 1) ? 16 : 6000;
            for (std::size_t at = 0; at < stream.size();) {
                const auto n = std::min<std::size_t>(static_cast<std::size_t>(pick(1, maxChunk)),
                                                     stream.size() - at);
                tick.Advance(pauses[pick(0, 9)]);
                want += Feed(bytewise, {stream.begin() + static_cast<std::ptrdiff_t>(at),
                                        stream.begin() + static_cast<std::ptrdiff_t>(at + n)});
                // Now and then the sink stops the chunk; the rest follows at the same tick.
                for (std::size_t done = 0; done < n;) {
                    const bool stop = pick(0, 2) == 0;
                    const std::size_t used =
                        chunked.Feed(stream.data() + at + done, n - done, [&](TPacket& p) {
                            got.append(p);
                            return !stop;
                        });
                    QVERIFY(used > 0 && used <= n - done);
                    QVERIFY(used == n - done || stop);
                    stops += used < n - done ? 1 : 0;
                    done += used;
                }
                at += n;
                QCOMPARE(chunked.InPacket(), bytewise.InPacket());
                QCOMPARE(chunked.Pending(), bytewise.Pending());
                QCOMPARE(chunked.PreambleRun(), bytewise.PreambleRun());
                QCOMPARE(got.size(), want.size());
            }
            for (qsizetype i = 0; i < want.size(); ++i) {
                QCOMPARE(got[i].ID, want[i].ID);
                QCOMPARE(got[i].Length, want[i].Length);
                QVERIFY(got[i].Data == want[i].Data);
            }
            packets += static_cast<int>(want.size());
        }
        // The mix must really exercise both outcomes, not pass on an empty stream.
        QVERIFY2(packets > 400, qPrintable(QString::number(packets)));
        QVERIFY(stops > 50);
    }

    void allocatesOncePerIntactFrame() {
        FakeTick tick;
        TPacketReceiver r(tick.Source());
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
