// SPDX-License-Identifier: Apache-2.0
#include "devices/ByteQueue.h"

#include <QTest>

#include <thread>
#include <vector>

class TestByteQueue : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void oneSlotStaysFree() {
        TByteQueue q(4096);
        for (int i = 0; i < 4095; ++i)
            QVERIFY(q.Put(static_cast<std::uint8_t>(i)));
        QVERIFY(q.IsFull());
        QVERIFY(!q.Put(0xEE));
        QCOMPARE(q.Count(), 4095);
    }

    void readsAcrossTheEndInOrder() {
        TByteQueue q(4096);
        for (int i = 0; i < 4000; ++i)
            q.Put(static_cast<std::uint8_t>(i));
        std::vector<std::uint8_t> buf(4096);
        QCOMPARE(q.Read(buf.data(), 4000), 4000);
        for (int i = 0; i < 3000; ++i)
            QVERIFY(q.Put(static_cast<std::uint8_t>(i * 3)));
        QCOMPARE(q.Count(), 3000);
        // 95 of the earlier bytes were never put; 3000 put, none read yet.
        QCOMPARE(q.Read(buf.data(), 4096), 3000);
        for (int i = 0; i < 3000; ++i)
            QCOMPARE(buf[static_cast<std::size_t>(i)], static_cast<std::uint8_t>(i * 3));
        QCOMPARE(q.Count(), 0);
    }

    void nonPositiveReadChangesNothing() {
        TByteQueue q(8);
        q.Put(1);
        q.Put(2);
        std::uint8_t b[4] = {9, 9, 9, 9};
        QCOMPARE(q.Read(b, 0), 0);
        QCOMPARE(q.Read(b, -5), 0);
        QCOMPARE(q.Count(), 2);
        QCOMPARE(b[0], 9);
        QCOMPARE(q.Read(b, 1), 1);
        QCOMPARE(b[0], 1);
    }

    void fullAtTheWrapPoint() {
        TByteQueue q(4);
        std::uint8_t b[4];
        q.Put(1);
        q.Put(2);
        q.Read(b, 2); // both indices at 2
        QVERIFY(q.Put(3));
        QVERIFY(q.Put(4)); // write index wraps to 0
        QVERIFY(q.Put(5)); // now 1 == read index - 1
        QVERIFY(q.IsFull());
        QVERIFY(!q.Put(6));
        QCOMPARE(q.Read(b, 4), 3);
        QCOMPARE(b[0], 3);
        QCOMPARE(b[2], 5);
    }

    void allocateAndClear() {
        TByteQueue q(16);
        q.Put(1);
        QCOMPARE(q.Allocate(512), 0);
        QCOMPARE(q.Size(), 512);
        QCOMPARE(q.Count(), 0);
        for (int i = 0; i < 511; ++i)
            QVERIFY(q.Put(1));
        QVERIFY(!q.Put(1));
        q.Clear();
        QCOMPARE(q.Count(), 0);
        TByteQueue none(0);
        QVERIFY(none.IsFull());
        QCOMPARE(none.Count(), 0);
        QVERIFY(!none.Put(1));
    }

    void oneWriterOneReader() {
        // The writer thread and the reader see every byte exactly once and in order.
        TByteQueue q(512);
        constexpr int total = 200000;
        std::thread writer([&q] {
            for (int i = 0; i < total;) {
                if (q.Put(static_cast<std::uint8_t>(i)))
                    ++i;
                else
                    std::this_thread::yield();
            }
        });
        int received = 0;
        bool inOrder = true;
        std::uint8_t buf[97];
        while (received < total) {
            const int n = q.Read(buf, sizeof buf);
            for (int k = 0; k < n; ++k)
                inOrder = inOrder && buf[k] == static_cast<std::uint8_t>(received + k);
            received += n;
            if (n == 0)
                std::this_thread::yield();
        }
        writer.join();
        QVERIFY(inOrder);
        QCOMPARE(received, total);
    }
};

QTEST_GUILESS_MAIN(TestByteQueue)
#include "tst_bytequeue.moc"
