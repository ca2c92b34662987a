#include "TrafficLog.h"

#include "OutputFile.h"

#include <cstdio>

namespace devupdate::devsim {

namespace {

double Seconds(DevClock::time_point t, DevClock::time_point origin)
{
    return std::chrono::duration<double>(t - origin).count();
}

}  // namespace

void CTrafficLog::Tx(uint8_t byte, DevClock::time_point time, size_t exchange)
{
    m_bytes.push_back({time, false, byte});
    if (exchange >= m_exchanges.size())
        return;
    SExchange& x = m_exchanges[exchange];
    if (x.answerWritten == 0)
        x.firstTx = time;
    ++x.answerWritten;
    x.lastTx = time;
}

size_t CTrafficLog::AddExchange(const SExchange& exchange)
{
    m_exchanges.push_back(exchange);
    return m_exchanges.size() - 1;
}

std::vector<std::chrono::nanoseconds> CTrafficLog::HostTurnarounds() const
{
    std::vector<std::chrono::nanoseconds> result;
    for (size_t i = 0; i + 1 < m_exchanges.size(); ++i) {
        const SExchange& x = m_exchanges[i];
        if (x.answerBytes == 0 || x.answerWritten != x.answerBytes)
            continue;
        result.push_back(m_exchanges[i + 1].firstRx - x.lastTx);
    }
    return result;
}

std::string CTrafficLog::WriteFile(const std::string& path, DevClock::time_point origin) const
{
    std::string error;
    FILE* f = link::OpenOutputStream(path, error);
    if (!f)
        return error;
    bool ok = true;
    for (const STrafficByte& b : m_bytes)
        ok = ok && std::fprintf(f, "%.6f %s %02X\n", Seconds(b.time, origin),
                                b.fromTool ? "RX" : "TX", b.byte) > 0;
    for (const SExchange& x : m_exchanges) {
        const bool sent = x.answerWritten > 0;
        const bool done = sent && x.answerWritten == x.answerBytes;
        char first[32] = "-";
        char last[32] = "-";
        if (sent)
            std::snprintf(first, sizeof first, "%.6f", Seconds(x.firstTx, origin));
        if (done)
            std::snprintf(last, sizeof last, "%.6f", Seconds(x.lastTx, origin));
        ok = ok && std::fprintf(f, "X %s %u %.6f %.6f %s %s\n", PhaseName(x.phase), x.nth,
                                Seconds(x.firstRx, origin), Seconds(x.lastRx, origin), first,
                                last) > 0;
    }
    return link::FinishOutput(f, ok);
}

}  // namespace devupdate::devsim
