#include "TerminationSignals.h"

#include "ProgramStart.h"

#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

using namespace devupdate::link;

namespace {

constexpr int HANDLED_SIGNALS[] = {SIGTERM, SIGINT, SIGHUP};

// The pipe's two ends; the handler needs them without an object.
int g_pipe[2] = {-1, -1};

extern "C" void NoteSignal(int signal)
{
    const int savedErrno = errno;
    const unsigned char number = static_cast<unsigned char>(signal);
    // A full pipe already holds a wake-up: losing this byte loses nothing.
    (void)!write(g_pipe[1], &number, 1);
    errno = savedErrno;
}

}  // namespace

CTerminationSignals::CTerminationSignals(std::function<void(int)> onSignal) : m_onSignal(std::move(onSignal))
{
    if (pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        std::fprintf(stderr, "%s: pipe2: %s\n", ProgramName("update").c_str(), std::strerror(errno));
        return;
    }
    m_notifier = new QSocketNotifier(g_pipe[0], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, [this] { TakeSignals(); });
    for (const int signal : HANDLED_SIGNALS) {
        if (SignalInheritedAsIgnored(signal))
            continue;
        struct sigaction action {};
        action.sa_handler = NoteSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        if (sigaction(signal, &action, nullptr) != 0)
            std::fprintf(stderr, "%s: sigaction(%d): %s\n", ProgramName("update").c_str(), signal, std::strerror(errno));
    }
}

CTerminationSignals::~CTerminationSignals()
{
    if (g_pipe[0] == -1)
        return;
    for (const int signal : HANDLED_SIGNALS) {
        if (SignalInheritedAsIgnored(signal))
            continue;
        struct sigaction action {};
        action.sa_handler = SIG_DFL;
        sigemptyset(&action.sa_mask);
        (void)sigaction(signal, &action, nullptr);
    }
    delete m_notifier;
    m_notifier = nullptr;
    (void)close(g_pipe[0]);
    (void)close(g_pipe[1]);
    g_pipe[0] = g_pipe[1] = -1;
}

void CTerminationSignals::TakeSignals()
{
    unsigned char number = 0;
    for (;;) {
        const ssize_t got = read(g_pipe[0], &number, 1);
        if (got == 1) {
            m_onSignal(number);
            continue;
        }
        if (got < 0 && errno == EINTR)
            continue;
        return;  // EAGAIN: all taken
    }
}
