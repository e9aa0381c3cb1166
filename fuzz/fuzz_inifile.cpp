// The settings-file reader over arbitrary file contents, followed by one write: every key a
// section lists can be read, the written value reads back, and no other value of the section
// changes.
#include "devices/IniFile.h"

#include <QDir>
#include <QFile>
#include <QStringDecoder>
#include <QTemporaryDir>

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdlib>
#include <map>

namespace {

void Check(bool ok) {
    if (!ok)
        std::abort();
}

QString FileName() {
    // On a RAM disk when there is one: every input writes the file twice.
    static QTemporaryDir dir(QDir(QStringLiteral("/dev/shm")).exists()
                                 ? QStringLiteral("/dev/shm/karo-fuzz-ini-XXXXXX")
                                 : QDir::tempPath() + QStringLiteral("/karo-fuzz-ini-XXXXXX"));
    return dir.filePath(QStringLiteral("fuzz.cfg"));
}

// A name the file format can hold as it is: no line break, no '=', no brackets, not a comment,
// no blanks around it.
bool Plain(const QString& s) {
    if (s.isEmpty() || s.trimmed() != s || s.startsWith(QLatin1Char(';')) ||
        s.startsWith(QLatin1Char('#')))
        return false;
    for (const QChar c : s)
        if (c == QLatin1Char('\n') || c == QLatin1Char('\r') || c == QLatin1Char('=') ||
            c == QLatin1Char('[') || c == QLatin1Char(']') || c.unicode() == 0 || c.isSpace() ||
            !c.isPrint())
            return false;
    return true;
}

std::map<QString, QString> Values(const TIniFile& ini, const QString& section) {
    std::map<QString, QString> values;
    for (const QString& key : ini.ReadSection(section)) {
        Check(ini.ValueExists(section, key));
        // The first line of a key counts; a later duplicate does not shadow it.
        values.try_emplace(key.toLower(), ini.ReadString(section, key, QString()));
    }
    return values;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider fdp(data, size);
    const QString section = QString::fromUtf8(fdp.ConsumeRandomLengthString(24));
    const QString key = QString::fromUtf8(fdp.ConsumeRandomLengthString(24));
    const QString value = QString::fromUtf8(fdp.ConsumeRandomLengthString(48));
    const std::string content = fdp.ConsumeRemainingBytesAsString();

    const QString name = FileName();
    {
        QFile f(name);
        Check(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        Check(f.write(content.data(), static_cast<qint64>(content.size())) ==
              static_cast<qint64>(content.size()));
    }
    TIniFile ini(name);
    const bool exists = ini.SectionExists(section);
    Check(exists || ini.ReadSection(section).isEmpty());
    const std::map<QString, QString> before = Values(ini, section);
    (void)ini.ReadInteger(section, key, 7);
    (void)ini.ReadBool(section, key, true);

    if (!Plain(section) || !Plain(key) || value.contains(QLatin1Char('\n')) ||
        value.contains(QLatin1Char('\r')))
        return 0;
    Check(ini.WriteString(section, key, value));
    Check(ini.SectionExists(section));
    Check(ini.ReadString(section, key, QStringLiteral("<none>")) == value.trimmed());
    std::map<QString, QString> after = Values(ini, section);
    after.erase(key.toLower());
    std::map<QString, QString> kept = before;
    kept.erase(key.toLower());
    Check(after == kept);
    return 0;
}
