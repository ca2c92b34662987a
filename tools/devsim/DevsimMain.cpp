// devsim: the simulated device as a program. Creates a pseudo-terminal,
// links its slave at --link PATH, prints the slave path and serves until the
// wanted number of sessions ended with 0xA2, the device vanished, or
// SIGINT/SIGTERM arrived.

#include "Devsim.h"
#include "CommandLine.h"
#include "OutputFile.h"
#include "ProgramStart.h"
#include "StringTable.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <memory>
#include <sstream>
#include <string>

#include <CLI/CLI.hpp>

using namespace devupdate;
using namespace devupdate::link;
using namespace devupdate::res;
using namespace devupdate::devsim;
using namespace devupdate::svf;

namespace {

const char* Name()
{
    static const std::string name = ProgramName("devsim");
    return name.c_str();
}

// ParseOptions' results besides an exit status.
constexpr int SHOW_USAGE = -1;
constexpr int SHOW_VERSION = -2;

const char USAGE[] =
    "Usage: %s --link PATH [options]\n"
    "Simulated device for the update tool, on a pseudo-terminal.\n"
    "\n"
    "  --link PATH             symbolic link to the slave side (e.g. bin/ports/com1)\n"
    "  --power-on-delay MS     silent for MS milliseconds after start (default 0)\n"
    "  --power-on-wakeups N    ignore the first N wake-up bytes (default 0)\n"
    "  --extra-acks N          0x11 bytes before 0x88 after the start byte (default 0)\n"
    "  --busy N                busy bytes before acknowledging a block (default 0)\n"
    "  --block-crc             check the CRC-16 in the last 2 bytes of every block\n"
    "  --baud N                pace the line at N baud, 10 bits a byte; 0: none (default)\n"
    "  --real-delays           really wait for delay frames (one busy byte per 100 ms)\n"
    "  --refuse LIST           refuse these target numbers (comma separated)\n"
    "  --fault SPEC            PHASE:NTH[:TIMES]:ACTION[=ARG], repeatable, e.g.\n"
    "                          shift:3:replace=99  block:2:3:reject  frame:10:0:silent\n"
    "  --runs N                serve N sessions, then exit (default 1; 0: until a signal)\n"
    "  --log FILE              write the traffic log to FILE at exit\n"
    "  --flash FILE            write the model part's flash (512 bytes) to FILE at exit\n"
    "  --images DIR            write every received image to DIR/target_NNN.bin at exit\n"
    "  --svf FILE              SVF expectation mode: the JTAG target answers what FILE\n"
    "                          expects and checks every scan; the result is printed at\n"
    "                          exit, and a mismatch makes the exit status 3\n"
    "  --help                  this text\n"
    "  --version               the program's name and version\n";

bool ParseUnsigned(const char* text, unsigned& value)
{
    char* end = nullptr;
    errno = 0;
    const unsigned long v = std::strtoul(text, &end, 0);
    if (errno != 0 || end == text || *end != '\0' || v > 0xFFFFFFFFul)
        return false;
    value = static_cast<unsigned>(v);
    return true;
}

bool ParseTargets(const char* text, std::set<uint8_t>& targets)
{
    std::stringstream in(text);
    std::string item;
    while (std::getline(in, item, ',')) {
        unsigned v = 0;
        if (!ParseUnsigned(item.c_str(), v) || v > 255)
            return false;
        targets.insert(static_cast<uint8_t>(v));
    }
    return true;
}

struct SOptions {
    SDevsimConfig config;
    unsigned runs = 1;
    std::string log;
    std::string flash;
    std::string images;
    std::string svf;
};

// Reads the SVF file into the configuration; false (with a message) when it
// cannot be read.
bool LoadSvf(const std::string& path, SDevsimConfig& config)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "%s: cannot open %s: %s\n", Name(), path.c_str(), std::strerror(errno));
        return false;
    }
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    try {
        config.svfScans = std::make_shared<const std::vector<SSvfScan>>(SvfScans(ReadSvf(text)));
    } catch (const CSvfError& error) {
        std::fprintf(stderr, "%s: %s: %s\n", Name(), path.c_str(), error.what());
        return false;
    }
    return true;
}

// Returns 0 when parsed, 2 on a usage error, SHOW_USAGE or SHOW_VERSION.
int ParseOptions(int argc, char** argv, SOptions& o)
{
    CLI::App app;
    app.set_help_flag();
    const CLI::Option* help = app.add_flag("--help");
    const CLI::Option* version = app.add_flag("--version");
    // Numbers are read here, to say which option a bad one was given to.
    std::map<const CLI::Option*, std::function<bool(const std::string&)>> readers;
    auto number = [&](const char* name, unsigned& out) {
        readers.emplace(app.add_option(name),
                        [&out](const std::string& text) { return ParseUnsigned(text.c_str(), out); });
    };
    unsigned powerOnDelayMs = 0;
    app.add_option("--link", o.config.linkPath);
    number("--power-on-delay", powerOnDelayMs);
    number("--power-on-wakeups", o.config.powerOnAfterWakeups);
    number("--extra-acks", o.config.extraAcks);
    number("--busy", o.config.busyPerBlock);
    app.add_flag("--block-crc", o.config.blockCrc);
    number("--baud", o.config.baud);
    app.add_flag("--real-delays", o.config.realDelays);
    readers.emplace(app.add_option("--refuse"), [&](const std::string& text) {
        return ParseTargets(text.c_str(), o.config.refusedTargets);
    });
    number("--runs", o.runs);
    app.add_option("--log", o.log);
    app.add_option("--flash", o.flash);
    app.add_option("--images", o.images);
    app.add_option("--svf", o.svf);
    std::vector<std::string> faults;
    app.add_option("--fault", faults)->allow_extra_args(false)->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
    std::string error;
    const bool parsed = ParseProgramOptions(app, argc, argv, error);
    if (help->count() > 0)
        return SHOW_USAGE;
    if (version->count() > 0)
        return SHOW_VERSION;
    if (!parsed) {
        std::fprintf(stderr, "%s: %s\n", Name(), error.c_str());
        return 2;
    }
    auto badValue = [](const std::string& text, const std::string& option) {
        std::fprintf(stderr, "%s: bad value '%s' for %s\n", Name(), text.c_str(), option.c_str());
        return 2;
    };
    for (const auto& [option, read] : readers) {
        if (option->count() > 0 && !read(option->results().front()))
            return badValue(option->results().front(), option->get_name());
    }
    o.config.powerOnDelay = std::chrono::milliseconds(powerOnDelayMs);
    for (const std::string& fault : faults) {
        const std::optional<SFaultRule> rule = ParseFaultRule(fault);
        if (!rule)
            return badValue(fault, "--fault");
        o.config.faults.push_back(*rule);
    }
    if (o.config.linkPath.empty()) {
        std::fprintf(stderr, "%s: --link PATH is required (see --help)\n", Name());
        return 2;
    }
    return 0;
}

// Blocks until enough sessions ended, the device vanished or a signal came.
void Serve(const CDevsim& device, unsigned runs, const sigset_t& signals)
{
    const timespec tick{0, 50'000'000};
    for (;;) {
        const int sig = sigtimedwait(&signals, nullptr, &tick);
        if (sig > 0)
            return;
        if (sig < 0 && errno != EAGAIN && errno != EINTR) {
            std::fprintf(stderr, "%s: sigtimedwait: %s\n", Name(), std::strerror(errno));
            return;
        }
        if ((runs > 0 && device.SessionsEnded() >= runs) || device.IsVanished())
            return;
    }
}

bool WriteImages(const CDevsim& device, const std::string& folder)
{
    bool ok = true;
    for (const auto& [target, image] : device.Images()) {
        char name[32];
        std::snprintf(name, sizeof name, "/target_%03u.bin", target);
        std::string error;
        FILE* f = OpenOutputStream(folder + name, error);
        if (!f) {
            ok = false;
            continue;
        }
        ok = std::fwrite(image.data(), 1, image.size(), f) == image.size() && ok;
        ok = std::fclose(f) == 0 && ok;
    }
    return ok;
}

}  // namespace

int main(int argc, char** argv)
{
    (void)PrepareProgramStart();
    NameProgramFromExecutable();
    SOptions o;
    const int parsed = ParseOptions(argc, argv, o);
    if (parsed == SHOW_USAGE) {
        std::printf(USAGE, Name());
        return 0;
    }
    if (parsed == SHOW_VERSION) {
        std::printf("%s %s\n", Name(), res::PROGRAM_VERSION);
        return 0;
    }
    if (parsed != 0)
        return parsed;
    if (!o.svf.empty() && !LoadSvf(o.svf, o.config))
        return 2;

    // Block the signals before the device's thread starts, so only sigtimedwait sees them.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGHUP);
    if (pthread_sigmask(SIG_BLOCK, &signals, nullptr) != 0) {
        std::fprintf(stderr, "%s: pthread_sigmask failed\n", Name());
        return 1;
    }

    CDevsim device(o.config);
    try {
        device.Start();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s: %s\n", Name(), e.what());
        return 1;
    }
    std::printf("%s\n", device.SlavePath().c_str());
    std::fflush(stdout);

    Serve(device, o.runs, signals);
    device.Stop();

    int status = 0;
    const auto report = [&status](const std::string& path, const std::string& problem) {
        if (problem.empty())
            return;
        std::fprintf(stderr, "%s: cannot write %s: %s\n", Name(), path.c_str(), problem.c_str());
        status = 1;
    };
    if (!o.log.empty())
        report(o.log, device.WriteTrafficLog(o.log));
    if (!o.flash.empty())
        report(o.flash, device.WriteFlash(o.flash));
    if (!o.images.empty() && !WriteImages(device, o.images)) {
        std::fprintf(stderr, "%s: cannot write the images to %s\n", Name(), o.images.c_str());
        status = 1;
    }
    if (!o.svf.empty()) {
        const SSvfCheck check = device.SvfCheck();
        std::printf("SVF: %zu of %zu scans matched\n", check.matched, check.expected);
        if (!check.Passed()) {
            std::printf("SVF: %s\n", check.firstMismatch.c_str());
            status = status != 0 ? status : 3;
        }
    }
    return status;
}
