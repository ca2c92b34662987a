#pragma once
// The XSVF player: plays the current target's XSVF stream through the JTAG
// frames that the device executes, and reports one result code.

#include <string>

namespace devupdate::xsvf {

class CXsvfHost;
class CJtagLink;
class CJtagTransport;

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
// to the device over host.ComPort(), writes the trace to host.TracePath()
// ("xsvf_debug.txt" in the current directory when that is empty).
// Returns 0..13. The first plays through a transport of its own, the
// second through the run's.
int PlayXsvf(CXsvfHost& host);
int PlayXsvf(CXsvfHost& host, CJtagTransport& transport);

// The same run over a given transport and link, with the trace file in
// traceDirectory ("" = the current directory). Empties the transport's
// section memory first. Returns 0..13:
//  0 XCOMPLETE reached; 2/3 TDO mismatch (without/after retries); 4 an
//  unsupported command; 5 an illegal state; 6 a length over MAX_LEN;
//  7 cancelled (after a command, or while the device was busy: then nothing
//  more is sent); 8 the trace file cannot be created (host.ShowMessageBox
//  shows why; nothing is sent); 9 the stream ended or could not be read;
//  10..13 link failures. No finish frame follows 7-from-busy and 9..13.
int PlayXsvf(CXsvfHost& host, CJtagTransport& transport, CJtagLink& link,
             const std::string& traceDirectory);

// The same with the trace written to tracePath; shownName names it in the
// message when it cannot be created.
int PlayXsvfTracedTo(CXsvfHost& host, CJtagTransport& transport, CJtagLink& link, const std::string& tracePath,
                     const std::string& shownName);

// The same without a trace file, for playing a stream only to learn what it
// sends (never 8).
int PlayXsvfUntraced(CXsvfHost& host, CJtagTransport& transport, CJtagLink& link);

// The status text of a result code (shown in the message line).
std::string XsvfErrorText(int code);

// The first line a run ending with `code` leaves in the trace: "No error",
// "ERROR:  ..." for 1..6 (and 1's name for unknown codes), the status text
// for 7..13.
std::string XsvfTraceName(int code);

}  // namespace devupdate::xsvf
