#pragma once

#include <QString>
#include <QStringList>

#include <functional>

// A settings file in the INI format: "[section]" lines and "key=value" lines. Section and key
// names compare without regard to case. Every read looks at the file as it is now; every write
// rewrites it at once and keeps every line it does not change. The file appears with its first
// write.
class TIniFile {
public:
    explicit TIniFile(QString fileName);

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
    // How the file is written, kept through a rewrite so that the bytes of lines a write does
    // not change survive it. A file that is not valid UTF-8 is read and written as Latin-1.
    struct TForm {
        bool Crlf = false;
        bool Latin1 = false;
        bool Bom = false; // a UTF-8 byte-order mark, as Windows editors write it
    };
    QStringList Load(TForm* form = nullptr) const;
    bool Store(const QStringList& lines, const TForm& form);
    QString FFileName;
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
