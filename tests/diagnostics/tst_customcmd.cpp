#include "diagnostics/CustomCmdForm.h"

#include "TestSupport.h"

#include <QLocale>
#include <QTest>

namespace {

QString Hex(const std::optional<TByteArray>& bytes) {
    return bytes ? HexString(*bytes) : QStringLiteral("<invalid>");
}

} // namespace

class TestCustomCmd : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void payloadItems_data();
    void payloadItems();
    void floatItemsFollowTheLocale();
    void oversizedPayloadIsInvalid();
    void decodingPanel();
};

void TestCustomCmd::payloadItems_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("bytes");
    auto row = [](const char* name, const char* text, const char* bytes) {
        QTest::newRow(name) << QString::fromUtf8(text) << QString::fromLatin1(bytes);
    };
    row("mixed", "15 0x0A \"AB\" 1.5f", "0F 0A 41 42 00 00 C0 3F");
    row("empty", "", "");
    row("blanks", "   \t ", "");
    row("runs of blanks", "  1   2  ", "01 02");
    row("string then item", "\"Hi\"0", "48 69 00");
    row("string blank item", "\"Hi\" 0", "48 69 00");
    row("empty string", "\"\" 7", "07");
    row("string keeps blanks", "\" a \"", "20 61 20");
    row("latin-1", "\"\xc3\xa9\"", "E9");
    row("unclosed string", "1 \"abc", "<invalid>");
    row("255", "255", "FF");
    row("dollar", "$FE", "FE");
    row("0x", "0xFE", "FE");
    row("0X", "0XFE", "FE");
    row("x", "xfe", "FE");
    row("hex ending in F", "0x0F $0F 0xFF xF", "0F 0F FF 0F");
    row("plus", "+7", "07");
    row("256", "256", "<invalid>");
    row("-1", "-1", "<invalid>");
    row("12a", "12a", "<invalid>");
    row("0x100", "0x100", "<invalid>");
    row("sign before hex", "-0x01", "<invalid>");
    row("bare prefix", "$", "<invalid>");
    row("float 10f", "10f", "00 00 20 41");
    row("float upper F", "-2.5F", "00 00 20 C0");
    row("float exponent", "1e2f", "00 00 C8 42");
    row("separator alone", ".f", "00 00 00 00");
    row("float garbage", "1.2.3f", "<invalid>");
    row("float too large", "1e39f", "<invalid>");
    row("lone f", "f", "<invalid>");
}

void TestCustomCmd::payloadItems() {
    QFETCH(QString, text);
    QFETCH(QString, bytes);
    QCOMPARE(Hex(ParsePayload(text)), bytes);
}

void TestCustomCmd::floatItemsFollowTheLocale() {
    const QLocale previous;
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    QCOMPARE(Hex(ParsePayload(QStringLiteral("1.5f"))), QStringLiteral("00 00 C0 3F"));
    QCOMPARE(Hex(ParsePayload(QStringLiteral("1,5f"))), QStringLiteral("00 00 C0 3F"));
    QCOMPARE(Hex(ParsePayload(QStringLiteral("1.000,5f"))), QStringLiteral("<invalid>"));
    QLocale::setDefault(QLocale::c());
    QCOMPARE(Hex(ParsePayload(QStringLiteral("1,5f"))), QStringLiteral("<invalid>"));
    QLocale::setDefault(previous);
}

void TestCustomCmd::oversizedPayloadIsInvalid() {
    const QString fits =
        QStringLiteral("\"") + QString(65535, QLatin1Char('a')) + QStringLiteral("\"");
    const auto ok = ParsePayload(fits);
    QVERIFY(ok);
    QCOMPARE(ok->size(), std::size_t(65535));
    QVERIFY(!ParsePayload(fits + QStringLiteral(" 1")));
}

void TestCustomCmd::decodingPanel() {
    TPacketDecoding d = DecodePacket(0x00, {});
    QCOMPARE(d.ID, QStringLiteral("00"));
    QCOMPARE(d.Length, QStringLiteral("00 00"));
    QCOMPARE(d.Payload, QStringLiteral("[n/a]"));
    QCOMPARE(d.Checksum, QStringLiteral("4A 7A"));
    QCOMPARE(DecodePacket(0x40, {}).Checksum, QStringLiteral("5B EB"));
    d = DecodePacket(0x20, {0x00});
    QCOMPARE(d.Checksum, QStringLiteral("8F 83"));
    QCOMPARE(d.Payload, QStringLiteral("00 "));
    QCOMPARE(d.Length, QStringLiteral("01 00"));
    d = DecodePacket(0x21, TByteArray(300, 0xAB));
    QCOMPARE(d.Length, QStringLiteral("2C 01"));
    QCOMPARE(d.Payload.size(), 900);
    QVERIFY(d.Payload.startsWith(QStringLiteral("AB AB ")));
}

QTEST_MAIN(TestCustomCmd)
#include "tst_customcmd.moc"
