// SPDX-License-Identifier: Apache-2.0
// The command log's files: saving, logging to a file as entries arrive, opening saved logs, and
// the options kept in the settings file.
#include "devices/IniFile.h"
#include "diagnostics/CommLogExport.h"
#include "diagnostics/CommLogFile.h"
#include "diagnostics/CommLogForm.h"
#include "diagnostics/CommLogViewer.h"
#include "widgets/MessageBoxes.h"
#include "widgets/SaveDialogs.h"

#include <QCheckBox>
#include <QFileDialog>
#include <QPushButton>

#include <algorithm>

namespace {

const QString Section = QStringLiteral("CommLog");

} // namespace

QStringList TCommLog::FileHeader(bool allEntries) const {
    const QString link = LinkDescription ? LinkDescription() : QString();
    QString entries = allEntries || !Filtered()
                          ? QStringLiteral("all %1").arg(Count())
                          : QStringLiteral("%1 shown of %2 (a filter hides the others)")
                                .arg(ShownCount())
                                .arg(Count());
    if (FDropped > 0)
        entries += QStringLiteral(", %1 older dropped before").arg(FDropped);
    const bool any = allEntries ? Count() > 0 : ShownCount() > 0;
    return LogFileHeader(link, entries,
                         any ? FStore.WallMs(allEntries ? 0 : ShownEntry(0)) : std::int64_t(-1));
}

QString TCommLog::SaveLog(const QString& path, TLogFileFormat format, bool allEntries) const {
    const QStringList header = FileHeader(allEntries);
    const bool all = allEntries || !Filtered();
    const int count = all ? Count() : ShownCount();
    const auto entry = [this, all](int n) { return all ? n : ShownEntry(n); };
    if (format == TLogFileFormat::Csv)
        return WriteLogCsv(path, header, FStore, count, entry);
    const int header0 = all ? HeaderLines() : 0;
    return WriteLogText(path, header, count + header0, [&](int line) {
        return line < header0 ? DroppedLine() : EntryLine(entry(line - header0));
    });
}

void TCommLog::btnSaveClick() {
    QString filter = LogTextFilter;
    QString path =
        AskSaveFileName
            ? AskSaveFileName(filter)
            : QFileDialog::getSaveFileName(
                  this, QStringLiteral("Save log"),
                  SaveStartPath(QStringLiteral("karo-log"), QStringLiteral("txt")),
                  QStringList{LogTextFilter, LogTextShownFilter, LogCsvFilter, LogCsvShownFilter}
                      .join(QStringLiteral(";;")),
                  &filter);
    if (path.isEmpty())
        return;
    RememberSaveFolder(path);
    const TLogFileFormat format = LogFileFormat(path, filter);
    const QString reason = SaveLog(path, format, LogFilterAllEntries(filter));
    if (!reason.isEmpty())
        ShowError(QStringLiteral("Error while saving the log to %1: %2").arg(path, reason), this);
}

void TCommLog::btnOpenClick() {
    const QString path =
        AskOpenFileName
            ? AskOpenFileName()
            : QFileDialog::getOpenFileName(this, QStringLiteral("Open saved log"), LastSaveFolder(),
                                           LogOpenFilter + QStringLiteral(";;All files (*)"));
    if (path.isEmpty())
        return;
    QString error;
    TLogViewer* viewer = TLogViewer::Open(path, error, this);
    if (!viewer) {
        ShowError(QStringLiteral("Error while opening the log %1: %2").arg(path, error), this);
        return;
    }
    viewer->show();
}

QString TCommLog::StartLogToFile(const QString& path) {
    StopLogToFile();
    if (path.isEmpty())
        return {};
    auto writer = std::make_unique<TLogFileWriter>(path, FLogFileLimit, [this] {
        return LogFileHeader(LinkDescription ? LinkDescription() : QString(),
                             QStringLiteral("every entry as it arrives"));
    });
    const QString reason = writer->Open();
    if (!reason.isEmpty())
        return reason;
    FLogFile = std::move(writer);
    btnLogToFile->setChecked(true);
    btnLogToFile->setToolTip(QStringLiteral("Logging to %1").arg(path));
    return {};
}

void TCommLog::StopLogToFile() {
    FLogFile.reset();
    btnLogToFile->setChecked(false);
    btnLogToFile->setToolTip(QStringLiteral("Write every entry to a CSV file as it arrives"));
}

QString TCommLog::LogFileName() const {
    return FLogFile ? FLogFile->FileName() : QString();
}

void TCommLog::btnLogToFileClick() {
    if (FLogFile) {
        StopLogToFile();
        return;
    }
    btnLogToFile->setChecked(false);
    QString path =
        AskLogFileName
            ? AskLogFileName()
            : QFileDialog::getSaveFileName(
                  this, QStringLiteral("Log to file"),
                  SaveStartPath(QStringLiteral("karo-log"), QStringLiteral("csv")), LogCsvFilter);
    if (path.isEmpty())
        return;
    RememberSaveFolder(path);
    QString filter = LogCsvFilter;
    LogFileFormat(path, filter); // adds ".csv" to a bare name
    const QString reason = StartLogToFile(path);
    if (!reason.isEmpty())
        ShowError(QStringLiteral("Error while logging to %1: %2").arg(path, reason), this);
}

void TCommLog::WriteToLogFile(int index) {
    if (!FLogFile)
        return;
    const QString reason = FLogFile->Write(LogCsvRow(FStore, index));
    if (reason.isEmpty())
        return;
    const QString name = FLogFile->FileName();
    StopLogToFile();
    ShowError(QStringLiteral("Error while logging to %1: %2; logging to the file stopped")
                  .arg(name, reason),
              this);
}

void TCommLog::UseSettings(std::unique_ptr<TIniFile> settings) {
    FSettings = std::move(settings);
    if (!FSettings)
        return;
    cbShowIDDescr->setChecked(FSettings->ReadBool(Section, QStringLiteral("ShowIDDescr"), false));
    cbEvaluateErrorCodes->setChecked(
        FSettings->ReadBool(Section, QStringLiteral("EvaluateErrorCodes"), false));
    cbTimeStamps->setChecked(FSettings->ReadBool(Section, QStringLiteral("TimeStamps"), false));
    cbInspector->setChecked(FSettings->ReadBool(Section, QStringLiteral("Inspector"), false));
    const int mb = FSettings->ReadInteger(Section, QStringLiteral("LogFileLimitMB"), 16);
    FLogFileLimit = static_cast<qint64>(std::clamp(mb, 1, 4096)) * 1024 * 1024;
    OnOptionsChanged();
}

void TCommLog::SetLogFileLimit(qint64 bytes) {
    FLogFileLimit = std::max<qint64>(1, bytes);
    WriteOptions();
}

void TCommLog::WriteOptions() {
    if (!FSettings)
        return;
    FSettings->WriteBool(Section, QStringLiteral("ShowIDDescr"), cbShowIDDescr->isChecked());
    FSettings->WriteBool(Section, QStringLiteral("EvaluateErrorCodes"),
                         cbEvaluateErrorCodes->isChecked());
    FSettings->WriteBool(Section, QStringLiteral("TimeStamps"), cbTimeStamps->isChecked());
    FSettings->WriteBool(Section, QStringLiteral("Inspector"), cbInspector->isChecked());
    FSettings->WriteInteger(Section, QStringLiteral("LogFileLimitMB"),
                            static_cast<int>(std::max<qint64>(1, FLogFileLimit / (1024 * 1024))));
}

void TCommLog::SetReadOnly() {
    FReadOnly = true;
    for (QWidget* w : std::initializer_list<QWidget*>{btnClear, btnLogToFile, cbPause, btnOpen})
        w->hide();
}
