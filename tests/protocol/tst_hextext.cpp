// SPDX-License-Identifier: Apache-2.0
#include "protocol/HexText.h"

#include <QTest>

// The one hexadecimal formatter behind the log, the command editor and karo-cli.
class TestHexText : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void bytes_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("from");
        QTest::addColumn<int>("count");
        QTest::addColumn<QString>("text");
        const QByteArray frame = QByteArray::fromHex("aaaaaa2200000e76");
        QTest::newRow("empty") << QByteArray() << 0 << -1 << QString();
        QTest::newRow("one byte") << QByteArray::fromHex("0a") << 0 << -1 << QStringLiteral("0A");
        QTest::newRow("whole frame")
            << frame << 0 << -1 << QStringLiteral("AA AA AA 22 00 00 0E 76");
        QTest::newRow("after the status word")
            << frame << 2 << -1 << QStringLiteral("AA 22 00 00 0E 76");
        QTest::newRow("first three") << frame << 0 << 3 << QStringLiteral("AA AA AA");
        QTest::newRow("window") << frame << 3 << 2 << QStringLiteral("22 00");
        QTest::newRow("count past the end") << frame << 6 << 10 << QStringLiteral("0E 76");
        QTest::newRow("start past the end") << frame << 9 << 1 << QString();
        QTest::newRow("every digit") << QByteArray::fromHex("0123456789abcdeff0") << 0 << -1
                                     << QStringLiteral("01 23 45 67 89 AB CD EF F0");
    }
    void bytes() {
        QFETCH(QByteArray, bytes);
        QFETCH(int, from);
        QFETCH(int, count);
        QFETCH(QString, text);
        const TByteArray data(bytes.begin(), bytes.end());
        const std::size_t n =
            count < 0 ? std::numeric_limits<std::size_t>::max() : static_cast<std::size_t>(count);
        QCOMPARE(HexBytes(data, static_cast<std::size_t>(from), n), text);
    }

    void words() {
        QCOMPARE(HexByte(0x0A), QStringLiteral("0A"));
        QCOMPARE(HexDWord(0x1001), QStringLiteral("00001001h"));
        QCOMPARE(HexDWord(0xFEDCBA98u), QStringLiteral("FEDCBA98h"));
        QCOMPARE(HexDWord(0), QStringLiteral("00000000h"));
    }
};

QTEST_APPLESS_MAIN(TestHexText)
#include "tst_hextext.moc"
