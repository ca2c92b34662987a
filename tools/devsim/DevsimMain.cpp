// devsim: the simulated device as a program. Creates a pseudo-terminal,
// links its slave at --link PATH, prints the slave path and serves until the
// wanted number of sessions ended with 0xA2, the device vanished, or
// SIGINT/SIGTERM arrived.

#include "Devsim.h"
#include "ProgramStart.h"
#include "StringTable.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <getopt.h>
#include <iterator>
#include <memory>
#include <sstream>
#include <string>

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

// Returns 0 when parsed, 2 on a usage error, -1 for --help.
int ParseOptions(int argc, char** argv, SOptions& o)
{
    enum { LINK = 1, DELAY, WAKEUPS, EXTRA, BUSY, CRC, BAUD, REAL, REFUSE, FAULT, RUNS, LOG,
           FLASH, IMAGES, SVF, HELP, VERSION };
    static const option LONG[] = {
        {"link", required_argument, nullptr, LINK},
        {"power-on-delay", required_argument, nullptr, DELAY},
        {"power-on-wakeups", required_argument, nullptr, WAKEUPS},
        {"extra-acks", required_argument, nullptr, EXTRA},
        {"busy", required_argument, nullptr, BUSY},
        {"block-crc", no_argument, nullptr, CRC},
        {"baud", required_argument, nullptr, BAUD},
        {"real-delays", no_argument, nullptr, REAL},
        {"refuse", required_argument, nullptr, REFUSE},
        {"fault", required_argument, nullptr, FAULT},
        {"runs", required_argument, nullptr, RUNS},
        {"log", required_argument, nullptr, LOG},
        {"flash", required_argument, nullptr, FLASH},
        {"images", required_argument, nullptr, IMAGES},
        {"svf", required_argument, nullptr, SVF},
        {"help", no_argument, nullptr, HELP},
        {"version", no_argument, nullptr, VERSION},
        {nullptr, 0, nullptr, 0},
    };
    int c;
    unsigned v = 0;
    while ((c = getopt_long(argc, argv, "", LONG, nullptr)) != -1) {
        bool ok = true;
        switch (c) {
        case LINK: o.config.linkPath = optarg; break;
        case DELAY:
            ok = ParseUnsigned(optarg, v);
            o.config.powerOnDelay = std::chrono::milliseconds(v);
            break;
        case WAKEUPS: ok = ParseUnsigned(optarg, o.config.powerOnAfterWakeups); break;
        case EXTRA: ok = ParseUnsigned(optarg, o.config.extraAcks); break;
        case BUSY: ok = ParseUnsigned(optarg, o.config.busyPerBlock); break;
        case CRC: o.config.blockCrc = true; break;
        case BAUD: ok = ParseUnsigned(optarg, o.config.baud); break;
        case REAL: o.config.realDelays = true; break;
        case REFUSE: ok = ParseTargets(optarg, o.config.refusedTargets); break;
        case FAULT: {
            const auto rule = ParseFaultRule(optarg);
            ok = rule.has_value();
            if (rule)
                o.config.faults.push_back(*rule);
            break;
        }
        case RUNS: ok = ParseUnsigned(optarg, o.runs); break;
        case LOG: o.log = optarg; break;
        case FLASH: o.flash = optarg; break;
        case IMAGES: o.images = optarg; break;
        case SVF: o.svf = optarg; break;
        case HELP: return SHOW_USAGE;
        case VERSION: return SHOW_VERSION;
        default: return 2;
        }
        if (!ok) {
            std::fprintf(stderr, "%s: bad value '%s'\n", Name(), optarg);
            return 2;
        }
    }
    if (optind != argc || o.config.linkPath.empty()) {
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
        FILE* f = std::fopen((folder + name).c_str(), "wb");
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
    if (!o.log.empty() && !device.WriteTrafficLog(o.log)) {
        std::fprintf(stderr, "%s: cannot write %s: %s\n", Name(), o.log.c_str(), std::strerror(errno));
        status = 1;
    }
    if (!o.flash.empty() && !device.WriteFlash(o.flash)) {
        std::fprintf(stderr, "%s: cannot write %s: %s\n", Name(), o.flash.c_str(), std::strerror(errno));
        status = 1;
    }
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
