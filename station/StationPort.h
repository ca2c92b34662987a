#pragma once
// One port of a station: what its current pass has shown (message, rows,
// whether the device answered, the end) and what its passes came to.
// Fed with the JSON event lines of the pass's child process.

#include "ProgressRow.h"

#include <nlohmann/json_fwd.hpp>

#include <string>
#include <vector>

namespace devupdate::station {

struct SStationCounts {
    unsigned passed = 0;
    unsigned failed = 0;
    unsigned cancelled = 0;

    unsigned Total() const { return passed + failed + cancelled; }
    SStationCounts& operator+=(const SStationCounts& other)
    {
        passed += other.passed;
        failed += other.failed;
        cancelled += other.cancelled;
        return *this;
    }
};

// The status of a pass that sent no end event, from its process's: 127 is a
// child that could not start the program, a signal (negative) a run cut short;
// a status update-cli never gives counts as a failed run.
int StatusWithoutEnd(int exitStatus);

class CStationPort {
public:
    // port: as given; tracePath: where its passes write the XSVF trace.
    CStationPort(std::string port, std::string description, std::string tracePath);

    const std::string& Port() const { return m_port; }
    // The port and the device it leads to, as --list-ports shows them.
    const std::string& Description() const { return m_description; }
    const std::string& TracePath() const { return m_tracePath; }

    // A new pass begins: nothing of the last one is kept but the counts.
    void BeginPass();
    // One event of the pass (a parsed JSON line of the child).
    void Apply(const nlohmann::json& event);
    // The pass's child ended with `exitStatus` (the end event's when it
    // sent one, else the process's; negative: killed by that signal).
    // `stopping`: the station was told to stop. Returns the pass's status.
    int EndPass(int exitStatus, bool stopping);
    // No more passes on this port.
    void Close() { m_closed = true; }

    bool Answered() const { return m_answered; }
    bool SawEnd() const { return m_endStatus >= 0; }
    int EndStatus() const { return m_endStatus; }
    bool Closed() const { return m_closed; }
    unsigned PassNumber() const { return m_passNumber; }
    const std::string& Message() const { return m_message; }
    const std::vector<update::SProgressRow>& Rows() const { return m_rows; }
    const SStationCounts& Counts() const { return m_counts; }
    // The port's exit status: the most serious of its passes'; cancelled
    // when it ended without any.
    int ExitStatus() const;

private:
    std::string m_port;
    std::string m_description;
    std::string m_tracePath;
    unsigned m_passNumber = 0;
    bool m_answered = false;
    int m_endStatus = -1;
    std::string m_message;
    std::vector<update::SProgressRow> m_rows;
    SStationCounts m_counts;
    int m_status = -1;  // nothing yet
    bool m_closed = false;
};

}  // namespace devupdate::station
