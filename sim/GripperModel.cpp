// SPDX-License-Identifier: Apache-2.0
#include "GripperModel.h"

#include "SimBytes.h"
#include "SimLink.h"
#include "protocol/ByteConv.h"
#include "protocol/Constants.h"

#include <QElapsedTimer>

#include <algorithm>
#include <cmath>
#include <memory>

namespace {

constexpr double Epsilon = 1e-3;

float FloatAt(const TByteArray& d, std::size_t offset) {
    return SingleFromBytes(d[offset], d[offset + 1], d[offset + 2], d[offset + 3]);
}

// NaN fails every comparison and so is out of range too.
bool InRange(float v, float lo, float hi) {
    return v >= lo && v <= hi;
}

} // namespace

TGripperModel::TGripperModel(const TGripperConfig& config, const TSimFaults& faults,
                             QObject* parent)
    : QObject(parent), FConfig(config), FFaults(faults), FRandom(faults.Seed) {
    auto clock = std::make_shared<QElapsedTimer>();
    clock->start();
    FClock = [clock] { return static_cast<double>(clock->nsecsElapsed()) / 1e6; };
    FPosition = std::clamp(static_cast<double>(config.StartPosition), 0.0, double(Stroke));
    FReferenced = config.Referenced;

    FMotionTimer.setTimerType(Qt::PreciseTimer);
    FMotionTimer.setInterval(10);
    connect(&FMotionTimer, &QTimer::timeout, this, &TGripperModel::Tick);
    FSlipTimer.setSingleShot(true);
    connect(&FSlipTimer, &QTimer::timeout, this, &TGripperModel::LosePart);
}

TGripperModel::~TGripperModel() {
    for (auto& s : FSubscriptions)
        delete s.Timer;
}

void TGripperModel::SetClock(TClock clock) {
    // A motion in progress keeps its place on the new clock's time line.
    if (FMotion.Active) {
        const double elapsed = Now() - FMotion.StartMs;
        FClock = std::move(clock);
        FMotion.StartMs = Now() - elapsed;
    } else {
        FClock = std::move(clock);
    }
}

std::uint32_t TGripperModel::SystemState() const {
    std::uint32_t s = 0;
    if (FReferenced)
        s |= SF_REFERENCED;
    if (FMotion.Active)
        s |= SF_MOVING;
    if (FGraspingState == GS_HOLDING)
        s |= SF_BLOCKED_MINUS;
    if (FSoftLimits && FPosition <= FSoftMinus + Epsilon)
        s |= SF_SOFT_LIMIT_MINUS;
    if (FSoftLimits && FPosition >= FSoftPlus - Epsilon)
        s |= SF_SOFT_LIMIT_PLUS;
    if (FAxisStopped)
        s |= SF_AXIS_STOPPED;
    if (FTargetReached)
        s |= SF_TARGET_POS_REACHED;
    if (FOverdrive)
        s |= SF_OVERDRIVE_MODE;
    if (FFastStop)
        s |= SF_FAST_STOP;
    return s;
}

float TGripperModel::Force() const {
    const float raw = FGraspingState == GS_HOLDING ? FGripForce : 0.0f;
    return raw - FTare;
}

void TGripperModel::Reply(TSimLink& link, std::uint8_t id, std::uint16_t status,
                          const TByteArray& data) {
    link.SendPacket(id, status, data);
}

void TGripperModel::HandlePacket(const TPacket& request, TSimLink& link) {
    const auto id = static_cast<std::uint8_t>(request.ID);
    const TByteArray& d = request.Data;
    switch (id) {
    case CMD_HOMING:
    case CMD_GOTO:
    case CMD_GRASP_RAW:
    case CMD_RELEASE_RAW:
    case CMD_GRASP_PROFILE:
    case CMD_RELEASE_PROFILE:
        HandleMotion(request, link);
        return;
    case CMD_STOP:
        HandleStop(request, link, false);
        return;
    case CMD_FAST_STOP:
        HandleStop(request, link, true);
        return;
    case CMD_FAST_STOP_ACK: {
        static const TByteArray ack{'a', 'c', 'k'};
        if (d != ack) {
            Reply(link, id, E_CMD_FORMAT_ERROR);
            return;
        }
        FFastStop = false;
        Reply(link, id, E_SUCCESS);
        return;
    }
    case CMD_GET_SYSTEM_STATE:
    case CMD_GET_GRASPING_STATE:
    case CMD_GET_POS:
    case CMD_GET_SPEED:
    case CMD_GET_FORCE:
        HandleUpdateRequest(request, link);
        return;
    case CMD_GET_GRASPING_STATS: {
        if (d.size() != 1) {
            Reply(link, id, E_CMD_FORMAT_ERROR);
            return;
        }
        if (d[0] > 1) {
            Reply(link, id, E_INVALID_PARAMETER);
            return;
        }
        TByteArray out;
        AppendU32(out, FGrasps);
        AppendU16(out, FNotFound);
        AppendU16(out, FLost);
        if (d[0] == 1)
            FGrasps = FNotFound = FLost = 0;
        Reply(link, id, E_SUCCESS, out);
        return;
    }
    case CMD_GET_SYSINFO: {
        if (!d.empty()) {
            Reply(link, id, E_CMD_FORMAT_ERROR);
            return;
        }
        TByteArray out{FConfig.Type, FConfig.HardwareRevision};
        AppendU16(out, FConfig.FirmwareRevision);
        AppendU32(out, FConfig.SerialNumber);
        Reply(link, id, E_SUCCESS, out);
        return;
    }
    case CMD_GET_SYSTEM_LIMITS: {
        if (!d.empty()) {
            Reply(link, id, E_CMD_FORMAT_ERROR);
            return;
        }
        TByteArray out;
        for (float v : {Stroke, MinSpeed, MaxSpeed, MinAccel, MaxAccel, MinForce, MaxForce, 0.0f})
            AppendFloat(out, v);
        Reply(link, id, E_SUCCESS, out);
        return;
    }
    case CMD_SET_ACCELERATION:
    case CMD_GET_ACCELERATION:
    case CMD_SET_FORCE_LIMIT:
    case CMD_GET_FORCE_LIMIT:
    case CMD_SET_SOFT_LIMITS:
    case CMD_GET_SOFT_LIMITS:
    case CMD_CLEAR_SOFT_LIMITS:
    case CMD_OVERDRIVE_MODE:
    case CMD_TARE:
    case CMD_SET_DEVICE_TAG:
    case CMD_GET_DEVICE_TAG:
        HandleSetting(request, link);
        return;
    default:
        Reply(link, id, E_CMD_UNKNOWN);
        return;
    }
}

void TGripperModel::HandleMotion(const TPacket& request, TSimLink& link) {
    const auto id = static_cast<std::uint8_t>(request.ID);
    const TByteArray& d = request.Data;
    std::size_t expected = 8;
    if (id == CMD_HOMING)
        expected = 1;
    else if (id == CMD_GOTO)
        expected = 9;
    else if (id == CMD_GRASP_PROFILE || id == CMD_RELEASE_PROFILE)
        expected = 12;
    if (d.size() != expected) {
        Reply(link, id, E_CMD_FORMAT_ERROR);
        return;
    }
    if (FFastStop) {
        Reply(link, id, E_ACCESS_DENIED);
        return;
    }
    if (FMotion.Active && FMotion.Reported) {
        Reply(link, id, E_ALREADY_RUNNING);
        return;
    }

    if (id == CMD_HOMING) {
        // 0: the default direction (opening), 1: opening, 2: closing.
        if (d[0] > 2) {
            Reply(link, id, E_INVALID_PARAMETER);
            return;
        }
        Reply(link, id, E_CMD_PENDING);
        StartMotion(TMotionKind::Homing, id, &link, d[0] == 2 ? 0.0 : Stroke, HomingSpeed,
                    FAcceleration);
        return;
    }

    float width = 0.0f;
    float speed = 0.0f;
    if (id == CMD_GOTO) {
        width = FloatAt(d, 1);
        speed = FloatAt(d, 5);
        if (d[0] & 0x01) // relative move
            width += static_cast<float>(FPosition);
    } else {
        width = FloatAt(d, 0);
        speed = FloatAt(d, 4);
    }
    const float lo = FSoftLimits ? FSoftMinus : 0.0f;
    const float hi = FSoftLimits ? FSoftPlus : Stroke;
    if (!InRange(width, 0.0f, Stroke) || !InRange(speed, MinSpeed, MaxSpeed)) {
        Reply(link, id, E_RANGE_ERROR);
        return;
    }
    if ((id == CMD_GOTO || id == CMD_RELEASE_RAW || id == CMD_RELEASE_PROFILE) &&
        !InRange(width, lo, hi)) {
        Reply(link, id, E_RANGE_ERROR);
        return;
    }
    float accel = FAcceleration;
    float force = FForceLimit;
    if (id == CMD_GRASP_PROFILE) {
        force = FloatAt(d, 8);
        if (!InRange(force, MinForce, MaxForce)) {
            Reply(link, id, E_RANGE_ERROR);
            return;
        }
    } else if (id == CMD_RELEASE_PROFILE) {
        accel = FloatAt(d, 8);
        if (!InRange(accel, MinAccel, MaxAccel)) {
            Reply(link, id, E_RANGE_ERROR);
            return;
        }
    }

    Reply(link, id, E_CMD_PENDING);
    if (id == CMD_GOTO) {
        StartMotion(TMotionKind::Goto, id, &link, width, speed, accel);
    } else if (id == CMD_GRASP_RAW || id == CMD_GRASP_PROFILE) {
        // The fingers close until they meet the part or reach the closing end; the nominal
        // width only has to be a possible one.
        const bool contact =
            FConfig.HasPart && FPosition + Epsilon >= FConfig.PartWidth && FConfig.PartWidth >= lo;
        StartMotion(TMotionKind::Grasp, id, &link, lo, speed, accel);
        FMotion.Contact = contact;
        FMotion.GraspForce = force;
        FGraspingState = GS_GRASPING;
        Tick(); // a part already between touching fingers is held at once
    } else {
        StartMotion(TMotionKind::Release, id, &link, width, speed, accel);
        FGraspingState = GS_RELEASING;
    }
}

void TGripperModel::StartMotion(TMotionKind kind, std::uint8_t id, TSimLink* link, double target,
                                double speed, double accel) {
    FSlipTimer.stop();
    if (kind == TMotionKind::Homing || kind == TMotionKind::Goto) {
        // Moving away on command lets go of whatever the fingers held.
        FGraspingState = GS_IDLE;
    }
    FMotion = TMotion{};
    FMotion.Active = true;
    FMotion.Kind = kind;
    FMotion.Id = id;
    FMotion.Reported = link != nullptr;
    FMotion.Link = link;
    FMotion.Profile = TTrapezoid(FPosition, target, speed, accel);
    FMotion.StartMs = Now();
    FAxisStopped = false;
    FTargetReached = false;
    FMotionTimer.start();
}

void TGripperModel::Tick() {
    if (!FMotion.Active)
        return;
    const double t = (Now() - FMotion.StartMs) / 1000.0;
    FPosition = FMotion.Profile.PositionAt(t);
    FSpeed = FMotion.Profile.SpeedAt(t);
    if (FMotion.Kind == TMotionKind::Grasp && FMotion.Contact &&
        FPosition <= FConfig.PartWidth + Epsilon) {
        FPosition = FConfig.PartWidth;
        FSpeed = 0.0;
        FGraspingState = GS_HOLDING;
        FGripForce = FMotion.GraspForce;
        ++FGrasps;
        if (FConfig.LosePartAfterMs > 0)
            FSlipTimer.start(FConfig.LosePartAfterMs);
        FinishMotion(E_SUCCESS);
        return;
    }
    if (t < FMotion.Profile.Duration())
        return;
    FPosition = FMotion.Profile.Target();
    FSpeed = 0.0;
    FTargetReached = true;
    switch (FMotion.Kind) {
    case TMotionKind::Homing:
        FReferenced = true;
        FinishMotion(E_SUCCESS);
        break;
    case TMotionKind::Goto:
        FinishMotion(E_SUCCESS);
        break;
    case TMotionKind::Grasp:
        FGraspingState = GS_NO_PART;
        ++FGrasps;
        ++FNotFound;
        FinishMotion(E_CMD_FAILED);
        break;
    case TMotionKind::Release:
        FGraspingState = GS_IDLE;
        FinishMotion(E_SUCCESS);
        break;
    case TMotionKind::Slip:
        FinishMotion(E_SUCCESS);
        break;
    }
}

void TGripperModel::FinishMotion(std::uint8_t status) {
    const TMotion done = FMotion;
    FMotion.Active = false;
    FMotionTimer.stop();
    if (done.Reported && done.Link && !done.Link->IsClosed())
        done.Link->SendPacket(done.Id, status);
    if (done.Reported)
        Q_EMIT MotionFinished(done.Id, status);
}

void TGripperModel::AbortMotion() {
    if (!FMotion.Active)
        return;
    Tick();
    if (!FMotion.Active)
        return;
    FSpeed = 0.0;
    if (FMotion.Kind == TMotionKind::Grasp || FMotion.Kind == TMotionKind::Release)
        FGraspingState = GS_IDLE;
    FinishMotion(E_CMD_ABORTED);
}

void TGripperModel::HandleStop(const TPacket& request, TSimLink& link, bool fast) {
    const auto id = static_cast<std::uint8_t>(request.ID);
    if (!request.Data.empty()) {
        Reply(link, id, E_CMD_FORMAT_ERROR);
        return;
    }
    AbortMotion();
    FAxisStopped = true;
    if (fast)
        FFastStop = true;
    Reply(link, id, E_SUCCESS);
}

void TGripperModel::LosePart() {
    if (FGraspingState != GS_HOLDING)
        return;
    FSlipTimer.stop();
    FGraspingState = GS_PART_LOST;
    FGripForce = 0.0f;
    ++FLost;
    // With nothing between them the fingers close on.
    if (!FMotion.Active)
        StartMotion(TMotionKind::Slip, 0, nullptr, FSoftLimits ? FSoftMinus : 0.0, 50.0,
                    FAcceleration);
}

void TGripperModel::HandleSetting(const TPacket& request, TSimLink& link) {
    const auto id = static_cast<std::uint8_t>(request.ID);
    const TByteArray& d = request.Data;
    const auto needs = [&](std::size_t n) {
        if (d.size() == n)
            return true;
        Reply(link, id, E_CMD_FORMAT_ERROR);
        return false;
    };
    TByteArray out;
    switch (id) {
    case CMD_SET_ACCELERATION:
    case CMD_SET_FORCE_LIMIT: {
        if (!needs(4))
            return;
        const float v = FloatAt(d, 0);
        const bool accel = id == CMD_SET_ACCELERATION;
        if (!InRange(v, accel ? MinAccel : MinForce, accel ? MaxAccel : MaxForce)) {
            Reply(link, id, E_RANGE_ERROR);
            return;
        }
        (accel ? FAcceleration : FForceLimit) = v;
        break;
    }
    case CMD_GET_ACCELERATION:
        if (!needs(0))
            return;
        AppendFloat(out, FAcceleration);
        break;
    case CMD_GET_FORCE_LIMIT:
        if (!needs(0))
            return;
        AppendFloat(out, FForceLimit);
        break;
    case CMD_SET_SOFT_LIMITS: {
        if (!needs(8))
            return;
        const float minus = FloatAt(d, 0);
        const float plus = FloatAt(d, 4);
        if (!InRange(minus, 0.0f, Stroke) || !InRange(plus, 0.0f, Stroke) || !(minus < plus)) {
            Reply(link, id, E_RANGE_ERROR);
            return;
        }
        FSoftLimits = true;
        FSoftMinus = minus;
        FSoftPlus = plus;
        break;
    }
    case CMD_GET_SOFT_LIMITS:
        if (!needs(0))
            return;
        if (!FSoftLimits) {
            Reply(link, id, E_NOT_AVAILABLE);
            return;
        }
        AppendFloat(out, FSoftMinus);
        AppendFloat(out, FSoftPlus);
        break;
    case CMD_CLEAR_SOFT_LIMITS:
        if (!needs(0))
            return;
        FSoftLimits = false;
        FSoftMinus = 0.0f;
        FSoftPlus = Stroke;
        break;
    case CMD_OVERDRIVE_MODE:
        if (!needs(1))
            return;
        if (d[0] > 1) {
            Reply(link, id, E_INVALID_PARAMETER);
            return;
        }
        FOverdrive = d[0] == 1;
        break;
    case CMD_TARE:
        if (!needs(0))
            return;
        if (FMotion.Active) {
            Reply(link, id, E_ACCESS_DENIED);
            return;
        }
        FTare = FGraspingState == GS_HOLDING ? FGripForce : 0.0f;
        break;
    case CMD_SET_DEVICE_TAG:
        if (d.size() > static_cast<std::size_t>(MaxDeviceTagLength)) {
            Reply(link, id, E_CMD_FORMAT_ERROR);
            return;
        }
        FDeviceTag =
            QByteArray(reinterpret_cast<const char*>(d.data()), static_cast<qsizetype>(d.size()));
        break;
    case CMD_GET_DEVICE_TAG:
        if (!needs(0))
            return;
        out.assign(FDeviceTag.begin(), FDeviceTag.end());
        break;
    default:
        Reply(link, id, E_CMD_UNKNOWN);
        return;
    }
    Reply(link, id, E_SUCCESS, out);
}
