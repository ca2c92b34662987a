#pragma once
// What the XSVF player needs of the update run that calls it: the current
// target's data, its progress, the user's cancel request, the serial link and
// the front end's message box. The run state of the update worker implements
// it; tests implement it with plain buffers.

#include <cstdint>
#include <string>
#include <string_view>

namespace devupdate::link {
class CComPort;
}

namespace devupdate::xsvf {

// A piece of an XSVF comment as the player reads it. A comment arrives as
// one or more pieces in order; `starts` marks the first, `ends` the last
// (an empty comment is one piece with both). The text is the comment's raw
// bytes, without the terminating zero.
struct SXsvfCommentPiece {
    std::string_view text;
    bool starts = false;
    bool ends = false;
};

// The comment echoed to standard output as the line " <comment>\n".
void EchoXsvfComment(const SXsvfCommentPiece& piece);

class CXsvfHost {
public:
    // The next data byte of the current target; false when there is none.
    virtual bool ReadDataByte(uint8_t& out) = 0;
    // Sets the current target's percent from the share of its data read.
    virtual void UpdateProgress() = 0;
    // The user asked to cancel (written by the window's thread).
    virtual bool IsCancelRequested() const = 0;
    // The run's open serial link.
    virtual link::CComPort& ComPort() = 0;
    // Shows a message to the user; called on the worker thread.
    virtual void ShowMessageBox(const std::string& text) = 0;
    // A piece of an XSVF comment, on the worker thread. The default echoes
    // the comment to standard output as the line " <comment>\n".
    virtual void OnXsvfComment(const SXsvfCommentPiece& piece);
    // Where the trace of a run goes; empty: "xsvf_debug.txt" in the current
    // directory.
    virtual std::string TracePath() const { return {}; }

protected:
    ~CXsvfHost() = default;
};

}  // namespace devupdate::xsvf
