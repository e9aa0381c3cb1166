// SPDX-License-Identifier: Apache-2.0
#pragma once

// The operator's console with a scripted gripper on an in-memory transport, shared by the
// console's tests.

#include "MemoryDevice.h"
#include "WidgetSupport.h"
#include "WindowParts.h"
#include "app/Commander.h"
#include "engine/MorvForm.h"
#include "protocol/ByteConv.h"
#include "protocol/Frame.h"
#include "protocol/Receiver.h"
#include "ui/MainForm.h"
#include "widgets/FloatEdit.h"

#include <QPushButton>
#include <QSlider>
#include <QTest>

#include <algorithm>
#include <map>
#include <memory>
#include <vector>

inline TByteArray Floats(std::initializer_list<float> values, std::uint8_t status = E_SUCCESS) {
    TByteArray out{status, 0};
    for (float v : values) {
        const auto b = SingleToBytes(v);
        out.insert(out.end(), b.begin(), b.end());
    }
    return out;
}

inline TByteArray Bytes(std::initializer_list<std::uint8_t> b) {
    return TByteArray(b);
}

// The console with a scripted gripper on an in-memory transport.
struct TConsoleRig {
    TempSettingsDir Settings;
    MessageRecorder Boxes;
    std::unique_ptr<TCommander> Console;
    TMainWin* Win = nullptr; // the console's window
    TMemoryDevice* Device = nullptr;
    int DeviceIndex = 0;
    // Answer to every request with that identifier (status word first); none: no answer.
    std::map<int, TByteArray> Replies;
    std::vector<TPacket> Requests;

    explicit TConsoleRig(bool manual = false, bool show = true) {
        if (manual)
            Settings.WriteFile(QStringLiteral("settings.ini"), "[main]\nmanualinit=1\n");
        Console = std::make_unique<TCommander>();
        Win = &Console->Win();
        Device = new TMemoryDevice(Win->Gripper()->Command());
        DeviceIndex = Win->Gripper()->Command()->AddDevice(Device);
        Device->AutoConfirm = false;
        Device->OnWritten = [this](const TByteArray& bytes) {
            TPacketReceiver receiver([] { return 0u; });
            TPacket p;
            for (std::uint8_t b : bytes)
                if (receiver.Feed(b, p)) {
                    Requests.push_back(p);
                    const auto it = Replies.find(p.ID);
                    if (it != Replies.end())
                        Device->FeedLater(MakeFrame(static_cast<std::uint8_t>(p.ID), it->second));
                }
        };
        // The Part's example gripper: stroke 110 mm, speeds 5 to 400 mm/s.
        Replies[CMD_GET_SYSTEM_LIMITS] = Floats({110, 5, 400, 100, 5000, 5, 80, 0});
        Replies[CMD_GET_ACCELERATION] = Floats({500});
        Replies[CMD_GET_FORCE_LIMIT] = Floats({20});
        for (int id : {CMD_GET_SYSTEM_STATE, CMD_GET_GRASPING_STATE, CMD_GET_POS, CMD_STOP,
                       CMD_FAST_STOP, CMD_FAST_STOP_ACK, CMD_SET_FORCE_LIMIT, CMD_SET_ACCELERATION})
            Replies[id] = Bytes({0, 0});
        for (int id : {CMD_GOTO, CMD_GRASP_RAW, CMD_RELEASE_RAW, CMD_HOMING})
            Replies[id] = Bytes({E_CMD_PENDING, 0});
        if (show) {
            Win->show();
            Win->activateWindow();
            (void)QTest::qWaitForWindowActive(Win);
        }
    }

    bool Connect() {
        AnswerDeviceDialog(DeviceIndex);
        Win->Connect1Click();
        if (!Device->IsOpen())
            return false;
        Device->ConfirmConnection();
        return true;
    }
    int Count(int id) const {
        return int(std::count_if(Requests.begin(), Requests.end(),
                                 [id](const TPacket& p) { return p.ID == id; }));
    }
    const TPacket* Last(int id) const {
        for (auto it = Requests.rbegin(); it != Requests.rend(); ++it)
            if (it->ID == id)
                return &*it;
        return nullptr;
    }
    // The gripper sends a packet of its own.
    void Send(int id, const TByteArray& payload) {
        Device->Feed(MakeFrame(static_cast<std::uint8_t>(id), payload));
    }
    bool BandsEnabled() const {
        return Part<QPushButton>(&*Win, "btnAcc")->isEnabled() &&
               Part<QPushButton>(&*Win, "btnForce")->isEnabled() &&
               Part<TFloatEdit>(&*Win, "edGotoPos")->isEnabled() &&
               Part<QSlider>(&*Win, "tbReleaseSpeed")->isEnabled() &&
               Part<QPushButton>(&*Win, "btnStop")->isEnabled() &&
               Part<QPushButton>(&*Win, "btnEmergencyStop")->isEnabled();
    }
    bool BandsDisabled() const {
        for (QWidget* w : {static_cast<QWidget*>(Part<QPushButton>(&*Win, "btnAcc")),
                           static_cast<QWidget*>(Part<QPushButton>(&*Win, "btnForce")),
                           static_cast<QWidget*>(Part<TFloatEdit>(&*Win, "edGotoPos")),
                           static_cast<QWidget*>(Part<QSlider>(&*Win, "tbReleaseSpeed")),
                           static_cast<QWidget*>(Part<QPushButton>(&*Win, "btnMove")),
                           static_cast<QWidget*>(Part<QPushButton>(&*Win, "btnStop")),
                           static_cast<QWidget*>(Part<QPushButton>(&*Win, "btnEmergencyStop"))})
            if (w->isEnabled())
                return false;
        return true;
    }
};
