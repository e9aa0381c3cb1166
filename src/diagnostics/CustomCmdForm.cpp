// SPDX-License-Identifier: Apache-2.0
#include "diagnostics/CustomCmdForm.h"

#include "protocol/ByteConv.h"
#include "protocol/Constants.h"
#include "protocol/HexText.h"
#include "protocol/TrimControl.h"
#include "protocol/crc.h"
#include "widgets/FloatEdit.h"
#include "widgets/IntegerEdit.h"
#include "widgets/MessageBoxes.h"
#include "widgets/RollPanel.h"
#include "widgets/SaveDialogs.h"
#include "widgets/SpkGraphTools.h"
#include "widgets/StampedLog.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSaveFile>
#include <QScopeGuard>
#include <QSpinBox>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include <cmath>
#include <limits>

namespace {

QString TwoBytes(std::uint16_t v) {
    QString s;
    AppendHexByte(s, static_cast<std::uint8_t>(v & 0xFF));
    s += QLatin1Char(' ');
    AppendHexByte(s, static_cast<std::uint8_t>(v >> 8));
    return s;
}

} // namespace

TPacketDecoding DecodePacket(std::uint8_t id, const TByteArray& payload) {
    TPacketDecoding d;
    AppendHexByte(d.ID, id);
    const auto n = static_cast<std::uint16_t>(payload.size());
    d.Length = TwoBytes(n);
    if (payload.empty()) {
        d.Payload = QStringLiteral("[n/a]");
    } else {
        d.Payload.reserve(static_cast<qsizetype>(payload.size()) * 3);
        for (const std::uint8_t b : payload) {
            AppendHexByte(d.Payload, b);
            d.Payload += QLatin1Char(' ');
        }
    }
    std::uint16_t crc = Crc16Initial;
    const std::uint8_t header[] = {PreambleByte,
                                   PreambleByte,
                                   PreambleByte,
                                   id,
                                   static_cast<std::uint8_t>(n & 0xFF),
                                   static_cast<std::uint8_t>(n >> 8)};
    for (const std::uint8_t b : header)
        crc = Crc16Byte(b, crc);
    for (const std::uint8_t b : payload)
        crc = Crc16Byte(b, crc);
    d.Checksum = TwoBytes(crc);
    return d;
}

const QString TCustomCmd::PayloadHelp = QStringLiteral(
    "Enter transmit data using the following formats: integer and hex values: '15', '0x0F' or "
    "'$0F', floating point values: '10.4f' or as strings: '\"Hello World\"')");
const QString TCustomCmd::PayloadError = QStringLiteral("Error while parsing input");
const QString TCustomCmd::HexPayloadHelp =
    QStringLiteral("Enter transmit data as hexadecimal bytes, two digits each, as the command "
                   "log shows them: '00 00 48 42' or '00004842'");

TCustomCmd::TCustomCmd(TMorv* morv, QWidget* parent) : QDialog(parent), FMorv(morv) {
    BuildUi();
    FormCreate();
}

TCustomCmd::~TCustomCmd() {
    // Stop the timer before the widgets it would touch go away.
    AutosendTimer->stop();
}

void TCustomCmd::BuildUi() {
    setObjectName(QStringLiteral("CustomCmd"));
    setWindowTitle(QStringLiteral("Custom Command Editor"));
    setSizeGripEnabled(false);

    // Command entry.
    auto* entry = new QGroupBox(QStringLiteral("Command entry"), this);
    entry->setObjectName(QStringLiteral("gbCommandEntry"));
    auto* entryGrid = new QGridLayout(entry);
    edID = new TIntegerEdit(entry);
    edID->setObjectName(QStringLiteral("edID"));
    edID->SetMinValue(0);
    edID->SetMaxValue(255);
    // An invalid identifier reads in the same red as an invalid payload.
    edID->SetErrorFontColor(Qt::red);
    edID->setText(QStringLiteral("0x00"));
    pmKnownIDs = new QMenu(this);
    pmKnownIDs->setObjectName(QStringLiteral("pmKnownIDs"));
    btnKnownIDs = new QToolButton(entry);
    btnKnownIDs->setObjectName(QStringLiteral("btnKnownIDs"));
    btnKnownIDs->setText(QStringLiteral("Command IDs"));
    btnKnownIDs->setPopupMode(QToolButton::InstantPopup);
    btnKnownIDs->setMenu(pmKnownIDs);
    edPayload = new QComboBox(entry);
    edPayload->setObjectName(QStringLiteral("edPayload"));
    edPayload->setEditable(true);
    edPayload->setInsertPolicy(QComboBox::NoInsert);
    edPayload->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    edPayload->setMinimumContentsLength(30);
    lbPayloadSize = new QLabel(entry);
    lbPayloadSize->setObjectName(QStringLiteral("lbPayloadSize"));
    cbPayloadMode = new QComboBox(entry);
    cbPayloadMode->setObjectName(QStringLiteral("cbPayloadMode"));
    cbPayloadMode->addItem(QStringLiteral("items"));
    cbPayloadMode->addItem(QStringLiteral("hex bytes"));
    cbPayloadMode->setToolTip(QStringLiteral("How the payload text is read"));
    entryGrid->addWidget(new QLabel(QStringLiteral("Command ID:"), entry), 0, 0);
    auto* idRow = new QHBoxLayout;
    idRow->addWidget(edID);
    idRow->addWidget(btnKnownIDs);
    idRow->addStretch();
    entryGrid->addLayout(idRow, 0, 1);
    entryGrid->addWidget(new QLabel(QStringLiteral("Payload:"), entry), 1, 0);
    entryGrid->addWidget(edPayload, 1, 1);
    entryGrid->addWidget(new QLabel(QStringLiteral("Payload size:"), entry), 2, 0);
    auto* sizeRow = new QHBoxLayout;
    sizeRow->addWidget(lbPayloadSize);
    sizeRow->addStretch();
    sizeRow->addWidget(new QLabel(QStringLiteral("Payload as:"), entry));
    sizeRow->addWidget(cbPayloadMode);
    entryGrid->addLayout(sizeRow, 2, 1);
    entryGrid->setColumnStretch(1, 1);
    // The payload field ends 10 pixels short of the panel's inner right edge.
    QMargins entryMargins = entryGrid->contentsMargins();
    entryMargins.setRight(10);
    entryGrid->setContentsMargins(entryMargins);

    // Decoding panel: the frame's fields side by side.
    auto* decoding = new QGroupBox(QStringLiteral("Command Packet Decoding"), this);
    decoding->setObjectName(QStringLiteral("gbDecoding"));
    auto* decGrid = new QGridLayout(decoding);
    auto title = [decoding](const QString& text) {
        auto* l = new QLabel(text, decoding);
        QFont f = l->font();
        f.setUnderline(true);
        l->setFont(f);
        return l;
    };
    auto value = [decoding](const char* name) {
        auto* l = new QLabel(decoding);
        l->setObjectName(QLatin1String(name));
        l->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        l->setTextInteractionFlags(Qt::TextSelectableByMouse);
        return l;
    };
    auto* preamble = new QLabel(QStringLiteral("AA AA AA"), decoding);
    preamble->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    lbId = value("lbId");
    lbLength = value("lbLength");
    lbPayload = value("lbPayload");
    lbPayload->setWordWrap(true);
    lbPayload->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    lbChecksum = value("lbChecksum");
    const QLabel* fields[] = {preamble, lbId, lbLength, lbPayload, lbChecksum};
    const char* titles[] = {"Preamble", "ID", "Length", "Payload", "Checksum"};
    for (int i = 0; i < 5; ++i) {
        decGrid->addWidget(title(QLatin1String(titles[i])), 0, i);
        decGrid->addWidget(const_cast<QLabel*>(fields[i]), 1, i);
    }
    decGrid->setColumnStretch(3, 1);
    lbPayload->setMinimumWidth(fontMetrics().horizontalAdvance(QStringLiteral("00 ")) * 8);

    // Send strip.
    btnSend = new QPushButton(QStringLiteral("Send"), this);
    btnSend->setObjectName(QStringLiteral("btnSend"));
    btnSend->setDefault(true);
    btnSend->setAutoDefault(true);
    cbAutosend = new QCheckBox(QStringLiteral("auto send every "), this);
    cbAutosend->setObjectName(QStringLiteral("cbAutosend"));
    cbAutosend->setEnabled(false);
    AutosendIntervalEdit = new QSpinBox(this);
    AutosendIntervalEdit->setObjectName(QStringLiteral("AutosendIntervalEdit"));
    AutosendIntervalEdit->setRange(50, 10000);
    AutosendIntervalEdit->setValue(50);
    AutosendTimer = new QTimer(this);
    AutosendTimer->setObjectName(QStringLiteral("AutosendTimer"));
    auto* sendRow = new QHBoxLayout;
    sendRow->addWidget(btnSend);
    sendRow->addSpacing(12);
    sendRow->addWidget(cbAutosend);
    sendRow->addWidget(AutosendIntervalEdit);
    sendRow->addWidget(new QLabel(QStringLiteral("ms."), this));
    sendRow->addStretch();
    btnClear = new QPushButton(QStringLiteral("Clear"), this);
    btnClear->setObjectName(QStringLiteral("btnClear"));
    btnClear->setAutoDefault(false);
    btnClear->setToolTip(QStringLiteral("Clears the results and the counts"));
    sendRow->addWidget(btnClear);
    btnSaveResults = new QPushButton(QStringLiteral("Save..."), this);
    btnSaveResults->setObjectName(QStringLiteral("btnSaveResults"));
    btnSaveResults->setAutoDefault(false);
    btnSaveResults->setToolTip(QStringLiteral("Saves the results with their time stamps"));
    sendRow->addWidget(btnSaveResults);
    lbCounts = new QLabel(CountsText({}), this);
    lbCounts->setObjectName(QStringLiteral("lbCounts"));
    lbCounts->setTextInteractionFlags(Qt::TextSelectableByMouse);

    // Results.
    RollPanel1 = new TRollPanel(this);
    RollPanel1->setObjectName(QStringLiteral("RollPanel1"));
    RollPanel1->SetCaption(QStringLiteral("Command Results"));
    RollPanel1->SetCaptionHeight(20);
    RollPanel1->SetMargin(2);
    RollPanel1->SetRadius(4);
    RollPanel1->SetAnimationSpeed(150);
    RollPanel1->SetAllowResize(true);
    RollPanel1->SetAnimate(true);
    RollPanel1->SetCaptionGradientMode(TRollPanel::gmUser);
    RollPanel1->SetCaptionColorFrom(ColorFromBgr(8210719));
    RollPanel1->SetCaptionColorTo(ColorFromBgr(12419407));
    RollPanel1->SetCaptionGradientType(gtVertical);
    RollPanel1->SetPanelGradientMode(TRollPanel::gmNone);
    RollPanel1->SetCaptionFontColor(Qt::white);
    Log = new TStampedLog(RollPanel1);
    Log->setObjectName(QStringLiteral("Log"));
    Log->setMaximumBlockCount(MaxResultLines);
    auto* panelLayout = new QVBoxLayout(RollPanel1);
    // The panel's own contents margins already keep children off its caption and frame.
    panelLayout->setContentsMargins(0, 0, 0, 0);
    panelLayout->addWidget(Log);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(entry);
    layout->addWidget(decoding);
    layout->addLayout(sendRow);
    layout->addWidget(lbCounts);
    layout->addWidget(RollPanel1);
    // The window follows its content, also when the results panel collapses.
    layout->setSizeConstraint(QLayout::SetFixedSize);
    entry->setMinimumWidth(280);
    RollPanel1->SetPanelHeight(180);

    edID->OnChange = [this](QObject*) { CommandEditChange(); };
    connect(edPayload, &QComboBox::editTextChanged, this, &TCustomCmd::CommandEditChange);
    connect(cbPayloadMode, &QComboBox::currentIndexChanged, this, &TCustomCmd::CommandEditChange);
    // A payload taken from the history is read the way it was sent.
    connect(edPayload, &QComboBox::activated, this, [this](int index) {
        const QVariant mode = edPayload->itemData(index);
        if (mode.isValid())
            SetPayloadMode(static_cast<TPayloadMode>(mode.toInt()));
    });
    connect(btnSend, &QPushButton::clicked, this, &TCustomCmd::btnSendClick);
    connect(btnClear, &QPushButton::clicked, this, &TCustomCmd::btnClearClick);
    connect(btnSaveResults, &QPushButton::clicked, this, &TCustomCmd::btnSaveResultsClick);
    // The field's own limit would cut a paste short without a word; the editor refuses it.
    edPayload->lineEdit()->setMaxLength(std::numeric_limits<int>::max());
    connect(cbAutosend, &QCheckBox::toggled, this, &TCustomCmd::cbAutosendClick);
    connect(AutosendTimer, &QTimer::timeout, this, &TCustomCmd::AutosendTimerTimer);
}

void TCustomCmd::FormCreate() {
    for (const TCommandID& c : CommandIDs) {
        QAction* a = pmKnownIDs->addAction(QLatin1String(c.Name));
        a->setData(c.ID);
        const std::int32_t id = c.ID;
        connect(a, &QAction::triggered, this, [this, id] {
            edID->setText(QStringLiteral("0x") + HexByte(static_cast<std::uint8_t>(id)));
        });
    }
    ShowDecoding(FStoredID, FStoredPayload);
    CommandEditChange();
}

void TCustomCmd::ShowDecoding(std::uint8_t id, const TByteArray& payload) {
    const TPacketDecoding d = DecodePacket(id, payload);
    lbId->setText(d.ID);
    lbLength->setText(d.Length);
    FPayloadText = d.Payload;
    ShowPayloadText();
    lbChecksum->setText(d.Checksum);
}

void TCustomCmd::ShowPayloadText() {
    // Three wrapped lines at most; a longer payload ends in an ellipsis.
    const QFontMetrics fm(lbPayload->font());
    const int cell = std::max(1, fm.horizontalAdvance(QStringLiteral("00 ")));
    const int perLine = std::max(1, lbPayload->width() / cell);
    const qsizetype room = static_cast<qsizetype>(perLine) * 3 * 3;
    if (FPayloadText.size() <= room)
        lbPayload->setText(FPayloadText);
    else
        lbPayload->setText(FPayloadText.left(std::max<qsizetype>(0, room - 3)) + QChar(0x2026));
    lbPayload->setToolTip(FPayloadText.size() > room ? FPayloadText : QString());
}

void TCustomCmd::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    ShowPayloadText();
}

void TCustomCmd::CommandEditChange() {
    if (FRefusing)
        return;
    if (edPayload->currentText().size() > MaxPayloadText) {
        const qsizetype length = edPayload->currentText().size();
        FRefusing = true;
        edPayload->setEditText(FAcceptedEntry);
        FRefusing = false;
        ShowError(QStringLiteral("The payload text was not taken: it is %1 characters long, and "
                                 "the editor takes at most %2 (%3 bytes as hexadecimal).")
                      .arg(length)
                      .arg(MaxPayloadText)
                      .arg(MaxPayloadLength),
                  this);
        return;
    }
    FAcceptedEntry = edPayload->currentText();
    const bool idValid = edID->IsValid();
    bool payloadValid = false;
    if (idValid) {
        FStoredID = static_cast<std::uint8_t>(edID->Value());
        QString problem;
        const bool hex = PayloadMode() == pmHexBytes;
        const std::optional<TByteArray> payload =
            hex ? ParseHexPayload(edPayload->currentText(), &problem)
                : ParsePayload(edPayload->currentText(), &problem);
        QLineEdit* line = edPayload->lineEdit();
        QPalette pal = line->palette();
        if (!payload) {
            edPayload->setToolTip(problem.isEmpty() ? PayloadError
                                                    : PayloadError + QLatin1Char('\n') + problem);
            FStoredPayload.clear();
            FStoredID = 0;
            pal.setColor(QPalette::Text, Qt::red);
            lbPayloadSize->setText(QStringLiteral("0 bytes"));
        } else {
            pal.setColor(QPalette::Text, Qt::black);
            edPayload->setToolTip(hex ? HexPayloadHelp : PayloadHelp);
            FStoredPayload = *payload;
            lbPayloadSize->setText(QString::number(FStoredPayload.size()) +
                                   QStringLiteral(" bytes"));
            payloadValid = true;
        }
        line->setPalette(pal);
        ShowDecoding(static_cast<std::uint8_t>(edID->Value()), FStoredPayload);
    } else {
        // No identifier: neither it nor the checksum over it can be shown.
        lbId->setText(QStringLiteral("[n/a]"));
        lbChecksum->setText(QStringLiteral("[n/a]"));
    }
    FEntryValid = idValid && payloadValid;
    UpdateEnabled();
}

TCustomCmd::TPayloadMode TCustomCmd::PayloadMode() const {
    return cbPayloadMode->currentIndex() == pmHexBytes ? pmHexBytes : pmItems;
}

void TCustomCmd::SetPayloadMode(TPayloadMode mode) {
    cbPayloadMode->setCurrentIndex(mode);
}

void TCustomCmd::UpdateEnabled() {
    const bool canSend = FConnected && FEntryValid;
    if (!canSend && cbAutosend->isChecked())
        cbAutosend->setChecked(false); // stops the timer
    cbAutosend->setEnabled(canSend);
    btnSend->setEnabled(canSend && !cbAutosend->isChecked());
    AutosendIntervalEdit->setEnabled(FConnected && !cbAutosend->isChecked());
}

void TCustomCmd::hideEvent(QHideEvent* event) {
    // Nobody watches a hidden editor: sending on would go on unseen.
    cbAutosend->setChecked(false);
    QDialog::hideEvent(event);
}

void TCustomCmd::SetConnected(bool connected) {
    if (!connected)
        cbAutosend->setChecked(false);
    FConnected = connected;
    UpdateEnabled();
}

void TCustomCmd::cbAutosendClick() {
    if (cbAutosend->isChecked()) {
        AutosendTimer->setInterval(AutosendIntervalEdit->value());
        AutosendTimer->start();
    } else {
        AutosendTimer->stop();
    }
    UpdateEnabled();
}

void TCustomCmd::AutosendTimerTimer() {
    btnSendClick();
}

void TCustomCmd::btnSendClick() {
    // A click or tick that comes due while a send waits for its reply is skipped: the wait runs
    // the event loop, and a nested exchange would take the first one's reply.
    if (!FMorv || FSending)
        return;
    const std::uint8_t id = FStoredID;
    const QString text = edPayload->currentText();
    QPointer<TCustomCmd> self(this);
    FSending = true;
    // However the send ends, also by an error raised inside it, the next one may go.
    const auto release = qScopeGuard([self] {
        if (self)
            self->FSending = false;
    });
    const TPayloadMode mode = PayloadMode();
    TByteArray reply;
    QElapsedTimer clock;
    clock.start();
    const TStat status = StartWithReply(
        id,
        [self](TMorv*, std::int32_t resultId, std::uint16_t word, const TByteArray& data) {
            if (self)
                self->AsyncResult(resultId, word, data);
        },
        reply);
    if (!self)
        return;
    const qint64 micros = clock.nsecsElapsed() / 1000;
    QString line = QStringLiteral("Sending Command %1h: %2").arg(HexByte(id), StatusText(status));
    const bool answered = status != E_NOT_OPENED && status != E_CMD_FAILED;
    if (!answered)
        line += FailureDetail(status);
    if (!reply.empty())
        line += QStringLiteral(". Data: ") + HexBytes(reply);
    Log->appendPlainText(line);
    CountSend(answered, micros);
    if (status == E_CMD_FAILED)
        return;
    const QString entry = TrimControl(text);
    if (entry.isEmpty())
        return;
    for (int i = 0; i < edPayload->count(); ++i)
        if (edPayload->itemText(i).compare(entry, Qt::CaseInsensitive) == 0)
            return;
    // Adding an item must not replace what the operator is typing.
    const QString current = edPayload->currentText();
    edPayload->addItem(entry, int(mode));
    if (edPayload->currentText() != current)
        edPayload->setEditText(current);
}

TStat TCustomCmd::StartWithReply(std::uint8_t id, TAsyncResultEvent handler, TByteArray& reply) {
    // The command set's StartCommand, step for step, because it does not hand out the reply's
    // data that the results text shows.
    if (!FMorv->IsConnected())
        return E_NOT_OPENED;
    FMorv->AsyncResults().Remove(id);
    TStat status = E_SUCCESS;
    if (!FMorv->ExecuteCommand(id, FStoredPayload, reply, status))
        return E_CMD_FAILED;
    if (status == E_CMD_PENDING && handler)
        FMorv->AsyncResults().Add(id, std::move(handler));
    return status;
}

void TCustomCmd::AsyncResult(std::int32_t id, std::uint16_t status, const TByteArray& data) {
    QString line = QStringLiteral("Async result from command %1h: %2.")
                       .arg(HexByte(static_cast<std::uint8_t>(id & 0xFF)),
                            StatusText(static_cast<std::uint8_t>(status & 0xFF)));
    if (!data.empty())
        line += QStringLiteral(" Data: ") + HexBytes(data);
    Log->appendPlainText(line);
}

QString TCustomCmd::FailureDetail(TStat status) const {
    // The editor checks the connection itself, before any exchange.
    if (status == E_NOT_OPENED || !FMorv)
        return QStringLiteral(" (not connected)");
    const TExchangeOutcome& o = FMorv->LastOutcome();
    switch (o.Kind) {
    case TOutcomeKind::NotSent:
        return o.SendStatus == E_NOT_OPENED
                   ? QStringLiteral(" (not connected)")
                   : QStringLiteral(" (not sent: %1)").arg(StatusText(o.SendStatus));
    case TOutcomeKind::NoReply:
        return QStringLiteral(" (no reply within 3 s)");
    case TOutcomeKind::LinkClosed:
        return QStringLiteral(" (the connection closed while waiting for the reply)");
    case TOutcomeKind::Replied:
        return o.HasStatus ? QString() : QStringLiteral(" (the reply was too short)");
    }
    return {};
}

void TCustomCmd::CountSend(bool answered, qint64 micros) {
    TSendCounts& c = FCounts;
    ++c.Sent;
    if (answered) {
        c.MinMicros = c.Answered == 0 ? micros : std::min(c.MinMicros, micros);
        c.MaxMicros = c.Answered == 0 ? micros : std::max(c.MaxMicros, micros);
        c.SumMicros += micros;
        ++c.Answered;
    } else {
        ++c.Failed;
    }
    lbCounts->setText(CountsText(c));
}

QString TCustomCmd::CountsText(const TSendCounts& c) {
    auto ms = [](qint64 micros) { return QString::number(double(micros) / 1000.0, 'f', 1); };
    QString text =
        QStringLiteral("Sent %1, answered %2, failed %3").arg(c.Sent).arg(c.Answered).arg(c.Failed);
    if (c.Answered > 0)
        text += QStringLiteral("; round trip min %1 ms, mean %2 ms, max %3 ms")
                    .arg(ms(c.MinMicros), ms(c.SumMicros / c.Answered), ms(c.MaxMicros));
    return text;
}

void TCustomCmd::btnClearClick() {
    Log->ClearAction()->trigger();
    FCounts = {};
    lbCounts->setText(CountsText(FCounts));
}

QString TCustomCmd::ResultsWithTimes() const {
    QString text;
    const QStringList lines = Log->toPlainText().split(QLatin1Char('\n'));
    for (int i = 0; i < lines.size() && !Log->document()->isEmpty(); ++i)
        text += TStampedLog::StampText(Log->LineTime(i)) + QLatin1Char(' ') + lines[i] +
                QLatin1Char('\n');
    return text;
}

void TCustomCmd::btnSaveResultsClick() {
    const QString path =
        AskSaveFile(this, QStringLiteral("Save command results"), QStringLiteral("karo-commands"),
                    QStringLiteral("txt"), QStringLiteral("Text files (*.txt)"));
    if (path.isEmpty())
        return;
    QSaveFile out(path);
    if (!out.open(QIODevice::WriteOnly) || out.write(ResultsWithTimes().toUtf8()) < 0 ||
        !out.commit())
        ShowError(QStringLiteral("Cannot write the file %1: %2.")
                      .arg(QDir::toNativeSeparators(path), out.errorString()),
                  this);
}
