// SPDX-License-Identifier: Apache-2.0
#include "diagnostics/CommLogFile.h"

#include "diagnostics/CommLogEvents.h"
#include "diagnostics/CommLogExport.h"
#include "protocol/PacketLog.h"

#include <QDateTime>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTextStream>

TLogFileWriter::TLogFileWriter(QString path, qint64 limitBytes, std::function<QStringList()> header)
    : FPath(std::move(path)), FLimit(limitBytes), FHeader(std::move(header)) {
    FFlushTimer.setInterval(1000);
    connect(&FFlushTimer, &QTimer::timeout, this, &TLogFileWriter::Flush);
}

TLogFileWriter::~TLogFileWriter() {
    FFile.close();
}

QString TLogFileWriter::OpenPart() {
    FFile.close();
    QString name = FPath;
    if (FPart > 1) {
        const QFileInfo info(FPath);
        const QString suffix =
            info.suffix().isEmpty() ? QString() : QLatin1Char('.') + info.suffix();
        name = info.path() + QLatin1Char('/') + info.completeBaseName() +
               QStringLiteral("-%1").arg(FPart) + suffix;
    }
    FFile.setFileName(name);
    if (!FFile.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text))
        return FFile.errorString();
    QStringList lines = FHeader ? FHeader() : QStringList();
    lines << LogCsvColumns();
    const QByteArray bytes = (lines.join(QLatin1Char('\n')) + QLatin1Char('\n')).toUtf8();
    if (FFile.write(bytes) != bytes.size())
        return FFile.errorString();
    FHasRows = false;
    FFlushTimer.start();
    return {};
}

QString TLogFileWriter::Open() {
    FPart = 1;
    return OpenPart();
}

QString TLogFileWriter::Write(const QString& row) {
    if (!FFile.isOpen())
        return QStringLiteral("the file is closed");
    const QByteArray bytes = row.toUtf8() + '\n';
    if (FHasRows && FFile.size() + bytes.size() > FLimit) {
        ++FPart;
        const QString reason = OpenPart();
        if (!reason.isEmpty()) {
            FFile.close();
            return reason;
        }
    }
    if (FFile.write(bytes) != bytes.size()) {
        const QString reason = FFile.errorString();
        FFile.close();
        return reason;
    }
    FHasRows = true;
    return {};
}

void TLogFileWriter::Flush() {
    if (FFile.isOpen())
        FFile.flush();
}

QStringList SplitCsvLine(const QString& line) {
    QStringList fields;
    QString field;
    bool quoted = false;
    for (qsizetype i = 0; i < line.size(); ++i) {
        const QChar c = line[i];
        if (quoted) {
            if (c == QLatin1Char('"') && i + 1 < line.size() && line[i + 1] == QLatin1Char('"')) {
                field += c;
                ++i;
            } else if (c == QLatin1Char('"')) {
                quoted = false;
            } else {
                field += c;
            }
        } else if (c == QLatin1Char('"')) {
            quoted = true;
        } else if (c == QLatin1Char(',')) {
            fields << field;
            field.clear();
        } else {
            field += c;
        }
    }
    fields << field;
    return fields;
}

namespace {

bool ReadHexBytes(const QString& text, TByteArray& out) {
    for (const QString& token : text.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        if (token.startsWith(QLatin1Char('(')) || token.endsWith(QLatin1Char(')')))
            continue; // a status name the line shows after the status word
        bool ok = false;
        const uint b = token.toUInt(&ok, 16);
        if (!ok || b > 255)
            return false;
        out.push_back(static_cast<std::uint8_t>(b));
    }
    return true;
}

QString ReadCsvRow(const QStringList& f, IPacketLog& log) {
    if (f.size() < 9)
        return QStringLiteral("%1 fields where 9 or more belong").arg(f.size());
    const QDateTime time = QDateTime::fromString(f[0], Qt::ISODateWithMs);
    if (!time.isValid())
        return QStringLiteral("no time in \"%1\"").arg(f[0]);
    if (f[1] != QLatin1String("RX") && f[1] != QLatin1String("TX"))
        return QStringLiteral("no direction in \"%1\"").arg(f[1]);
    bool ok = false;
    const uint id = f[2].toUInt(&ok, 16);
    if (!ok || id > 255)
        return QStringLiteral("no identifier in \"%1\"").arg(f[2]);
    TByteArray bytes;
    if (!ReadHexBytes(f[7], bytes))
        return QStringLiteral("no bytes in \"%1\"").arg(f[7]);
    const TLogStamp stamp{time.toMSecsSinceEpoch(), f[8].isEmpty() ? -1 : f[8].toInt()};
    if (f.size() >= 11 && !f[9].isEmpty()) {
        const std::optional<TLinkEventKind> kind = LinkEventFromName(f[9]);
        if (!kind)
            return QStringLiteral("unknown event \"%1\"").arg(f[9]);
        TLinkEvent e;
        e.Kind = *kind;
        e.ID = static_cast<std::uint8_t>(id);
        e.Count = f[10].toUInt();
        e.Bytes = std::move(bytes);
        log.LogLinkEvent(e, stamp);
        return {};
    }
    TPacket p;
    p.ID = static_cast<std::int32_t>(id);
    p.Length = f[4].toInt(&ok);
    if (!ok || p.Length != static_cast<std::int32_t>(bytes.size()))
        return QStringLiteral("length %1 for %2 bytes").arg(f[4]).arg(bytes.size());
    p.Data = std::move(bytes);
    log.LogStampedPacket(p, f[1] == QLatin1String("RX"), stamp);
    return {};
}

// A line as the log shows it, with or without its time; `day` gives the date to a time.
QString ReadTextLine(QString line, QDateTime& last, IPacketLog& log) {
    static const QRegularExpression timeRe(
        QStringLiteral("^(\\d\\d):(\\d\\d):(\\d\\d)\\.(\\d{3}) (?:\\((\\d+) ms\\) )?"));
    static const QRegularExpression packetRe(QStringLiteral(
        "^(RX|TX) PACKET: ID=([0-9A-F]{2})h(?: \\(.*\\))?, Length=(\\d+)(?::(.*))?$"));
    TLogStamp stamp{last.toMSecsSinceEpoch(), -1};
    const QRegularExpressionMatch t = timeRe.match(line);
    if (t.hasMatch()) {
        const QTime clock(t.captured(1).toInt(), t.captured(2).toInt(), t.captured(3).toInt(),
                          t.captured(4).toInt());
        QDateTime at(last.date(), clock);
        if (at < last)
            at = at.addDays(1); // past midnight
        last = at;
        stamp.WallMs = at.toMSecsSinceEpoch();
        if (!t.captured(5).isEmpty())
            stamp.RoundTripMs = t.captured(5).toInt();
        line = line.mid(t.capturedLength());
    }
    if (line.endsWith(QLatin1String(" older entries dropped")))
        return {};
    if (const std::optional<TLinkEvent> e = ParseEventLine(line)) {
        log.LogLinkEvent(*e, stamp);
        return {};
    }
    const QRegularExpressionMatch m = packetRe.match(line);
    if (!m.hasMatch())
        return QStringLiteral("not a log line");
    TPacket p;
    p.ID = static_cast<std::int32_t>(m.captured(2).toUInt(nullptr, 16));
    p.Length = m.captured(3).toInt();
    if (!ReadHexBytes(m.captured(4), p.Data) || p.Data.size() != static_cast<std::size_t>(p.Length))
        return QStringLiteral("the bytes do not match the length");
    log.LogStampedPacket(p, m.captured(1) == QLatin1String("RX"), stamp);
    return {};
}

} // namespace

QString ReadSavedLog(const QString& path, IPacketLog& log) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return file.errorString();
    QTextStream in(&file);
    in.setEncoding(QStringConverter::Utf8);
    bool csv = QFileInfo(path).suffix().compare(QLatin1String("csv"), Qt::CaseInsensitive) == 0;
    // Lines without a time of their own get the file's date, or the time it was last written.
    QDateTime last = QFileInfo(path).lastModified();
    last.setTime(QTime(0, 0));
    int number = 0;
    while (!in.atEnd()) {
        const QString line = in.readLine();
        ++number;
        if (line.trimmed().isEmpty())
            continue;
        if (line.startsWith(QLatin1Char('#'))) {
            const QLatin1String first("# First entry: ");
            if (line.startsWith(first)) {
                const QDateTime saved =
                    QDateTime::fromString(line.mid(first.size()), Qt::ISODateWithMs);
                if (saved.isValid())
                    last = QDateTime(saved.toLocalTime().date(), QTime(0, 0));
            }
            continue;
        }
        if (line.startsWith(QLatin1String("time,direction,"))) {
            csv = true;
            continue;
        }
        const QString reason =
            csv ? ReadCsvRow(SplitCsvLine(line), log) : ReadTextLine(line, last, log);
        if (!reason.isEmpty())
            return QStringLiteral("line %1: %2").arg(number).arg(reason);
    }
    return {};
}
