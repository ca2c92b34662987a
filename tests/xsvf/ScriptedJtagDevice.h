#pragma once
// The device's end of the JTAG frame exchange, scripted, for tests.
//
// CJtagFrameScript decides the answer bytes to every frame the tool sends and
// records the traffic. CScriptedJtagDevice puts it directly behind the
// transport (CJtagLink, no port, no threads: a Read that finds too few
// answer bytes is a time-out). CPtyJtagDevice serves it on the master end of
// a pseudo-terminal pair, for runs through a real CComPort.

#include "JtagLink.h"
#include "PtyPair.h"

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

using Bytes = std::vector<uint8_t>;

// A whole frame (length, payload, CRC) as the tool sends it.
Bytes MakeFrame(const Bytes& payload);
// The device's read-back frame for the TDO bytes.
Bytes MakeReadBackFrame(const Bytes& tdo);
// The answers a well-behaved device gives: 0x44 to the finish frame, 0x11
// and a read-back of zeros to a read-TDO request, 0x11 to everything else.
Bytes DefaultAnswer(const Bytes& payload);

// What a run of a stream over a CScriptedJtagDevice left: result, trace
// file content and every byte written.
struct SReplay {
    int result;
    std::string trace;
    Bytes wire;
};

// Plays the stream over a fresh transport and scripted device (answers as
// given, default DefaultAnswer) with the trace in a temporary directory.
SReplay ReplayXsvf(const Bytes& stream,
                   std::function<Bytes(const Bytes& payload, size_t index)> answer = nullptr);

class CJtagFrameScript {
public:
    // Answer bytes for the payload of the index-th frame (0-based); the
    // default is DefaultAnswer.
    std::function<Bytes(const Bytes& payload, size_t index)> answer;

    // Called with every write of the tool: one frame, or the lone end byte.
    // Returns the bytes the device sends back.
    Bytes OnWrite(const Bytes& written);

    // Everything the tool wrote, one entry per write.
    std::vector<Bytes> Writes() const;
    // The payloads of the frames written (CRC-checked; a bad frame records
    // an empty payload).
    std::vector<Bytes> Payloads() const;
    // All bytes written, concatenated.
    Bytes Wire() const;

private:
    mutable std::mutex m_mutex;
    std::vector<Bytes> m_writes;
    size_t m_frames = 0;
};

class CScriptedJtagDevice final : public devupdate::xsvf::CJtagLink, public CJtagFrameScript {
public:
    bool Write(const uint8_t* data, size_t n) override;
    bool Read(uint8_t* data, size_t n) override;
    bool IsCancelRequested() const override { return cancel; }

    bool cancel = false;       // the user's cancel request
    bool failWrites = false;   // every write fails

private:
    std::deque<uint8_t> m_pending;
};

// Serves a script on the master of a pty until destroyed. The tool's writes
// are split into frames by their length field; a lone 0xA2 is the end byte.
class CPtyJtagDevice {
public:
    CPtyJtagDevice(CPtyPair& pty, CJtagFrameScript& script);
    ~CPtyJtagDevice();
    CPtyJtagDevice(const CPtyJtagDevice&) = delete;
    CPtyJtagDevice& operator=(const CPtyJtagDevice&) = delete;

private:
    void Serve();
    bool ReadExactly(Bytes& out, size_t n);

    CPtyPair& m_pty;
    CJtagFrameScript& m_script;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};
