#include "FileDialogRules.h"

#include <sys/stat.h>

namespace {

constexpr char kPattern[] = "*.upd";

}  // namespace

SInitialBrowseName InitialBrowseName(const std::string& fileName, const std::string& programDir)
{
    if (fileName.empty())
        return {programDir + kPattern, fileName};
    if (fileName.back() != '/')
        return {fileName, fileName};
    std::string folder = fileName;
    while (!folder.empty() && folder.back() == '/')
        folder.pop_back();
    folder += std::string("/") + kPattern;
    return {folder, folder};
}

std::string ConvertFileFilter(const std::string& filter)
{
    std::string result;
    size_t start = 0;
    bool isText = true;
    while (start <= filter.size()) {
        size_t end = filter.find('|', start);
        if (end == std::string::npos)
            end = filter.size();
        const std::string field = filter.substr(start, end - start);
        if (isText) {
            if (field.empty())
                break;  // the empty pair ends the list
            if (!result.empty())
                result += ";;";
            result += field;
        }
        isText = !isText;
        start = end + 1;
    }
    return result;
}

bool InitialFolderExists(const std::string& initialName)
{
    const size_t slash = initialName.rfind('/');
    if (slash == std::string::npos)
        return true;
    const std::string folder = slash == 0 ? std::string("/") : initialName.substr(0, slash);
    struct stat info {};
    return stat(folder.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}
