// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "MotionProfile.h"
#include "SimConfig.h"
#include "protocol/Packet.h"

#include <QObject>
#include <QPointer>
#include <QRandomGenerator>
#include <QTimer>

#include <cstdint>
#include <functional>
#include <vector>

class TSimLink;

// The simulated gripper: one instance serves every link, so all clients see the same fingers.
// Requests come in through HandlePacket with the link they arrived on; replies, final results
// of motions and automatic updates go out on the link that asked for them.
class TGripperModel : public QObject {
    Q_OBJECT
public:
    static constexpr float Stroke = 110.0f;
    static constexpr float MinSpeed = 5.0f;
    static constexpr float MaxSpeed = 420.0f;
    static constexpr float MinAccel = 100.0f;
    static constexpr float MaxAccel = 5000.0f;
    static constexpr float MinForce = 5.0f;
    static constexpr float MaxForce = 80.0f;
    static constexpr float HomingSpeed = 100.0f;
    static constexpr int MaxDeviceTagLength = 32;

    // Milliseconds on a monotonic clock.
    using TClock = std::function<double()>;

    explicit TGripperModel(const TGripperConfig& config = {}, const TSimFaults& faults = {},
                           QObject* parent = nullptr);
    ~TGripperModel() override;

    // Tests replace the clock and drive Tick themselves; the motion timer keeps calling Tick,
    // which then sees no time pass.
    void SetClock(TClock clock);
    // Advances the motion to the clock's now.
    void Tick();

    void HandlePacket(const TPacket& request, TSimLink& link);
    // The link is going away: its automatic updates end, a motion it started ends unreported.
    void DetachLink(TSimLink* link);
    // The held part slips out of the fingers (fault injection).
    void LosePart();

    const TSimFaults& Faults() const { return FFaults; }
    QRandomGenerator& Random() { return FRandom; }

    std::uint32_t SystemState() const;
    std::uint8_t GraspingState() const { return FGraspingState; }
    float Position() const { return static_cast<float>(FPosition); }
    float Speed() const { return static_cast<float>(FSpeed); }
    float Force() const;
    bool IsMoving() const { return FMotion.Active; }

Q_SIGNALS:
    // A motion ended; `status` is the final result that went (or would have gone) out.
    void MotionFinished(std::uint8_t id, std::uint8_t status);

private:
    enum class TMotionKind { Homing, Goto, Grasp, Release, Slip };
    struct TMotion {
        bool Active = false;
        TMotionKind Kind = TMotionKind::Goto;
        std::uint8_t Id = 0;
        bool Reported = false; // a final result goes out when it ends
        QPointer<TSimLink> Link;
        TTrapezoid Profile;
        double StartMs = 0.0;
        float GraspForce = 0.0f;
        bool Contact = false; // a grasp that will meet the part
    };
    struct TSubscription {
        TSimLink* Link = nullptr;
        std::uint8_t Id = 0;
        bool OnlyChanged = false;
        bool SentOnce = false;
        TByteArray Last;
        QTimer* Timer = nullptr;
    };

    double Now() const { return FClock(); }
    void Reply(TSimLink& link, std::uint8_t id, std::uint16_t status, const TByteArray& data = {});

    void HandleMotion(const TPacket& request, TSimLink& link);
    void HandleStop(const TPacket& request, TSimLink& link, bool fast);
    void HandleUpdateRequest(const TPacket& request, TSimLink& link);
    void HandleSetting(const TPacket& request, TSimLink& link);

    void StartMotion(TMotionKind kind, std::uint8_t id, TSimLink* link, double target, double speed,
                     double accel);
    void FinishMotion(std::uint8_t status);
    void AbortMotion();
    void PartSlipped();

    TByteArray ValueOf(std::uint8_t id) const;
    void SendUpdate(TSubscription& sub);
    void Unsubscribe(TSimLink* link, std::uint8_t id);

    TGripperConfig FConfig;
    TSimFaults FFaults;
    QRandomGenerator FRandom;
    TClock FClock;

    double FPosition = 0.0;
    double FSpeed = 0.0;
    float FAcceleration = 1000.0f;
    float FForceLimit = 40.0f;
    float FGripForce = 0.0f; // force on the part while holding
    float FTare = 0.0f;
    bool FReferenced = false;
    bool FFastStop = false;
    bool FAxisStopped = false;
    bool FTargetReached = false;
    bool FOverdrive = false;
    bool FSoftLimits = false;
    float FSoftMinus = 0.0f;
    float FSoftPlus = Stroke;
    std::uint8_t FGraspingState = 0;
    QByteArray FDeviceTag = QByteArrayLiteral("KARO-SIM");

    std::uint32_t FGrasps = 0;
    std::uint16_t FNotFound = 0;
    std::uint16_t FLost = 0;

    TMotion FMotion;
    QTimer FMotionTimer;
    QTimer FSlipTimer;
    std::vector<TSubscription> FSubscriptions;
};
