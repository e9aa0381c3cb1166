// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "SimLink.h"

#include <QCanBusDevice>
#include <QPointer>

#include <memory>

class TSimCanBus;

// The gripper as a node on a CAN bus: it takes the data of frames with its identifier as one
// byte stream and answers in frames of at most 8 bytes with the identifier + 1.
class TSimCanLink : public TSimLink {
    Q_OBJECT
public:
    TSimCanLink(TGripperModel& model, TSimCanBus& bus);
    QString Name() const override;

protected:
    void WriteFrame(const TByteArray& frame) override;
    void CloseLink() override;
    // A classic bus at its highest rate: nothing carries a flood faster.
    double WireBitRate() const override { return 1e6; }
    double WireBits(std::size_t bytes) const override;

private:
    TSimCanBus& FBus;
};

// One device on the bus named "plugin:interface" (e.g. "virtualcan:can0"). A CAN bus has no
// connection to drop: closing the link only forgets what it had received, and the next frame
// starts a fresh one.
class TSimCanBus : public QObject {
    Q_OBJECT
public:
    TSimCanBus(TGripperModel& model, quint32 id, QObject* parent = nullptr);
    ~TSimCanBus() override;

    // Connects and waits (at most `timeoutMs`) until the bus is usable.
    bool Open(const QString& bus, int timeoutMs = 10000);
    QString ErrorString() const { return FError; }
    QString BusName() const { return FBusName; }
    quint32 Id() const { return FId; }

private:
    friend class TSimCanLink;
    void ReadFrames();
    void Send(const TByteArray& frame);

    TGripperModel& FModel;
    quint32 FId;
    QString FBusName;
    QString FError;
    std::unique_ptr<QCanBusDevice> FDevice;
    QPointer<TSimCanLink> FLink;
};
