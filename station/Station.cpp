#include "Station.h"

#include "OutputFile.h"
#include "ProgramStart.h"
#include "RunOutcome.h"
#include "StringTable.h"

#include <nlohmann/json.hpp>

#include <cerrno>
#include <cstring>
#include <poll.h>
#include <sys/stat.h>
#include <utility>

using namespace devupdate::link;
using namespace devupdate::res;
using namespace devupdate::update;

namespace devupdate::station {

CStation::CStation(SStationSettings settings, std::vector<CStationPort> ports, CStationView& view)
    : m_settings(std::move(settings)),
      m_ports(std::move(ports)),
      m_children(m_ports.size()),
      m_passStart(m_ports.size()),
      m_view(view)
{
}

std::string CStation::ChildName() const
{
    const std::string& program = m_settings.program;
    return program.empty() ? ProgramName("update-cli") : program.substr(program.rfind('/') + 1);
}

std::vector<std::string> CStation::PassArguments(const CStationPort& port) const
{
    std::vector<std::string> args = {ChildName(), "--json", "--port", port.Port(), "--trace", port.TracePath()};
    // Without --station each port's run is recorded as a single run would be.
    if (m_settings.station)
        args.push_back("--station-pass");
    if (m_settings.wakeupTimeoutSeconds > 0)
        args.insert(args.end(), {"--wakeup-timeout", res::Format("%.17g", m_settings.wakeupTimeoutSeconds)});
    if (!m_settings.logFile.empty())
        args.insert(args.end(), {"--log", m_settings.logFile});
    if (m_settings.requireSignature)
        args.push_back("--require-signature");
    // A file name that looks like an option stays a file name.
    args.insert(args.end(), {"--", m_settings.file});
    return args;
}

void CStation::StartPass(size_t index)
{
    CStationPort& port = m_ports[index];
    port.BeginPass();
    (void)clock_gettime(CLOCK_REALTIME_COARSE, &m_passStart[index]);  // fails only for an unknown clock
    auto child = std::make_unique<CStationChild>();
    std::string error;
    if (!child->Start(m_settings.program, PassArguments(port), error)) {
        const std::string reason = ChildName() + ": cannot start the run on " + port.Port() + ": " + error;
        m_view.PassLost(port, reason, EXIT_USAGE_OR_SETUP);
        m_view.PassEnded(port, port.EndPass(EXIT_USAGE_OR_SETUP, m_stopping));
        port.Close();
        return;
    }
    m_children[index] = std::move(child);
}

void CStation::Start()
{
    m_view.Start(m_ports);
    for (size_t i = 0; i < m_ports.size(); ++i)
        StartPass(i);
}

void CStation::Poll(int timeoutMs, int wakeFd, const std::function<void()>& onWake)
{
    std::vector<pollfd> fds = {{wakeFd, POLLIN, 0}};
    std::vector<std::pair<size_t, int>> owners = {{0, -1}};
    for (size_t i = 0; i < m_children.size(); ++i) {
        if (!m_children[i])
            continue;
        for (const int fd : {m_children[i]->OutFd(), m_children[i]->ErrFd()}) {
            if (fd >= 0) {
                fds.push_back({fd, POLLIN, 0});
                owners.emplace_back(i, fd);
            }
        }
    }
    const int ready = poll(fds.data(), fds.size(), timeoutMs);
    if (ready <= 0)
        return;  // a tick, or EINTR: looked at again on the next round
    if (fds[0].revents != 0)
        onWake();
    for (size_t k = 1; k < fds.size(); ++k) {
        if (fds[k].revents != 0)
            ReadChild(owners[k].first, owners[k].second);
    }
}

void CStation::Signal(int signal)
{
    // No new pass starts. Each run is told what a single run would be told:
    // one that waits for its device ends at once; one whose device answered
    // asks on the first Ctrl-C and is cancelled on the second (SIGTERM
    // cancels at once; SIGHUP and SIGQUIT let it finish).
    m_stopping = true;
    for (const std::unique_ptr<CStationChild>& child : m_children) {
        if (child)
            child->Signal(signal);
    }
}

void CStation::EndPassesDone()
{
    for (size_t i = 0; i < m_ports.size(); ++i)
        EndPassWhenDone(i);
}

void CStation::ReadChild(size_t index, int fd)
{
    CStationChild& child = *m_children[index];
    CStationPort& port = m_ports[index];
    std::vector<std::string> lines;
    const bool events = fd == child.OutFd();
    child.ReadLines(fd, lines);
    for (const std::string& line : lines) {
        if (!events) {
            m_view.ChildError(port, line);
            continue;
        }
        const nlohmann::json event = nlohmann::json::parse(line, nullptr, false);
        if (event.is_discarded())
            continue;
        port.Apply(event);
        m_view.ChildEvent(port, line, event);
    }
}

void CStation::EndPassWhenDone(size_t index)
{
    std::unique_ptr<CStationChild>& child = m_children[index];
    if (!child || !child->OutputEnded())
        return;
    const int exitStatus = child->Reap();
    child.reset();
    CStationPort& port = m_ports[index];
    if (!port.SawEnd()) {
        const std::string reason = exitStatus < 0 ? res::Format("the run ended without a result (signal %d)", -exitStatus)
                                                  : res::Format("the run ended without a result (status %d)", exitStatus);
        m_view.PassLost(port, reason, StatusWithoutEnd(exitStatus));
    }
    const int status = port.EndPass(exitStatus, m_stopping);
    m_view.PassEnded(port, status);
    // Only a device that answered makes a pass; a port whose run ended before
    // any answer (no port, no device in time, stopped) has nothing more to do.
    const bool more = m_settings.station && !m_stopping && port.Answered() &&
                      (m_settings.passCount == 0 || port.Counts().Total() < m_settings.passCount);
    if (more && status != EXIT_UPDATED)
        KeepTrace(index);
    if (more)
        StartPass(index);
    else
        port.Close();
}

void CStation::KeepTrace(size_t index)
{
    const CStationPort& port = m_ports[index];
    const std::string& trace = port.TracePath();
    const std::string kept = trace.substr(0, trace.size() - 4) + res::Format("-pass%u.txt", port.PassNumber());
    struct stat info {};
    if (lstat(trace.c_str(), &info) != 0 || !S_ISREG(info.st_mode))
        return;
    // Only a trace this pass wrote: one that failed before its XSVF target
    // left the last pass's trace as it was.
    const timespec& start = m_passStart[index];
    if (info.st_mtim.tv_sec < start.tv_sec ||
        (info.st_mtim.tv_sec == start.tv_sec && info.st_mtim.tv_nsec < start.tv_nsec))
        return;
    // The kept name is an output too: never the update file or the log.
    CRunFiles files;
    files.AddInput("the update file", m_settings.file);
    if (!m_settings.logFile.empty())
        files.AddInput("the log", m_settings.logFile);
    if (std::string clash = files.AddOutput("the kept trace", kept); !clash.empty()) {
        m_view.ChildError(port, ChildName() + ": cannot keep the trace " + trace + ": " + clash);
        return;
    }
    if (rename(trace.c_str(), kept.c_str()) != 0) {
        m_view.ChildError(port, ChildName() + ": cannot keep the trace " + trace + ": " + std::strerror(errno));
        return;
    }
    m_view.TraceKept(port, kept);
}

bool CStation::AnyPortOpen() const
{
    for (const CStationPort& port : m_ports) {
        if (!port.Closed())
            return true;
    }
    return false;
}

int CStation::ExitStatus() const
{
    int status = EXIT_UPDATED;
    for (const CStationPort& port : m_ports)
        status = MoreSeriousExitStatus(status, port.ExitStatus());
    return status;
}

std::string TooManyPortsText()
{
    return "at most " + std::to_string(MAX_STATION_PORTS) + " ports at once";
}

}  // namespace devupdate::station
