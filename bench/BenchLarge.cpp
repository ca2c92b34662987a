#include "BenchLarge.h"

#include "BenchChild.h"
#include "BenchStats.h"
#include "BenchTable.h"
#include "LargeInputs.h"

#include <algorithm>
#include <filesystem>

using namespace devupdate::devsim;
using namespace devupdate::svf;
using namespace devupdate::xsvfgen;

namespace {

constexpr auto LARGE_TIMEOUT = std::chrono::minutes(5);
constexpr uint64_t MB = 1000 * 1000;

SLargeFigures Measure(const std::string& name, const std::string& program, const std::vector<std::string>& args,
                      const std::string& input, const std::string& workDir, unsigned runs)
{
    SLargeFigures figures;
    figures.name = name;
    figures.inputMB = static_cast<double>(std::filesystem::file_size(input)) / MB;
    std::vector<double> walls;
    for (unsigned i = 0; i < runs; ++i) {
        // Standard output to a file, as "update-cli --list FILE > listing.txt" writes it.
        const SChildResult child = RunChild(program, args, workDir, LARGE_TIMEOUT, workDir + "/large-output.txt");
        walls.push_back(child.Wall().count());
        figures.peakMiB = std::max(figures.peakMiB, child.peakRssKiB / 1024.0);
        figures.status = std::max(figures.status, child.status);
        std::fprintf(stderr, "%s run %u: %.3f s, peak %.1f MiB, exit status %d\n", name.c_str(), i + 1,
                     walls.back(), child.peakRssKiB / 1024.0, child.status);
    }
    figures.wallSeconds = Median(walls);
    return figures;
}

}  // namespace

std::vector<SLargeFigures> RunLargeInputs(const std::string& binDir, const std::string& workDir, unsigned runs)
{
    const std::string svf = workDir + "/large.svf";
    const std::string xsvf = workDir + "/large-xsvf.upd";
    const std::string firmware = workDir + "/large-firmware.upd";
    WriteLargeSvf(svf, 100 * MB);
    WriteLargeXsvfUpdateFile(xsvf, 50 * MB);
    WriteLargeFirmwareUpdateFile(firmware, 200 * MB);

    std::vector<SLargeFigures> all;
    all.push_back(Measure("mkupd --svf-to-xsvf, 100 MB SVF", binDir + "mkupd",
                          {"--svf-to-xsvf", svf, workDir + "/large.xsvf"}, svf, workDir, runs));
    all.back().minMBPerSecond = 50;
    all.back().maxPeakMiB = 64;
    all.push_back(Measure("update-cli --list, 50 MB XSVF", binDir + "update-cli", {"--list", xsvf}, xsvf, workDir, runs));
    all.back().minMBPerSecond = 20;
    all.back().maxPeakMiB = 32;
    all.push_back(Measure("update-cli --check, 200 MB firmware", binDir + "update-cli", {"--check", firmware},
                          firmware, workDir, runs));
    for (const std::string& path : {svf, xsvf, firmware, workDir + "/large.xsvf", workDir + "/large-output.txt"})
        std::filesystem::remove(path);
    return all;
}

int PrintLargeReport(FILE* out, const std::vector<SLargeFigures>& figures)
{
    std::fprintf(out, "| Large input | MB | Wall s | MB/s | Peak RSS MiB | Exit |\n|---|---|---|---|---|---|\n");
    for (const SLargeFigures& f : figures) {
        // A run shorter than one memory sample shows no peak.
        char peak[32] = "(ended before a sample)";
        if (f.peakMiB > 0)
            std::snprintf(peak, sizeof peak, "%.1f", f.peakMiB);
        std::fprintf(out, "| %s | %.1f | %.3f | %.1f | %s | %d |\n", f.name.c_str(), f.inputMB, f.wallSeconds,
                     f.MBPerSecond(), peak, f.status);
    }
    std::fprintf(out, "\nLarge-input targets:\n");
    int missed = 0;
    const auto check = [&](const std::string& what, bool ok) { missed += CheckTarget(out, what, ok); };
    for (const SLargeFigures& f : figures) {
        check(f.name + ": exit status 0", f.status == 0);
        if (f.minMBPerSecond > 0)
            check(f.name + ": at least " + std::to_string(static_cast<int>(f.minMBPerSecond)) + " MB/s",
                  f.MBPerSecond() >= f.minMBPerSecond);
        if (f.maxPeakMiB > 0)
            check(f.name + ": peak at most " + std::to_string(static_cast<int>(f.maxPeakMiB)) + " MiB",
                  f.peakMiB <= f.maxPeakMiB);
    }
    return missed;
}
