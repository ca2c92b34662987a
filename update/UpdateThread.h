#pragma once
// The worker of an update run: wakes the device, selects each target of the
// update file's body and downloads its firmware blocks or plays its XSVF
// stream. It reports only through the run state; its last action is the
// write of m_runState (RunEnded, or RunEndedWithMessage with m_message set).

#include <cstdint>

namespace devupdate::link {
class CComPort;
}

namespace devupdate::update {

class CUpdateRunState;

// Bytes the tool sends.
constexpr uint8_t CMD_WAKEUP = 0xA4;
constexpr uint8_t CMD_START = 0xA3;
constexpr uint8_t CMD_SELECT = 0xA0;
constexpr uint8_t CMD_END = 0xA2;

// The device's answers, as ReadAnswer classifies them.
constexpr int ANS_ACK = 0x11;
constexpr int ANS_RETRY = 0x22;   // check-value error, or any unexpected byte
constexpr int ANS_WAIT = 0x33;    // busy, or a read time-out
constexpr int ANS_REFUSE = 0x44;
constexpr int ANS_READY = 0x88;
constexpr int ANS_STOP = 0x9A;    // internal: the run must end, m_message is set

// Reads one answer byte (time-out 150 ms) and classifies it. The 20th read
// time-out in a row, a vanished port, or the 4th unexpected answer in a row
// gives ANS_STOP with the message set. The run counts the unexpected answers.
int ReadAnswer(link::CComPort& port, int& timeoutCount, CUpdateRunState& run);

// The worker thread's body: the whole run on `run`. Returns 0.
unsigned UpdateThread(CUpdateRunState* run);

}  // namespace devupdate::update
