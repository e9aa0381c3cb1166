// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "engine/MorvForm.h"
#include "protocol/Packet.h"
#include "protocol/PayloadText.h"

#include <QDialog>
#include <QPointer>
#include <QString>

#include <cstdint>
#include <optional>

class QAction;
class QCheckBox;
class QComboBox;
class QLabel;
class QMenu;
class QPlainTextEdit;
class QPushButton;
class QSpinBox;
class QTimer;
class QToolButton;
class TIntegerEdit;
class TRollPanel;
class TStampedLog;

// The decoding panel's fields for a packet.
struct TPacketDecoding {
    QString ID;       // "40"
    QString Length;   // "2C 01": low byte first
    QString Payload;  // "0F 0A " or "[n/a]"
    QString Checksum; // the frame's checksum, low byte first
};
TPacketDecoding DecodePacket(std::uint8_t id, const TByteArray& payload);

// "Custom Command Editor": composes one packet from an identifier and typed payload items,
// shows its frame fields and checksum, and sends it through the command set once or at a fixed
// interval. Closing the window only hides it.
class TCustomCmd : public QDialog {
    Q_OBJECT
public:
    static const QString PayloadHelp;
    static const QString PayloadError;
    static const QString HexPayloadHelp;
    // The results text keeps its newest lines only, so that hours of auto-send stay in bounds.
    static constexpr int MaxResultLines = 2000;
    // Room for the longest payload as hexadecimal bytes; a longer paste is refused.
    static constexpr int MaxPayloadText = 3 * MaxPayloadLength + 16;

    // Sends since the last Clear: answered ones have a round trip, failed ones got no usable
    // reply (not connected, not sent, no reply in time, link closed).
    struct TSendCounts {
        int Sent = 0;
        int Answered = 0;
        int Failed = 0;
        qint64 MinMicros = 0;
        qint64 MaxMicros = 0;
        qint64 SumMicros = 0;
    };
    const TSendCounts& Counts() const { return FCounts; }
    static QString CountsText(const TSendCounts& counts);
    // The results as saved: each line after its time stamp.
    QString ResultsWithTimes() const;

    // How the payload field is read: the item syntax, or bytes as the command log shows them.
    enum TPayloadMode { pmItems = 0, pmHexBytes = 1 };

    explicit TCustomCmd(TMorv* morv, QWidget* parent = nullptr);
    ~TCustomCmd() override;

    TMorv* Morv() const { return FMorv; }
    void SetMorv(TMorv* morv) { FMorv = morv; }
    void SetConnected(bool connected);
    TPayloadMode PayloadMode() const;
    void SetPayloadMode(TPayloadMode mode);

    // What Send transmits.
    std::uint8_t StoredID() const { return FStoredID; }
    const TByteArray& StoredPayload() const { return FStoredPayload; }
    // True while a send waits for its reply.
    bool Sending() const { return FSending; }

    TIntegerEdit* edID;
    QToolButton* btnKnownIDs;
    QMenu* pmKnownIDs;
    QComboBox* edPayload;
    QLabel* lbPayloadSize;
    QComboBox* cbPayloadMode;
    QLabel* lbId;
    QLabel* lbLength;
    QLabel* lbPayload;
    QLabel* lbChecksum;
    QPushButton* btnSend;
    QPushButton* btnClear;
    QPushButton* btnSaveResults;
    QLabel* lbCounts;
    QCheckBox* cbAutosend;
    QSpinBox* AutosendIntervalEdit;
    QTimer* AutosendTimer;
    TRollPanel* RollPanel1;
    TStampedLog* Log;

public Q_SLOTS:
    void CommandEditChange();
    void btnSendClick();
    void cbAutosendClick();
    void AutosendTimerTimer();
    void btnClearClick();
    void btnSaveResultsClick();

protected:
    void resizeEvent(QResizeEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void FormCreate();
    void BuildUi();
    void ShowDecoding(std::uint8_t id, const TByteArray& payload);
    void ShowPayloadText();
    void UpdateEnabled();
    void AsyncResult(std::int32_t id, std::uint16_t status, const TByteArray& data);
    TStat StartWithReply(std::uint8_t id, TAsyncResultEvent handler, TByteArray& reply);

    QPointer<TMorv> FMorv;
    std::uint8_t FStoredID = 0;
    TByteArray FStoredPayload;
    bool FConnected = false;
    bool FEntryValid = false;
    bool FSending = false;
    QString FPayloadText;   // the decoding panel's payload field before eliding
    QString FAcceptedEntry; // the payload field's text before an over-long paste
    bool FRefusing = false;
    TSendCounts FCounts;
    void CountSend(bool answered, qint64 micros);
    // Why the send that just returned got no usable reply, after its status text.
    QString FailureDetail(TStat status) const;
};
