// SPDX-License-Identifier: Apache-2.0
#include "protocol/LinkCounters.h"

#include <QLocale>

#include <algorithm>

void TLinkCounters::AddPacket(bool received, const TLogStamp& stamp) {
    if (!received) {
        ++FFramesOut;
        return;
    }
    ++FFramesIn;
    if (stamp.RoundTripMs < 0)
        return;
    const int ms = stamp.RoundTripMs;
    FMinRoundTrip = FRoundTrips ? std::min(FMinRoundTrip, ms) : ms;
    FMaxRoundTrip = FRoundTrips ? std::max(FMaxRoundTrip, ms) : ms;
    FRoundTripSum += ms;
    ++FRoundTrips;
}

void TLinkCounters::AddEvent(const TLinkEvent& event) {
    switch (event.Kind) {
    case TLinkEventKind::FalsePreamble:
        ++FFalsePreambles;
        break;
    case TLinkEventKind::BadChecksum:
        ++FChecksumFailures;
        break;
    case TLinkEventKind::SkippedBytes:
        FBytesSkipped += event.Count;
        break;
    case TLinkEventKind::CutByPause:
        ++FFramesCut;
        break;
    case TLinkEventKind::UpdatesDropped:
        FUpdatesDropped += event.Count;
        break;
    case TLinkEventKind::ReplyMissing:
        ++FRepliesMissing;
        break;
    case TLinkEventKind::LinkLost:
        ++FLinkLosses;
        break;
    case TLinkEventKind::LinkStale:
    case TLinkEventKind::LinkRestored:
        break;
    }
}

double TLinkCounters::MeanRoundTripMs() const {
    return FRoundTrips ? static_cast<double>(FRoundTripSum) / static_cast<double>(FRoundTrips)
                       : -1.0;
}

namespace {

QString RoundTripText(const TLinkCounters& c) {
    if (c.RoundTrips() == 0)
        return QStringLiteral("none");
    QLocale locale;
    locale.setNumberOptions(QLocale::OmitGroupSeparator);
    return QStringLiteral("%1 / %2 / %3 ms")
        .arg(c.MinRoundTripMs())
        .arg(locale.toString(c.MeanRoundTripMs(), 'f', 1))
        .arg(c.MaxRoundTripMs());
}

} // namespace

QStringList TLinkCounters::Lines() const {
    return {
        QStringLiteral("Frames in: %1").arg(FFramesIn),
        QStringLiteral("Frames out: %1").arg(FFramesOut),
        QStringLiteral("Checksum failures: %1").arg(FChecksumFailures),
        QStringLiteral("Bytes skipped: %1").arg(FBytesSkipped),
        QStringLiteral("False preambles: %1").arg(FFalsePreambles),
        QStringLiteral("Frames cut by a pause: %1").arg(FFramesCut),
        QStringLiteral("Updates dropped: %1").arg(FUpdatesDropped),
        QStringLiteral("Replies missing: %1").arg(FRepliesMissing),
        QStringLiteral("Round trip min / mean / max: %1").arg(RoundTripText(*this)),
    };
}

QString TLinkCounters::Summary() const {
    return QStringLiteral("In %1, out %2, checksum failures %3, bytes skipped %4, "
                          "replies missing %5, round trip %6")
        .arg(FFramesIn)
        .arg(FFramesOut)
        .arg(FChecksumFailures)
        .arg(FBytesSkipped)
        .arg(FRepliesMissing)
        .arg(RoundTripText(*this));
}

void TCountingPacketLog::LogPacket(const TPacket& packet, bool received) {
    LogStampedPacket(packet, received, TLogStamp{});
}

void TCountingPacketLog::LogStampedPacket(const TPacket&, bool received, const TLogStamp& stamp) {
    Counters.AddPacket(received, stamp);
}

void TCountingPacketLog::LogLinkEvent(const TLinkEvent& event, const TLogStamp&) {
    Counters.AddEvent(event);
}
