#include "TestSupport.h"

#include <QHostAddress>
#include <QTcpSocket>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QApplication>
#include <QFile>
#include <QTimer>
#include <QWidget>

#include <vector>

MessageRecorder::MessageRecorder() {
    FPrevious = SetMessageBoxHook([this](TMsgKind kind, const QString& text) {
        Boxes.append({kind, text});
    });
}

MessageRecorder::~MessageRecorder() {
    SetMessageBoxHook(std::move(FPrevious));
}

QStringList MessageRecorder::Texts() const {
    QStringList out;
    for (const auto& b : Boxes)
        out << b.second;
    return out;
}

TempSettingsDir::TempSettingsDir() {
    SetSettingsDirectory(FDir.path());
}

TempSettingsDir::~TempSettingsDir() {
    SetSettingsDirectory(QString());
}

void TempSettingsDir::WriteFile(const QString& name, const QByteArray& text) const {
    QFile f(FilePath(name));
    if (f.open(QIODevice::WriteOnly))
        f.write(text);
}

QByteArray TempSettingsDir::ReadFile(const QString& name) const {
    QFile f(FilePath(name));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QString HexString(const std::uint8_t* data, std::size_t n) {
    QString out;
    for (std::size_t i = 0; i < n; ++i) {
        if (i)
            out += QLatin1Char(' ');
        out += QStringLiteral("%1").arg(data[i], 2, 16, QLatin1Char('0')).toUpper();
    }
    return out;
}

std::vector<std::uint8_t> HexBytes(const char* text) {
    std::vector<std::uint8_t> out;
    const QStringList parts = QString::fromLatin1(text).split(QLatin1Char(' '), Qt::SkipEmptyParts);
    for (const QString& p : parts)
        out.push_back(static_cast<std::uint8_t>(p.toUInt(nullptr, 16)));
    return out;
}

QTimer* WhenModalWidget(std::function<bool(QWidget*)> matches, std::function<void(QWidget*)> act) {
    auto* poll = new QTimer(qApp);
    poll->setInterval(5);
    QObject::connect(poll, &QTimer::timeout, poll, [poll, matches, act] {
        QWidget* w = QApplication::activeModalWidget();
        if (!w || !w->isVisible() || !matches(w))
            return;
        poll->stop();
        poll->deleteLater();
        act(w);
    });
    poll->start();
    return poll;
}

QTimer* AnswerModal(const QString& name, std::function<void(QWidget*)> act) {
    return WhenModalWidget([name](QWidget* w) { return w->objectName() == name; }, std::move(act));
}

SilentListener::~SilentListener() {
    delete FFiller;
    if (FFd >= 0)
        ::close(FFd);
}

bool SilentListener::Setup() {
    FFd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (FFd < 0 || ::bind(FFd, reinterpret_cast<sockaddr*>(&a), len) != 0 ||
        ::listen(FFd, 0) != 0 || ::getsockname(FFd, reinterpret_cast<sockaddr*>(&a), &len) != 0)
        return false;
    FPort = ntohs(a.sin_port);
    FFiller = new QTcpSocket;
    FFiller->connectToHost(QHostAddress::LocalHost, FPort);
    return FFiller->waitForConnected(10000);
}
