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
// point leaves the previous file as it was. A FIFO, device or folder of
// that name, or the update file itself, is never replaced. False on any
// failure (nothing is reported to the user; the caller just loses the
// setting).
bool WritePortSettingFile(const std::string& path, const SPortSetting& setting);

// A portable copy: a program whose folder is not the binary folder it was
// built to be installed in (both as real paths). Only a portable copy keeps
// update.cfg beside itself; an installed one, also when root runs it, keeps
// it in the user's folder alone, so that no user ever reads another's.
bool IsPortableProgram(const std::string& programDir, const std::string& installedBinDir);

// Where update.cfg is read: for a portable copy beside the program when the
// file exists there, else in the user's folder (userDir, ending in '/').
std::string PortSettingReadPath(const std::string& programDir, const std::string& userDir, bool portable);

// Where it is written: for a portable copy beside the program when that
// folder is writable, else in the user's folder, whose missing folders are
// created private (0700). Empty when neither can take it.
std::string PortSettingWritePath(const std::string& programDir, const std::string& userDir, bool portable);

// The same for this program, portable or not as it was built and placed.
std::string PortSettingReadPath(const std::string& programDir, const std::string& userDir);
std::string PortSettingWritePath(const std::string& programDir, const std::string& userDir);
