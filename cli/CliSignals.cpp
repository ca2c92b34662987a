#include "CliSignals.h"

#include "ProgramStart.h"

#include <cerrno>
#include <pthread.h>

using namespace devupdate::link;

namespace {

constexpr int RUN_SIGNALS[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

}  // namespace

sigset_t BlockRunSignals()
{
    sigset_t set;
    sigemptyset(&set);
    for (const int signal : RUN_SIGNALS) {
        // A blocked signal is kept pending even when ignored: leave it alone.
        if (!SignalInheritedAsIgnored(signal))
            sigaddset(&set, signal);
    }
    (void)pthread_sigmask(SIG_BLOCK, &set, nullptr);  // fails only for an invalid how
    return set;
}

int WaitForSignal(const sigset_t& signals, std::chrono::milliseconds timeout)
{
    timespec wait{};
    wait.tv_sec = static_cast<time_t>(timeout.count() / 1000);
    wait.tv_nsec = static_cast<long>(timeout.count() % 1000) * 1000000L;
    for (;;) {
        const int signal = sigtimedwait(&signals, nullptr, &wait);
        if (signal > 0 || errno != EINTR)
            return signal > 0 ? signal : 0;
    }
}

void DrainOutputs(COutputStream& err, COutputStream& out, const sigset_t& signals)
{
    bool stop = false;
    const auto giveUp = [&] {
        stop = stop || WaitForSignal(signals, std::chrono::milliseconds(0)) > 0;
        return stop;
    };
    err.Drain(giveUp);
    out.Drain(giveUp);
}
