// SPDX-License-Identifier: Apache-2.0
#include "protocol/HexText.h"
#include "protocol/PayloadText.h"

#include <QLocale>
#include <QTest>

namespace {
QString Hex(const std::optional<TByteArray>& bytes) {
    return bytes ? HexBytes(*bytes) : QStringLiteral("<invalid>");
}
} // namespace

// The command editor's and karo-cli's reading of typed payload items.
class TestPayloadText : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void payloadItems_data();
    void payloadItems();
    void floatItemsFollowTheLocale();
    void oversizedPayloadIsInvalid();
    void hexPayload_data();
    void hexPayload();
};

void TestPayloadText::payloadItems_data() {
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
    row("beyond latin-1", "1 \"\xe2\x82\xac\"", "<invalid>");
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

void TestPayloadText::payloadItems() {
    QFETCH(QString, text);
    QFETCH(QString, bytes);
    QCOMPARE(Hex(ParsePayload(text)), bytes);
}

void TestPayloadText::floatItemsFollowTheLocale() {
    const QLocale previous;
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    QCOMPARE(Hex(ParsePayload(QStringLiteral("1.5f"))), QStringLiteral("00 00 C0 3F"));
    QCOMPARE(Hex(ParsePayload(QStringLiteral("1,5f"))), QStringLiteral("00 00 C0 3F"));
    QCOMPARE(Hex(ParsePayload(QStringLiteral("1.000,5f"))), QStringLiteral("<invalid>"));
    QLocale::setDefault(QLocale::c());
    QCOMPARE(Hex(ParsePayload(QStringLiteral("1,5f"))), QStringLiteral("<invalid>"));
    QLocale::setDefault(previous);
}

void TestPayloadText::oversizedPayloadIsInvalid() {
    const QString fits =
        QStringLiteral("\"") + QString(65535, QLatin1Char('a')) + QStringLiteral("\"");
    const auto ok = ParsePayload(fits);
    QVERIFY(ok);
    QCOMPARE(ok->size(), std::size_t(65535));
    QVERIFY(!ParsePayload(fits + QStringLiteral(" 1")));

    const QString hexFits = QString(65535 * 2, QLatin1Char('a'));
    QCOMPARE(ParseHexPayload(hexFits)->size(), std::size_t(65535));
    QString problem;
    QVERIFY(!ParseHexPayload(hexFits + QStringLiteral(" 00"), &problem));
    QVERIFY2(problem.contains(QStringLiteral("65535")), qPrintable(problem));
}

void TestPayloadText::hexPayload_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("bytes");
    QTest::addColumn<QString>("problem"); // part of the message for an invalid text
    auto row = [](const char* name, const char* text, const char* bytes, const char* problem) {
        QTest::newRow(name) << QString::fromUtf8(text) << QString::fromLatin1(bytes)
                            << QString::fromUtf8(problem);
    };
    row("copied from the log", "00 00 48 42", "00 00 48 42", "");
    row("either case", "ab cD Ef", "AB CD EF", "");
    row("without blanks", "00004842", "00 00 48 42", "");
    row("tabs, runs, line end", "\t 01   02 \r\n", "01 02", "");
    row("empty", "", "", "");
    row("lone digit", "00 0 48", "<invalid>", "\"0\" has an odd number");
    row("odd group", "00 123", "<invalid>", "\"123\" has an odd number");
    row("not hex", "00 4G", "<invalid>", "\"G\" at position 5");
    row("prefix", "0x10", "<invalid>", "\"x\" at position 2");
    row("beyond latin-1", "00 \xe2\x82\xac", "<invalid>", "\"\xe2\x82\xac\" at position 4");
}

void TestPayloadText::hexPayload() {
    QFETCH(QString, text);
    QFETCH(QString, bytes);
    QFETCH(QString, problem);
    QString why;
    QCOMPARE(Hex(ParseHexPayload(text, &why)), bytes);
    if (problem.isEmpty())
        QVERIFY(why.isEmpty());
    else
        QVERIFY2(why.contains(problem), qPrintable(why));
}

QTEST_GUILESS_MAIN(TestPayloadText)
#include "tst_payloadtext.moc"
