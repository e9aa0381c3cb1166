// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QStringList>
#include <QStringView>

#include <memory>

// One reading of a settings file: its text, its lines (views into the text) and how each one
// ended, the file's encoding, and an index of its first sections and keys so that a look-up does
// not scan the file. A reading is never changed once parsed; a write makes new bytes.
struct TIniText {
    enum TEnd : char { eNone = 0, eLf = 1, eCrLf = 2 };
    struct TSection {
        int SectionLine = -1; // the "[section]" line
        int EndLine = -1;     // after the section's last line
        // The first line of each key, in file order: KeyLines[FirstKey] onwards.
        int FirstKey = 0;
        int KeyCount = 0;
    };
    struct TLine {
        QStringView Text; // into the file's text, without its end
        TEnd End = eNone;
    };
    QString Text; // the file, decoded
    QList<TLine> Lines;
    bool Latin1 = false;
    bool Bom = false;
    QList<TSection> Sections; // the first of each name, in file order
    QList<int> KeyLines;      // the sections' keys, one run per section
    // (-1, folded section name) -> the section's place in Sections, and (the section's
    // SectionLine, folded key name) -> the key's first line: one table for the whole file. The
    // names are views into Text where folding changes nothing, else into Folded, whose blocks
    // never grow past the room they reserved.
    QHash<std::pair<int, QStringView>, int> Names;
    QStringList Folded;

    static TIniText Parse(const QByteArray& bytes);
    // The file's bytes with a key's value set, the key or its section added where missing; new
    // lines end as their neighbours do.
    QByteArray With(const QString& section, const QString& key, const QString& value) const;
    const TSection* Find(const QString& section) const;
    // The line of a key, or -1.
    int KeyLine(const QString& section, const QString& key) const;

private:
    void Index();
    QStringView FoldedName(QStringView name);
};

// The parsed text of a file, read again only when the file changed since the last reading
// (shared by every TIniFile of that name in the process); null when it cannot be read.
std::shared_ptr<const TIniText> LoadIniText(const QString& fileName);
// Forgets what was read of the file, after it was written.
void ForgetIniText(const QString& fileName);
