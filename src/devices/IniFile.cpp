// SPDX-License-Identifier: Apache-2.0
#include "devices/IniFile.h"

#include "devices/IniFileText.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QSaveFile>

namespace {
QString& OverrideDir() {
    static QString dir;
    return dir;
}

const TIniText& Empty() {
    static const TIniText empty;
    return empty;
}

QString& ProgramDir() {
    static QString dir;
    return dir;
}
} // namespace

TIniFile::TIniFile(QString fileName) : FFileName(std::move(fileName)) {}

TIniFile::TIniFile(QByteArray* bytes) : FMemory(bytes) {}

std::shared_ptr<const TIniText> TIniFile::Text() const {
    if (FMemory) {
        // Bytes the owner changed behind our back are parsed anew. Bytes that still share
        // the buffer parsed cannot have changed: a change would have copied them first.
        const bool same = FParsed && FMemory->constData() == FParsedBytes.constData() &&
                          FMemory->size() == FParsedBytes.size();
        if (!same && (!FParsed || *FMemory != FParsedBytes)) {
            FParsedBytes = *FMemory;
            FParsed = std::make_shared<const TIniText>(TIniText::Parse(FParsedBytes));
        }
        return FParsed;
    }
    return LoadIniText(FFileName);
}

QString TIniFile::ReadString(const QString& section, const QString& key,
                             const QString& defaultValue) const {
    const auto text = Text();
    const int line = text ? text->KeyLine(section, key) : -1;
    if (line < 0)
        return defaultValue;
    const QStringView t = text->Lines[line].Text.trimmed();
    return t.sliced(t.indexOf(QLatin1Char('=')) + 1).trimmed().toString();
}

int TIniFile::ReadInteger(const QString& section, const QString& key, int defaultValue) const {
    const QString s = ReadString(section, key, QString()).trimmed();
    if (s.isEmpty())
        return defaultValue;
    bool ok = false;
    int v = 0;
    if (s.startsWith(QLatin1Char('$')))
        v = QStringView(s).sliced(1).toInt(&ok, 16);
    else if (s.startsWith(QLatin1String("0x"), Qt::CaseInsensitive))
        v = QStringView(s).sliced(2).toInt(&ok, 16);
    else
        v = s.toInt(&ok, 10);
    return ok ? v : defaultValue;
}

bool TIniFile::ReadBool(const QString& section, const QString& key, bool defaultValue) const {
    return ReadInteger(section, key, defaultValue ? 1 : 0) != 0;
}

bool TIniFile::WriteString(const QString& section, const QString& key, const QString& value) {
    const auto current = Text();
    return Store((current ? *current : Empty()).With(section, key, value));
}

bool TIniFile::Store(const QByteArray& bytes) {
    if (FMemory) {
        *FMemory = bytes;
        return true;
    }
    QSaveFile out(FFileName);
    const bool written = out.open(QIODevice::WriteOnly) && out.write(bytes) >= 0 && out.commit();
    ForgetIniText(FFileName);
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
    const auto text = Text();
    return text && text->Find(section);
}

QStringList TIniFile::ReadSection(const QString& section) const {
    const auto text = Text();
    const TIniText::TSection* s = text ? text->Find(section) : nullptr;
    if (!s)
        return {};
    QStringList keys;
    keys.reserve(s->KeyCount);
    for (int n = s->FirstKey; n < s->FirstKey + s->KeyCount; ++n) {
        const QStringView t = text->Lines[text->KeyLines[n]].Text.trimmed();
        keys << t.first(t.indexOf(QLatin1Char('='))).trimmed().toString();
    }
    return keys;
}

bool TIniFile::ValueExists(const QString& section, const QString& key) const {
    const auto text = Text();
    return text && text->KeyLine(section, key) >= 0;
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
