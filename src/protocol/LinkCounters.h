// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "protocol/PacketLog.h"

#include <QString>
#include <QStringList>

#include <cstdint>

// What went over the link, counted from the packet log's entries: a window shows it live,
// karo-cli prints it on exit, a saved log gets it recomputed from its rows.
class TLinkCounters {
public:
    void AddPacket(bool received, const TLogStamp& stamp);
    void AddEvent(const TLinkEvent& event);
    void Reset() { *this = TLinkCounters(); }

    std::uint64_t FramesIn() const { return FFramesIn; }
    std::uint64_t FramesOut() const { return FFramesOut; }
    std::uint64_t ChecksumFailures() const { return FChecksumFailures; }
    std::uint64_t BytesSkipped() const { return FBytesSkipped; }
    std::uint64_t FalsePreambles() const { return FFalsePreambles; }
    std::uint64_t FramesCut() const { return FFramesCut; }
    std::uint64_t UpdatesDropped() const { return FUpdatesDropped; }
    std::uint64_t RepliesMissing() const { return FRepliesMissing; }
    std::uint64_t LinkLosses() const { return FLinkLosses; }
    // Replies with a round trip; minimum and maximum are -1 while there is none.
    std::uint64_t RoundTrips() const { return FRoundTrips; }
    int MinRoundTripMs() const { return FRoundTrips ? FMinRoundTrip : -1; }
    int MaxRoundTripMs() const { return FRoundTrips ? FMaxRoundTrip : -1; }
    double MeanRoundTripMs() const;

    // "Frames in: 12" and so on, one counter a line.
    QStringList Lines() const;
    // The same on one line, for a status strip.
    QString Summary() const;

private:
    std::uint64_t FFramesIn = 0;
    std::uint64_t FFramesOut = 0;
    std::uint64_t FChecksumFailures = 0;
    std::uint64_t FBytesSkipped = 0;
    std::uint64_t FFalsePreambles = 0;
    std::uint64_t FFramesCut = 0;
    std::uint64_t FUpdatesDropped = 0;
    std::uint64_t FRepliesMissing = 0;
    std::uint64_t FLinkLosses = 0;
    std::uint64_t FRoundTrips = 0;
    std::int64_t FRoundTripSum = 0;
    int FMinRoundTrip = 0;
    int FMaxRoundTrip = 0;
};

// A packet log that only counts, for a program without a log window.
class TCountingPacketLog : public IPacketLog {
public:
    void LogPacket(const TPacket& packet, bool received) override;
    void LogStampedPacket(const TPacket& packet, bool received, const TLogStamp& stamp) override;
    void LogLinkEvent(const TLinkEvent& event, const TLogStamp& stamp) override;

    TLinkCounters Counters;
};
