#pragma once
// CComPort: the tool's only path to the device. One serial port, opened
// exclusively, 57600 8N1 raw, no flow control, DTR and RTS held off.
// Every operation reports success as a boolean; nothing throws.
// Not thread-safe: one thread at a time (the window's thread opens and
// closes, the worker reads and writes in between).
//
// Time-out rule (SetTimeouts(ms)): a read of n bytes fails when more than ms
// milliseconds pass between two bytes, and in any case after ms * n + ms.
// The first byte may take the whole ms * n + ms. Measured on the monotonic
// clock with millisecond resolution (poll), never with VMIN/VTIME.
// ms = 0 takes only what has already arrived; it never blocks.
//
// A vanished device (unplugged adapter, closed pseudo-terminal master): a
// read or write that sees EIO, ENXIO or ENODEV, a poll that reports POLLHUP
// without data, POLLERR or POLLNVAL, or a line that polls readable but reads
// 0 bytes. The operation fails at once (no busy loop until the time-out) and
// IsGone() reports true until Close; every later Read and Write fails at once.
// Write gives up after WRITE_SAFETY_MS without progress (stalled adapter).
// EINTR is retried everywhere.

#include "PortName.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <termios.h>

namespace devupdate::link {

// The device's line, as every run sets it up.
constexpr unsigned DEVICE_BAUD = 57600;
constexpr unsigned OPEN_TIMEOUT_MS = 2000;
// Draining and the wake-up take only what arrives within this time.
constexpr unsigned WAKEUP_TIMEOUT_MS = 1;
// Once the device answered the wake-up: the wait for each answer byte.
constexpr unsigned ANSWER_TIMEOUT_MS = 150;

class CComPort {
public:
    static constexpr int WRITE_SAFETY_MS = 5000;
    // Close waits at most this long for bytes still queued for sending, so
    // that they do not go out at the restored line speed.
    static constexpr int CLOSE_DRAIN_MS = 500;

    CComPort() = default;
    ~CComPort();
    CComPort(const CComPort&) = delete;
    CComPort& operator=(const CComPort&) = delete;

    // name: "\\.\COMn", "COMn" (any case) or an absolute device path
    // (see ResolvePortName). baudRate: one of the standard termios rates
    // (50 .. 4000000); any other rate is refused before the device is touched.
    // False when already open (the open port is left untouched), when the
    // device cannot be opened or is held by someone else (this or another
    // process), or when it cannot be set up (the object then stays closed
    // and the device's settings are as they were).
    bool Open(const std::string& name, unsigned baudRate, unsigned timeoutMs);
    // Sets the read time-out used from the next Read on; always true.
    bool SetTimeouts(unsigned ms);
    // All or nothing: true only when exactly n bytes went out / came in.
    // False at once when closed or gone. After a failed Read, whatever did
    // arrive lies at the start of buffer.
    bool Write(const void* buffer, size_t n);
    bool Read(void* buffer, size_t n);
    // Closes if open: waits up to CLOSE_DRAIN_MS for queued output, discards
    // the rest (closing never waits on a stalled line), restores the line
    // settings, DTR/RTS and the low-latency flag found at Open and clears
    // the exclusive flag; always true.
    bool Close();

    bool IsOpen() const { return m_hCom != -1; }
    // True once a read or write saw the device vanish (unplugged adapter).
    bool IsGone() const { return m_gone; }
    // Bytes taken by the line since the port was constructed; readable from
    // any thread.
    uint64_t BytesWritten() const { return m_bytesWritten.load(std::memory_order_relaxed); }
    // The last failed system operation as "operation: reason", for
    // diagnostics only; empty when none failed since construction.
    const std::string& LastError() const { return m_lastError; }
    // The errno of that failure (0 when none): why a port could not be opened.
    int LastErrno() const { return m_lastErrno; }

private:
    bool Lock(int fd);
    bool ConfigureLine(int fd, speed_t speed);
    void ClearModemLines(int fd);
    void RestoreModemLines();
    void RequestLowLatency(int fd);
    void RestoreLatency();
    void ReleaseExclusive(int fd);
    bool DrainOutput();
    void CloseDescriptor(int fd);
    bool Fail(const char* operation);
    bool FailGone(const char* operation);

    int m_hCom = -1;
    unsigned m_timeoutMs = 0;
    bool m_gone = false;
    std::atomic<uint64_t> m_bytesWritten{0};
    bool m_haveSavedSettings = false;
    struct termios m_savedSettings {};
    bool m_haveModemLines = false;
    int m_savedModemLines = 0;    // DTR and RTS as found at Open
    bool m_lowLatencySet = false; // we set the driver's low-latency flag
    std::string m_lastError;
    int m_lastErrno = 0;
};

}  // namespace devupdate::link
