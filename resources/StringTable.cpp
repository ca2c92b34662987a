#include "StringTable.h"

#include <cstdarg>
#include <cstdio>
#include <vector>

namespace devupdate::res {

namespace {

struct StringEntry {
    int id;
    const char* text;
};

constexpr StringEntry kStrings[] = {
    {IDS_ABOUTBOX, "Inf&o about Update..."},
    {IDS_CANCEL_WARNING,
     "If you cancel the software upgrade the device may not be operable.\n\n"
     "In this case you will have to do the software upgrade later on.\n\n"
     "Do you really want to cancel the software upgrade ?"},
    {IDS_IDLE_HINT,
     "Connect device, select com port and update file then press update button and switch device on."},
    {IDS_WRONG_FILEFORMAT, "Error: wrong Fileformat in %s.\n"},
    {IDS_NO_FILE_SELECTED, "No file selected, select file !"},
    {IDS_FILE_NOT_FOUND, "Error: File '%s' not found.\n"},
    {IDS_WRONG_VERSION, "Error: %s is wrong version of update file\n%s.\nExpected version %s !"},
    {IDS_FILE_FILTER, "Updatefiles (*.upd)|*.upd|all files (*.*)|*.*||"},
    {IDS_NO_PORT_SELECTED, "No com port selected, select com port !"},
    {IDS_PORT_IN_USE, "Error: %s in use or does not exist.\n"},
    {IDS_SWITCH_DEVICE, "Connect device, switch device off then on"},
    {IDS_CANCELLED_FILEFORMAT, "Update cancelled - wrong fileformat in %s."},
    {IDS_CRC_ERROR, "CRC error. File possibly damaged."},
    {IDS_NOT_RESPONDING, "Failed: Target is not responding"},
    {IDS_RUNNING_UPDATE, "running update"},
    {IDS_UNSUCCESSFUL, "unsuccessful"},
    {IDS_TARGETS_UPDATED, "%d of %d targets updated successfully."},
    {IDS_CANCELLED_BY_USER, "Update cancelled by user"},
    {IDS_WRONG_ANSWER, "Wrong answer. Update cancelled."},
    {IDS_MISSING_TARGET, "missing target"},
    {IDS_UPDATE_UNKNOWN, "update unknown"},
    {IDS_CANCELLED, "cancelled"},
    {IDS_XSVF_OK, "ok"},
    {IDS_XSVF_UNKNOWN, "unknown error"},
    {IDS_XSVF_TDO_MISMATCH, "TDO mismatch"},
    {IDS_XSVF_MAX_RETRIES, "TDO mismatch and exceeded max retries"},
    {IDS_XSVF_UNSUPPORTED, "Unsupported XSVF command"},
    {IDS_XSVF_ILLEGAL_STATE, "Illegal state specification"},
    {IDS_XSVF_DATA_OVERFLOW, "data overflow"},
    {IDS_XSVF_DEBUG_FILE, "debug file error"},
    {IDS_XSVF_FILE_READ, "file read error"},
    {IDS_XSVF_MULTIPLE_CRC, "multiple crc error"},
    {IDS_XSVF_READ_TDO, "parameter error in function ReadTdoBitsequenz"},
};

}  // namespace

std::string LoadString(int id)
{
    for (const StringEntry& entry : kStrings) {
        if (entry.id == id)
            return entry.text;
    }
    return {};
}

std::string Format(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    va_list sizing;
    va_copy(sizing, args);
    const int length = std::vsnprintf(nullptr, 0, format, sizing);
    va_end(sizing);
    std::string text;
    if (length > 0) {
        std::vector<char> buffer(static_cast<size_t>(length) + 1);
        std::vsnprintf(buffer.data(), buffer.size(), format, args);
        text.assign(buffer.data(), static_cast<size_t>(length));
    }
    va_end(args);
    return text;
}

}  // namespace devupdate::res
