// The setting file's parser: whatever the file holds, the result is either
// nothing or a port index 0..9 and a one-line file name that survives being
// written and read again.

#include "FuzzCheck.h"
#include "FuzzHarnesses.h"
#include "PortSetting.h"

#include <sstream>
#include <string>

int FuzzPortSetting(const uint8_t* data, size_t size)
{
    std::istringstream in(std::string(reinterpret_cast<const char*>(data), size));
    const std::optional<SPortSetting> setting = ParsePortSetting(in);
    if (!setting)
        return 0;
    FUZZ_CHECK(setting->portIndex >= 0 && setting->portIndex <= 9);
    FUZZ_CHECK(setting->fileName.find('\n') == std::string::npos);

    // The layout the window writes.
    std::istringstream again(setting->fileName + "\nPort=" + std::to_string(setting->portIndex) + "\n");
    const std::optional<SPortSetting> reread = ParsePortSetting(again);
    FUZZ_CHECK(reread.has_value());
    FUZZ_CHECK(reread->portIndex == setting->portIndex);
    // A name ending in CR loses it on the way back: the reader takes CR LF as a line end.
    if (setting->fileName.empty() || setting->fileName.back() != '\r')
        FUZZ_CHECK(reread->fileName == setting->fileName);
    return 0;
}
