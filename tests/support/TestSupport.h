#pragma once

#include "devices/IniFile.h"
#include "protocol/Clock.h"
#include "protocol/Tick.h"
#include "widgets/MessageBoxes.h"

#include <QList>
#include <QObject>
#include <QPair>
#include <QString>
#include <QTemporaryDir>

#include <cstdint>
#include <functional>
#include <type_traits>

class QTcpSocket;
class QTimer;
class QWidget;

// A tick the test moves by hand. Only what is given its Source() or Clock() reads it.
class FakeTick {
public:
    explicit FakeTick(std::uint32_t start = 1000) : FNow(start) {}
    FakeTick(const FakeTick&) = delete;
    FakeTick& operator=(const FakeTick&) = delete;

    std::uint32_t Now() const { return FNow; }
    void Set(std::uint32_t now) { FNow = now; }
    void Advance(std::uint32_t ms) { FNow += ms; }

    TTickSource Source() const {
        return [this] { return FNow; };
    }
    // This tick with the system's wall clock, for an engine instance.
    TClock Clock() const { return {Source(), {}}; }

private:
    std::uint32_t FNow;
};

// Records message boxes instead of showing them.
class MessageRecorder {
public:
    MessageRecorder();
    ~MessageRecorder();
    MessageRecorder(const MessageRecorder&) = delete;
    MessageRecorder& operator=(const MessageRecorder&) = delete;

    QList<QPair<TMsgKind, QString>> Boxes;
    QStringList Texts() const;
    void clear() { Boxes.clear(); }

private:
    TMessageBoxHook FPrevious;
};

// Points the settings folder at a fresh temporary folder while it lives.
class TempSettingsDir {
public:
    TempSettingsDir();
    ~TempSettingsDir();
    TempSettingsDir(const TempSettingsDir&) = delete;
    TempSettingsDir& operator=(const TempSettingsDir&) = delete;

    QString Path() const { return FDir.path(); }
    QString FilePath(const QString& name) const { return FDir.filePath(name); }
    // Writes `text` as the file `name` in the folder.
    void WriteFile(const QString& name, const QByteArray& text) const;
    QByteArray ReadFile(const QString& name) const;

private:
    QTemporaryDir FDir;
};

// A loopback TCP listener whose accept queue is full: one connection waits in it unaccepted,
// so the handshake of every further attempt is never answered.
class SilentListener {
public:
    SilentListener() = default;
    ~SilentListener();
    SilentListener(const SilentListener&) = delete;
    SilentListener& operator=(const SilentListener&) = delete;

    // False when the listener or its filling connection could not be set up.
    bool Setup();
    quint16 Port() const { return FPort; }

private:
    int FFd = -1;
    QTcpSocket* FFiller = nullptr;
    quint16 FPort = 0;
};

// "AA AA 01" style text from bytes, for readable comparisons.
QString HexString(const std::uint8_t* data, std::size_t n);
template <typename C> QString HexString(const C& bytes) {
    return HexString(reinterpret_cast<const std::uint8_t*>(bytes.data()),
                     static_cast<std::size_t>(bytes.size()));
}
// Bytes from "AA AA 01" style text.
std::vector<std::uint8_t> HexBytes(const char* text);

// Polls the event loop for a visible modal widget that `matches` and hands it to `act`, once.
// The timer belongs to the application and ends itself after acting; delete it to stop waiting.
QTimer* WhenModalWidget(std::function<bool(QWidget*)> matches, std::function<void(QWidget*)> act);

// Runs `fn` on the next modal dialog of type T once it is up. Polled rather than answered at
// once, since a dialog may open only after the work before it has waited for replies.
template <typename T = QWidget>
QTimer* WhenModal(std::type_identity_t<std::function<void(T*)>> fn) {
    return WhenModalWidget([](QWidget* w) { return qobject_cast<T*>(w) != nullptr; },
                           [fn](QWidget* w) { fn(qobject_cast<T*>(w)); });
}

// Runs `act` on the modal dialog named `name` as soon as it is up.
QTimer* AnswerModal(const QString& name, std::function<void(QWidget*)> act);
