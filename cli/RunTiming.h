#pragma once
// The time figures update-cli shows while a run goes on: per target the time
// spent, the bytes per second sent and the time left, and the same for the
// run. Taken from what the main loop observes: which row the worker is on,
// its percent, and the port's count of bytes sent.

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

class CRunTiming {
public:
    using Clock = std::chrono::steady_clock;

    explicit CRunTiming(size_t rows) : m_rows(rows) {}

    // The run as it stands: the row being worked on (rows before it are
    // done), each row's percent and the bytes sent so far.
    void Observe(int currentRow, const std::vector<int>& percents, uint64_t bytesSent, Clock::time_point now);
    // "12.3 s, 5.6 kB/s, 10.2 s left" for the row; empty before it began.
    std::string RowText(size_t row) const;
    // "run: 25.0 s, 5.1 kB/s, 40.1 s left"; empty before the first row began.
    std::string RunText() const;

private:
    struct SRowTime {
        bool started = false;
        bool done = false;
        Clock::time_point start{};
        Clock::time_point end{};
        uint64_t bytesAtStart = 0;
        uint64_t bytesAtEnd = 0;
        int percent = 0;
    };

    std::vector<SRowTime> m_rows;
    Clock::time_point m_now{};
    uint64_t m_bytes = 0;
};

// Seconds left when `percent` took `elapsed` seconds; negative when unknown.
double SecondsLeft(double elapsed, double percent);
