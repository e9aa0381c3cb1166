// SPDX-License-Identifier: Apache-2.0
#include "devices/tcp/TCPDevice.h"

#include <QNetworkProxy>
#include <QSignalBlocker>
#include <QTcpSocket>
#include <QTimer>

namespace {
const QString kSection = QStringLiteral("common");

// Errors that mean the attempt could not even be started (no socket, no permission).
bool IsStartFailure(QAbstractSocket::SocketError e) {
    switch (e) {
    case QAbstractSocket::SocketResourceError:
    case QAbstractSocket::SocketAccessError:
    case QAbstractSocket::UnsupportedSocketOperationError:
    case QAbstractSocket::OperationError:
        return true;
    default:
        return false;
    }
}
} // namespace

TTCPDevice::TTCPDevice(QObject* owner)
    : TDevice(owner, QStringLiteral("tcp"), QStringLiteral("Ethernet/TCP")),
      FSocket(new QTcpSocket(this)), FAttemptTimer(new QTimer(this)), FReadAgain(new QTimer(this)) {
    FHostSettings.Host = Settings->ReadString(kSection, QStringLiteral("host"), QString());
    FHostSettings.Port = Settings->ReadInteger(kSection, QStringLiteral("port"), DefaultPort);

    FSocket->setObjectName(QStringLiteral("ClientSocket"));
    FSocket->setProxy(QNetworkProxy::NoProxy);
    FSocket->setReadBufferSize(ReadBufferSize);
    FAttemptTimer->setSingleShot(true);
    connect(FAttemptTimer, &QTimer::timeout, this, &TTCPDevice::AttemptTimedOut);
    FReadAgain->setSingleShot(true);
    FReadAgain->setInterval(0);
    connect(FReadAgain, &QTimer::timeout, this, &TTCPDevice::SocketRead);
    connect(FSocket, &QTcpSocket::readyRead, this, &TTCPDevice::SocketRead);
    connect(FSocket, &QTcpSocket::errorOccurred, this, &TTCPDevice::SocketError);
    connect(FSocket, &QTcpSocket::stateChanged, this, &TTCPDevice::SocketStateChanged);
    connect(FSocket, &QTcpSocket::disconnected, this, &TTCPDevice::SocketDisconnected);
}

TTCPDevice::~TTCPDevice() {
    BeginDestroy();
    FAttemptTimer->stop();
    Close();
    FSocket->disconnect(this);
    FSocket->abort();
}

bool TTCPDevice::IsOpen() {
    return FSocket->state() == QAbstractSocket::ConnectedState;
}

TStat TTCPDevice::OpenChosen(const QString& /*PortName*/, const TDeviceSettings* chosen) {
    const auto& host = std::get<TTcpSettings>(*chosen);
    return OpenHost(host.Host, host.Port);
}

TStat TTCPDevice::OpenHost(const QString& Host, int Port) {
    FRequested = TTcpSettings{Host, Port};
    return OpenTransport();
}

TStat TTCPDevice::OpenHook() {
    // A pending attempt would otherwise make the socket ignore the new one.
    AbortSocket();
    const TTcpSettings wanted = *FRequested;
    if (wanted.Port < 1 || wanted.Port > 65535) {
        SetLastErrorText(QStringLiteral("port %1 is outside 1 to 65535").arg(wanted.Port));
        return E_IO_ERROR;
    }
    FHostSettings = wanted;

    {
        // What happens inside the call is read from the socket afterwards.
        const QSignalBlocker quiet(FSocket);
        FSocket->connectToHost(wanted.Host, static_cast<quint16>(wanted.Port));
    }
    FPrevState = FSocket->state();
    if (FPrevState == QAbstractSocket::ConnectedState) {
        FSocket->setSocketOption(QAbstractSocket::KeepAliveOption, 1);
        ReportUsable();
    } else if (FPrevState == QAbstractSocket::UnconnectedState) {
        const QAbstractSocket::SocketError error = FSocket->error();
        SetLastErrorText(ErrorText(error, FSocket->errorString()));
        if (IsStartFailure(error))
            return E_IO_ERROR;
        // A refusal met while starting still belongs to the attempt: report it from the loop.
        const TStat code = ErrorCode(error, QAbstractSocket::UnconnectedState);
        QTimer::singleShot(0, this, [this, code] {
            if (State() == TState::Connecting)
                ReportFailed(code);
            else
                DoError(code);
        });
    } else if (AttemptTimeoutMs > 0) {
        FAttemptTimer->start(AttemptTimeoutMs);
    }
    Settings->WriteString(kSection, QStringLiteral("host"), wanted.Host);
    Settings->WriteInteger(kSection, QStringLiteral("port"), wanted.Port);
    return E_SUCCESS;
}

QString TTCPDevice::Address() const {
    if (!FRequested)
        return {};
    return QStringLiteral("%1:%2").arg(FRequested->Host).arg(FRequested->Port);
}

void TTCPDevice::CloseHook(bool wasOpen) {
    // A pending attempt is cancelled; only a closed connection is reported.
    if (wasOpen)
        FSocket->flush();
    AbortSocket();
}

std::int32_t TTCPDevice::BytesAvailable() {
    if (!IsOpen())
        return 0;
    return static_cast<std::int32_t>(
        std::min<qint64>(FSocket->bytesAvailable(), std::numeric_limits<std::int32_t>::max()));
}

std::int32_t TTCPDevice::Read(std::uint8_t* Buffer, std::int32_t Count) {
    if (!IsOpen() || Count <= 0 || !Buffer)
        return -1;
    const qint64 n = FSocket->read(reinterpret_cast<char*>(Buffer), Count);
    if (n > 0)
        FBytesRead += n;
    return n > 0 ? static_cast<std::int32_t>(n) : -1;
}

TStat TTCPDevice::Write(const std::uint8_t* Buffer, std::int32_t Count) {
    if (!IsOpen())
        return E_NOT_OPENED;
    if (Count < 0 || (Count > 0 && !Buffer))
        return E_WRITE_ERROR;
    // The socket sends from the event loop; a refusal arrives there as a send error.
    const qint64 n = FSocket->write(reinterpret_cast<const char*>(Buffer), Count);
    return n < 0 ? E_WRITE_ERROR : E_SUCCESS;
}

void TTCPDevice::GetPortList(QStringList& Items) {
    Items.clear();
    Items << QStringLiteral("TCP");
}

bool TTCPDevice::IsConnecting() const {
    const auto state = FSocket->state();
    return state == QAbstractSocket::HostLookupState || state == QAbstractSocket::ConnectingState;
}

void TTCPDevice::AbortSocket() {
    FAttemptTimer->stop();
    if (FSocket->state() == QAbstractSocket::UnconnectedState)
        return;
    {
        const QSignalBlocker quiet(FSocket);
        FSocket->abort();
    }
    FPrevState = FSocket->state();
}

void TTCPDevice::AttemptTimedOut() {
    if (!IsConnecting())
        return;
    AbortSocket();
    SetLastErrorText(QStringLiteral("no answer within %1 s").arg(AttemptTimeoutMs / 1000.0));
    ReportFailed(E_CMD_FAILED);
}

QString TTCPDevice::ErrorText(QAbstractSocket::SocketError error, const QString& detail) {
    switch (error) {
    case QAbstractSocket::ConnectionRefusedError:
        return QStringLiteral("connection refused (nothing listens on that port)");
    case QAbstractSocket::HostNotFoundError:
        return QStringLiteral("no such host");
    case QAbstractSocket::SocketTimeoutError:
        return QStringLiteral("no answer in time");
    case QAbstractSocket::RemoteHostClosedError:
        return QStringLiteral("the gripper's end closed the connection");
    case QAbstractSocket::SocketAccessError:
        return QStringLiteral("permission denied");
    case QAbstractSocket::NetworkError:
        return QStringLiteral("the network failed (%1)").arg(detail);
    default:
        return detail;
    }
}

TStat TTCPDevice::ErrorCode(QAbstractSocket::SocketError error,
                            QAbstractSocket::SocketState stateBefore) {
    const bool established = stateBefore == QAbstractSocket::ConnectedState ||
                             stateBefore == QAbstractSocket::ClosingState;
    switch (error) {
    case QAbstractSocket::HostNotFoundError:
        return E_INVALID_PARAMETER; // name lookup
    case QAbstractSocket::ConnectionRefusedError:
    case QAbstractSocket::SocketTimeoutError:
    case QAbstractSocket::RemoteHostClosedError:
        return E_CMD_FAILED; // connect / disconnect
    case QAbstractSocket::NetworkError:
        return established ? E_READ_ERROR : E_CMD_FAILED;
    case QAbstractSocket::DatagramTooLargeError:
        return E_WRITE_ERROR;
    default:
        return E_IO_ERROR; // general
    }
}

void TTCPDevice::SocketRead() {
    if (!IsOpen() || !OnDataAvailable)
        return;
    const std::int32_t before = BytesAvailable();
    if (before <= 0)
        return;
    const std::int64_t readBefore = FBytesRead;
    DoDataAvailable(before);
    // What the reader left behind is not announced again, and neither is what arrived while
    // the reader ran the event loop (waiting for a reply): readyRead does not nest. As long as
    // the reader takes something, announce the rest ourselves.
    const std::int32_t after = BytesAvailable();
    if (after > 0 && FBytesRead != readBefore && !FReadAgain->isActive())
        FReadAgain->start();
}

void TTCPDevice::SocketError(QAbstractSocket::SocketError error) {
    // The peer closing an established connection is a close, reported by SocketDisconnected.
    if (error == QAbstractSocket::RemoteHostClosedError && State() == TState::Connected)
        return;
    if (State() != TState::Closing)
        SetLastErrorText(ErrorText(error, FSocket->errorString()));
    // An error ends the connection without OnDisconnect.
    if (State() == TState::Connected)
        ReportLost(ErrorCode(error, QAbstractSocket::ConnectedState));
    else
        ReportFailed(ErrorCode(error, FPrevState));
}

void TTCPDevice::SocketStateChanged(QAbstractSocket::SocketState state) {
    if (state == QAbstractSocket::ConnectedState || state == QAbstractSocket::UnconnectedState)
        FAttemptTimer->stop();
    if (state == QAbstractSocket::ConnectedState) {
        // The kernel notices a peer that vanished even while neither side sends.
        FSocket->setSocketOption(QAbstractSocket::KeepAliveOption, 1);
        ReportUsable();
    }
    FPrevState = state;
}

void TTCPDevice::SocketDisconnected() {
    if (State() == TState::Connected) {
        SetLastErrorText(ErrorText(QAbstractSocket::RemoteHostClosedError, QString()));
        ReportLost(E_SUCCESS);
    }
}
