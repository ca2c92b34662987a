#pragma once
// What a front end hears of the run it holds. The worker calls these on its
// own thread (all but OnRunEnded), so an observer keeps them short and never
// touches its window or terminal from them. The defaults are those of a run
// nobody watches: a message box goes to standard error, an XSVF comment to
// standard output.

#include "RunOutcome.h"
#include "XsvfHost.h"

#include <string>

namespace devupdate::update {

class CRunObserver {
public:
    // The message line changed (on the thread that changed it).
    virtual void OnMessageChanged(const std::string& text) { (void)text; }
    // A row's percent or status changed; often (after every XSVF command),
    // so keep it cheap.
    virtual void OnRowChanged(int index) { (void)index; }
    // The run's one message box; the worker waits until this returns.
    virtual void ShowMessageBox(const std::string& text);
    // A piece of an XSVF comment.
    virtual void OnXsvfComment(const xsvf::SXsvfCommentPiece& piece);
    // The device answered the wake-up: from now on a cancel asks first.
    virtual void OnDeviceAnswered() {}
    // The run's outcome, on the front end's thread, once FinishRun is done.
    virtual void OnRunEnded(const SRunOutcome& outcome) { (void)outcome; }

protected:
    ~CRunObserver() = default;
};

}  // namespace devupdate::update
