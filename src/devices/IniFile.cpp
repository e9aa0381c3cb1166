#include "devices/IniFile.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStringDecoder>

#include <algorithm>
#include <optional>

namespace {
// The UTF-8 byte-order mark, as Windows editors write it.
constexpr char Utf8Bom[] = "\xEF\xBB\xBF";

// The text of bytes that are valid UTF-8, or nothing.
std::optional<QString> FromUtf8(const QByteArray& bytes) {
    // The decoder drops a leading byte-order mark; Load notes it for the rewrite.
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8.decode(bytes);
    if (utf8.hasError())
        return std::nullopt;
    return text;
}

QString& OverrideDir() {
    static QString dir;
    return dir;
}

QString& ProgramDir() {
    static QString dir;
    return dir;
}

// Section name of a "[name]" line, or nothing for other lines.
std::optional<QString> SectionOf(const QString& line) {
    const QString t = line.trimmed();
    if (t.size() >= 2 && t.startsWith(QLatin1Char('[')) && t.endsWith(QLatin1Char(']')))
        return t.mid(1, t.size() - 2).trimmed();
    return std::nullopt;
}

bool IsComment(const QString& t) {
    return t.startsWith(QLatin1Char(';')) || t.startsWith(QLatin1Char('#'));
}

// Key of a "key=value" line, or nothing.
std::optional<QString> KeyOf(const QString& line) {
    const QString t = line.trimmed();
    if (t.isEmpty() || IsComment(t))
        return std::nullopt;
    const int eq = t.indexOf(QLatin1Char('='));
    if (eq <= 0)
        return std::nullopt;
    return t.left(eq).trimmed();
}

bool Same(const QString& a, const QString& b) {
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

struct Found {
    int sectionLine = -1; // index of the "[section]" line
    int endLine = -1;     // index after the section's last line
    int keyLine = -1;
};

Found Find(const QStringList& lines, const QString& section, const QString& key) {
    Found f;
    for (int i = 0; i < lines.size(); ++i) {
        if (auto s = SectionOf(lines[i])) {
            if (f.sectionLine >= 0)
                break;
            if (Same(*s, section))
                f.sectionLine = i;
            continue;
        }
        if (f.sectionLine >= 0) {
            f.endLine = i + 1;
            if (f.keyLine < 0 && !key.isEmpty())
                if (auto k = KeyOf(lines[i]); k && Same(*k, key))
                    f.keyLine = i;
        }
    }
    if (f.sectionLine >= 0 && f.endLine < 0)
        f.endLine = f.sectionLine + 1;
    return f;
}
} // namespace

TIniFile::TIniFile(QString fileName) : FFileName(std::move(fileName)) {}

QStringList TIniFile::Load(TForm* form) const {
    QFile f(FFileName);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    const QByteArray bytes = f.readAll();
    const std::optional<QString> utf8 = FromUtf8(bytes);
    const bool notUtf8 = !utf8;
    const QString text = notUtf8 ? QString::fromLatin1(bytes) : *utf8;
    if (form) {
        form->Latin1 = notUtf8;
        form->Bom = !notUtf8 && bytes.startsWith(Utf8Bom);
        form->Crlf = text.contains(QLatin1String("\r\n"));
    }
    QStringList lines = text.split(QLatin1Char('\n'));
    for (QString& l : lines)
        if (l.endsWith(QLatin1Char('\r')))
            l.chop(1);
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

QString TIniFile::ReadString(const QString& section, const QString& key,
                             const QString& defaultValue) const {
    const QStringList lines = Load();
    const Found f = Find(lines, section, key);
    if (f.keyLine < 0)
        return defaultValue;
    const QString t = lines[f.keyLine].trimmed();
    return t.mid(t.indexOf(QLatin1Char('=')) + 1).trimmed();
}

int TIniFile::ReadInteger(const QString& section, const QString& key, int defaultValue) const {
    const QString s = ReadString(section, key, QString()).trimmed();
    if (s.isEmpty())
        return defaultValue;
    bool ok = false;
    int v = 0;
    if (s.startsWith(QLatin1Char('$')))
        v = s.mid(1).toInt(&ok, 16);
    else if (s.startsWith(QLatin1String("0x"), Qt::CaseInsensitive))
        v = s.mid(2).toInt(&ok, 16);
    else
        v = s.toInt(&ok, 10);
    return ok ? v : defaultValue;
}

bool TIniFile::ReadBool(const QString& section, const QString& key, bool defaultValue) const {
    return ReadInteger(section, key, defaultValue ? 1 : 0) != 0;
}

bool TIniFile::WriteString(const QString& section, const QString& key, const QString& value) {
    TForm form;
    QStringList lines = Load(&form);
    const Found f = Find(lines, section, key);
    if (f.keyLine >= 0) {
        lines[f.keyLine] = *KeyOf(lines[f.keyLine]) + QLatin1Char('=') + value;
    } else if (f.sectionLine >= 0) {
        // After the section's last non-empty line, so a blank separator stays in place.
        int at = f.endLine;
        while (at > f.sectionLine + 1 && lines[at - 1].trimmed().isEmpty())
            --at;
        lines.insert(at, key + QLatin1Char('=') + value);
    } else {
        if (!lines.isEmpty() && !lines.last().trimmed().isEmpty())
            lines.append(QString());
        lines.append(QLatin1Char('[') + section + QLatin1Char(']'));
        lines.append(key + QLatin1Char('=') + value);
    }
    return Store(lines, form);
}

bool TIniFile::Store(const QStringList& lines, const TForm& form) {
    const QString eol = form.Crlf ? QStringLiteral("\r\n") : QStringLiteral("\n");
    const QString text = lines.join(eol) + eol;
    // A value Latin-1 cannot hold turns the file into UTF-8 rather than into question marks.
    // So does a write that leaves Latin-1 bytes which happen to be valid UTF-8 ("\xC3\xA9"
    // once the only other accented byte is gone), or the next read would change their text.
    const QByteArray latin1 = form.Latin1 ? text.toLatin1() : QByteArray();
    const bool keepLatin1 =
        form.Latin1 &&
        std::all_of(text.cbegin(), text.cend(), [](QChar c) { return c.unicode() < 256; }) &&
        !FromUtf8(latin1);
    QByteArray bytes = form.Bom ? QByteArray(Utf8Bom) : QByteArray();
    bytes += keepLatin1 ? latin1 : text.toUtf8();
    QSaveFile out(FFileName);
    const bool written = out.open(QIODevice::WriteOnly) && out.write(bytes) >= 0 && out.commit();
    if (written) {
        FFailing = false;
    } else if (!FFailing) {
        FFailing = true;
        if (OnWriteError)
            OnWriteError(FFileName);
    }
    return written;
}

bool TIniFile::WriteInteger(const QString& section, const QString& key, int value) {
    return WriteString(section, key, QString::number(value));
}

bool TIniFile::WriteBool(const QString& section, const QString& key, bool value) {
    return WriteString(section, key, value ? QStringLiteral("1") : QStringLiteral("0"));
}

bool TIniFile::SectionExists(const QString& section) const {
    return Find(Load(), section, QString()).sectionLine >= 0;
}

QStringList TIniFile::ReadSection(const QString& section) const {
    const QStringList lines = Load();
    const Found f = Find(lines, section, QString());
    QStringList keys;
    for (int i = f.sectionLine + 1; f.sectionLine >= 0 && i < f.endLine; ++i)
        if (auto k = KeyOf(lines[i]))
            keys << *k;
    return keys;
}

bool TIniFile::ValueExists(const QString& section, const QString& key) const {
    return Find(Load(), section, key).keyLine >= 0;
}

QString SettingsDirectoryFor(const QString& exeDir, bool exeDirWritable,
                             const QString& xdgConfigHome, const QString& home) {
    // Root may write into /usr/bin; an installed program still keeps its files per user.
    const bool installed = QDir(exeDir).dirName() == QStringLiteral("bin");
    if (exeDirWritable && !installed)
        return exeDir;
    // A relative XDG_CONFIG_HOME is invalid and to be ignored.
    const QString base = !xdgConfigHome.isEmpty() && QDir::isAbsolutePath(xdgConfigHome)
                             ? xdgConfigHome
                             : QDir(home).filePath(QStringLiteral(".config"));
    return QDir(base).filePath(QStringLiteral("karo-commander"));
}

QString SettingsWriteErrorText(const QString& fileName) {
    return QStringLiteral("Cannot write the settings file %1.")
        .arg(QDir::toNativeSeparators(fileName));
}

QString SettingsDirectory(bool create) {
    if (!OverrideDir().isEmpty())
        return OverrideDir();
    const QString exeDir =
        ProgramDir().isEmpty() ? QCoreApplication::applicationDirPath() : ProgramDir();
    const QString dir =
        SettingsDirectoryFor(exeDir, QFileInfo(exeDir).isWritable(),
                             qEnvironmentVariable("XDG_CONFIG_HOME"), QDir::homePath());
    if (create && dir != exeDir)
        QDir().mkpath(dir); // the first write would fail in a missing folder
    return dir;
}

void SetSettingsDirectory(const QString& dir) {
    OverrideDir() = dir;
}

QString SettingsFilePath(const QString& fileName) {
    return QDir(SettingsDirectory()).filePath(fileName);
}

QString CommanderDirectoryFor(const QString& toolDir) {
    const QString name = QStringLiteral("karo-commander");
    const QDir dir(toolDir);
    if (QFileInfo(dir.filePath(name)).isExecutable())
        return dir.path();
    QDir parent(dir);
    if (parent.cdUp() && QFileInfo(parent.filePath(name)).isExecutable())
        return parent.path();
    return dir.path();
}

void SetProgramDirectory(const QString& dir) {
    ProgramDir() = dir;
}
