// SPDX-License-Identifier: Apache-2.0
// The settings-file reader over arbitrary file contents, followed by one write: every key a
// section lists can be read, the written value reads back, and no other value of the section
// changes.
#include "FuzzSupport.h"
#include "devices/IniFile.h"

#include <QStringDecoder>

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>

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

// The section's keys and values in the order the reader lists them.
using TValues = QList<std::pair<QString, QString>>;

TValues Values(const TIniFile& ini, const QString& section) {
    TValues values;
    const QStringList keys = ini.ReadSection(section);
    values.reserve(keys.size());
    for (const QString& key : keys) {
        FuzzCheck(ini.ValueExists(section, key));
        values.emplace_back(key, ini.ReadString(section, key, QString()));
    }
    return values;
}

// Whether the two hold the same keys with the same values in the same order, leaving out the
// key whose folded name is `folded` (names compare without regard to case).
bool SameBut(const TValues& a, const TValues& b, const QString& folded) {
    const auto other = [&folded](const auto& kv) { return kv.first.toCaseFolded() != folded; };
    auto x = a.cbegin();
    auto y = b.cbegin();
    for (;;) {
        x = std::find_if(x, a.cend(), other);
        y = std::find_if(y, b.cend(), other);
        if (x == a.cend() || y == b.cend())
            return x == a.cend() && y == b.cend();
        if (*x++ != *y++)
            return false;
    }
}

// A file as the reader takes it: UTF-8 when it is valid UTF-8, else Latin-1. Line ends are
// the file's business (one style for the whole file), so they are left out. A last line that
// holds no more than its line end is no line to the reader, and the rewrite ends every line.
struct TRead {
    bool latin1 = false;
    bool bom = false;
    QString text;
    QList<QStringView> lines; // into text
};

TRead Read(const QByteArray& bytes) {
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    TRead r;
    r.text = utf8.decode(bytes);
    r.latin1 = utf8.hasError();
    if (r.latin1)
        r.text = QString::fromLatin1(bytes);
    else
        r.bom = bytes.startsWith("\xEF\xBB\xBF");
    r.lines = QStringView(r.text).split(QLatin1Char('\n'));
    // Only a final line feed ends the last line; a bare carriage return after it is a line of
    // its own, which the writer ends like the others.
    if (r.lines.last().isEmpty())
        r.lines.removeLast();
    for (QStringView& l : r.lines)
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
    // The rest (the strings came from the front) is the file's bytes, in memory: the reader
    // and the writer are the same as on disk, without the file system's cost at every read.
    const std::size_t rest = fdp.remaining_bytes();
    QByteArray bytes(reinterpret_cast<const char*>(data + size - rest), qsizetype(rest));
    const QByteArray original = bytes;
    TIniFile ini(&bytes);
    const bool exists = ini.SectionExists(section);
    FuzzCheck(exists || ini.ReadSection(section).isEmpty());
    const TValues before = Values(ini, section);
    (void)ini.ReadInteger(section, key, 7);
    (void)ini.ReadBool(section, key, true);

    if (!Plain(section) || !Plain(key) || value.contains(QLatin1Char('\n')) ||
        value.contains(QLatin1Char('\r')))
        return 0;
    FuzzCheck(ini.WriteString(section, key, value));
    FuzzCheck(ini.SectionExists(section));
    FuzzCheck(ini.ReadString(section, key, QStringLiteral("<none>")) == value.trimmed());
    // The other keys keep their values and their order.
    const QString folded = key.toCaseFolded();
    FuzzCheck(SameBut(Values(ini, section), before, folded));

    // Every line the write did not touch is still there, in order, with the text the reader
    // takes from it. Within one encoding that is byte for byte; a Latin-1 file may have had to
    // become UTF-8.
    const TRead old = Read(original);
    const TRead now = Read(bytes);
    // A byte-order mark belongs to the file, not to its first line.
    FuzzCheck(now.bom == old.bom);
    // The encoding changes only from Latin-1 to UTF-8, and only where Latin-1 cannot hold the
    // text or would read back as UTF-8.
    if (old.latin1 != now.latin1) {
        FuzzCheck(old.latin1);
        FuzzCheck(std::any_of(now.text.cbegin(), now.text.cend(),
                              [](QChar c) { return c.unicode() > 255; }) ||
                  !Read(now.text.toLatin1()).latin1);
    }
    const bool had = std::any_of(before.cbegin(), before.cend(), [&folded](const auto& kv) {
        return kv.first.toCaseFolded() == folded;
    });
    if (had) {
        // The key's line was replaced in place, nothing else.
        FuzzCheck(now.lines.size() == old.lines.size());
        int changed = 0;
        for (qsizetype k = 0; k < old.lines.size(); ++k)
            changed += old.lines[k] != now.lines[k] ? 1 : 0;
        FuzzCheck(changed <= 1);
    } else {
        // Lines were only added: the old ones are all there, in order.
        qsizetype at = 0;
        for (const QStringView line : old.lines) {
            at = now.lines.indexOf(line, at);
            FuzzCheck(at >= 0);
            ++at;
        }
    }
    return 0;
}
