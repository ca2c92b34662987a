// Names and texts of the player: command names, result texts, trace names.
#include "XsvfCommands.h"
#include "XsvfInfo.h"
#include "XsvfPlayer.h"

#include "StringTable.h"

#include <cstring>

using namespace devupdate::res;

namespace devupdate::xsvf {

namespace {

constexpr const char* COMMAND_NAMES[XSVF_COMMAND_COUNT] = {
    "XCOMPLETE", "XTDOMASK",  "XSIR",     "XSDR",         "XRUNTEST", "Reserved5",
    "Reserved6", "XREPEAT",   "XSDRSIZE", "XSDRTDO",      "XSETSDRMASKS", "XSDRINC",
    "XSDRB",     "XSDRC",     "XSDRE",    "XSDRTDOB",     "XSDRTDOC", "XSDRTDOE",
    "XSTATE",    "XENDIR",    "XENDDR",   "XSIR2",        "XCOMMENT", "XWAIT",
};

constexpr const char* TRACE_NAMES[] = {
    "No error",
    "ERROR:  Unknown",
    "ERROR:  TDO mismatch",
    "ERROR:  TDO mismatch and exceeded max retries",
    "ERROR:  Unsupported XSVF command",
    "ERROR:  Illegal state specification",
    "ERROR:  Data overflows allocated MAX_LEN buffer size",
};

constexpr int STATUS_TEXT_IDS[] = {
    res::IDS_XSVF_OK,           res::IDS_XSVF_UNKNOWN,       res::IDS_XSVF_TDO_MISMATCH,
    res::IDS_XSVF_MAX_RETRIES,  res::IDS_XSVF_UNSUPPORTED,   res::IDS_XSVF_ILLEGAL_STATE,
    res::IDS_XSVF_DATA_OVERFLOW, res::IDS_CANCELLED_BY_USER, res::IDS_XSVF_DEBUG_FILE,
    res::IDS_XSVF_FILE_READ,    res::IDS_NOT_RESPONDING,     res::IDS_NOT_RESPONDING,
    res::IDS_XSVF_MULTIPLE_CRC, res::IDS_XSVF_READ_TDO,
};

constexpr int LAST_CODE = XSVF_ERROR_READTDO;

}  // namespace

const char* XsvfCommandName(unsigned code)
{
    return code < XSVF_COMMAND_COUNT ? COMMAND_NAMES[code] : "Unknown";
}

void InitXsvfInfo(SXsvfInfo& info)
{
    std::memset(&info, 0, sizeof info);
    info.endIrState = 1;  // RUNTEST/IDLE
    info.endDrState = 1;
}

std::string XsvfErrorText(int code)
{
    if (code < 0 || code > LAST_CODE)
        return res::LoadString(res::IDS_XSVF_UNKNOWN);
    return res::LoadString(STATUS_TEXT_IDS[code]);
}

std::string XsvfTraceName(int code)
{
    if (code >= XSVF_SUCCESS && code <= XSVF_ERROR_DATAOVERFLOW)
        return TRACE_NAMES[code];
    // Link, file and cancel endings are named by their status text.
    if (code >= XSVF_CANCELLED && code <= LAST_CODE)
        return XsvfErrorText(code);
    return TRACE_NAMES[XSVF_ERROR_UNKNOWN];
}

}  // namespace devupdate::xsvf
