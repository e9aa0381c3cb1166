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
    QCheckBox* cbAutosend;
    QSpinBox* AutosendIntervalEdit;
    QTimer* AutosendTimer;
    TRollPanel* RollPanel1;
    QPlainTextEdit* Log;

public Q_SLOTS:
    void CommandEditChange();
    void btnSendClick();
    void cbAutosendClick();
    void AutosendTimerTimer();

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
    QString FPayloadText; // the decoding panel's payload field before eliding
};
