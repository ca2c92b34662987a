#include "StationPort.h"

#include "JsonEvents.h"
#include "RunOutcome.h"

#include <nlohmann/json.hpp>

#include <utility>

using namespace devupdate::update;

namespace devupdate::station {

int StatusWithoutEnd(int exitStatus)
{
    if (exitStatus == 127)
        return EXIT_USAGE_OR_SETUP;
    return exitStatus < 0 ? static_cast<int>(EXIT_RUN_FAILED) : MoreSeriousExitStatus(exitStatus, EXIT_UPDATED);
}

CStationPort::CStationPort(std::string port, std::string description, std::string tracePath)
    : m_port(std::move(port)), m_description(std::move(description)), m_tracePath(std::move(tracePath))
{
}

void CStationPort::BeginPass()
{
    ++m_passNumber;
    m_answered = false;
    m_endStatus = -1;
    m_message.clear();
    m_rows.clear();
}

void CStationPort::Apply(const nlohmann::json& event)
{
    using namespace events;
    const std::string kind = JsonTextOf(event, field::EVENT);
    if (kind == name::MESSAGE) {
        m_message = JsonTextOf(event, field::TEXT);
    } else if (kind == name::ANSWERED) {
        m_answered = true;
    } else if (kind == name::PROGRESS) {
        const int target = JsonNumberOf(event, field::TARGET, 0);
        // A header names at most ten targets.
        if (target < 1 || target > 10)
            return;
        if (m_rows.size() < static_cast<size_t>(target))
            m_rows.resize(static_cast<size_t>(target));
        SProgressRow& row = m_rows[static_cast<size_t>(target - 1)];
        row.name = JsonTextOf(event, field::NAME);
        row.percent = JsonNumberOf(event, field::PERCENT, 0);
        row.status = JsonTextOf(event, field::STATUS);
    } else if (kind == name::END) {
        m_endStatus = JsonNumberOf(event, field::EXIT_STATUS, EXIT_RUN_FAILED);
        m_message = JsonTextOf(event, field::MESSAGE);
    }
}

int CStationPort::EndPass(int exitStatus, bool stopping)
{
    const int status = m_endStatus >= 0 ? m_endStatus : StatusWithoutEnd(exitStatus);
    if (m_answered) {
        if (status == EXIT_UPDATED)
            ++m_counts.passed;
        else if (status == EXIT_CANCELLED)
            ++m_counts.cancelled;
        else
            ++m_counts.failed;
    }
    // A port told to stop while it waited for a device has nothing to report.
    if (m_answered || status != EXIT_CANCELLED || !stopping)
        m_status = m_status < 0 ? status : MoreSeriousExitStatus(m_status, status);
    return status;
}

int CStationPort::ExitStatus() const
{
    return m_status < 0 ? static_cast<int>(EXIT_CANCELLED) : m_status;
}

}  // namespace devupdate::station
