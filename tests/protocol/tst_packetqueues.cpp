// SPDX-License-Identifier: Apache-2.0
#include "protocol/Errors.h"
#include "protocol/PacketBufferClass.h"
#include "protocol/PacketListClass.h"

#include <QTest>

namespace {
TPacket Make(int id, TByteArray data) {
    TPacket p;
    p.ID = id;
    p.Length = static_cast<std::int32_t>(data.size());
    p.Data = std::move(data);
    return p;
}
} // namespace

class TestPacketQueues : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void bufferIsFifoAndBounded() {
        TPacketBuffer q(3);
        for (int i = 1; i <= 3; ++i)
            QVERIFY(q.Add(Make(i, TByteArray(static_cast<std::size_t>(i), 0x10))));
        QVERIFY(!q.Add(Make(4, {})));
        QCOMPARE(q.Count(), 3);

        TPacket p;
        QVERIFY(q.Get(p));
        QCOMPARE(p.ID, 1);
        QCOMPARE(p.Data.size(), std::size_t(1));
        // A free slot takes a new packet behind the others (the ring wraps).
        QVERIFY(q.Add(Make(5, {1, 2})));
        QList<int> order;
        while (q.Get(p))
            order << p.ID;
        QCOMPARE(order, (QList<int>{2, 3, 5}));
        QCOMPARE(q.Count(), 0);
    }

    void bufferGetOnEmptyLeavesRecord() {
        TPacketBuffer q(2);
        TPacket p = Make(77, {9, 9});
        QVERIFY(!q.Get(p));
        QCOMPARE(p.ID, 77);
        QCOMPARE(p.Data, (TByteArray{9, 9}));
    }

    void bufferKeepsItsOwnCopy() {
        TPacketBuffer q(2);
        TPacket p = Make(1, {1, 2, 3});
        q.Add(p);
        p.Data[0] = 99;
        TPacket out;
        q.Get(out);
        QCOMPARE(out.Data, (TByteArray{1, 2, 3}));
        // A record whose array is longer than Length comes back with exactly Length bytes.
        TPacket longer = Make(2, {1, 2, 3, 4});
        longer.Length = 2;
        q.Add(longer);
        q.Get(out);
        QCOMPARE(out.Data, (TByteArray{1, 2}));
    }

    void bufferClear() {
        TPacketBuffer q(1024);
        for (int i = 0; i < 1024; ++i)
            QVERIFY(q.Add(Make(i, {})));
        QVERIFY(!q.Add(Make(0, {})));
        q.Clear();
        QCOMPARE(q.Count(), 0);
        QVERIFY(q.Add(Make(7, {})));
        TPacket p;
        QVERIFY(q.Get(p));
        QCOMPARE(p.ID, 7);
        // Cleared while the queue wraps round the end of its ring: full again, in order.
        for (int i = 0; i < 1024; ++i)
            QVERIFY(q.Add(Make(i, {std::uint8_t(i)})));
        q.Clear();
        for (int i = 0; i < 1024; ++i)
            QVERIFY(q.Add(Make(i + 1, {})));
        QVERIFY(!q.Add(Make(0, {})));
        for (int i = 0; i < 1024; ++i) {
            QVERIFY(q.Get(p));
            QCOMPARE(p.ID, i + 1);
        }
    }

    void listCopiesInAndOut() {
        TPacketList l;
        QCOMPARE(l.Add(Make(1, {1})), 0);
        QCOMPARE(l.Add(Make(2, {2, 2})), 1);
        QCOMPARE(l.Add(Make(3, {3, 3, 3})), 2);
        TPacket copy;
        l.Get(1, copy);
        l.Clear();
        QCOMPARE(l.Count(), 0);
        QCOMPARE(copy.ID, 2);
        QCOMPARE(copy.Data, (TByteArray{2, 2}));
    }

    void listDeleteAndBounds() {
        TPacketList l;
        for (int i = 0; i < 4; ++i)
            l.Add(Make(i, {}));
        l.Delete(1);
        TPacket p;
        l.Get(1, p);
        QCOMPARE(p.ID, 2);
        QCOMPARE(l.Count(), 3);
        QVERIFY_THROWS_EXCEPTION(EListError, l.Get(3, p));
        QVERIFY_THROWS_EXCEPTION(EListError, l.Get(-1, p));
        QVERIFY_THROWS_EXCEPTION(EListError, l.Delete(5));
        try {
            l.Get(9, p);
        } catch (const EListError& e) {
            QCOMPARE(e.Message(), QStringLiteral("List index out of bounds (9)"));
        }
    }
};

QTEST_GUILESS_MAIN(TestPacketQueues)
#include "tst_packetqueues.moc"
