// SPDX-License-Identifier: Apache-2.0
#include "TestSupport.h"
#include "devices/IniFile.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

class TestIniFile : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void missingFileGivesDefaultsAndIsNotCreatedByReads() {
        TempSettingsDir dir;
        TIniFile ini(dir.FilePath(QStringLiteral("tcp.cfg")));
        QCOMPARE(
            ini.ReadString(QStringLiteral("common"), QStringLiteral("host"), QStringLiteral("x")),
            QStringLiteral("x"));
        QCOMPARE(ini.ReadInteger(QStringLiteral("common"), QStringLiteral("port"), 1000), 1000);
        QVERIFY(!QFile::exists(ini.FileName()));
        QVERIFY(ini.WriteInteger(QStringLiteral("common"), QStringLiteral("port"), 1001));
        QVERIFY(QFile::exists(ini.FileName()));
        QCOMPARE(dir.ReadFile(QStringLiteral("tcp.cfg")), QByteArray("[common]\nport=1001\n"));
    }

    void namesIgnoreCase() {
        TempSettingsDir dir;
        dir.WriteFile(QStringLiteral("uart.cfg"), "[Common]\nPortname = COM3\nbaudrate=4\n");
        TIniFile ini(dir.FilePath(QStringLiteral("uart.cfg")));
        QCOMPARE(ini.ReadString(QStringLiteral("common"), QStringLiteral("portname"), QString()),
                 QStringLiteral("COM3"));
        QCOMPARE(ini.ReadInteger(QStringLiteral("COMMON"), QStringLiteral("BaudRate"), 0), 4);
        // A write to the same key in another case updates the line instead of adding one.
        ini.WriteInteger(QStringLiteral("common"), QStringLiteral("baudrate"), 6);
        QCOMPARE(dir.ReadFile(QStringLiteral("uart.cfg")),
                 QByteArray("[Common]\nPortname = COM3\nbaudrate=6\n"));
    }

    // The first section of a name and the first line of a key count; later ones are kept in
    // the file but never read or written. Names fold beyond ASCII, to letters outside the BMP.
    void theFirstOfANameCounts_data() {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>("section");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("value");      // null: no such key
        QTest::addColumn<QString>("keys");       // what the section lists, comma-separated
        QTest::addColumn<QByteArray>("written"); // after writing "w" to section/key
        const auto row = [](const char* name, const char* file, const char* section,
                            const char* key, const char* value, const char* keys,
                            const char* written) {
            QTest::newRow(name) << QByteArray(file) << QString::fromUtf8(section)
                                << QString::fromUtf8(key)
                                << (value ? QString::fromUtf8(value) : QString())
                                << QString::fromUtf8(keys) << QByteArray(written);
        };
        row("key twice", "[s]\nk=1\nK=2\nj=3\n", "S", "k", "1", "k,j", "[s]\nk=w\nK=2\nj=3\n");
        row("section twice", "[S]\na=1\n[x]\n[s]\na=2\nb=3\n", "s", "a", "1", "a",
            "[S]\na=w\n[x]\n[s]\na=2\nb=3\n");
        row("a key of the later section only", "[s]\na=1\n[s]\nb=2\n", "s", "b", nullptr, "a",
            "[s]\na=1\nb=w\n[s]\nb=2\n");
        row("into an empty section, before its blank line", "[s]\n\n[t]\n", "s", "k", nullptr, "",
            "[s]\nk=w\n\n[t]\n");
        row("Latin and Greek", "[\xc3\x84rger]\n\xce\xa3\xce\x91\xce\xa3=1\n", "\xc3\xa4RGER",
            "\xcf\x83\xce\xb1\xcf\x82", "1", "\xce\xa3\xce\x91\xce\xa3",
            "[\xc3\x84rger]\n\xce\xa3\xce\x91\xce\xa3=w\n");
        row("outside the BMP", "[\xf0\x90\x90\x80]\nKey\xf0\x90\x90\x81=1\n", "\xf0\x90\x90\xa8",
            "kEY\xf0\x90\x90\xa9", "1", "Key\xf0\x90\x90\x81",
            "[\xf0\x90\x90\x80]\nKey\xf0\x90\x90\x81=w\n");
    }
    void theFirstOfANameCounts() {
        QFETCH(QByteArray, file);
        QFETCH(QString, section);
        QFETCH(QString, key);
        QFETCH(QString, value);
        QFETCH(QString, keys);
        QFETCH(QByteArray, written);
        QByteArray bytes = file;
        TIniFile ini(&bytes);
        QCOMPARE(ini.ReadString(section, key, QString()), value);
        QCOMPARE(ini.ValueExists(section, key), !value.isNull());
        QCOMPARE(ini.ReadSection(section).join(QLatin1Char(',')), keys);
        QVERIFY(ini.WriteString(section, key, QStringLiteral("w")));
        QCOMPARE(bytes, written);
        QCOMPARE(ini.ReadString(section, key, QString()), QStringLiteral("w"));
    }

    void unreadableIntegersFallBack() {
        TempSettingsDir dir;
        dir.WriteFile(QStringLiteral("udp.cfg"),
                      "[common]\nlistening_port=abc\ntransmit_port=\nx=$1F\ny=0x10\nz=12 3\n");
        TIniFile ini(dir.FilePath(QStringLiteral("udp.cfg")));
        const QString s = QStringLiteral("common");
        QCOMPARE(ini.ReadInteger(s, QStringLiteral("listening_port"), 1501), 1501);
        QCOMPARE(ini.ReadInteger(s, QStringLiteral("transmit_port"), 1500), 1500);
        QCOMPARE(ini.ReadInteger(s, QStringLiteral("x"), 0), 31);
        QCOMPARE(ini.ReadInteger(s, QStringLiteral("y"), 0), 16);
        QCOMPARE(ini.ReadInteger(s, QStringLiteral("z"), -1), -1);
        QCOMPARE(ini.ReadBool(s, QStringLiteral("x"), false), true);
        QCOMPARE(ini.ReadBool(s, QStringLiteral("missing"), true), true);
    }

    void rewritingKeepsWhatItDoesNotOwn() {
        TempSettingsDir dir;
        dir.WriteFile(QStringLiteral("settings.ini"),
                      "; written by hand\r\n[Common]\r\nMainWin=200,0,1,10,10,500,400\r\n"
                      "Extra=keep me\r\n\r\n[other]\r\na=1\r\n");
        TIniFile ini(dir.FilePath(QStringLiteral("settings.ini")));
        QVERIFY(ini.WriteBool(QStringLiteral("main"), QStringLiteral("manualinit"), true));
        QVERIFY(ini.WriteString(QStringLiteral("common"), QStringLiteral("MainWin"),
                                QStringLiteral("200,0,1,1,2,3,4")));
        QVERIFY(ini.WriteString(QStringLiteral("other"), QStringLiteral("b"), QStringLiteral("2")));
        QCOMPARE(dir.ReadFile(QStringLiteral("settings.ini")),
                 QByteArray("; written by hand\r\n[Common]\r\nMainWin=200,0,1,1,2,3,4\r\n"
                            "Extra=keep me\r\n\r\n[other]\r\na=1\r\nb=2\r\n\r\n[main]\r\n"
                            "manualinit=1\r\n"));
        QVERIFY(ini.ReadBool(QStringLiteral("Main"), QStringLiteral("ManualInit"), false));
        QVERIFY(ini.SectionExists(QStringLiteral("OTHER")));
        QVERIFY(!ini.ValueExists(QStringLiteral("other"), QStringLiteral("c")));
    }

    // The reader over bytes in memory (the fuzz target's) reads and writes what it would on disk.
    void memoryFileMatchesTheDiskFile() {
        const QByteArray files[] = {"", "; hand\r\n[Common]\r\nport=1000\r\n\r\n[x]\r\n",
                                    "[ports]\nCOM3=/dev/caf\xe9\n",
                                    "\xef\xbb\xbf[common]\nhost=a\n"};
        for (const QByteArray& content : files) {
            TempSettingsDir dir;
            dir.WriteFile(QStringLiteral("tcp.cfg"), content);
            TIniFile disk(dir.FilePath(QStringLiteral("tcp.cfg")));
            QByteArray bytes = content;
            TIniFile memory(&bytes);
            const QString s = QStringLiteral("common");
            QCOMPARE(memory.ReadSection(s), disk.ReadSection(s));
            for (TIniFile* ini : {&disk, &memory}) {
                QVERIFY(ini->WriteString(s, QStringLiteral("host"), QStringLiteral("h\u00e9")));
                QVERIFY(ini->WriteInteger(s, QStringLiteral("port"), 1001));
            }
            QCOMPARE(bytes, dir.ReadFile(QStringLiteral("tcp.cfg")));
            QCOMPARE(memory.ReadInteger(s, QStringLiteral("PORT"), 0), 1001);
            // Bytes changed by their owner are read as they are now.
            bytes = "[common]\nport=7\n";
            QCOMPARE(memory.ReadInteger(s, QStringLiteral("port"), 0), 7);
        }
    }

    void aWriteKeepsTheFilesEncoding() {
        TempSettingsDir dir;
        // Found by fuzzing: a Latin-1 byte in another line came back as U+FFFD.
        dir.WriteFile(QStringLiteral("uart.cfg"), "[ports]\nCOM3=/dev/caf\xe9\n[common]\nbaud=4\n");
        TIniFile ini(dir.FilePath(QStringLiteral("uart.cfg")));
        QCOMPARE(ini.ReadString(QStringLiteral("ports"), QStringLiteral("COM3"), QString()),
                 QStringLiteral("/dev/caf\u00e9"));
        QVERIFY(ini.WriteInteger(QStringLiteral("common"), QStringLiteral("baud"), 6));
        QCOMPARE(dir.ReadFile(QStringLiteral("uart.cfg")),
                 QByteArray("[ports]\nCOM3=/dev/caf\xe9\n[common]\nbaud=6\n"));
        // A value that Latin-1 cannot hold makes it UTF-8, nothing replaced by '?'.
        QVERIFY(ini.WriteString(QStringLiteral("common"), QStringLiteral("name"),
                                QStringLiteral("\u20ac")));
        QCOMPARE(
            dir.ReadFile(QStringLiteral("uart.cfg")),
            QByteArray("[ports]\nCOM3=/dev/caf\xc3\xa9\n[common]\nbaud=6\nname=\xe2\x82\xac\n"));
        // A UTF-8 file stays UTF-8.
        QCOMPARE(ini.ReadString(QStringLiteral("common"), QStringLiteral("name"), QString()),
                 QStringLiteral("\u20ac"));

        // Also found by fuzzing: the byte-order mark a Windows editor writes was lost.
        dir.WriteFile(QStringLiteral("bom.cfg"), "\xef\xbb\xbf[ports]\r\nCOM1=/dev/ttyS0\r\n");
        TIniFile bom(dir.FilePath(QStringLiteral("bom.cfg")));
        QVERIFY(bom.WriteString(QStringLiteral("ports"), QStringLiteral("COM1"),
                                QStringLiteral("/dev/ttyUSB0")));
        QCOMPARE(dir.ReadFile(QStringLiteral("bom.cfg")),
                 QByteArray("\xef\xbb\xbf[ports]\r\nCOM1=/dev/ttyUSB0\r\n"));

        // And: once a write removed a Latin-1 file's only byte that was not UTF-8, the rest read
        // as UTF-8 and "\u00c3\u00a9" became "\u00e9".
        dir.WriteFile(QStringLiteral("mixed.cfg"),
                      "[ports]\nCOM3=/dev/caf\xe9\nCOM4=/dev/A\xc3\xa9\n");
        TIniFile mixed(dir.FilePath(QStringLiteral("mixed.cfg")));
        QVERIFY(mixed.WriteString(QStringLiteral("ports"), QStringLiteral("COM3"),
                                  QStringLiteral("/dev/ttyS1")));
        QCOMPARE(mixed.ReadString(QStringLiteral("ports"), QStringLiteral("COM4"), QString()),
                 QStringLiteral("/dev/A\u00c3\u00a9"));
    }

    void newKeyGoesIntoItsSectionBeforeTheBlankLine() {
        TempSettingsDir dir;
        dir.WriteFile(QStringLiteral("a.ini"), "[one]\nx=1\n\n[two]\ny=2\n");
        TIniFile ini(dir.FilePath(QStringLiteral("a.ini")));
        ini.WriteString(QStringLiteral("one"), QStringLiteral("z"), QStringLiteral("3"));
        QCOMPARE(dir.ReadFile(QStringLiteral("a.ini")),
                 QByteArray("[one]\nx=1\nz=3\n\n[two]\ny=2\n"));
        // A key outside any section or a comment line never matches.
        dir.WriteFile(QStringLiteral("b.ini"), "k=0\n[s]\n;k=1\n");
        TIniFile b(dir.FilePath(QStringLiteral("b.ini")));
        QCOMPARE(b.ReadInteger(QStringLiteral("s"), QStringLiteral("k"), 5), 5);
    }

    void eachLineKeepsItsOwnEnding() {
        TempSettingsDir dir;
        // One CRLF line among LF lines, and a last line without an end.
        dir.WriteFile(QStringLiteral("m.ini"), "[a]\nx=1\r\ny=2\n[b]\nz=3");
        TIniFile ini(dir.FilePath(QStringLiteral("m.ini")));
        QVERIFY(ini.WriteString(QStringLiteral("a"), QStringLiteral("x"), QStringLiteral("5")));
        QCOMPARE(dir.ReadFile(QStringLiteral("m.ini")), QByteArray("[a]\nx=5\r\ny=2\n[b]\nz=3\n"));
        // A new line ends as the line before it does.
        QVERIFY(ini.WriteString(QStringLiteral("a"), QStringLiteral("w"), QStringLiteral("6")));
        QVERIFY(ini.WriteString(QStringLiteral("c"), QStringLiteral("v"), QStringLiteral("7")));
        QCOMPARE(dir.ReadFile(QStringLiteral("m.ini")),
                 QByteArray("[a]\nx=5\r\ny=2\nw=6\n[b]\nz=3\n\n[c]\nv=7\n"));
        QCOMPARE(ini.ReadString(QStringLiteral("A"), QStringLiteral("X"), QString()),
                 QStringLiteral("5"));
    }

    void aLargeFileIsReadOnceAndChangesAreSeen() {
        TempSettingsDir dir;
        // 100 000 keys before the ones looked up, as an attacker's or a generator's file has.
        QByteArray big = "[nets]\n";
        for (int i = 0; i < 100000; ++i)
            big += "filler" + QByteArray::number(i) + "=socketcan:can0\n";
        big += "[other]\n19=virtualcan:can0\n";
        dir.WriteFile(QStringLiteral("can.cfg"), big);
        const QString path = dir.FilePath(QStringLiteral("can.cfg"));
        TIniFile first(path);
        QCOMPARE(first.ReadString(QStringLiteral("other"), QStringLiteral("19"), QString()),
                 QStringLiteral("virtualcan:can0"));
        QCOMPARE(first.ReadString(QStringLiteral("nets"), QStringLiteral("filler99999"), QString()),
                 QStringLiteral("socketcan:can0"));
        QCOMPARE(first.ReadSection(QStringLiteral("other")), QStringList{QStringLiteral("19")});
        // A write through another instance and an edit by another program are both seen.
        TIniFile second(path);
        QVERIFY(second.WriteString(QStringLiteral("other"), QStringLiteral("19"),
                                   QStringLiteral("virtualcan:can1")));
        QCOMPARE(first.ReadString(QStringLiteral("other"), QStringLiteral("19"), QString()),
                 QStringLiteral("virtualcan:can1"));
        dir.WriteFile(QStringLiteral("can.cfg"), big + "20=x\n");
        QCOMPARE(first.ReadString(QStringLiteral("other"), QStringLiteral("20"), QString()),
                 QStringLiteral("x"));
        QCOMPARE(first.ReadString(QStringLiteral("other"), QStringLiteral("19"), QString()),
                 QStringLiteral("virtualcan:can0"));
        // Repeated names: the first section and the first key win, as before.
        dir.WriteFile(QStringLiteral("r.ini"), "[s]\nk=1\nk=2\n[t]\n[S]\nk=3\nj=4\n");
        TIniFile r(dir.FilePath(QStringLiteral("r.ini")));
        QCOMPARE(r.ReadInteger(QStringLiteral("s"), QStringLiteral("k"), 0), 1);
        QCOMPARE(r.ReadInteger(QStringLiteral("s"), QStringLiteral("j"), 0), 0);
    }

    void settingsDirectoryFollowsTheOverride() {
        {
            TempSettingsDir dir;
            QCOMPARE(SettingsDirectory(), dir.Path());
            QCOMPARE(SettingsFilePath(QStringLiteral("can.cfg")),
                     dir.FilePath(QStringLiteral("can.cfg")));
        }
        QCOMPARE(SettingsDirectory(), QCoreApplication::applicationDirPath());
    }

    void installedProgramFallsBackToTheConfigFolder_data() {
        QTest::addColumn<QString>("exeDir");
        QTest::addColumn<bool>("writable");
        QTest::addColumn<QString>("xdg");
        QTest::addColumn<QString>("expected");
        const QString build = QStringLiteral("/home/op/karo/build/src");
        QTest::newRow("beside the executable") << build << true << QStringLiteral("/cfg") << build;
        QTest::newRow("XDG_CONFIG_HOME")
            << build << false << QStringLiteral("/cfg") << QStringLiteral("/cfg/karo-commander");
        QTest::newRow("unset") << build << false << QString()
                               << QStringLiteral("/home/op/.config/karo-commander");
        QTest::newRow("relative is ignored") << build << false << QStringLiteral("cfg")
                                             << QStringLiteral("/home/op/.config/karo-commander");
        // Root may write to /usr/bin, yet an installed program keeps its files per user.
        QTest::newRow("installed, writable") << QStringLiteral("/usr/bin") << true << QString()
                                             << QStringLiteral("/home/op/.config/karo-commander");
    }

    void installedProgramFallsBackToTheConfigFolder() {
        QFETCH(QString, exeDir);
        QFETCH(bool, writable);
        QFETCH(QString, xdg);
        QFETCH(QString, expected);
        QCOMPARE(SettingsDirectoryFor(exeDir, writable, xdg, QStringLiteral("/home/op")), expected);
    }

    // A tool finds the Commander's folder beside it (installed) or one up (the build tree).
    void toolsShareTheCommandersFolder() {
        QTemporaryDir dir; // not a settings folder: SettingsDirectory is asked below
        const QString top = dir.filePath(QStringLiteral("build"));
        const QString tool = top + QStringLiteral("/cli");
        QVERIFY(QDir().mkpath(tool));
        QCOMPARE(CommanderDirectoryFor(tool), tool); // no Commander anywhere
        QFile commander(top + QStringLiteral("/karo-commander"));
        QVERIFY(commander.open(QIODevice::WriteOnly));
        commander.close();
        QCOMPARE(CommanderDirectoryFor(tool), tool); // not a program
        QVERIFY(commander.setPermissions(commander.permissions() | QFileDevice::ExeOwner));
        QCOMPARE(CommanderDirectoryFor(tool), top);
        QCOMPARE(CommanderDirectoryFor(top), top);
        QVERIFY(QFile::copy(commander.fileName(), tool + QStringLiteral("/karo-commander")));
        QCOMPARE(CommanderDirectoryFor(tool), tool);

        SetProgramDirectory(top);
        const QString home = SettingsDirectory(false);
        SetProgramDirectory(QString());
        QCOMPARE(home, top);
    }
};

QTEST_GUILESS_MAIN(TestIniFile)
#include "tst_inifile.moc"
