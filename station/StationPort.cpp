#include "StationPort.h"

#include "RunOutcome.h"

#include <nlohmann/json.hpp>

#include <utility>

namespace station {

namespace {

std::string TextOf(const nlohmann::json& event, const char* key)
{
    const auto found = event.find(key);
    return found != event.end() && found->is_string() ? found->get<std::string>() : std::string();
}

int NumberOf(const nlohmann::json& event, const char* key, int otherwise)
{
    const auto found = event.find(key);
    return found != event.end() && found->is_number_integer() ? found->get<int>() : otherwise;
}

}  // namespace

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
    const std::string kind = TextOf(event, "event");
    if (kind == "message") {
        m_message = TextOf(event, "text");
    } else if (kind == "answered") {
        m_answered = true;
    } else if (kind == "progress") {
        const int target = NumberOf(event, "target", 0);
        // A header names at most ten targets.
        if (target < 1 || target > 10)
            return;
        if (m_rows.size() < static_cast<size_t>(target))
            m_rows.resize(static_cast<size_t>(target));
        SProgressRow& row = m_rows[static_cast<size_t>(target - 1)];
        row.name = TextOf(event, "name");
        row.percent = NumberOf(event, "percent", 0);
        row.status = TextOf(event, "status");
    } else if (kind == "end") {
        m_endStatus = NumberOf(event, "exit_status", EXIT_RUN_FAILED);
        m_message = TextOf(event, "message");
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

}  // namespace station
