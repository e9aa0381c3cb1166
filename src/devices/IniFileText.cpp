// SPDX-License-Identifier: Apache-2.0
#include "devices/IniFileText.h"

#include <QFile>
#include <QMutex>
#include <QStringDecoder>

#include <sys/stat.h>

#include <algorithm>
#include <map>
#include <optional>

namespace {
constexpr char Utf8Bom[] = "\xEF\xBB\xBF";

std::optional<QString> FromUtf8(const QByteArray& bytes) {
    // The decoder drops a leading byte-order mark; Parse notes it for the rewrite.
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8.decode(bytes);
    if (utf8.hasError())
        return std::nullopt;
    return text;
}

std::optional<QString> SectionOf(const QString& line) {
    const QString t = line.trimmed();
    if (t.size() >= 2 && t.startsWith(QLatin1Char('[')) && t.endsWith(QLatin1Char(']')))
        return t.mid(1, t.size() - 2).trimmed();
    return std::nullopt;
}

std::optional<QString> KeyOf(const QString& line) {
    const QString t = line.trimmed();
    if (t.isEmpty() || t.startsWith(QLatin1Char(';')) || t.startsWith(QLatin1Char('#')))
        return std::nullopt;
    const int eq = t.indexOf(QLatin1Char('='));
    if (eq <= 0)
        return std::nullopt;
    return t.left(eq).trimmed();
}

QString Fold(const QString& name) {
    return name.toCaseFolded();
}
} // namespace

TIniText TIniText::Parse(const QByteArray& bytes) {
    TIniText t;
    const std::optional<QString> utf8 = FromUtf8(bytes);
    t.Latin1 = !utf8;
    t.Bom = utf8 && bytes.startsWith(Utf8Bom);
    const QString text = t.Latin1 ? QString::fromLatin1(bytes) : *utf8;
    qsizetype from = 0;
    while (from < text.size()) {
        const qsizetype nl = text.indexOf(QLatin1Char('\n'), from);
        const qsizetype stop = nl < 0 ? text.size() : nl;
        const bool cr = nl > from && text[nl - 1] == QLatin1Char('\r');
        t.Lines.append(text.mid(from, stop - from - (cr ? 1 : 0)));
        t.Ends.append(nl < 0 ? eNone : cr ? eCrLf : eLf);
        from = stop + 1;
    }
    t.Reindex();
    return t;
}

void TIniText::Reindex() {
    Sections.clear();
    TSection* open = nullptr; // the section being read, when it is its name's first
    for (int i = 0; i < Lines.size(); ++i) {
        if (auto s = SectionOf(Lines[i])) {
            const QString name = Fold(*s);
            open = Sections.contains(name) ? nullptr : &Sections[name];
            if (open) {
                open->SectionLine = i;
                open->EndLine = i + 1;
            }
            continue;
        }
        if (!open)
            continue;
        open->EndLine = i + 1;
        if (auto k = KeyOf(Lines[i])) {
            const QString name = Fold(*k);
            if (!open->Keys.contains(name))
                open->Keys.insert(name, i);
        }
    }
}

const TIniText::TSection* TIniText::Find(const QString& section) const {
    const auto it = Sections.constFind(Fold(section));
    return it == Sections.cend() ? nullptr : &*it;
}

int TIniText::KeyLine(const QString& section, const QString& key) const {
    const TSection* s = Find(section);
    return s ? s->Keys.value(Fold(key), -1) : -1;
}

void TIniText::Set(const QString& section, const QString& key, const QString& value) {
    // A new line ends like the line before it, or like the file's first line.
    auto endNear = [this](int at) -> char {
        if (at > 0 && Ends[at - 1] != eNone)
            return Ends[at - 1];
        return !Ends.isEmpty() && Ends[0] != eNone ? Ends[0] : char(eLf);
    };
    auto insertLine = [this, &endNear](int at, const QString& line) {
        const char end = endNear(at);
        if (at > 0 && Ends[at - 1] == eNone)
            Ends[at - 1] = end; // the last line gains an end before a line follows it
        Lines.insert(at, line);
        Ends.insert(at, end);
    };
    const TSection* s = Find(section);
    const int keyLine = KeyLine(section, key);
    if (keyLine >= 0) {
        Lines[keyLine] = *KeyOf(Lines[keyLine]) + QLatin1Char('=') + value;
    } else if (s) {
        // After the section's last non-empty line, so a blank separator stays in place.
        int at = s->EndLine;
        while (at > s->SectionLine + 1 && Lines[at - 1].trimmed().isEmpty())
            --at;
        insertLine(at, key + QLatin1Char('=') + value);
    } else {
        if (!Lines.isEmpty() && !Lines.last().trimmed().isEmpty())
            insertLine(int(Lines.size()), QString());
        insertLine(int(Lines.size()), QLatin1Char('[') + section + QLatin1Char(']'));
        insertLine(int(Lines.size()), key + QLatin1Char('=') + value);
    }
    Reindex();
}

QByteArray TIniText::Serialize() const {
    QString text;
    for (int i = 0; i < Lines.size(); ++i) {
        text += Lines[i];
        // Every line ends, the last included, as the file was always written.
        const char end = Ends[i] != eNone ? Ends[i] : (i > 0 ? Ends[i - 1] : char(eLf));
        text += end == eCrLf ? QStringLiteral("\r\n") : QStringLiteral("\n");
    }
    // A value Latin-1 cannot hold turns the file into UTF-8 rather than into question marks.
    // So does a write that leaves Latin-1 bytes which happen to be valid UTF-8 ("\xC3\xA9"
    // once the only other accented byte is gone), or the next read would change their text.
    const QByteArray latin1 = Latin1 ? text.toLatin1() : QByteArray();
    const bool keepLatin1 =
        Latin1 &&
        std::all_of(text.cbegin(), text.cend(), [](QChar c) { return c.unicode() < 256; }) &&
        !FromUtf8(latin1);
    QByteArray bytes = Bom ? QByteArray(Utf8Bom) : QByteArray();
    bytes += keepLatin1 ? latin1 : text.toUtf8();
    return bytes;
}

namespace {
// What tells that a file changed: a rewrite through a new file changes the inode, an edit in
// place the time stamps or the size.
struct TStamp {
    dev_t Dev = 0;
    ino_t Ino = 0;
    off_t Size = -1;
    timespec Mtime{};
    timespec Ctime{};
    bool operator==(const TStamp& o) const {
        return Dev == o.Dev && Ino == o.Ino && Size == o.Size && Mtime.tv_sec == o.Mtime.tv_sec &&
               Mtime.tv_nsec == o.Mtime.tv_nsec && Ctime.tv_sec == o.Ctime.tv_sec &&
               Ctime.tv_nsec == o.Ctime.tv_nsec;
    }
};

std::optional<TStamp> StampOf(const QString& fileName) {
    struct stat st {};
    if (::stat(QFile::encodeName(fileName).constData(), &st) != 0)
        return std::nullopt;
    return TStamp{st.st_dev, st.st_ino, st.st_size, st.st_mtim, st.st_ctim};
}

struct TCached {
    TStamp Stamp;
    QByteArray Bytes; // of a small file only
    std::shared_ptr<const TIniText> Text;
};
constexpr std::size_t MaxCached = 16;
// A file this small is read every time: time stamps are too coarse to tell two quick edits of
// the same size apart, and reading it costs nothing. A larger one is read again when its stamp
// changed.
constexpr off_t SmallFile = 64 * 1024;
QMutex CacheLock;
std::map<QString, TCached>& Cache() {
    static std::map<QString, TCached> cache;
    return cache;
}
} // namespace

std::shared_ptr<const TIniText> LoadIniText(const QString& fileName) {
    const std::optional<TStamp> before = StampOf(fileName);
    if (!before)
        return nullptr;
    const bool small = before->Size < SmallFile;
    if (!small) {
        QMutexLocker lock(&CacheLock);
        const auto it = Cache().find(fileName);
        if (it != Cache().end() && it->second.Stamp == *before)
            return it->second.Text;
    }
    QFile f(fileName);
    if (!f.open(QIODevice::ReadOnly))
        return nullptr;
    const QByteArray bytes = f.readAll();
    if (small) {
        QMutexLocker lock(&CacheLock);
        const auto it = Cache().find(fileName);
        if (it != Cache().end() && it->second.Bytes == bytes)
            return it->second.Text;
    }
    auto text = std::make_shared<const TIniText>(TIniText::Parse(bytes));
    // Kept only when nobody wrote the file while it was read.
    if (const std::optional<TStamp> after = StampOf(fileName); after && *after == *before) {
        QMutexLocker lock(&CacheLock);
        if (Cache().size() >= MaxCached && !Cache().count(fileName))
            Cache().erase(Cache().begin());
        Cache()[fileName] = TCached{*before, small ? bytes : QByteArray(), text};
    }
    return text;
}

void ForgetIniText(const QString& fileName) {
    QMutexLocker lock(&CacheLock);
    Cache().erase(fileName);
}
