#pragma once
// CDevsim: the simulated device on a pseudo-terminal. It serves the master
// side on its own thread; the tool (or a test) opens the slave side like a
// serial port. The device keeps a slave descriptor of its own open, so the
// line survives the tool closing and reopening the port.
//
// Pacing (baud > 0): a byte from the tool counts as arrived 10 bits' time
// after the line became free for it; the device answers only after the last
// byte of a unit has arrived, and writes each answer byte at the end of its
// own time on the line.
//
// Vanish (a fault rule or Vanish()): the master is closed at once, as if the
// adapter were unplugged; the tool's reads and writes then fail with EIO.
// The link is removed too. The device then serves nothing more.
//
// Thread safety: every public operation may be called from any thread.

#include "DevsimConfig.h"
#include "DeviceProtocol.h"
#include "TrafficLog.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace devupdate::devsim {

class CDevsim {
public:
    explicit CDevsim(SDevsimConfig config = {});
    ~CDevsim();  // Stop()
    CDevsim(const CDevsim&) = delete;
    CDevsim& operator=(const CDevsim&) = delete;

    // Creates the pseudo-terminal (raw mode), the optional link, and starts
    // serving. Throws std::system_error when a system call fails (nothing is
    // left open then) and std::logic_error when already started.
    void Start();
    // Stops the thread, closes the line, removes the link. Idempotent.
    void Stop();

    // The slave device path, e.g. "/dev/pts/7"; empty before Start.
    std::string SlavePath() const;

    // Sessions ended by 0xA2 so far.
    unsigned SessionsEnded() const;
    // True once at least n sessions ended within the timeout; false at the
    // timeout, and at once when the device has vanished.
    bool WaitForSessions(unsigned n, std::chrono::milliseconds timeout) const;
    // Switches the device off: silent again until power-on (see SDevsimConfig).
    void PowerCycle();
    void Vanish();
    bool IsVanished() const;
    void SetFaults(std::vector<SFaultRule> rules);

    // Snapshots for tests and reports.
    std::map<uint8_t, std::vector<uint8_t>> Images() const;
    ModelFlash Flash() const;
    void SetFlash(const ModelFlash& flash);
    devsim::ETapState TapState() const;
    uint8_t Instruction() const;
    std::vector<SScan> Scans() const;
    // SVF expectation mode: the check so far; empty (expected 0) otherwise.
    SSvfCheck SvfCheck() const;
    std::vector<STrafficByte> Traffic() const;
    std::vector<SExchange> Exchanges() const;
    std::vector<std::chrono::nanoseconds> HostTurnarounds() const;
    DevClock::duration BusyTime() const;
    // Units of a phase answered so far.
    unsigned Count(EPhase phase) const;
    // The instant the log's times count from (Start).
    DevClock::time_point Origin() const;
    // See CTrafficLog::WriteFile; empty, or why the file could not be written.
    std::string WriteTrafficLog(const std::string& path) const;
    // The flash as 512 bytes, each word high byte first; empty, or why not.
    std::string WriteFlash(const std::string& path) const;

private:
    struct SInByte {
        uint8_t byte;
        DevClock::time_point read;
        DevClock::time_point arrival;
    };

    void Serve();
    bool StopRequested();
    void ReadInput(DevClock::time_point now);
    void ProcessInput(DevClock::time_point now);
    void WriteOutput(DevClock::time_point now);
    // When the head of the output queue is due (pacing included).
    DevClock::time_point OutputDue() const;
    void CloseMaster();   // with m_mutex held
    void RemoveLink();
    DevClock::duration ByteTime() const;

    SDevsimConfig m_config;
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_changed;
    CTrafficLog m_log;
    DevClock::time_point m_origin;
    CDeviceProtocol m_protocol;

    int m_master = -1;
    int m_slave = -1;        // held open so the line stays up between the tool's opens
    int m_stopPipe[2] = {-1, -1};
    std::string m_slavePath;
    bool m_linkCreated = false;
    bool m_vanished = false;
    bool m_vanishRequested = false;
    std::thread m_thread;

    std::deque<SInByte> m_input;
    std::deque<SOutByte> m_output;
    DevClock::time_point m_lineFreeIn;
    DevClock::time_point m_lineFreeOut;
    bool m_outputBlocked = false;  // the last write met a full line: wait for POLLOUT
};

}  // namespace devupdate::devsim
