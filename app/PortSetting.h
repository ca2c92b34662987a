#pragma once
// The setting file "update.cfg": line 1 the last update
// file (may be empty), line 2 "Port=<index>" with the port list's 0-based
// selected index. Reading accepts LF or CR LF line ends and lines of any
// length; anything after line 2 is ignored.

#include <istream>
#include <optional>
#include <string>

struct SPortSetting {
    std::string fileName;
    int portIndex = 0;  // 0..9
};

// The setting held in a stream. Empty when line 1 or line 2 is missing, or
// line 2 has no "Port=" (case-sensitive, anywhere in the line) followed by a
// decimal digit; only that one digit counts ("Port=12" gives index 1).
std::optional<SPortSetting> ParsePortSetting(std::istream& in);

// The setting read from a file; empty also when the file cannot be opened.
std::optional<SPortSetting> ReadPortSettingFile(const std::string& path);

// Replaces the file atomically: the two lines go to a temporary file in the
// same folder, which is then renamed over the old one, so a failure at any
// point leaves the previous file as it was. False on any failure (nothing
// is reported to the user; the caller just loses the setting).
bool WritePortSettingFile(const std::string& path, const SPortSetting& setting);

// Where update.cfg is read: beside the program when the file exists there
// (portable use), else in the user's folder (userDir, ending in '/').
std::string PortSettingReadPath(const std::string& programDir, const std::string& userDir);

// Where it is written: beside the program when that folder is writable,
// else in the user's folder, whose missing folders are created private
// (0700). Empty when neither can take it.
std::string PortSettingWritePath(const std::string& programDir, const std::string& userDir);
