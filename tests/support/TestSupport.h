// SPDX-License-Identifier: Apache-2.0
#pragma once

// What tests of the transports, the engine and everything above them use: settings folders and
// sockets on top of ProtocolSupport.h; no widgets.

#include "ProtocolSupport.h"
#include "devices/IniFile.h"

#include <QString>
#include <QTemporaryDir>

class QTcpSocket;

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
