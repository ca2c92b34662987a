// mkupd: writes update files from target descriptions, so that nobody has to
// hand-edit hexadecimal text.

#include "ProgramStart.h"
#include "ReplacementFile.h"
#include "SampleUpdateFile.h"
#include "StringTable.h"
#include "SpoolingInput.h"
#include "SvfToXsvf.h"
#include "UpdateFileWriter.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const char* const USAGE =
    "usage: mkupd -o OUT.upd [--file-version V1.00|V1.01] [--header-count N] [--xrepeat N] TARGET...\n"
    "       mkupd --sample OUT.upd\n"
    "       mkupd --svf-to-xsvf IN.svf OUT.xsvf [--xrepeat N]\n"
    "       mkupd --help | --version\n"
    "  TARGET: --target NUMBER --name NAME --type firmware|xsvf|svf|HHHH --data FILE\n"
    "          [--block-size N] [--block-crc] [--as-is] [--packed]\n"
    "\n"
    "  -o, --output OUT.upd  write the update file to OUT.upd\n"
    "  --file-version V  V1.00 (plain firmware only, as hexadecimal text) or V1.01\n"
    "                    (raw bytes, every type, packing allowed; the default)\n"
    "  --target N        the device's target number (1..255); starts a target\n"
    "  --name NAME       the name shown in the run display\n"
    "  --type T          firmware (FEFF), xsvf (FF00), svf (an SVF file, stored as\n"
    "                    the equivalent XSVF stream) or any 4-digit hexadecimal type\n"
    "  --data FILE       the target's data: a raw firmware image, an XSVF stream, ...\n"
    "  --block-size N    firmware: payload bytes per block, 1..998 (default 998)\n"
    "  --block-crc       firmware: end every block with the CRC-16 of its image bytes\n"
    "  --as-is           store the data unchanged (firmware already cut into blocks)\n"
    "  --packed          store the data packed (V1.01 only)\n"
    "  --header-count N  write N as the header's target count (default: the targets)\n"
    "  --xrepeat N       SVF conversions: extra attempts of a failing checked data\n"
    "                    scan, 0..255 (default 0)\n"
    "  --sample OUT.upd  write the bundled sample update file\n"
    "  --svf-to-xsvf IN.svf OUT.xsvf\n"
    "                    convert an SVF file to an XSVF stream, nothing else\n"
    "  -h, --help        print this text\n"
    "  --version         print the program's name and version\n";

struct STargetOptions {
    upd::SUpdateTarget target;
    std::string dataPath;
    unsigned blockSize = MAX_BLOCK_PAYLOAD;
    bool blockCrc = false;
    bool asIs = false;
};

// The type word "svf": stored as an XSVF target.
constexpr unsigned TYPE_SVF = 0x10000;

[[noreturn]] void Fail(const std::string& text)
{
    std::cerr << "mkupd: " << text << "\n";
    std::exit(2);
}

// A regular file's bytes; a folder, a device or anything unreadable is refused.
std::vector<uint8_t> ReadFileBytes(const std::string& path)
{
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        Fail("cannot open " + path + ": " + std::strerror(errno));
    auto failClosing = [&](const std::string& text) {
        const int saved = errno;
        (void)close(fd);
        errno = saved;
        Fail(text);
    };
    struct stat info {};
    if (fstat(fd, &info) != 0)
        failClosing("fstat " + path + ": " + std::strerror(errno));
    if (!S_ISREG(info.st_mode))
        failClosing(path + " is not a regular file");
    // A record's length field has 8 hexadecimal digits.
    if (static_cast<uint64_t>(info.st_size) > 0xFFFFFFFFu)
        failClosing(path + " is larger than a record can hold");
    std::vector<uint8_t> bytes;
    uint8_t buffer[65536];
    for (;;) {
        const ssize_t got = read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            failClosing("read " + path + ": " + std::strerror(errno));
        if (got == 0)
            break;
        bytes.insert(bytes.end(), buffer, buffer + got);
        if (bytes.size() > 0xFFFFFFFFu)
            failClosing(path + " is larger than a record can hold");
    }
    if (close(fd) != 0)
        Fail("close " + path + ": " + std::strerror(errno));
    return bytes;
}

unsigned ParseNumber(const std::string& text, int base, const char* what)
{
    char* end = nullptr;
    errno = 0;
    const unsigned long value = std::strtoul(text.c_str(), &end, base);
    if (text.empty() || *end != '\0' || errno != 0 || value > 0xFFFFFFFFul)
        Fail(std::string("bad ") + what + ": " + text);
    return static_cast<unsigned>(value);
}

unsigned ParseType(const std::string& text)
{
    if (text == "firmware")
        return upd::TYPE_FIRMWARE;
    if (text == "xsvf")
        return upd::TYPE_XSVF;
    if (text == "svf")
        return TYPE_SVF;
    if (text.size() != 4)
        Fail("bad type (firmware, xsvf, svf or 4 hexadecimal digits): " + text);
    return ParseNumber(text, 16, "type");
}

void PrintSvfStatistics(const std::string& path, const SSvfStatistics& statistics, const SSvfNotes& notes)
{
    std::cout << path << ": " << FormatSvfStatistics(statistics) << "\n";
    for (const std::string& note : notes.first)
        std::cout << path << ": " << note << "\n";
    if (notes.count > notes.first.size())
        std::cout << path << ": ... and " << notes.count - notes.first.size() << " more notes\n";
}

constexpr size_t SHOWN_NOTES = 5;

// Converts an SVF file as it reads it, passing the stream to `out`, and
// prints the statistics. The error text when the file is refused or cannot
// be read, else empty.
std::string ConvertSvfFile(const std::string& path, const SSvfOptions& svfOptions, const XsvfSink& out)
{
    // A pipe (or anything else that cannot seek) is read through a copy.
    struct stat info {};
    const bool regular = stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
    std::ifstream file;
    CSpoolingInput stream;
    std::istream& in = regular ? static_cast<std::istream&>(file) : stream;
    if (regular) {
        file.open(path, std::ios::binary);
        if (!file)
            return "cannot open " + path + ": " + std::strerror(errno);
    } else if (std::string error; !stream.Open(path, error)) {
        return error;
    }
    try {
        SSvfNotes notes;
        const SSvfStatistics statistics = ConvertSvfStream(in, out, svfOptions, notes, SHOWN_NOTES);
        if (!stream.Error().empty())
            return path + ": " + stream.Error();
        if (in.bad())
            return "cannot read " + path;
        PrintSvfStatistics(path, statistics, notes);
        return {};
    } catch (const std::runtime_error& error) {  // CSvfError names the line; a write error the file
        return path + ": " + (stream.Error().empty() ? std::string(error.what()) : stream.Error());
    }
}

// The XSVF stream of an SVF target, held for the update file.
std::vector<uint8_t> ConvertSvfTarget(const std::string& path, const SSvfOptions& svfOptions)
{
    std::vector<uint8_t> xsvf;
    const std::string error = ConvertSvfFile(path, svfOptions, [&](const uint8_t* data, size_t size) {
        xsvf.insert(xsvf.end(), data, data + size);
    });
    if (!error.empty())
        Fail(error);
    return xsvf;
}

// The XSVF stream written to `outPath` as it is converted; the file is
// replaced only when the conversion is complete.
void ConvertSvfToFile(const std::string& inPath, const std::string& outPath, const SSvfOptions& svfOptions)
{
    std::string error;
    {
        CReplacementFile out(outPath);
        if (out.Open(error)) {
            std::string writeError;
            error = ConvertSvfFile(inPath, svfOptions, [&](const uint8_t* data, size_t size) {
                if (!out.Write(data, size, writeError))
                    throw std::runtime_error(writeError);
            });
            if (error.empty())
                out.Commit(error);
        }
    }
    if (!error.empty())
        Fail(error);
}

void WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out)
        Fail("cannot write " + path);
}

upd::SUpdateTarget BuildTarget(const STargetOptions& options, const SSvfOptions& svfOptions)
{
    if (options.dataPath.empty())
        Fail("target " + std::to_string(options.target.number) + " has no --data");
    upd::SUpdateTarget target = options.target;
    if (target.type == TYPE_SVF) {
        target.type = upd::TYPE_XSVF;
        target.data = ConvertSvfTarget(options.dataPath, svfOptions);
        return target;
    }
    const std::vector<uint8_t> data = ReadFileBytes(options.dataPath);
    try {
        target.data = (target.type == upd::TYPE_FIRMWARE && !options.asIs)
                          ? upd::MakeFirmwareBlocks(data, options.blockSize, options.blockCrc)
                          : data;
    } catch (const upd::CWriteError& error) {
        Fail(error.what());
    }
    return target;
}

}  // namespace

int main(int argc, char** argv)
{
    (void)PrepareProgramStart();
    upd::SUpdateFile file;
    std::string outPath;
    std::vector<STargetOptions> targets;
    bool sample = false;
    SSvfOptions svfOptions;
    std::string svfIn, xsvfOut;
    auto current = [&]() -> STargetOptions& {
        if (targets.empty())
            Fail("target options must follow --target");
        return targets.back();
    };
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc)
                Fail(arg + " needs a value");
            return argv[++i];
        };
        if (arg == "--help" || arg == "-h") {
            std::cout << USAGE;
            return 0;
        } else if (arg == "--version") {
            std::cout << "mkupd " << res::PROGRAM_VERSION << "\n";
            return 0;
        } else if (arg == "--sample") {
            sample = true;
            outPath = value();
        } else if (arg == "--svf-to-xsvf") {
            svfIn = value();
            xsvfOut = value();
        } else if (arg == "--xrepeat") {
            const unsigned repeat = ParseNumber(value(), 10, "retry count");
            if (repeat > 255)
                Fail("the retry count must be 0..255");
            svfOptions.repeat = static_cast<uint8_t>(repeat);
        } else if (arg == "-o" || arg == "--output") {
            outPath = value();
        } else if (arg == "--file-version") {
            const std::string version = value();
            if (version == "V1.00")
                file.version = upd::FileVersion::V1_00;
            else if (version == "V1.01")
                file.version = upd::FileVersion::V1_01;
            else
                Fail("file version must be V1.00 or V1.01");
        } else if (arg == "--header-count") {
            file.headerCount = static_cast<int>(ParseNumber(value(), 10, "header count"));
        } else if (arg == "--target") {
            targets.emplace_back();
            targets.back().target.number = ParseNumber(value(), 10, "target number");
        } else if (arg == "--name") {
            current().target.name = value();
        } else if (arg == "--type") {
            current().target.type = ParseType(value());
        } else if (arg == "--data") {
            current().dataPath = value();
        } else if (arg == "--block-size") {
            current().blockSize = ParseNumber(value(), 10, "block size");
        } else if (arg == "--block-crc") {
            current().blockCrc = true;
        } else if (arg == "--as-is") {
            current().asIs = true;
        } else if (arg == "--packed") {
            current().target.packed = true;
        } else {
            std::cerr << USAGE;
            Fail("unknown argument " + arg);
        }
    }
    if (!svfIn.empty()) {
        if (!outPath.empty() || !targets.empty())
            Fail("--svf-to-xsvf takes no other output or targets");
        ConvertSvfToFile(svfIn, xsvfOut, svfOptions);
        return 0;
    }
    if (outPath.empty())
        Fail("no output file (-o)");

    for (const STargetOptions& options : targets)
        file.targets.push_back(BuildTarget(options, svfOptions));
    std::vector<uint8_t> bytes;
    try {
        if (!sample)
            upd::CheckReadable(file);
        bytes = sample ? MakeSampleUpdateFile() : upd::WriteUpdateFile(file);
    } catch (const upd::CWriteError& error) {
        Fail(error.what());
    }
    WriteFileBytes(outPath, bytes);
    return 0;
}
