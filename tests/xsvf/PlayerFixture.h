#pragma once
// Runs the player over an in-memory scripted device with the trace in a
// temporary directory, and summarises the frames it sent.

#include "JtagTransport.h"
#include "ScriptedJtagDevice.h"
#include "TempDir.h"
#include "VectorXsvfHost.h"
#include "XsvfPlayer.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

using namespace devupdate::xsvf;

// One word per frame: "P1" TMS-high pin frame, "T0"/"T1" a TMS clock, "+" a
// reset clock, "S<bits>:<flags>" a shift, "R<bits>" a read-TDO request,
// "W<us>" a wait, "F" the finish frame, "A2" the lone end byte.
inline std::string Describe(const Bytes& write)
{
    if (write == Bytes{devupdate::xsvf::CMD_END_BYTE})
        return "A2";
    if (write.size() < 5)
        return "?";
    const Bytes p(write.begin() + 2, write.end() - 2);
    char text[32];
    switch (p[0]) {
    case devupdate::xsvf::CMD_PINS:
        if (p == Bytes{0x42, 0x10}) return "P1";
        if (p == Bytes{0x42, 0x10, 0x01, 0x11}) return "T1";
        if (p == Bytes{0x42, 0x00, 0x01, 0x11}) return "T0";
        if (p == Bytes{0x42, 0x01, 0x11}) return "+";
        return "P?";
    case devupdate::xsvf::CMD_SHIFT:
        std::snprintf(text, sizeof text, "S%d:%02x", p[2] << 8 | p[3], p[1]);
        return text;
    case devupdate::xsvf::CMD_READ_TDO:
        std::snprintf(text, sizeof text, "R%d", p[1] << 8 | p[2]);
        return text;
    case devupdate::xsvf::CMD_DELAY:
        std::snprintf(text, sizeof text, "W%u",
                      static_cast<unsigned>(p[1] << 24 | p[2] << 16 | p[3] << 8 | p[4]));
        return text;
    case devupdate::xsvf::CMD_FINISH: return "F";
    default: return "?";
    }
}

inline const char* const RESET_FRAMES = "P1 T1 + + + + +";

class PlayerTest : public ::testing::Test {
protected:
    int Play(const Bytes& stream)
    {
        host = std::make_unique<CVectorXsvfHost>(stream);
        if (configureHost)
            configureHost(*host);
        return devupdate::xsvf::PlayXsvf(*host, transport, device, dir.Path());
    }

    // The frames of the last run, after the run's opening TMS-high frame and
    // reset sequence (which are checked to be there).
    std::string FramesAfterReset() const
    {
        std::string all = AllFrames();
        const std::string reset = RESET_FRAMES;
        EXPECT_EQ(0u, all.rfind(reset, 0)) << all;
        if (all.size() <= reset.size())
            return "";
        return all.substr(reset.size() + 1);
    }

    std::string AllFrames() const
    {
        std::string all;
        for (const Bytes& write : device.Writes()) {
            if (!all.empty())
                all += ' ';
            all += Describe(write);
        }
        return all;
    }

    std::string Trace() const { return dir.Read("xsvf_debug.txt"); }

    CTempDir dir;
    CScriptedJtagDevice device;
    devupdate::xsvf::CJtagTransport transport;
    std::unique_ptr<CVectorXsvfHost> host;
    std::function<void(CVectorXsvfHost&)> configureHost;
};

// The trace's fixed start: first line, record size and the reset sequence.
inline const char* const TRACE_START =
    "Start der Aufzeichnung\r\r\n\r\r\n"
    "    sizeof( SXsvfInfo ) = 49040 bytes\r\n"
    "   TMS Reset Sequence -> Test-Logic-Reset\r\n"
    "   TAP State = RESET\r\n";
