// SPDX-License-Identifier: Apache-2.0
#include "devices/IniFileText.h"

#include <QFile>
#include <QMutex>
#include <QStringDecoder>
#include <QVarLengthArray>

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

// Views into the line: indexing a large file makes no copy of a line it only looks at.
std::optional<QStringView> SectionOf(QStringView line) {
    const QStringView t = line.trimmed();
    if (t.size() >= 2 && t.startsWith(QLatin1Char('[')) && t.endsWith(QLatin1Char(']')))
        return t.sliced(1, t.size() - 2).trimmed();
    return std::nullopt;
}

std::optional<QStringView> KeyOf(QStringView line) {
    const QStringView t = line.trimmed();
    if (t.isEmpty() || t.startsWith(QLatin1Char(';')) || t.startsWith(QLatin1Char('#')))
        return std::nullopt;
    const qsizetype eq = t.indexOf(QLatin1Char('='));
    if (eq <= 0)
        return std::nullopt;
    return t.first(eq).trimmed();
}

// Plain ASCII without capitals: a name that folding leaves as it is.
bool FoldsToItself(QStringView name) {
    return std::all_of(name.cbegin(), name.cend(), [](QChar c) {
        return c.unicode() < 0x80 && !(c >= QLatin1Char('A') && c <= QLatin1Char('Z'));
    });
}

// Writes the name folded one code point at a time to `to`, which has room for twice the name
// (a folded code point takes at most two units); returns the units written.
qsizetype WriteFolded(QStringView name, QChar* to) {
    QChar* out = to;
    const QChar* const end = name.cend();
    for (const QChar* p = name.cbegin(); p != end; ++p) {
        char32_t c = p->unicode();
        if (c < 0x80) {
            *out++ = QChar(char16_t(c - 'A' < 26u ? c + ('a' - 'A') : c));
            continue;
        }
        if (QChar::isHighSurrogate(c) && p + 1 != end && p[1].isLowSurrogate())
            c = QChar::surrogateToUcs4(char16_t(c), (++p)->unicode());
        const char32_t f = QChar::toCaseFolded(c);
        if (QChar::requiresSurrogates(f)) {
            *out++ = QChar(QChar::highSurrogate(f));
            *out++ = QChar(QChar::lowSurrogate(f));
        } else {
            *out++ = QChar(char16_t(f));
        }
    }
    return out - to;
}

// The folded name for a look-up, on the stack unless it is long.
class TFoldedName {
public:
    explicit TFoldedName(QStringView name) : FView(name) {
        // FView may point into FBuffer: the object stays where it was made.
        if (!FoldsToItself(name)) {
            FBuffer.resize(2 * name.size());
            FView = QStringView(FBuffer.constData(), WriteFolded(name, FBuffer.data()));
        }
    }
    TFoldedName(const TFoldedName&) = delete;
    TFoldedName& operator=(const TFoldedName&) = delete;
    QStringView View() const { return FView; }

private:
    QVarLengthArray<QChar, 64> FBuffer;
    QStringView FView;
};

// Every line ends, the last included, as the file was always written.
QByteArray Encode(const QList<TIniText::TLine>& lines, bool latin1, bool bom) {
    QString text;
    qsizetype size = 0;
    for (const TIniText::TLine& line : lines)
        size += line.Text.size() + 2;
    text.reserve(size);
    for (qsizetype i = 0; i < lines.size(); ++i) {
        text += lines[i].Text;
        const TIniText::TEnd end = lines[i].End != TIniText::eNone ? lines[i].End
                                   : i > 0                         ? lines[i - 1].End
                                                                   : TIniText::eLf;
        text += end == TIniText::eCrLf ? QLatin1String("\r\n") : QLatin1String("\n");
    }
    // A value Latin-1 cannot hold turns the file into UTF-8 rather than into question marks.
    // So does a write that leaves Latin-1 bytes which happen to be valid UTF-8 ("\xC3\xA9"
    // once the only other accented byte is gone), or the next read would change their text.
    const QByteArray asLatin1 = latin1 ? text.toLatin1() : QByteArray();
    const bool keepLatin1 =
        latin1 &&
        std::all_of(text.cbegin(), text.cend(), [](QChar c) { return c.unicode() < 256; }) &&
        !FromUtf8(asLatin1);
    QByteArray bytes = bom ? QByteArray(Utf8Bom) : QByteArray();
    bytes += keepLatin1 ? asLatin1 : text.toUtf8();
    return bytes;
}
} // namespace

TIniText TIniText::Parse(const QByteArray& bytes) {
    TIniText t;
    std::optional<QString> utf8 = FromUtf8(bytes);
    t.Latin1 = !utf8;
    t.Bom = utf8 && bytes.startsWith(Utf8Bom);
    t.Text = t.Latin1 ? QString::fromLatin1(bytes) : std::move(*utf8);
    const QStringView text(t.Text);
    t.Lines.reserve(text.count(QLatin1Char('\n')) + 1);
    qsizetype from = 0;
    while (from < text.size()) {
        const qsizetype nl = text.indexOf(QLatin1Char('\n'), from);
        const qsizetype stop = nl < 0 ? text.size() : nl;
        const bool cr = nl > from && text[nl - 1] == QLatin1Char('\r');
        t.Lines.append({text.sliced(from, stop - from - (cr ? 1 : 0)), nl < 0 ? eNone
                                                                       : cr   ? eCrLf
                                                                              : eLf});
        from = stop + 1;
    }
    t.Index();
    return t;
}

QStringView TIniText::FoldedName(QStringView name) {
    if (FoldsToItself(name))
        return name;
    // Blocks that are never grown past what they reserved, so that views into them hold.
    const qsizetype need = 2 * name.size();
    if (Folded.isEmpty() || Folded.last().capacity() - Folded.last().size() < need) {
        Folded.append(QString());
        Folded.last().reserve(std::max<qsizetype>(need, 1024));
    }
    QString& block = Folded.last();
    const qsizetype from = block.size();
    block.resize(from + need); // within the room reserved: the text does not move
    const qsizetype size = WriteFolded(name, block.data() + from);
    block.resize(from + size);
    return QStringView(block).sliced(from, size);
}

void TIniText::Index() {
    qsizetype open = -1; // the section being read, when it is its name's first
    for (int i = 0; i < Lines.size(); ++i) {
        const QStringView line = std::as_const(Lines)[i].Text;
        if (auto s = SectionOf(line)) {
            const qsizetype known = Names.size();
            int& place = Names[{-1, FoldedName(*s)}];
            open = -1; // a later section of a name already seen
            if (Names.size() > known) {
                place = int(Sections.size());
                open = place;
                Sections.append(TSection{i, i + 1, int(KeyLines.size()), 0});
            }
            continue;
        }
        if (open < 0)
            continue;
        TSection& section = Sections[open];
        section.EndLine = i + 1;
        if (auto k = KeyOf(line)) {
            const qsizetype known = Names.size();
            int& first = Names[{section.SectionLine, FoldedName(*k)}];
            if (Names.size() > known) {
                first = i;
                KeyLines.append(i);
                ++section.KeyCount;
            }
        }
    }
}

const TIniText::TSection* TIniText::Find(const QString& section) const {
    const TFoldedName folded(section);
    const int place = Names.value({-1, folded.View()}, -1);
    return place < 0 ? nullptr : &Sections[place];
}

int TIniText::KeyLine(const QString& section, const QString& key) const {
    const TSection* s = Find(section);
    if (!s)
        return -1;
    const TFoldedName folded(key);
    return Names.value({s->SectionLine, folded.View()}, -1);
}

QByteArray TIniText::With(const QString& section, const QString& key, const QString& value) const {
    QList<TLine> lines = Lines;
    // A new line ends like the line before it, or like the file's first line.
    auto endNear = [&lines](qsizetype at) {
        if (at > 0 && lines[at - 1].End != eNone)
            return lines[at - 1].End;
        return !lines.isEmpty() && lines[0].End != eNone ? lines[0].End : eLf;
    };
    auto insertLine = [&](qsizetype at, QStringView line) {
        const TEnd end = endNear(at);
        if (at > 0 && lines[at - 1].End == eNone)
            lines[at - 1].End = end; // the last line gains an end before a line follows it
        lines.insert(at, {line, end});
    };
    const TSection* s = Find(section);
    const int keyLine = KeyLine(section, key);
    QString made;   // the key's line
    QString header; // a new section's
    if (keyLine >= 0) {
        made = KeyOf(lines[keyLine].Text)->toString() + QLatin1Char('=') + value;
        lines[keyLine].Text = made;
    } else if (s) {
        // After the section's last non-empty line, so a blank separator stays in place.
        int at = s->EndLine;
        while (at > s->SectionLine + 1 && lines[at - 1].Text.trimmed().isEmpty())
            --at;
        made = key + QLatin1Char('=') + value;
        insertLine(at, made);
    } else {
        if (!lines.isEmpty() && !lines.last().Text.trimmed().isEmpty())
            insertLine(lines.size(), QStringView());
        header = QLatin1Char('[') + section + QLatin1Char(']');
        insertLine(lines.size(), header);
        made = key + QLatin1Char('=') + value;
        insertLine(lines.size(), made);
    }
    return Encode(lines, Latin1, Bom);
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
