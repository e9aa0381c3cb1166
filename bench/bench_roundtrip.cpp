// SPDX-License-Identifier: Apache-2.0
// Command round trip over TCP to karo-sim: the engine's ExecuteCommand (a GET_FORCE_LIMIT
// exchange, the whole command set path) against a bare blocking socket client that writes the
// same frame and reads the reply, on the same simulator.
#include "BenchSupport.h"
#include "engine/MorvForm.h"
#include "protocol/Constants.h"
#include "protocol/Frame.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <vector>

namespace {

constexpr int Warmup = 200;
constexpr int Rounds = 3000;

bool ReadExactly(int fd, std::uint8_t* buf, std::size_t n) {
    while (n > 0) {
        const ssize_t got = ::read(fd, buf, n);
        if (got <= 0)
            return false;
        buf += got;
        n -= static_cast<std::size_t>(got);
    }
    return true;
}

// Median microseconds of one request/reply on a plain blocking socket.
double BareRoundTripUs(quint16 port, const TByteArray& frame) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0)
        bench::Fail(QStringLiteral("bare client could not connect"));
    std::vector<double> us;
    std::vector<std::uint8_t> reply(65536 + 8);
    for (int i = 0; i < Warmup + Rounds; ++i) {
        QElapsedTimer t;
        t.start();
        if (::write(fd, frame.data(), frame.size()) != static_cast<ssize_t>(frame.size()))
            bench::Fail(QStringLiteral("bare client could not write"));
        // The simulator answers nothing else, so the next bytes are exactly this reply.
        if (!ReadExactly(fd, reply.data(), 6))
            bench::Fail(QStringLiteral("bare client lost the connection"));
        const std::size_t length = reply[4] | (reply[5] << 8);
        if (!ReadExactly(fd, reply.data() + 6, length + 2))
            bench::Fail(QStringLiteral("bare client lost the connection"));
        if (reply[3] != frame[3])
            bench::Fail(QStringLiteral("bare client got a reply to another command"));
        if (i >= Warmup)
            us.push_back(static_cast<double>(t.nsecsElapsed()) / 1000.0);
    }
    ::close(fd);
    std::sort(us.begin(), us.end());
    return us[us.size() / 2];
}

double EngineRoundTripUs(const bench::TSim& sim) {
    TMorv morv(nullptr);
    bench::ConnectEngine(morv, sim.Target());
    std::vector<double> us;
    float force = 0;
    for (int i = 0; i < Warmup + Rounds; ++i) {
        QElapsedTimer t;
        t.start();
        if (morv.GetForceLimit(force) != E_SUCCESS)
            bench::Fail(QStringLiteral("GET_FORCE_LIMIT failed"));
        if (i >= Warmup)
            us.push_back(static_cast<double>(t.nsecsElapsed()) / 1000.0);
    }
    morv.Disconnect();
    std::sort(us.begin(), us.end());
    return us[us.size() / 2];
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QTemporaryDir settings;
    SetSettingsDirectory(settings.path());
    bench::TSim sim({QStringLiteral("--referenced")});

    TPacket request;
    request.ID = CMD_GET_FORCE_LIMIT;
    const TByteArray frame = MakeFrame(request);
    // Alternated, so a change in the machine's load hits both alike.
    const double bare1 = BareRoundTripUs(sim.Port(), frame);
    const double engine1 = EngineRoundTripUs(sim);
    const double bare2 = BareRoundTripUs(sim.Port(), frame);
    const double engine2 = EngineRoundTripUs(sim);
    const double bare = std::min(bare1, bare2), engine = std::min(engine1, engine2);
    std::printf("round trip, median of %d: engine %.1f us, bare client %.1f us\n", Rounds, engine,
                bare);
    bench::Figure("roundtrip_engine_us", engine, "us");
    bench::Figure("roundtrip_bare_us", bare, "us");
    bench::Figure("roundtrip_ratio", engine / bare, "ratio");
    return 0;
}
