// SPDX-License-Identifier: Apache-2.0
#include "diagnostics/CommLogExport.h"

#include "diagnostics/CommLogEvents.h"
#include "diagnostics/CommLogFormat.h"
#include "diagnostics/CommLogStore.h"
#include "protocol/Constants.h"
#include "protocol/HexText.h"

#include <QDateTime>
#include <QFileInfo>
#include <QSaveFile>

#include <algorithm>

namespace {

QString Finish(QSaveFile& file, bool written) {
    if (!written) {
        const QString reason = file.errorString();
        file.cancelWriting();
        return reason;
    }
    if (!file.commit())
        return file.errorString();
    return {};
}

bool WriteLine(QSaveFile& file, const QString& text) {
    const QByteArray bytes = text.toUtf8() + '\n';
    return file.write(bytes) == bytes.size();
}

} // namespace

TLogFileFormat LogFileFormat(QString& path, const QString& selectedFilter) {
    const QString suffix = QFileInfo(path).suffix().toLower();
    if (suffix == QLatin1String("csv"))
        return TLogFileFormat::Csv;
    if (!suffix.isEmpty())
        return TLogFileFormat::Text;
    const bool csv = selectedFilter == LogCsvFilter || selectedFilter == LogCsvShownFilter;
    path += csv ? QStringLiteral(".csv") : QStringLiteral(".txt");
    return csv ? TLogFileFormat::Csv : TLogFileFormat::Text;
}

QString CsvField(const QString& text) {
    if (!text.contains(QLatin1Char(',')) && !text.contains(QLatin1Char('"')) &&
        !text.contains(QLatin1Char('\n')) && !text.contains(QLatin1Char('\r')))
        return text;
    QString quoted = text;
    quoted.replace(QLatin1Char('"'), QLatin1String("\"\""));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

bool LogFilterAllEntries(const QString& selectedFilter) {
    return selectedFilter != LogTextShownFilter && selectedFilter != LogCsvShownFilter;
}

namespace {

QString LocalIsoTime(std::int64_t ms) {
    const QDateTime local = QDateTime::fromMSecsSinceEpoch(ms);
    return local.toOffsetFromUtc(local.offsetFromUtc()).toString(Qt::ISODateWithMs);
}

} // namespace

QStringList LogFileHeader(const QString& link, const QString& entries, std::int64_t firstMs) {
    const QDateTime now = QDateTime::currentDateTime();
    QStringList lines{
        QStringLiteral("# Karo Commander communications log"),
        QStringLiteral("# Date: ") +
            now.toOffsetFromUtc(now.offsetFromUtc()).toString(Qt::ISODateWithMs),
        QStringLiteral("# Version: " KARO_VERSION),
        QStringLiteral("# Link: ") + (link.isEmpty() ? QStringLiteral("none") : link),
        QStringLiteral("# Entries: ") + entries,
    };
    if (firstMs >= 0)
        lines << QStringLiteral("# First entry: ") + LocalIsoTime(firstMs);
    return lines;
}

QString LogCsvColumns() {
    return QStringLiteral("time,direction,identifier,command,length,status,status text,payload,"
                          "round trip ms,event,count");
}

QString LogCsvRow(const TLogStore& store, int i) {
    const TPacket& p = store.Raw(i);
    const bool rx = store.Received(i);
    const bool event = store.IsEvent(i);
    const std::uint8_t id = store.ID(i);
    const QDateTime local = QDateTime::fromMSecsSinceEpoch(store.WallMs(i));
    QStringList fields{
        local.toOffsetFromUtc(local.offsetFromUtc()).toString(Qt::ISODateWithMs),
        rx ? QStringLiteral("RX") : QStringLiteral("TX"),
        QStringLiteral("0x") + QStringLiteral("%1").arg(id, 2, 16, QLatin1Char('0')).toUpper(),
        CommandName(id),
    };
    if (event) {
        const TLinkEvent e = store.Event(i);
        fields << QString::number(e.Bytes.size()) << QString() << QString() << HexBytes(e.Bytes)
               << QString() << LinkEventName(e.Kind) << QString::number(e.Count);
    } else {
        const std::size_t n =
            std::min(p.Data.size(), static_cast<std::size_t>(std::max(p.Length, 0)));
        fields << QString::number(p.Length);
        // Only replies carry a status; a request's first byte is a parameter.
        if (rx && n >= 2)
            fields << QString::number(p.Data[0]) << StatusText(p.Data[0]);
        else
            fields << QString() << QString();
        fields << HexBytes(p.Data, 0, n);
        const int roundTrip = store.RoundTripMs(i);
        fields << (roundTrip >= 0 ? QString::number(roundTrip) : QString()) << QString()
               << QString();
    }
    for (QString& f : fields)
        f = CsvField(f);
    return fields.join(QLatin1Char(','));
}

QString WriteLogText(const QString& path, const QStringList& header, int count,
                     const std::function<QString(int)>& line) {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return file.errorString();
    bool ok = true;
    for (const QString& h : header)
        ok = ok && WriteLine(file, h);
    for (int i = 0; i < count && ok; ++i)
        ok = WriteLine(file, line(i));
    return Finish(file, ok);
}

QString WriteLogCsv(const QString& path, const QStringList& header, const TLogStore& store,
                    int count, const std::function<int(int)>& entry) {
    return WriteLogText(path, header + QStringList{LogCsvColumns()}, count,
                        [&](int row) { return LogCsvRow(store, entry(row)); });
}
