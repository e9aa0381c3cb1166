// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

struct TIniText;

// A settings file in the INI format: "[section]" lines and "key=value" lines. Section and key
// names compare without regard to case. Every read looks at the file as it is now (a file that
// has not changed since it was last read is not read again); every write rewrites it at once and
// keeps every line it does not change, each with its own line ending. The file appears with its
// first write.
class TIniFile {
public:
    explicit TIniFile(QString fileName);
    // A settings file whose bytes live in `bytes` (not owned; it must outlive the reader) and
    // never touch the file system: reads and writes behave as with a file of those bytes.
    explicit TIniFile(QByteArray* bytes);

    const QString& FileName() const { return FFileName; }

    QString ReadString(const QString& section, const QString& key,
                       const QString& defaultValue) const;
    // Decimal, or hexadecimal with "$" or "0x"; the default when missing or unreadable.
    int ReadInteger(const QString& section, const QString& key, int defaultValue) const;
    // Any non-zero integer is true.
    bool ReadBool(const QString& section, const QString& key, bool defaultValue) const;

    // False when the file could not be written.
    bool WriteString(const QString& section, const QString& key, const QString& value);
    bool WriteInteger(const QString& section, const QString& key, int value);
    bool WriteBool(const QString& section, const QString& key, bool value);

    bool SectionExists(const QString& section) const;
    // The keys of a section, in file order.
    QStringList ReadSection(const QString& section) const;
    bool ValueExists(const QString& section, const QString& key) const;

    // Told the file's name when a write fails; once, until a write succeeds again, so that a
    // read-only folder is reported once and not at every value.
    std::function<void(const QString& fileName)> OnWriteError;

private:
    // The file's text as it is now, from memory or from the file.
    std::shared_ptr<const TIniText> Text() const;
    bool Store(const QByteArray& bytes);
    QString FFileName;
    QByteArray* FMemory = nullptr;
    // The bytes last parsed from memory and what they gave, as the file cache does for files.
    mutable QByteArray FParsedBytes;
    mutable std::shared_ptr<const TIniText> FParsed;
    bool FFailing = false;
};

// The text that reports a settings file that could not be written.
QString SettingsWriteErrorText(const QString& fileName);

// The folder that holds the settings files: the program's folder when it is writable and not an
// installed "bin" folder, else "$XDG_CONFIG_HOME/karo-commander" (created on demand), unless a
// test pointed it elsewhere. The program's folder is the executable's unless
// SetProgramDirectory named another. `create` false only names the folder.
QString SettingsDirectory(bool create = true);
// The choice itself, for a program folder and environment given by the caller.
QString SettingsDirectoryFor(const QString& exeDir, bool exeDirWritable,
                             const QString& xdgConfigHome, const QString& home);
void SetSettingsDirectory(const QString& dir);
// The Commander's folder as a tool in `toolDir` finds it: `toolDir` itself when the Commander
// is installed beside the tool, the parent folder when the Commander is there (the build tree),
// else `toolDir`. Tools share the Commander's settings home through it.
QString CommanderDirectoryFor(const QString& toolDir);
void SetProgramDirectory(const QString& dir);
QString SettingsFilePath(const QString& fileName);
