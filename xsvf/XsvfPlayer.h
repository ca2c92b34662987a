#pragma once
// The XSVF player: plays the current target's XSVF stream through the JTAG
// frames that the device executes, and reports one result code.

#include <string>

class CXsvfHost;

// Result codes of a run.
enum XsvfResult : int {
    XSVF_SUCCESS = 0,
    XSVF_ERROR_UNKNOWN = 1,
    XSVF_ERROR_TDOMISMATCH = 2,
    XSVF_ERROR_MAXRETRIES = 3,
    XSVF_ERROR_ILLEGALCMD = 4,
    XSVF_ERROR_ILLEGALSTATE = 5,
    XSVF_ERROR_DATAOVERFLOW = 6,
    XSVF_CANCELLED = 7,
    XSVF_ERROR_DEBUGFILE = 8,
    XSVF_ERROR_FILEREAD = 9,
    XSVF_ERROR_WRITE = 10,
    XSVF_ERROR_NOANSWER = 11,
    XSVF_ERROR_MULTIPLECRC = 12,
    XSVF_ERROR_READTDO = 13,
};

// Plays one XSVF target: reads its stream through host.ReadDataByte, talks
// to the device over host.ComPort(), writes "xsvf_debug.txt" in the current
// directory. Returns 0..13.
int PlayXsvf(CXsvfHost& host);

// The status text of a result code (shown in the message line).
std::string XsvfErrorText(int code);
