// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "diagnostics/CommLogExport.h"
#include "diagnostics/CommLogFilter.h"
#include "diagnostics/CommLogFormat.h"
#include "diagnostics/CommLogStore.h"
#include "diagnostics/CommLogView.h"
#include "protocol/LinkCounters.h"
#include "protocol/PacketLog.h"

#include <QString>
#include <QTimer>
#include <QWidget>

#include <deque>
#include <functional>
#include <memory>

class QCheckBox;
class QMenu;
class QAction;
class QPushButton;
class QLabel;
class TIniFile;
class TLogFileWriter;
class TLogFindBar;
class TLogInspector;

// The communications log: keeps a copy of every packet the command set sends or receives and
// shows each as a line of hexadecimal text. Lines are formatted from the stored packets, so an
// option change re-renders everything from the store in one pass.
class TCommLog : public QWidget, public IPacketLog {
    Q_OBJECT
public:
    // At 30 packets a second a working day is about a million entries.
    static constexpr int DefaultCapacity = 1000000;

    explicit TCommLog(QWidget* parent = nullptr);
    ~TCommLog() override;

    // Entries logged without a time get the time of the call.
    void LogPacket(const TPacket& packet, bool received) override;
    void LogStampedPacket(const TPacket& packet, bool received, const TLogStamp& stamp) override;
    // An event logged without a time (WallMs 0) gets the time of the call.
    void LogLinkEvent(const TLinkEvent& event, const TLogStamp& stamp) override;

    // Counted as entries arrive; "Clear" starts them again.
    const TLinkCounters& Counters() const { return FCounters; }

    // The most entries kept; beyond it the oldest go, and the view's first line says how many.
    int Capacity() const { return FCapacity; }
    void SetCapacity(int capacity);
    int Dropped() const { return FDropped; }

    int Count() const { return FStore.Count(); }
    TPacket Packet(int index) const { return FStore.Packet(index); }
    bool Received(int index) const { return FStore.Received(index); }
    const TLogStore& Store() const { return FStore; }

    // Writes every entry, or the entries shown, as lines or as CSV, after a header; returns
    // why it could not.
    QString SaveLog(const QString& path, TLogFileFormat format, bool allEntries = true) const;
    // Asks where to save; replaced by tests. Returns an empty path when cancelled.
    std::function<QString(QString& selectedFilter)> AskSaveFileName;
    // Asks which saved log to open, and where to log to; replaced by tests.
    std::function<QString()> AskOpenFileName;
    std::function<QString()> AskLogFileName;
    // The transport and address for a saved file's header ("TCP 10.0.0.5:1000").
    std::function<QString()> LinkDescription;

    // Reads the options from `settings` and keeps them there as they change.
    void UseSettings(std::unique_ptr<TIniFile> settings);
    // Starts (an empty path stops) writing every entry to a CSV file as it arrives; a file
    // past `limitBytes` is followed by the next one ("log-2.csv"). Returns why it could not.
    QString StartLogToFile(const QString& path);
    void StopLogToFile();
    QString LogFileName() const;
    qint64 LogFileLimit() const { return FLogFileLimit; }
    // Kept in the settings file in whole megabytes (at least one).
    void SetLogFileLimit(qint64 bytes);
    bool ReadOnly() const { return FReadOnly; }

    TLogView* RxMsgMemo;
    QCheckBox* cbShowIDDescr;
    QCheckBox* cbEvaluateErrorCodes;
    QCheckBox* cbTimeStamps;
    QCheckBox* cbPause;
    QCheckBox* cbInspector;
    TLogInspector* Inspector;
    QLabel* lbCounters;
    QPushButton* btnOpen;
    QPushButton* btnLogToFile;
    TLogFilterButton* btnFilter;
    QPushButton* btnSave;
    QPushButton* btnClear;
    TLogFindBar* FindBar;
    QMenu* PopupMenu1;
    QAction* miAsFloat;
    QAction* miAsInteger;
    QAction* miAsText;
    // The view's context menu: Copy, Select All, Find and the three conversions.
    QMenu* mnContext;
    QAction* miCopy;
    QAction* miSelectAll;
    QAction* miFind;
    QAction* miFindNext;
    QAction* miFindPrevious;

public Q_SLOTS:
    void btnClearClick();
    void btnSaveClick();
    void btnOpenClick();
    void btnLogToFileClick();
    void OnOptionsChanged();
    void OnFilterChanged();
    void OnPauseChanged();
    void miAsFloatClick();
    void miAsIntegerClick();
    void miAsTextClick();
    void miFindClick();
    // Marks the next (previous) occurrence of the find bar's text; false when there is none.
    bool FindNext(bool backward = false);

protected:
    // A log over a saved file: no clearing, pausing or logging to a file.
    void SetReadOnly();

private:
    void Appended();
    bool Passes(int index) const;
    void ShowCounters();
    void WriteOptions();
    void WriteToLogFile(int index);
    QStringList FileHeader(bool allEntries) const;
    void RxMsgMemoMouseUp(const QPoint& pos);
    void ShowContextMenu(const QPoint& globalPos);
    void ShowResult(const TConversionResult& result);
    QString SelectedText() const;
    // Lines before the first entry: the one saying how many were dropped, once any were.
    int HeaderLines() const { return FDropped > 0 ? 1 : 0; }
    QString DroppedLine() const;
    void DropOldest();
    bool Filtered() const { return !btnFilter->Filter().PassesAll(); }
    bool Paused() const { return FPausedEnd >= 0; }
    bool Shown(int index) const;
    // Entries the view shows, and the store index of the n-th of them.
    int ShownCount() const;
    int ShownEntry(int n) const;
    QString EntryLine(int index) const;
    int EntryLineLength(int index) const;
    // Shows the entries from `fromSeq` on that pass the filter.
    void AppendShown(std::int64_t fromSeq);

    TLogStore FStore;
    int FCapacity = DefaultCapacity;
    int FDropped = 0;
    // With a filter on: the numbers of the entries shown, in order.
    std::deque<std::int64_t> FShown;
    // While paused: the number of the first entry logged since.
    std::int64_t FPausedEnd = -1;
    TLinkCounters FCounters;
    QTimer FCountersTimer;
    std::unique_ptr<TIniFile> FSettings;
    std::unique_ptr<TLogFileWriter> FLogFile;
    qint64 FLogFileLimit = 16 * 1024 * 1024;
    bool FReadOnly = false;
};
