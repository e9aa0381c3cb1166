// SPDX-License-Identifier: Apache-2.0
#include "protocol/ByteConv.h"
#include "protocol/Constants.h"

#include <QSet>
#include <QTest>

class TestVocabulary : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void commandNames() {
        QCOMPARE(CommandName(0x43), QStringLiteral("GET_POS"));
        QCOMPARE(CommandName(0x20), QStringLiteral("HOMING"));
        QCOMPARE(CommandName(0x53), QStringLiteral("GET_SYSTEM_LIMITS"));
        QCOMPARE(CommandName(0x29), QStringLiteral("unknown ID(41)"));
        QCOMPARE(CommandName(0), QStringLiteral("unknown ID(0)"));
        QCOMPARE(CommandName(255), QStringLiteral("unknown ID(255)"));
        // Identifiers are unique and in ascending table order.
        QSet<int> seen;
        for (std::size_t i = 0; i < CommandIDs.size(); ++i) {
            QVERIFY(!seen.contains(CommandIDs[i].ID));
            seen.insert(CommandIDs[i].ID);
            if (i)
                QVERIFY(CommandIDs[i - 1].ID < CommandIDs[i].ID);
        }
    }

    void statusTexts() {
        QCOMPARE(StatusText(0), QStringLiteral("No error"));
        QCOMPARE(StatusText(26), QStringLiteral("Command pending..."));
        QCOMPARE(StatusText(23), QStringLiteral("General I/O-Error"));
        QCOMPARE(StatusText(31), QStringLiteral("File already exists"));
        QCOMPARE(StatusText(2), QStringLiteral("Internal error, unknown error code (2)"));
        QCOMPARE(StatusText(32), QStringLiteral("Internal error, unknown error code (32)"));
        QCOMPARE(StatusText(200), QStringLiteral("Internal error, unknown error code (200)"));
        QCOMPARE(StatusIdentName(E_CMD_PENDING), QStringLiteral("E_CMD_PENDING"));
        QCOMPARE(StatusIdentName(E_FILE_EXISTS), QStringLiteral("E_FILE_EXISTS"));
        QCOMPARE(StatusIdentName(E_NO_SENSOR), QStringLiteral("E_NO_SENSOR"));
        QVERIFY(StatusIdentName(32).isEmpty());
    }

    void systemStateFlags() {
        auto selected = [](std::uint32_t word) {
            QStringList out;
            for (const TSysflagDescr& d : SysflagDescr)
                if (word & d.Flag)
                    out << QString::fromLatin1(d.Descr);
            return out;
        };
        QCOMPARE(selected(0x1081),
                 (QStringList{QStringLiteral("Referenced"), QStringLiteral("Target pos reached"),
                              QStringLiteral("Fast stop")}));
        QVERIFY(selected(0xE00).isEmpty());
        for (const TSysflagDescr& d : SysflagDescr)
            QCOMPARE(__builtin_popcount(d.Flag), 1);
        QCOMPARE(SysflagDescr.back().Flag, 0x100000u);
    }

    void graspingStates() {
        QCOMPARE(GraspingStateText(0), QStringLiteral("idle"));
        QCOMPARE(GraspingStateText(4), QStringLiteral("holding"));
        QCOMPARE(GraspingStateText(5), QStringLiteral("releasing"));
        QCOMPARE(GraspingStateText(6), QStringLiteral("6"));
        QCOMPARE(GraspingStateText(255), QStringLiteral("255"));
    }

    void byteConversions() {
        QCOMPARE(WordFromBytes(0x34, 0x12), 0x1234);
        QCOMPARE(DWordFromBytes(0x78, 0x56, 0x34, 0x12), 0x12345678u);
        QCOMPARE(DWordFromBytes(0xFF, 0xFF, 0xFF, 0xFF), 0xFFFFFFFFu);
        QCOMPARE(SingleFromBytes(0x00, 0x00, 0xFA, 0x43), 500.0f);
        QCOMPARE(SingleFromBytes(0x00, 0x00, 0x48, 0x41), 12.5f);
        const auto b = SingleToBytes(50.0f);
        QCOMPARE(b[0], 0x00);
        QCOMPARE(b[1], 0x00);
        QCOMPARE(b[2], 0x48);
        QCOMPARE(b[3], 0x42);
        QCOMPARE(SingleToDWord(1.0f), 0x3F800000u);
        QCOMPARE(SingleToDWord(-0.0f), 0x80000000u);
    }
};

QTEST_GUILESS_MAIN(TestVocabulary)
#include "tst_vocabulary.moc"
