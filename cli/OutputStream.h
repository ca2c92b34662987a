#pragma once
// Standard output or standard error as update-cli's main loop writes it:
// never blocked by a reader that stops reading. Text is queued and written
// as far as the descriptor takes it without waiting; the queue is bounded,
// and what does not fit is refused (the caller drops it). A write that fails
// for any reason but "try again" (a closed pipe, a full disk, a hung-up
// terminal) turns the stream off for the rest of the run: everything after
// is accepted and thrown away.

#include <chrono>
#include <functional>
#include <string>
#include <string_view>

class COutputStream {
public:
    // Pending bytes beyond which Offer refuses text.
    static constexpr size_t MAX_PENDING = 64 * 1024;

    explicit COutputStream(int fd);
    ~COutputStream();
    COutputStream(const COutputStream&) = delete;
    COutputStream& operator=(const COutputStream&) = delete;

    // Queues text and writes what can go out now. False when the text was
    // refused because the queue is full (nothing of it was queued).
    bool Offer(std::string_view text);
    // Queues text whatever the queue holds (text that must not be lost).
    void Queue(std::string_view text);
    // Writes what the descriptor takes now, without waiting.
    void Pump();
    // Writes everything queued, waiting for the reader as long as it takes:
    // until it is written, the stream is off, or giveUp() says to stop
    // (asked about every 100 ms).
    void Drain(const std::function<bool()>& giveUp);

    bool IsOn() const { return m_on; }
    bool IsTerminal() const { return m_terminal; }

private:
    // One write attempt; false when nothing more can go out now.
    bool WriteSome();

    int m_fd;
    int m_ownFd = -1;        // a non-blocking open of the same file, when we have one
    bool m_mayBlock = false; // no non-blocking descriptor: poll before each write
    bool m_on = true;
    bool m_terminal = false;
    std::string m_pending;
};
