#include "BenchSched.h"

#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <string>

namespace {

// The second field of /proc/.../schedstat: nanoseconds spent on a run queue.
bool ReadRunDelay(const std::string& path, double& seconds)
{
    FILE* f = std::fopen(path.c_str(), "r");
    if (f == nullptr)
        return false;
    unsigned long long running = 0;
    unsigned long long waiting = 0;
    const bool parsed = std::fscanf(f, "%llu %llu", &running, &waiting) == 2;
    const bool closed = std::fclose(f) == 0;
    seconds = static_cast<double>(waiting) / 1e9;
    return parsed && closed;
}

}  // namespace

std::map<pid_t, double> RunDelays(pid_t pid)
{
    const std::string folder = pid == 0 ? "/proc/self/task" : "/proc/" + std::to_string(pid) + "/task";
    std::map<pid_t, double> delays;
    DIR* dir = opendir(folder.c_str());
    if (dir == nullptr)
        return delays;
    while (const dirent* entry = readdir(dir)) {
        const long tid = std::strtol(entry->d_name, nullptr, 10);
        double seconds = 0;
        if (tid > 0 && ReadRunDelay(folder + "/" + entry->d_name + "/schedstat", seconds))
            delays[static_cast<pid_t>(tid)] = seconds;
    }
    if (closedir(dir) != 0)
        return {};
    return delays;
}

double RunDelayGrowth(const std::map<pid_t, double>& before, const std::map<pid_t, double>& now)
{
    double growth = 0;
    for (const auto& [tid, seconds] : now) {
        const auto old = before.find(tid);
        growth += old == before.end() ? seconds : seconds - old->second;
    }
    return growth;
}
