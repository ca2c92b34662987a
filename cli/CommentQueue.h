#pragma once
// XSVF comment pieces handed from the worker to update-cli's main loop. The
// worker never waits here: the queue holds at most MAX_BYTES of comment
// text, and text that does not fit is dropped (a comment may be any length).
// The start and end marks of a line are always kept, so that a line whose
// text was dropped still ends.

#include "XsvfHost.h"

#include <deque>
#include <mutex>
#include <string>

struct SCommentPiece {
    std::string text;
    bool starts = false;
    bool ends = false;
};

class CCommentQueue {
public:
    static constexpr size_t MAX_BYTES = 256 * 1024;

    // Worker side.
    void Push(const devupdate::xsvf::SXsvfCommentPiece& piece);
    // Main loop side: every piece queued so far, oldest first.
    std::deque<SCommentPiece> Take();

private:
    std::mutex m_mutex;
    std::deque<SCommentPiece> m_pieces;
    size_t m_bytes = 0;
};
