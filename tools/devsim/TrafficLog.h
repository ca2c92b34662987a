#pragma once
// Every byte on the line in both directions with monotonic timestamps, and
// one record per exchange (a unit the device took in and its answer), so
// that a benchmark can measure the host's turnaround: the time from the
// device's last answer byte to the first byte of the tool's next unit.
//
// Times: a byte from the tool is stamped when the device read it from the
// pseudo-terminal (the moment the tool wrote it); a byte to the tool when
// the device wrote it, which with pacing is the end of its time on the line.
// Not thread-safe; the device serialises access.

#include "FaultRule.h"

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace devupdate::devsim {

using DevClock = std::chrono::steady_clock;

struct STrafficByte {
    DevClock::time_point time;
    bool fromTool = false;
    uint8_t byte = 0;
};

struct SExchange {
    EPhase phase = EPhase::Wakeup;
    unsigned nth = 0;                  // the unit's number within its phase
    DevClock::time_point firstRx;      // first byte of the unit read
    DevClock::time_point lastRx;       // last byte of the unit read
    DevClock::time_point lastArrival;  // last byte arrived (after its line time)
    size_t answerBytes = 0;            // bytes scheduled as the answer
    size_t answerWritten = 0;
    DevClock::time_point firstTx;      // valid when answerWritten > 0
    DevClock::time_point lastTx;       // valid when answerWritten == answerBytes > 0
};

class CTrafficLog {
public:
    static constexpr size_t NO_EXCHANGE = static_cast<size_t>(-1);

    void Rx(uint8_t byte, DevClock::time_point time) { m_bytes.push_back({time, true, byte}); }
    void Tx(uint8_t byte, DevClock::time_point time, size_t exchange);
    size_t AddExchange(const SExchange& exchange);

    const std::vector<STrafficByte>& Bytes() const { return m_bytes; }
    const std::vector<SExchange>& Exchanges() const { return m_exchanges; }

    // For each exchange whose answer went out completely and that is followed
    // by another exchange: next.firstRx - lastTx. Negative when the tool sent
    // before the answer was complete (e.g. the wake-up bytes).
    std::vector<std::chrono::nanoseconds> HostTurnarounds() const;

    // Text file: one line per byte "<seconds since origin> <RX|TX> <hex>",
    // then one line per exchange "X <phase> <nth> <firstRx> <lastRx> <firstTx> <lastTx>"
    // (seconds with 6 decimals; "-" for an answer not sent). False on an I/O error.
    std::string WriteFile(const std::string& path, DevClock::time_point origin) const;

private:
    std::vector<STrafficByte> m_bytes;
    std::vector<SExchange> m_exchanges;
};

}  // namespace devupdate::devsim
