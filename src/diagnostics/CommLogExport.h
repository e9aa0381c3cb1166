#pragma once

#include <QString>

#include <functional>

class TLogStore;

enum class TLogFileFormat { Text, Csv };

inline const QString LogTextFilter = QStringLiteral("Text files (*.txt)");
inline const QString LogCsvFilter = QStringLiteral("CSV files (*.csv)");

// The format the file's suffix names; without one, the chosen filter's, whose suffix is then
// added to `path`.
TLogFileFormat LogFileFormat(QString& path, const QString& selectedFilter);

// Each writes the whole file or nothing and returns the reason when it could not (empty when
// it could).
QString WriteLogText(const QString& path, int count, const std::function<QString(int)>& line);
// One row per entry: time, direction, identifier, command name, length, status, status text,
// payload in hexadecimal, round trip. `entry` maps a row to the store's index.
QString WriteLogCsv(const QString& path, const TLogStore& store, int count,
                    const std::function<int(int)>& entry);

// A CSV field, quoted when it holds a separator, a quote or a line break.
QString CsvField(const QString& text);
