// SPDX-License-Identifier: Apache-2.0
// The floor for a one-shot command: plain POSIX sockets, no Qt, no event loop. Connects to
// HOST:PORT over TCP, sends GET_SYSINFO, reads until its reply is complete and exits 0; any
// failure exits 1. bench_cli times it as a process against karo-cli.
//
//   oneshot_client HOST PORT

#include "protocol/crc.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

constexpr std::uint8_t GetSysInfo = 0x50;

std::uint16_t Checksum(const std::uint8_t* p, int n) {
    std::uint16_t crc = Crc16Initial;
    for (int i = 0; i < n; ++i)
        crc = Crc16Byte(p[i], crc);
    return crc;
}

} // namespace

int main(int argc, char* argv[]) {
    if (argc != 3)
        return 2;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<std::uint16_t>(std::atoi(argv[2])));
    if (inet_pton(AF_INET, argv[1], &addr.sin_addr) != 1)
        return 2;
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0 || connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0)
        return 1;
    const int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);

    std::uint8_t frame[8] = {0xAA, 0xAA, 0xAA, GetSysInfo, 0, 0, 0, 0};
    const std::uint16_t crc = Checksum(frame, 6);
    frame[6] = static_cast<std::uint8_t>(crc & 0xFF);
    frame[7] = static_cast<std::uint8_t>(crc >> 8);
    if (write(fd, frame, sizeof frame) != static_cast<ssize_t>(sizeof frame))
        return 1;

    // The reply is the first frame with our identifier; updates cannot come before we asked.
    std::uint8_t in[512];
    int have = 0;
    for (;;) {
        const ssize_t n = read(fd, in + have, sizeof in - static_cast<std::size_t>(have));
        if (n <= 0)
            return 1;
        have += static_cast<int>(n);
        if (have >= 6) {
            const int length = in[4] | (in[5] << 8);
            if (in[0] != 0xAA || in[1] != 0xAA || in[2] != 0xAA || in[3] != GetSysInfo ||
                length + 8 > static_cast<int>(sizeof in))
                return 1;
            if (have >= length + 8) {
                const std::uint16_t got =
                    static_cast<std::uint16_t>(in[6 + length] | (in[7 + length] << 8));
                close(fd);
                return got == Checksum(in, 6 + length) ? 0 : 1;
            }
        }
    }
}
