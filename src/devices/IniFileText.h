// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QStringList>

#include <memory>

// One reading of a settings file: its lines, how each one ended, the file's encoding, and an
// index of its first sections and keys so that a look-up does not scan the file.
struct TIniText {
    enum TEnd : char { eNone = 0, eLf = 1, eCrLf = 2 };
    struct TSection {
        int SectionLine = -1;     // the "[section]" line
        int EndLine = -1;         // after the section's last line
        QHash<QString, int> Keys; // folded key name -> its first line
    };
    QStringList Lines;
    QByteArray Ends; // one TEnd per line
    bool Latin1 = false;
    bool Bom = false;
    QHash<QString, TSection> Sections; // folded name -> its first occurrence

    static TIniText Parse(const QByteArray& bytes);
    QByteArray Serialize() const;
    // Rebuilds the index after the lines changed.
    void Reindex();
    // Sets a key's value, adding the key or its section where missing; new lines end as their
    // neighbours do.
    void Set(const QString& section, const QString& key, const QString& value);
    const TSection* Find(const QString& section) const;
    // The line of a key, or -1.
    int KeyLine(const QString& section, const QString& key) const;
};

// The parsed text of a file, read again only when the file changed since the last reading
// (shared by every TIniFile of that name in the process); null when it cannot be read.
std::shared_ptr<const TIniText> LoadIniText(const QString& fileName);
// Forgets what was read of the file, after it was written.
void ForgetIniText(const QString& fileName);
