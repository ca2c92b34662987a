#pragma once
// A CXsvfHost over a byte vector, for tests: the stream is the target's data,
// progress calls are counted, message boxes collected, and the cancel request
// can be raised after a given number of commands.

#include "ComPort.h"
#include "XsvfHost.h"

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

class CVectorXsvfHost final : public devupdate::xsvf::CXsvfHost {
public:
    explicit CVectorXsvfHost(std::vector<uint8_t> stream) : m_stream(std::move(stream)) {}

    bool ReadDataByte(uint8_t& out) override
    {
        if (m_position >= m_stream.size())
            return false;
        out = m_stream[m_position++];
        return true;
    }
    void UpdateProgress() override
    {
        ++progressCalls;
        if (cancelAfterProgress > 0 && progressCalls == cancelAfterProgress)
            cancel = true;
    }
    bool IsCancelRequested() const override { return cancel; }
    devupdate::link::CComPort& ComPort() override { return port; }
    void ShowMessageBox(const std::string& text) override { messages.push_back(text); }

    size_t BytesRead() const { return m_position; }

    devupdate::link::CComPort port;
    std::atomic<bool> cancel{false};
    int progressCalls = 0;
    int cancelAfterProgress = 0;  // 0: never
    std::vector<std::string> messages;

private:
    std::vector<uint8_t> m_stream;
    size_t m_position = 0;
};
