#pragma once
// CFakeSerialLine: a serial port that exists only in memory, behind the
// link's system-call seam, for the harnesses that drive the worker and the
// XSVF transport. Opening any path succeeds; writes are recorded call by
// call; reads serve a script of device events. Time is virtual: a poll that
// times out moves the clock by its whole time-out and returns at once, so a
// run full of time-outs still takes microseconds.
//
// Script bytes (what the device does, in order):
//   00..EF      that answer byte
//   F0          a read time-out (one poll expires)
//   F1 n d...   a read-back frame with the right CRC for (n % 64) + 1 TDO
//               bytes d... (missing bytes are 0)
//   F2 n d...   the same frame with its CRC inverted
//   F3 k        k + 1 busy bytes 0x33
//   F4          the device vanishes (unplugged adapter)
//   F5 x        the answer byte x, whatever its value
//   F6          from the next write on, the driver's queue stays full until
//               the port gives up (a stalled adapter)
//   F7          the user cancels (OnCancel is called when a read reaches it)
//   F8..FF      a read time-out, like F0
// After the last event the line behaves as unplugged, so every run ends.

#include "SysCalls.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <vector>

class CFakeSerialLine final : public devupdate::link::CSysCalls {
public:
    static constexpr int FAKE_FD = 1023;
    static constexpr size_t MAX_RECORDED_BYTES = 1 << 20;

    CFakeSerialLine(const uint8_t* script, size_t size);

    // Called (on the reading thread) when a read reaches a cancel event.
    std::function<void()> OnCancel;

    // Every Write call's bytes, in order, while fewer than
    // MAX_RECORDED_BYTES have been recorded.
    const std::vector<std::vector<uint8_t>>& Writes() const { return m_writes; }
    bool IsOpen() const { return m_open; }
    // True once a write has met a stalled driver queue.
    bool HasStalled() const { return m_hasStalled; }
    int OpenCount() const { return m_opens; }

    int Open(const char* path, int flags) override;
    int Close(int fd) override;
    ssize_t Read(int fd, void* buffer, size_t n) override;
    ssize_t Write(int fd, const void* buffer, size_t n) override;
    int Poll(struct pollfd* fds, nfds_t count, int timeoutMs) override;
    int Flock(int fd, int operation) override;
    int Ioctl(int fd, unsigned long request, void* argument) override;
    int TcGetAttr(int fd, struct termios* settings) override;
    int TcSetAttr(int fd, int when, const struct termios* settings) override;
    Clock::time_point Now() override { return m_now; }

private:
    enum class EEvent : uint8_t { Byte, Timeout, Vanish, Cancel, Stall };
    struct SEvent {
        EEvent kind;
        uint8_t byte;
    };

    void Parse(const uint8_t* script, size_t size);
    void AddReadBack(const uint8_t* script, size_t size, size_t& i, bool rightCrc);
    // Carries out the cancel and stall events at the head of the script.
    void TakeControlEvents();
    bool CheckFd(int fd);

    std::deque<SEvent> m_events;
    std::vector<std::vector<uint8_t>> m_writes;
    size_t m_recorded = 0;
    bool m_stallPending = false;
    bool m_hasStalled = false;
    Clock::time_point m_stalledUntil{};
    bool m_open = false;
    bool m_vanished = false;
    int m_opens = 0;
    struct termios m_settings {};
    Clock::time_point m_now{};
};
