#pragma once
// CComPort: the tool's only path to the device. One serial port, opened
// exclusively, 57600 8N1 raw, no flow control, DTR and RTS held off.
// Every operation reports success as a boolean; nothing throws.
//
// Time-out rule (SetTimeouts(ms)): a read of n bytes fails when more than ms
// milliseconds pass between two bytes, and in any case after ms * n + ms.
//
// A vanished device (EIO, hang-up, "readable but 0 bytes"): Read and Write
// fail at once; IsGone() then reports true until Close.
// Write gives up after WRITE_SAFETY_MS without progress (stalled adapter).

#include <cstddef>
#include <string>
#include <termios.h>

class CComPort {
public:
    static constexpr int WRITE_SAFETY_MS = 5000;

    CComPort() = default;
    ~CComPort();
    CComPort(const CComPort&) = delete;
    CComPort& operator=(const CComPort&) = delete;

    // name: "\\.\COMn", "COMn" (any case) or an absolute device path.
    // False when already open (the open port is left untouched), when the
    // device cannot be opened or is held by someone else, or when it cannot
    // be set up (the object then stays closed).
    bool Open(const std::string& name, unsigned baudRate, unsigned timeoutMs);
    bool SetTimeouts(unsigned ms);
    // All or nothing: true only when exactly n bytes went out / came in.
    bool Write(const void* buffer, size_t n);
    bool Read(void* buffer, size_t n);
    // Closes if open, restores the line settings found at Open; always true.
    bool Close();

    bool IsOpen() const { return m_hCom != -1; }
    // True once a read or write saw the device vanish (unplugged adapter).
    bool IsGone() const { return m_gone; }

private:
    int m_hCom = -1;
    unsigned m_timeoutMs = 0;
    bool m_gone = false;
    bool m_haveSavedSettings = false;
    struct termios m_savedSettings {};
};

// Where a port name leads: "\\.\COMn" and "COMn" (any case, n = 1..10 or
// more) resolve to <program dir>/ports/comN when that link exists, else to
// /dev/ttyS(n-1). An absolute path is returned as it is. Anything else is
// returned unchanged (and will fail to open).
std::string ResolvePortName(const std::string& name);

// The directory of the running program, ending in '/': from /proc/self/exe.
std::string ProgramDirectory();
