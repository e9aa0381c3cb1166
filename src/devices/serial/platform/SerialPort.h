// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <QByteArray>

#include <cstdint>
#include <mutex>

// The serial communication functions the port driver is written against, over termios and
// poll. Every call that can fail returns 0 or an errno value. The descriptor may be used by
// several threads at once; Open and Close only while no other thread uses it.
class TSerialPort {
public:
    // Line-error flags as TakeLineErrors reports them.
    static constexpr std::uint32_t CE_RXOVER = 0x0001;
    static constexpr std::uint32_t CE_OVERRUN = 0x0002;
    static constexpr std::uint32_t CE_RXPARITY = 0x0004;
    static constexpr std::uint32_t CE_FRAME = 0x0008;
    static constexpr std::uint32_t CE_BREAK = 0x0010;

    struct TLine {
        std::uint32_t Baud = 1200;
        int DataBits = 8;
        int Parity = 0;   // none, odd, even, mark, space
        int StopBits = 0; // one, one and a half, two
        bool CtsFlow = false;
        bool XonXoffOut = false;
        bool XonXoffIn = false;
        int Dtr = 0; // disabled, enabled, handshake
        int Rts = 0; // disabled, enabled, handshake, toggle
        std::uint8_t XonChar = 17;
        std::uint8_t XoffChar = 19;
        bool ParityCheck = false;
    };

    enum class TWait { Ready, Woken, Hangup, Timeout, Failed };

    TSerialPort() = default;
    ~TSerialPort();
    TSerialPort(const TSerialPort&) = delete;
    TSerialPort& operator=(const TSerialPort&) = delete;

    // Opens a terminal device exclusively (TIOCEXCL and flock): ENOENT when it does not exist,
    // EBUSY or EWOULDBLOCK when another program holds it. The previous line settings are kept
    // for Close.
    int Open(const QByteArray& path);
    // Restores the line settings found at Open and closes.
    void Close();
    bool IsOpen() const { return FFd >= 0; }

    int SetLine(const TLine& line);

    int InputCount(int& count) const;
    int OutputCount(int& count) const;
    // Never blocks: `got` is 0 when nothing is queued.
    int Read(std::uint8_t* buffer, int count, int& got);
    // Never blocks: `written` may be less than count.
    int Write(const std::uint8_t* buffer, int count, int& written);

    // Waits for input, for room to write, or only for a hang-up; -1 waits without limit. Every
    // wait returns Woken once Wake was called, until the next Open.
    TWait WaitReadable(int timeoutMs) const { return Wait(0x001 /*POLLIN*/, timeoutMs); }
    TWait WaitWritable(int timeoutMs) const { return Wait(0x004 /*POLLOUT*/, timeoutMs); }
    TWait WaitHangup(int timeoutMs) const { return Wait(0, timeoutMs); }
    void Wake();

    // Line errors counted by the driver since they were last taken (0 for drivers that count
    // none, such as pseudo-terminals); `take` clears them.
    int LineErrors(std::uint32_t& flags, bool take);

    // The device went away (an unplugged adapter, the far end of a pseudo-terminal closed).
    static bool IsGone(int error);
    // The rates the standard termios constants reach; others go through BOTHER.
    static bool IsStandardRate(std::uint32_t baud);

private:
    TWait Wait(short events, int timeoutMs) const;

    int FFd = -1;
    int FWakeFd = -1;
    bool FSavedValid = false;
    alignas(8) unsigned char FSaved[128] = {}; // struct termios as found at Open
    mutable std::mutex FCountsLock;
    struct TCounts {
        int Frame = 0, Overrun = 0, Parity = 0, Brk = 0, BufOverrun = 0;
    } FCounts;
    bool FCountsValid = false;
};

// In a translation unit of its own: the kernel's termios2 cannot share one with <termios.h>.
int SetCustomBaudrate(int fd, std::uint32_t baud);
