#pragma once
// Following a run from the front end's thread, as the window's timer and
// update-cli's loop do: a look takes a snapshot for display; whether the
// worker is at work, asked for a redraw or heard the device is read as it
// is now, and what happened is taken once.

#include "UpdateRun.h"

namespace devupdate::update {

class CRunFollower {
public:
    explicit CRunFollower(CUpdateRun& run) : m_run(run) {}

    // The run as it is now; also kept as Seen().
    const SRunSnapshot& Look();
    const SRunSnapshot& Seen() const { return m_seen; }
    // The worker is at work.
    bool Active() const { return m_run.IsRunActive(); }
    // The worker asked for a redraw since the last call. Cleared before the
    // redraw: a request made meanwhile is kept for the next one.
    bool TakeRefresh() { return m_run.TakeRefresh(); }
    // The device has answered, and this is the first call to see it (true
    // once per run).
    bool TakeAnswer();

private:
    CUpdateRun& m_run;
    SRunSnapshot m_seen;
    bool m_answerTaken = false;
};

}  // namespace devupdate::update
