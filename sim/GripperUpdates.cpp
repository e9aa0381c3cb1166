// SPDX-License-Identifier: Apache-2.0
// The gripper's automatic updates: what each update carries, subscriptions per link and period.
#include "GripperModel.h"

#include "SimBytes.h"
#include "SimLink.h"
#include "protocol/ByteConv.h"
#include "protocol/Constants.h"

#include <algorithm>

TByteArray TGripperModel::ValueOf(std::uint8_t id) const {
    TByteArray out;
    switch (id) {
    case CMD_GET_SYSTEM_STATE:
        AppendU32(out, SystemState());
        break;
    case CMD_GET_GRASPING_STATE:
        out.push_back(FGraspingState);
        break;
    case CMD_GET_POS:
        AppendFloat(out, Position());
        break;
    case CMD_GET_SPEED:
        AppendFloat(out, Speed());
        break;
    case CMD_GET_FORCE:
        AppendFloat(out, Force());
        break;
    default:
        break;
    }
    return out;
}

void TGripperModel::HandleUpdateRequest(const TPacket& request, TSimLink& link) {
    const auto id = static_cast<std::uint8_t>(request.ID);
    const TByteArray& d = request.Data;
    // An empty payload is a plain query; otherwise options and period as for every update.
    if (!d.empty() && d.size() != 3) {
        Reply(link, id, E_CMD_FORMAT_ERROR);
        return;
    }
    const bool autoUpdate = !d.empty() && (d[0] & 0x01);
    const bool onlyChanged = !d.empty() && (d[0] & 0x02);
    const int period = d.empty() ? 0 : WordFromBytes(d[1], d[2]);
    if (autoUpdate && period == 0) {
        Reply(link, id, E_INVALID_PARAMETER);
        return;
    }
    Unsubscribe(&link, id);
    Reply(link, id, E_SUCCESS, ValueOf(id));
    if (!autoUpdate)
        return;

    TSubscription sub;
    sub.Link = &link;
    sub.Id = id;
    sub.OnlyChanged = onlyChanged;
    sub.Timer = new QTimer(this);
    sub.Timer->setTimerType(Qt::PreciseTimer);
    const bool flood = Faults().FloodUpdates;
    sub.Timer->setInterval(flood ? 1 : period);
    TSimLink* target = &link;
    connect(sub.Timer, &QTimer::timeout, this, [this, target, id, flood] {
        for (auto& s : FSubscriptions)
            if (s.Link == target && s.Id == id) {
                if (!flood) {
                    SendUpdate(s);
                    return;
                }
                // A burst per tick while the link keeps up; a link that may be gone ends it.
                for (int k = 0; k < 256 && target->Backlog() < 65536 && !target->WireBusy(); ++k) {
                    s.OnlyChanged = false;
                    SendUpdate(s);
                    if (target->IsClosed())
                        return;
                }
                return;
            }
    });
    sub.Timer->start();
    FSubscriptions.push_back(std::move(sub));
}

void TGripperModel::SendUpdate(TSubscription& sub) {
    Tick();
    TByteArray value = ValueOf(sub.Id);
    if (sub.OnlyChanged && sub.SentOnce && value == sub.Last)
        return;
    sub.SentOnce = true;
    sub.Last = value;
    sub.Link->SendPacket(sub.Id, E_SUCCESS, value);
}

void TGripperModel::Unsubscribe(TSimLink* link, std::uint8_t id) {
    for (auto it = FSubscriptions.begin(); it != FSubscriptions.end();) {
        if (it->Link == link && (id == 0 || it->Id == id)) {
            // May run inside the timer's own timeout.
            it->Timer->stop();
            it->Timer->deleteLater();
            it = FSubscriptions.erase(it);
        } else {
            ++it;
        }
    }
}

void TGripperModel::DetachLink(TSimLink* link) {
    Unsubscribe(link, 0);
    if (FMotion.Link == link)
        FMotion.Link = nullptr;
}
