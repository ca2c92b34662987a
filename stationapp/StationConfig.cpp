#include "StationConfig.h"

#include "OutputFile.h"
#include "PortName.h"
#include "ReplacementFile.h"

#include <fstream>

using namespace devupdate::link;
using namespace devupdate::update;

std::string StationConfigPath()
{
    const std::string folder = UserConfigDirectory();
    return folder.empty() ? std::string() : folder + "station.cfg";
}

SStationConfig ReadStationConfig(const std::string& path)
{
    SStationConfig config;
    // Only a regular file is read: a FIFO of that name would never answer.
    if (path.empty() || !OutputKindProblem(path, false).empty())
        return config;
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("File=", 0) == 0)
            config.file = line.substr(5);
        else if (line.rfind("Port=", 0) == 0 && line.size() > 5)
            config.ports.push_back(line.substr(5));
    }
    return config;
}

bool WriteStationConfig(const std::string& path, const SStationConfig& config, std::string& error)
{
    CRunFiles files;
    files.AddInput("the update file", config.file);
    if (error = files.AddOutput("station.cfg", path); !error.empty())
        return false;
    const std::string folder = path.substr(0, path.find_last_of('/') + 1);
    if (!folder.empty() && !MakePrivateFolders(folder, error))
        return false;
    std::string text = "File=" + config.file + "\n";
    for (const std::string& port : config.ports)
        text += "Port=" + port + "\n";
    CReplacementFile file(path);
    return file.Open(error) && file.Write(text.data(), text.size(), error) && file.Commit(error);
}
