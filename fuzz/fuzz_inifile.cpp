// SPDX-License-Identifier: Apache-2.0
// The settings-file reader over arbitrary file contents, followed by one write: every key a
// section lists can be read, the written value reads back, and no other value of the section
// changes.
#include "FuzzSupport.h"
#include "devices/IniFile.h"

#include <QStringDecoder>

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdlib>
#include <map>

namespace {

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
        FuzzCheck(ini.ValueExists(section, key));
        // The first line of a key counts; a later duplicate does not shadow it.
        values.try_emplace(key.toLower(), ini.ReadString(section, key, QString()));
    }
    return values;
}

// A file as the reader takes it: UTF-8 when it is valid UTF-8, else Latin-1. Line ends are
// the file's business (one style for the whole file), so they are left out. A last line that
// holds no more than its line end is no line to the reader, and the rewrite ends every line.
struct TRead {
    bool latin1 = false;
    bool bom = false;
    QStringList lines;
};

TRead Read(const QByteArray& bytes) {
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8.decode(bytes);
    TRead r;
    r.latin1 = utf8.hasError();
    if (r.latin1)
        text = QString::fromLatin1(bytes);
    else
        r.bom = bytes.startsWith("\xEF\xBB\xBF");
    r.lines = text.split(QLatin1Char('\n'));
    // Only a final line feed ends the last line; a bare carriage return after it is a line of
    // its own, which the writer ends like the others.
    if (r.lines.last().isEmpty())
        r.lines.removeLast();
    for (QString& l : r.lines)
        while (l.endsWith(QLatin1Char('\r')))
            l.chop(1);
    return r;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider fdp(data, size);
    const QString section = QString::fromUtf8(fdp.ConsumeRandomLengthString(24));
    const QString key = QString::fromUtf8(fdp.ConsumeRandomLengthString(24));
    const QString value = QString::fromUtf8(fdp.ConsumeRandomLengthString(48));
    const std::string content = fdp.ConsumeRemainingBytesAsString();

    // The file's bytes in memory: the reader and the writer are the same as on disk, without
    // the file system's cost at every read.
    QByteArray bytes = QByteArray::fromStdString(content);
    TIniFile ini(&bytes);
    const bool exists = ini.SectionExists(section);
    FuzzCheck(exists || ini.ReadSection(section).isEmpty());
    const std::map<QString, QString> before = Values(ini, section);
    (void)ini.ReadInteger(section, key, 7);
    (void)ini.ReadBool(section, key, true);

    if (!Plain(section) || !Plain(key) || value.contains(QLatin1Char('\n')) ||
        value.contains(QLatin1Char('\r')))
        return 0;
    FuzzCheck(ini.WriteString(section, key, value));
    FuzzCheck(ini.SectionExists(section));
    FuzzCheck(ini.ReadString(section, key, QStringLiteral("<none>")) == value.trimmed());
    std::map<QString, QString> after = Values(ini, section);
    after.erase(key.toLower());
    std::map<QString, QString> kept = before;
    kept.erase(key.toLower());
    FuzzCheck(after == kept);

    // Every line the write did not touch is still there, in order, with the text the reader
    // takes from it. Within one encoding that is byte for byte; a Latin-1 file may have had to
    // become UTF-8.
    const TRead old = Read(QByteArray::fromStdString(content));
    const TRead now = Read(bytes);
    // A byte-order mark belongs to the file, not to its first line.
    FuzzCheck(now.bom == old.bom);
    // The encoding changes only from Latin-1 to UTF-8, and only where Latin-1 cannot hold the
    // text or would read back as UTF-8.
    if (old.latin1 != now.latin1) {
        const QString text = now.lines.join(QLatin1Char('\n'));
        FuzzCheck(old.latin1);
        FuzzCheck(
            std::any_of(text.cbegin(), text.cend(), [](QChar c) { return c.unicode() > 255; }) ||
            !Read(text.toLatin1()).latin1);
    }
    if (before.count(key.toLower()) > 0) {
        // The key's line was replaced in place, nothing else.
        FuzzCheck(now.lines.size() == old.lines.size());
        int changed = 0;
        for (qsizetype k = 0; k < old.lines.size(); ++k)
            changed += old.lines[k] != now.lines[k] ? 1 : 0;
        FuzzCheck(changed <= 1);
    } else {
        // Lines were only added: the old ones are all there, in order.
        qsizetype at = 0;
        for (const QString& line : old.lines) {
            at = now.lines.indexOf(line, at);
            FuzzCheck(at >= 0);
            ++at;
        }
    }
    return 0;
}
