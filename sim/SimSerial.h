// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "SimLink.h"

#include <QByteArray>
#include <QPointer>
#include <QSocketNotifier>
#include <QString>

#include <memory>

class TSimSerialPort;

// The gripper on the line: one link at a time. A closed link (--disconnect-after) is
// replaced by a fresh one when the next bytes arrive.
class TSimSerialLink : public TSimLink {
    Q_OBJECT
public:
    TSimSerialLink(TGripperModel& model, TSimSerialPort& port);
    QString Name() const override;
    // What the line has not taken yet: a flood waits for it as it does on TCP.
    qint64 Backlog() const override;

protected:
    void WriteFrame(const TByteArray& frame) override;
    void CloseLink() override;

private:
    TSimSerialPort& FPort;
};

// A serial line the simulator serves: either a pseudo-terminal it creates (any rate works,
// the client sees /dev/pts/N) or an existing device opened raw 8N1 at a given rate.
class TSimSerialPort : public QObject {
    Q_OBJECT
public:
    explicit TSimSerialPort(TGripperModel& model, QObject* parent = nullptr);
    ~TSimSerialPort() override;

    bool OpenPty();
    bool OpenDevice(const QString& path, int baud);
    QString ErrorString() const { return FError; }
    // The path a client opens.
    QString Path() const { return FPath; }

private:
    friend class TSimSerialLink;
    void Start(int fd);
    void ReadAll();
    void Send(const TByteArray& frame);
    void FlushOut();
    void Gone();

    TGripperModel& FModel;
    int FFd = -1;
    int FSlaveFd = -1; // kept open so the master never sees a hang-up between clients
    QString FPath;
    QString FError;
    std::unique_ptr<QSocketNotifier> FReadNotifier;
    std::unique_ptr<QSocketNotifier> FWriteNotifier;
    QByteArray FOut;
    QPointer<TSimSerialLink> FLink;
};
