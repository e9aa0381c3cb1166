// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "MemoryDevice.h"
#include "TestSupport.h"
#include "engine/MorvForm.h"
#include "protocol/Frame.h"
#include "protocol/Receiver.h"

#include <QTest>

#include <functional>
#include <map>
#include <vector>

// Records what the command set logs.
struct TPacketRecorder : IPacketLog {
    struct Entry {
        TPacket Packet;
        bool Received;
    };
    std::vector<Entry> Entries;
    void LogPacket(const TPacket& packet, bool received) override {
        Entries.push_back({packet, received});
    }
};

// A TMorv connected to an in-memory transport, with a scripted gripper on the far side.
//
//   Replies[id]   payload (hex, status word first) answered from the event loop to every
//                 request with that identifier; identifiers without an entry get no answer.
//   OnRequest     called with every request packet (after Replies); may feed more.
//   Requests      every request the gripper received, decoded.
//   Log           what TMorv logged.
struct TMorvRig {
    TempSettingsDir Settings;
    TPickPrompts Prompts;
    TMorv Morv{nullptr};
    TMemoryDevice* Device = new TMemoryDevice(Morv.Command());
    TPacketRecorder Log;
    std::map<int, TByteArray> Replies;
    std::function<void(const TPacket&)> OnRequest;
    std::vector<TPacket> Requests;

    TMorvRig() {
        Morv.Command()->ClearDevices(); // only the in-memory transport
        Morv.Command()->AddDevice(Device);
        Morv.Command()->SetPrompts(&Prompts);
        Morv.SetPacketLog(&Log);
        Device->AutoConfirm = false;
        Device->OnWritten = [this](const TByteArray& bytes) {
            TPacketReceiver receiver([] { return 0u; });
            TPacket p;
            for (std::uint8_t b : bytes) {
                if (receiver.Feed(b, p)) {
                    Requests.push_back(p);
                    const auto it = Replies.find(p.ID);
                    if (it != Replies.end())
                        Device->FeedLater(MakeFrame(static_cast<std::uint8_t>(p.ID), it->second));
                    if (OnRequest)
                        OnRequest(p);
                }
            }
        };
    }

    // Connects to the in-memory transport and confirms the connection.
    bool Connect() {
        if (Morv.Connect() != E_SUCCESS)
            return false;
        Device->ConfirmConnection();
        return Morv.IsConnected();
    }

    void Reply(int id, const char* payloadHex) { Replies[id] = HexBytes(payloadHex); }
    static TByteArray Frame(int id, const char* payloadHex) {
        return MakeFrame(static_cast<std::uint8_t>(id), HexBytes(payloadHex));
    }
    // The gripper sends a packet of its own now.
    void Send(int id, const char* payloadHex) { Device->Feed(Frame(id, payloadHex)); }
};
