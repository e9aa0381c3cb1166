// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <QString>
#include <QStringList>

#include <functional>

class TLogStore;

enum class TLogFileFormat { Text, Csv };

// The save dialog's file types; each says which entries go into the file.
inline const QString LogTextFilter = QStringLiteral("Text files, all entries (*.txt)");
inline const QString LogTextShownFilter = QStringLiteral("Text files, entries shown (*.txt)");
inline const QString LogCsvFilter = QStringLiteral("CSV files, all entries (*.csv)");
inline const QString LogCsvShownFilter = QStringLiteral("CSV files, entries shown (*.csv)");
inline const QString LogOpenFilter = QStringLiteral("Saved logs (*.csv *.txt)");

// The format the file's suffix names; without one, the chosen filter's, whose suffix is then
// added to `path`.
TLogFileFormat LogFileFormat(QString& path, const QString& selectedFilter);
// False when the chosen file type is one of the "entries shown" ones.
bool LogFilterAllEntries(const QString& selectedFilter);

// The lines a saved log starts with, each beginning with "# ": what it is, when it was saved,
// the program's version, the link, which entries it holds and, when there is one, the time of
// the first (text lines carry no date).
QStringList LogFileHeader(const QString& link, const QString& entries, std::int64_t firstMs = -1);
// The header line that names the columns of a CSV log.
QString LogCsvColumns();
// One CSV row: time, direction, identifier, command name, length, status, status text, payload
// in hexadecimal, round trip, and for a link event its kind and count.
QString LogCsvRow(const TLogStore& store, int index);

// Each writes the whole file or nothing and returns the reason when it could not (empty when
// it could).
QString WriteLogText(const QString& path, const QStringList& header, int count,
                     const std::function<QString(int)>& line);
// `entry` maps a row to the store's index.
QString WriteLogCsv(const QString& path, const QStringList& header, const TLogStore& store,
                    int count, const std::function<int(int)>& entry);

// A CSV field, quoted when it holds a separator, a quote or a line break.
QString CsvField(const QString& text);
