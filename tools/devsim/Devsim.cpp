#include "Devsim.h"

#include "OutputFile.h"
#include "PortName.h"
#include "ProgramStart.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/prctl.h>
#include <stdexcept>
#include <sys/stat.h>
#include <system_error>
#include <termios.h>
#include <unistd.h>

using namespace devupdate::link;
using namespace devupdate::svf;

namespace devupdate::devsim {

namespace {

// errno's text after the failed operation, under the program's own name.
void ReportSystemError(const char* operation)
{
    std::fprintf(stderr, "%s: %s: %s\n", ProgramName("devsim").c_str(), operation, std::strerror(errno));
}

[[noreturn]] void ThrowErrno(const char* operation)
{
    throw std::system_error(errno, std::generic_category(), operation);
}

void CloseFd(int& fd)
{
    if (fd < 0)
        return;
    // A failed close leaves nothing to retry on Linux; the descriptor is gone either way.
    if (close(fd) != 0)
        ReportSystemError("close");
    fd = -1;
}

bool SetNonBlocking(int fd)
{
    const int flags = fcntl(fd, F_GETFL);
    return flags >= 0 && fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0;
}

// openpty leaves both ends inheritable: a program the tests start (update-cli)
// would keep the master open, and an unplugged device would not hang up.
bool SetCloseOnExec(int fd)
{
    const int flags = fcntl(fd, F_GETFD);
    return flags >= 0 && fcntl(fd, F_SETFD, flags | FD_CLOEXEC) == 0;
}

// Every byte on a paced line goes out from a timed wait. The default timer
// slack of 50 us would make each answer that much later than a UART sends
// it, on every round trip of a run: this thread asks for exact wake-ups.
void TightenTimerSlack()
{
    if (prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL) != 0)
        ReportSystemError("prctl(PR_SET_TIMERSLACK)");
}

std::string ParentFolder(const std::string& path)
{
    const size_t slash = path.find_last_of('/');
    if (slash == std::string::npos || slash == 0)
        return {};
    return path.substr(0, slash);
}

}  // namespace

CDevsim::CDevsim(SDevsimConfig config)
    : m_config(std::move(config)), m_origin(DevClock::now()),
      m_protocol(m_config, m_log, m_origin)
{
}

CDevsim::~CDevsim()
{
    Stop();
}

DevClock::duration CDevsim::ByteTime() const
{
    if (m_config.baud == 0)
        return {};
    return std::chrono::duration_cast<DevClock::duration>(std::chrono::nanoseconds(
        10'000'000'000LL / m_config.baud));
}

void CDevsim::Start()
{
    std::lock_guard lock(m_mutex);
    if (m_thread.joinable() || m_master >= 0)
        throw std::logic_error("devsim: already started");

    termios raw{};
    cfmakeraw(&raw);
    raw.c_cflag |= CLOCAL | CREAD;
    if (cfsetspeed(&raw, B57600) != 0)
        ThrowErrno("cfsetspeed");
    char name[128] = {};
    if (openpty(&m_master, &m_slave, name, &raw, nullptr) != 0)
        ThrowErrno("openpty");
    try {
        m_slavePath = name;
        if (!SetNonBlocking(m_master))
            ThrowErrno("fcntl(master)");
        if (!SetCloseOnExec(m_master) || !SetCloseOnExec(m_slave))
            ThrowErrno("fcntl(FD_CLOEXEC)");
        if (pipe2(m_stopPipe, O_CLOEXEC | O_NONBLOCK) != 0)
            ThrowErrno("pipe2");
        if (!m_config.linkPath.empty()) {
            const std::string folder = ParentFolder(m_config.linkPath);
            // Every missing folder on the way, private as the user's port links are.
            std::string error;
            if (!folder.empty() && !MakePrivateFolders(folder, error))
                throw std::runtime_error(error);
            struct stat st{};
            if (lstat(m_config.linkPath.c_str(), &st) == 0 && S_ISLNK(st.st_mode) &&
                unlink(m_config.linkPath.c_str()) != 0)
                ThrowErrno("unlink(old link)");
            if (symlink(m_slavePath.c_str(), m_config.linkPath.c_str()) != 0)
                ThrowErrno("symlink");
            m_linkCreated = true;
        }
    } catch (...) {
        CloseFd(m_master);
        CloseFd(m_slave);
        CloseFd(m_stopPipe[0]);
        CloseFd(m_stopPipe[1]);
        throw;
    }
    m_origin = DevClock::now();
    m_protocol.PowerOff(m_origin);
    m_lineFreeIn = m_lineFreeOut = m_origin;
    m_thread = std::thread(&CDevsim::Serve, this);
}

void CDevsim::Stop()
{
    {
        std::lock_guard lock(m_mutex);
        if (m_stopPipe[1] >= 0) {
            const char stop = 's';
            if (write(m_stopPipe[1], &stop, 1) != 1 && errno != EAGAIN)
                ReportSystemError("write(stop pipe)");
        }
    }
    if (m_thread.joinable())
        m_thread.join();
    std::lock_guard lock(m_mutex);
    CloseMaster();
    CloseFd(m_slave);
    CloseFd(m_stopPipe[0]);
    CloseFd(m_stopPipe[1]);
    RemoveLink();
}

void CDevsim::CloseMaster()
{
    CloseFd(m_master);
    m_input.clear();
    m_output.clear();
}

void CDevsim::RemoveLink()
{
    if (!m_linkCreated)
        return;
    m_linkCreated = false;
    // Only our own link: someone may have replaced it meanwhile.
    char target[256] = {};
    const ssize_t n = readlink(m_config.linkPath.c_str(), target, sizeof target - 1);
    if (n > 0 && m_slavePath == std::string(target, static_cast<size_t>(n)) &&
        unlink(m_config.linkPath.c_str()) != 0)
        ReportSystemError("unlink(link)");
}

void CDevsim::Serve()
{
    TightenTimerSlack();
    for (;;) {
        pollfd fds[2] = {{m_stopPipe[0], POLLIN, 0}, {-1, 0, 0}};
        timespec timeout{};
        const timespec* timeoutPtr = nullptr;
        {
            std::lock_guard lock(m_mutex);
            if (m_vanishRequested && m_master >= 0) {
                CloseMaster();
                RemoveLink();
                m_vanished = true;
                m_changed.notify_all();
            }
            if (m_master >= 0) {
                fds[1].fd = m_master;
                fds[1].events = POLLIN;
                DevClock::time_point next = DevClock::time_point::max();
                if (!m_input.empty())
                    next = m_input.front().arrival;
                if (!m_output.empty()) {
                    if (m_outputBlocked)
                        fds[1].events |= POLLOUT;
                    else
                        next = std::min(next, OutputDue());
                }
                if (next != DevClock::time_point::max()) {
                    const auto wait = std::max(next - DevClock::now(), DevClock::duration{});
                    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(wait).count();
                    timeout.tv_sec = static_cast<time_t>(ns / 1'000'000'000);
                    timeout.tv_nsec = static_cast<long>(ns % 1'000'000'000);
                    timeoutPtr = &timeout;
                }
            }
        }
        if (ppoll(fds, fds[1].fd >= 0 ? 2 : 1, timeoutPtr, nullptr) < 0) {
            if (errno == EINTR)
                continue;
            ReportSystemError("ppoll");
            return;
        }
        if ((fds[0].revents & POLLIN) && StopRequested())
            return;

        std::lock_guard lock(m_mutex);
        if (m_master < 0)
            continue;
        if (fds[1].revents & POLLOUT)
            m_outputBlocked = false;
        const DevClock::time_point now = DevClock::now();
        if (fds[1].revents & (POLLIN | POLLHUP | POLLERR))
            ReadInput(now);
        ProcessInput(DevClock::now());
        if (m_master >= 0)
            WriteOutput(DevClock::now());
    }
}

bool CDevsim::StopRequested()
{
    // 's' asks the thread to end, 'v' only wakes it (see Vanish).
    char bytes[16];
    bool stop = false;
    ssize_t n;
    while ((n = read(m_stopPipe[0], bytes, sizeof bytes)) > 0)
        for (ssize_t i = 0; i < n; ++i)
            stop = stop || bytes[i] == 's';
    if (n < 0 && errno != EAGAIN && errno != EINTR) {
        ReportSystemError("read(stop pipe)");
        return true;
    }
    return stop;
}

void CDevsim::ReadInput(DevClock::time_point now)
{
    uint8_t buffer[4096];
    const ssize_t n = read(m_master, buffer, sizeof buffer);
    if (n < 0) {
        if (errno == EINTR || errno == EAGAIN)
            return;
        // We hold a slave descriptor, so EIO cannot come from the tool closing
        // its port; anything here is a real failure of the line.
        ReportSystemError("read(master)");
        CloseMaster();
        m_vanished = true;
        m_changed.notify_all();
        return;
    }
    const DevClock::duration byteTime = ByteTime();
    for (ssize_t i = 0; i < n; ++i) {
        DevClock::time_point arrival = now;
        if (byteTime.count() > 0) {
            arrival = std::max(now, m_lineFreeIn) + byteTime;
            m_lineFreeIn = arrival;
        }
        m_input.push_back({buffer[i], now, arrival});
        m_log.Rx(buffer[i], now);
    }
}

void CDevsim::ProcessInput(DevClock::time_point now)
{
    while (!m_input.empty() && m_input.front().arrival <= now) {
        const SInByte in = m_input.front();
        m_input.pop_front();
        SDeviceOutput out;
        m_protocol.Feed(in.byte, in.read, in.arrival, out);
        if (out.dropPending)
            m_output.clear();
        m_output.insert(m_output.end(), out.bytes.begin(), out.bytes.end());
        if (out.sessionEnded)
            m_changed.notify_all();
        if (out.vanish) {
            CloseMaster();
            RemoveLink();
            m_vanished = true;
            m_changed.notify_all();
            return;
        }
    }
}

DevClock::time_point CDevsim::OutputDue() const
{
    const DevClock::time_point ready = m_output.front().notBefore;
    const DevClock::duration byteTime = ByteTime();
    if (byteTime.count() == 0)
        return ready;
    return std::max(ready, m_lineFreeOut) + byteTime;
}

void CDevsim::WriteOutput(DevClock::time_point now)
{
    const bool paced = ByteTime().count() > 0;
    while (!m_output.empty() && !m_outputBlocked) {
        const DevClock::time_point due = OutputDue();
        if (due > now)
            return;
        // Unpaced: every byte that is due goes out in one write.
        size_t count = 1;
        if (!paced)
            while (count < m_output.size() && count < 256 && m_output[count].notBefore <= now)
                ++count;
        uint8_t bytes[256];
        for (size_t i = 0; i < count; ++i)
            bytes[i] = m_output[i].byte;
        const ssize_t n = write(m_master, bytes, count);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            if (errno == EAGAIN) {
                m_outputBlocked = true;
                return;
            }
            ReportSystemError("write(master)");
            CloseMaster();
            m_vanished = true;
            m_changed.notify_all();
            return;
        }
        const DevClock::time_point written = DevClock::now();
        for (ssize_t i = 0; i < n; ++i) {
            m_log.Tx(m_output.front().byte, written, m_output.front().exchange);
            m_output.pop_front();
        }
        if (paced)
            m_lineFreeOut = due;
    }
}

std::string CDevsim::SlavePath() const
{
    std::lock_guard lock(m_mutex);
    return m_slavePath;
}

unsigned CDevsim::SessionsEnded() const
{
    std::lock_guard lock(m_mutex);
    return m_protocol.SessionsEnded();
}

bool CDevsim::WaitForSessions(unsigned n, std::chrono::milliseconds timeout) const
{
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, timeout, [&] {
        return m_protocol.SessionsEnded() >= n || m_vanished;
    }) && m_protocol.SessionsEnded() >= n;
}

void CDevsim::PowerCycle()
{
    std::lock_guard lock(m_mutex);
    m_protocol.PowerOff(DevClock::now());
    m_output.clear();
}

void CDevsim::Vanish()
{
    std::lock_guard lock(m_mutex);
    m_vanishRequested = true;
    if (m_stopPipe[1] < 0 || !m_thread.joinable()) {
        CloseMaster();
        RemoveLink();
        m_vanished = true;
        return;
    }
    // The thread may be polling the master: let it close the master itself.
    const char wake = 'v';
    if (write(m_stopPipe[1], &wake, 1) != 1 && errno != EAGAIN)
        ReportSystemError("write(stop pipe)");
}

bool CDevsim::IsVanished() const
{
    std::lock_guard lock(m_mutex);
    return m_vanished;
}

void CDevsim::SetFaults(std::vector<SFaultRule> rules)
{
    std::lock_guard lock(m_mutex);
    m_protocol.SetFaults(std::move(rules));
}

std::map<uint8_t, std::vector<uint8_t>> CDevsim::Images() const
{
    std::lock_guard lock(m_mutex);
    return m_protocol.Images();
}

ModelFlash CDevsim::Flash() const
{
    std::lock_guard lock(m_mutex);
    return m_protocol.Jtag().Part().Flash();
}

void CDevsim::SetFlash(const ModelFlash& flash)
{
    std::lock_guard lock(m_mutex);
    m_protocol.Jtag().Part().SetFlash(flash);
}

ETapState CDevsim::TapState() const
{
    std::lock_guard lock(m_mutex);
    return m_protocol.Jtag().Tap().State();
}

uint8_t CDevsim::Instruction() const
{
    std::lock_guard lock(m_mutex);
    return m_protocol.Jtag().Part().Instruction();
}

std::vector<SScan> CDevsim::Scans() const
{
    std::lock_guard lock(m_mutex);
    return m_protocol.Jtag().Tap().Scans();
}

SSvfCheck CDevsim::SvfCheck() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const CSvfTarget* svf = m_protocol.Jtag().Svf();
    return svf ? svf->Check() : SSvfCheck{};
}

std::vector<STrafficByte> CDevsim::Traffic() const
{
    std::lock_guard lock(m_mutex);
    return m_log.Bytes();
}

std::vector<SExchange> CDevsim::Exchanges() const
{
    std::lock_guard lock(m_mutex);
    return m_log.Exchanges();
}

std::vector<std::chrono::nanoseconds> CDevsim::HostTurnarounds() const
{
    std::lock_guard lock(m_mutex);
    return m_log.HostTurnarounds();
}

DevClock::duration CDevsim::BusyTime() const
{
    std::lock_guard lock(m_mutex);
    return m_protocol.BusyTime();
}

unsigned CDevsim::Count(EPhase phase) const
{
    std::lock_guard lock(m_mutex);
    return m_protocol.Faults().Count(phase);
}

DevClock::time_point CDevsim::Origin() const
{
    std::lock_guard lock(m_mutex);
    return m_origin;
}

std::string CDevsim::WriteTrafficLog(const std::string& path) const
{
    std::lock_guard lock(m_mutex);
    return m_log.WriteFile(path, m_origin);
}

std::string CDevsim::WriteFlash(const std::string& path) const
{
    std::lock_guard lock(m_mutex);
    std::string error;
    FILE* f = OpenOutputStream(path, error);
    if (!f)
        return error;
    bool ok = true;
    for (uint16_t word : m_protocol.Jtag().Part().Flash()) {
        const uint8_t bytes[2] = {static_cast<uint8_t>(word >> 8), static_cast<uint8_t>(word)};
        ok = ok && std::fwrite(bytes, 1, 2, f) == 2;
    }
    return FinishOutput(f, ok);
}

}  // namespace devupdate::devsim
