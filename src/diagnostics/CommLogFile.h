// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <QFile>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <functional>

class IPacketLog;

// Writes CSV rows as they come: flushed once a second at the latest, and continued in the next
// file ("log-2.csv", "log-3.csv", ...) once a file would grow past its limit. Every file starts
// with the header.
class TLogFileWriter : public QObject {
    Q_OBJECT
public:
    TLogFileWriter(QString path, qint64 limitBytes, std::function<QStringList()> header);
    ~TLogFileWriter() override;

    // Empty when the first file could be opened, else why not.
    QString Open();
    // Empty when the row was written, else why not (the writer is then closed).
    QString Write(const QString& row);
    void Flush();
    QString FileName() const { return FFile.fileName(); }
    int Part() const { return FPart; }

private:
    QString OpenPart();

    QString FPath;
    qint64 FLimit;
    std::function<QStringList()> FHeader;
    QFile FFile;
    QTimer FFlushTimer;
    int FPart = 1;
    bool FHasRows = false;
};

// Reads a log saved as CSV or as text lines into `log`, in file order, with the saved times and
// round trips. Empty when the whole file was read, else what stopped it (with the line number).
QString ReadSavedLog(const QString& path, IPacketLog& log);
// One CSV line split into its fields; quoted fields may hold separators and doubled quotes.
QStringList SplitCsvLine(const QString& line);
