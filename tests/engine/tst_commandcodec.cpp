// SPDX-License-Identifier: Apache-2.0
#include "TestSupport.h"
#include "engine/CommandCodec.h"

#include <QTest>

#include <functional>

namespace {
using TDecode = std::function<QString(const TByteArray&)>;

QString Num(double v) {
    return QString::number(v, 'g', 10);
}

// Every field of a decoded result as text, or "none" when the data was refused.
template <typename T>
QString Fields(const std::optional<T>& v, const std::function<QStringList(const T&)>& fields) {
    return v ? fields(*v).join(QLatin1Char(' ')) : QStringLiteral("none");
}

TExchangeOutcome Replied(const char* payloadHex) {
    const TByteArray payload = HexBytes(payloadHex);
    TExchangeOutcome o;
    o.Kind = TOutcomeKind::Replied;
    o.HasStatus = payload.size() >= 2;
    if (o.HasStatus) {
        o.StatusWord = static_cast<std::uint16_t>(payload[0] | (payload[1] << 8));
        o.Data.assign(payload.begin() + 2, payload.end());
    }
    return o;
}

TExchangeOutcome Ended(TOutcomeKind kind) {
    TExchangeOutcome o;
    o.Kind = kind;
    return o;
}
} // namespace

Q_DECLARE_METATYPE(TDecode)
Q_DECLARE_METATYPE(TExchangeOutcome)

class TestCommandCodec : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // Reply data after the status word; anything but the exact length is refused.
    void decoders_data() {
        QTest::addColumn<TDecode>("decode");
        QTest::addColumn<QString>("data");
        QTest::addColumn<QString>("fields");
        using namespace CommandCodec;
        const TDecode single = [](const TByteArray& d) {
            return Fields<float>(DecodeSingle(d), [](float v) { return QStringList{Num(v)}; });
        };
        const TDecode stats = [](const TByteArray& d) {
            return Fields<TGraspingStatistics>(DecodeGraspingStatistics(d), [](const auto& s) {
                return QStringList{Num(s.NumberOfGrasps), Num(s.NumberOfNotFoundParts),
                                   Num(s.NumberOfPartsLost)};
            });
        };
        const TDecode info = [](const TByteArray& d) {
            return Fields<TSystemInfo>(DecodeSystemInfo(d), [](const auto& i) {
                return QStringList{Num(i.Type), Num(i.HardwareRevision), Num(i.FirmwareRevision),
                                   Num(i.SerialNumber)};
            });
        };
        const TDecode limits = [](const TByteArray& d) {
            return Fields<TSystemLimits>(DecodeSystemLimits(d), [](const auto& l) {
                return QStringList{Num(l.Stroke),          Num(l.MinSpeed),        Num(l.MaxSpeed),
                                   Num(l.MinAcceleration), Num(l.MaxAcceleration), Num(l.MinForce),
                                   Num(l.MaxForce),        Num(l.Reserved)};
            });
        };
        const TDecode state = [](const TByteArray& d) {
            return Fields<std::uint32_t>(DecodeSystemState(d),
                                         [](std::uint32_t v) { return QStringList{Num(v)}; });
        };
        const TDecode grasping = [](const TByteArray& d) {
            return Fields<std::uint8_t>(DecodeGraspingState(d),
                                        [](std::uint8_t v) { return QStringList{Num(v)}; });
        };
        const char* limits32 = "00 00 DC 42 00 00 80 3F 00 00 C8 42 00 00 C8 41 00 00 7A 45 "
                               "00 00 A0 40 00 00 48 42 00 00 80 BF";
        auto row = [](const char* name, const TDecode& d, const char* data, const char* fields) {
            QTest::newRow(name) << d << QString::fromLatin1(data) << QString::fromLatin1(fields);
        };
        row("single", single, "00 00 FA 43", "500");
        row("single short", single, "00 00 FA", "none");
        row("single long", single, "00 00 FA 43 00", "none");
        row("statistics", stats, "78 56 34 12 02 01 FF FF", "305419896 258 65535");
        row("statistics long", stats, "01 00 00 00 00 00 00 00 00", "none");
        row("system info", info, "07 02 34 12 EF BE AD DE", "7 2 4660 3735928559");
        row("system info empty", info, "", "none");
        row("system limits", limits, limits32, "110 1 100 25 4000 5 50 -1");
        row("system limits 28 bytes", limits,
            "00 00 DC 42 00 00 80 3F 00 00 C8 42 00 00 C8 41 00 00 7A 45 00 00 A0 40 00 00 48 42",
            "none");
        row("system state", state, "01 10 00 00", "4097");
        row("system state 3 bytes", state, "01 10 00", "none");
        row("grasping state", grasping, "04", "4");
        row("grasping state 2 bytes", grasping, "03 00", "none");
    }
    void decoders() {
        QFETCH(TDecode, decode);
        QFETCH(QString, data);
        QFETCH(QString, fields);
        QCOMPARE(decode(HexBytes(data.toLatin1().constData())), fields);
    }

    // The status a command reports: the reply's own, or 18 when there is nothing usable; a
    // query also needs the exact data length.
    void statusFromOutcome_data() {
        QTest::addColumn<TExchangeOutcome>("outcome");
        QTest::addColumn<int>("reply");
        QTest::addColumn<int>("query4");
        QTest::newRow("success with data") << Replied("00 00 00 00 FA 43") << 0 << 0;
        QTest::newRow("pending, no data") << Replied("1A 00") << 26 << 18;
        QTest::newRow("refusal with data") << Replied("03 01 00 00 FA 43") << 3 << 3;
        QTest::newRow("refusal without data") << Replied("10 00") << 16 << 18;
        QTest::newRow("too short for a status") << Replied("00") << 18 << 18;
        QTest::newRow("no reply") << Ended(TOutcomeKind::NoReply) << 18 << 18;
        QTest::newRow("not sent") << Ended(TOutcomeKind::NotSent) << 18 << 18;
        QTest::newRow("link closed") << Ended(TOutcomeKind::LinkClosed) << 18 << 18;
    }
    void statusFromOutcome() {
        QFETCH(TExchangeOutcome, outcome);
        QFETCH(int, reply);
        QFETCH(int, query4);
        QCOMPARE(int(CommandCodec::ReplyStatus(outcome)), reply);
        QCOMPARE(int(CommandCodec::QueryStatus(outcome, 4)), query4);
    }
};

QTEST_MAIN(TestCommandCodec)
#include "tst_commandcodec.moc"
