#pragma once
// The program's texts 101..133, reached by id through LoadString. Ids that
// the table does not hold load as an empty text, as a missing string
// resource would.

#include <string>

namespace devupdate::res {

enum StringId : int {
    IDS_ABOUTBOX = 101,            // "Inf&o about Update..."
    IDS_CANCEL_WARNING = 102,
    IDS_IDLE_HINT = 103,
    IDS_WRONG_FILEFORMAT = 104,
    IDS_NO_FILE_SELECTED = 105,
    IDS_FILE_NOT_FOUND = 106,
    IDS_WRONG_VERSION = 107,
    IDS_FILE_FILTER = 108,
    IDS_NO_PORT_SELECTED = 109,
    IDS_PORT_IN_USE = 110,
    IDS_SWITCH_DEVICE = 111,
    IDS_CANCELLED_FILEFORMAT = 112,
    IDS_CRC_ERROR = 113,
    IDS_NOT_RESPONDING = 114,
    IDS_RUNNING_UPDATE = 115,
    IDS_UNSUCCESSFUL = 116,
    IDS_TARGETS_UPDATED = 117,
    IDS_CANCELLED_BY_USER = 118,
    IDS_WRONG_ANSWER = 119,
    IDS_MISSING_TARGET = 120,
    IDS_UPDATE_UNKNOWN = 121,
    IDS_CANCELLED = 122,
    IDS_XSVF_OK = 123,
    IDS_XSVF_UNKNOWN = 124,
    IDS_XSVF_TDO_MISMATCH = 125,
    IDS_XSVF_MAX_RETRIES = 126,
    IDS_XSVF_UNSUPPORTED = 127,
    IDS_XSVF_ILLEGAL_STATE = 128,
    IDS_XSVF_DATA_OVERFLOW = 129,
    IDS_XSVF_DEBUG_FILE = 130,
    IDS_XSVF_FILE_READ = 131,
    IDS_XSVF_MULTIPLE_CRC = 132,
    IDS_XSVF_READ_TDO = 133,
};

// The text of a string resource; empty when the id names none.
std::string LoadString(int id);

// printf-style formatting into a std::string ("%s", "%d" placeholders).
std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));

// The program's name and version as the window title and About box show them.
inline constexpr const char* PROGRAM_NAME = "Update";
inline constexpr const char* PROGRAM_VERSION = "V1.5";

}  // namespace devupdate::res
