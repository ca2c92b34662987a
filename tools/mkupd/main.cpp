// mkupd: writes update files from target descriptions, so that nobody has to
// hand-edit hexadecimal text.

#include "CommandLine.h"
#include "Minisign.h"
#include "OutputFile.h"
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
#include <ctime>
#include <fstream>
#include <iostream>
#include <iterator>
#include <map>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <CLI/CLI.hpp>

using namespace devupdate;
using namespace devupdate::link;
using namespace devupdate::res;
using namespace devupdate::update;
using namespace devupdate::svf;
using namespace devupdate::mkupd;

namespace {

const char* const USAGE =
    "usage: mkupd -o OUT.upd [--file-version V1.00|V1.01] [--header-count N] [--xrepeat N]\n"
    "             [--sign SECRET_KEY [--trusted-comment TEXT]] TARGET...\n"
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
    "  --sign SECRET_KEY also write OUT.upd.minisig, signed with this minisign secret\n"
    "                    key (one made without a password)\n"
    "  --trusted-comment TEXT\n"
    "                    with --sign: the signature's trusted comment (default:\n"
    "                    timestamp:SECONDS<TAB>file:NAME<TAB>hashed)\n"
    "  --sample OUT.upd  write the bundled sample update file\n"
    "  --svf-to-xsvf IN.svf OUT.xsvf\n"
    "                    convert an SVF file to an XSVF stream, nothing else\n"
    "  -h, --help        print this text\n"
    "  --version         print the program's name and version\n";

struct STargetOptions {
    SUpdateTarget target;
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
        return TYPE_FIRMWARE;
    if (text == "xsvf")
        return TYPE_XSVF;
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
    // A FIFO would hold mkupd until someone reads, a device would take the bytes.
    const std::string kind = OutputKindProblem(path, false);
    if (!kind.empty() && kind != "a folder")
        Fail("cannot write " + path + ": " + kind);
    std::string error;
    const int fd = OpenOutputFile(path, O_CREAT | O_TRUNC, 0666, error);
    if (fd < 0)
        Fail("cannot write " + path);
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            (void)close(fd);  // the write failed already
            Fail("cannot write " + path);
        }
        done += static_cast<size_t>(n);
    }
    if (close(fd) != 0)
        Fail("cannot write " + path);
}

// No output may be one of the inputs or the other output.
void CheckOutputs(const std::vector<std::pair<std::string, std::string>>& inputs, const std::string& outPath)
{
    CRunFiles files;
    for (const auto& [role, path] : inputs)
        files.AddInput(role, path);
    if (std::string clash = files.AddOutput("the output", outPath); !clash.empty())
        Fail(clash);
}

SUpdateTarget BuildTarget(const STargetOptions& options, const SSvfOptions& svfOptions)
{
    if (options.dataPath.empty())
        Fail("target " + std::to_string(options.target.number) + " has no --data");
    SUpdateTarget target = options.target;
    if (target.type == TYPE_SVF) {
        target.type = TYPE_XSVF;
        target.data = ConvertSvfTarget(options.dataPath, svfOptions);
        return target;
    }
    const std::vector<uint8_t> data = ReadFileBytes(options.dataPath);
    try {
        target.data = (target.type == TYPE_FIRMWARE && !options.asIs)
                          ? MakeFirmwareBlocks(data, options.blockSize, options.blockCrc)
                          : data;
    } catch (const CWriteError& error) {
        Fail(error.what());
    }
    return target;
}

SMinisignSecretKey ReadSecretKey(const std::string& path)
{
    const std::vector<uint8_t> bytes = ReadFileBytes(path);
    std::string error;
    const std::optional<SMinisignSecretKey> key = ParseSecretKey(std::string(bytes.begin(), bytes.end()), error);
    if (!key)
        Fail(path + ": " + error);
    return *key;
}

// minisign's own default: when and what was signed.
std::string DefaultTrustedComment(const std::string& path)
{
    const size_t slash = path.rfind('/');
    return "timestamp:" + std::to_string(static_cast<long long>(std::time(nullptr))) +
           "\tfile:" + path.substr(slash == std::string::npos ? 0 : slash + 1) + "\thashed";
}

void WriteSignature(const std::string& path, const std::vector<uint8_t>& bytes, const SMinisignSecretKey& key,
                    const std::string& trustedComment)
{
    CMinisignDigest digest;
    digest.Update(bytes.data(), bytes.size());
    const std::string text = SignDigest(key, digest.Final(), trustedComment);
    WriteFileBytes(path + ".minisig", std::vector<uint8_t>(text.begin(), text.end()));
}

// What the command line asks for.
struct SMkupdOptions {
    SUpdateFile file;
    std::string outPath;
    std::vector<STargetOptions> targets;
    bool sample = false;
    SSvfOptions svfOptions;
    std::string svfIn, xsvfOut;
    std::string secretKeyPath;
    std::optional<std::string> trustedComment;
};

// The options of a target, in the order given: each belongs to the --target
// before it, and once to each target.
class CTargetOptions {
public:
    explicit CTargetOptions(CLI::App& app)
        : m_target(Value(app, "--target")),
          m_name(Value(app, "--name")),
          m_type(Value(app, "--type")),
          m_data(Value(app, "--data")),
          m_blockSize(Value(app, "--block-size")),
          m_blockCrc(app.add_flag("--block-crc")),
          m_asIs(app.add_flag("--as-is")),
          m_packed(app.add_flag("--packed"))
    {
    }

    std::vector<STargetOptions> Targets(const std::vector<CLI::Option*>& parseOrder) const
    {
        std::vector<STargetOptions> targets;
        std::map<const CLI::Option*, size_t> taken;
        std::set<const CLI::Option*> given;
        for (const CLI::Option* option : parseOrder) {
            const size_t index = taken[option]++;
            const std::string value = option->get_expected_min() > 0 ? option->results().at(index) : "";
            if (option == m_target) {
                targets.emplace_back();
                targets.back().target.number = ParseNumber(value, 10, "target number");
                given.clear();
                continue;
            }
            if (!IsTargetOption(option))
                continue;
            if (targets.empty())
                Fail("target options must follow --target");
            if (!given.insert(option).second)
                Fail(option->get_name() + " given twice for target " + std::to_string(targets.back().target.number));
            Apply(option, value, targets.back());
        }
        return targets;
    }

private:
    static CLI::Option* Value(CLI::App& app, const char* name)
    {
        return app.add_option(name)->expected(1)->allow_extra_args(false)->multi_option_policy(
            CLI::MultiOptionPolicy::TakeAll);
    }

    bool IsTargetOption(const CLI::Option* option) const
    {
        return option == m_name || option == m_type || option == m_data || option == m_blockSize ||
               option == m_blockCrc || option == m_asIs || option == m_packed;
    }

    void Apply(const CLI::Option* option, const std::string& value, STargetOptions& target) const
    {
        if (option == m_name)
            target.target.name = value;
        else if (option == m_type)
            target.target.type = ParseType(value);
        else if (option == m_data)
            target.dataPath = value;
        else if (option == m_blockSize)
            target.blockSize = ParseNumber(value, 10, "block size");
        else if (option == m_blockCrc)
            target.blockCrc = true;
        else if (option == m_asIs)
            target.asIs = true;
        else if (option == m_packed)
            target.target.packed = true;
    }

    const CLI::Option* m_target;
    const CLI::Option* m_name;
    const CLI::Option* m_type;
    const CLI::Option* m_data;
    const CLI::Option* m_blockSize;
    const CLI::Option* m_blockCrc;
    const CLI::Option* m_asIs;
    const CLI::Option* m_packed;
};

FileVersion ParseFileVersion(const std::string& version)
{
    if (version == "V1.00")
        return FileVersion::V1_00;
    if (version != "V1.01")
        Fail("file version must be V1.00 or V1.01");
    return FileVersion::V1_01;
}

// Exits with the usage text (status 0) for --help, the version for
// --version, and status 2 after a usage error.
SMkupdOptions ParseOptions(int argc, char** argv)
{
    CLI::App app;
    app.set_help_flag();
    const CLI::Option* help = app.add_flag("-h,--help");
    const CLI::Option* version = app.add_flag("--version");
    SMkupdOptions o;
    std::string samplePath, fileVersion, headerCount, repeat;
    std::vector<std::string> svfToXsvf;
    const CLI::Option* sample = app.add_option("--sample", samplePath);
    const CLI::Option* convert = app.add_option("--svf-to-xsvf", svfToXsvf)->expected(2)->allow_extra_args(false);
    const CLI::Option* repeatGiven = app.add_option("--xrepeat", repeat);
    const CLI::Option* outGiven = app.add_option("-o,--output", o.outPath);
    const CLI::Option* versionGiven = app.add_option("--file-version", fileVersion);
    const CLI::Option* countGiven = app.add_option("--header-count", headerCount);
    app.add_option("--sign", o.secretKeyPath);
    std::string trustedComment;
    const CLI::Option* commentGiven = app.add_option("--trusted-comment", trustedComment);
    const CTargetOptions targetOptions(app);
    std::string error;
    const bool parsed = ParseProgramOptions(app, argc, argv, error);
    if (help->count() > 0) {
        std::cout << USAGE;
        std::exit(0);
    }
    if (version->count() > 0) {
        std::cout << "mkupd " << res::PROGRAM_VERSION << "\n";
        std::exit(0);
    }
    if (!parsed) {
        std::cerr << USAGE;
        Fail(error);
    }
    if (sample->count() > 0 && outGiven->count() > 0)
        Fail("--sample and -o exclude each other");
    o.sample = sample->count() > 0;
    if (o.sample)
        o.outPath = samplePath;
    if (convert->count() > 0) {
        o.svfIn = svfToXsvf[0];
        o.xsvfOut = svfToXsvf[1];
    }
    if (repeatGiven->count() > 0) {
        const unsigned retries = ParseNumber(repeat, 10, "retry count");
        if (retries > 255)
            Fail("the retry count must be 0..255");
        o.svfOptions.repeat = static_cast<uint8_t>(retries);
    }
    if (versionGiven->count() > 0)
        o.file.version = ParseFileVersion(fileVersion);
    if (countGiven->count() > 0)
        o.file.headerCount = static_cast<int>(ParseNumber(headerCount, 10, "header count"));
    if (commentGiven->count() > 0)
        o.trustedComment = trustedComment;
    o.targets = targetOptions.Targets(app.parse_order());
    return o;
}

}  // namespace

int main(int argc, char** argv)
{
    (void)PrepareProgramStart();
    SMkupdOptions o = ParseOptions(argc, argv);
    if (!o.svfIn.empty()) {
        if (!o.outPath.empty() || !o.targets.empty() || !o.secretKeyPath.empty())
            Fail("--svf-to-xsvf takes no other output or targets");
        CheckOutputs({{"the SVF file", o.svfIn}}, o.xsvfOut);
        ConvertSvfToFile(o.svfIn, o.xsvfOut, o.svfOptions);
        return 0;
    }
    if (o.outPath.empty())
        Fail("no output file (-o)");
    if (o.trustedComment && o.secretKeyPath.empty())
        Fail("--trusted-comment goes with --sign");
    if (o.trustedComment && o.trustedComment->find_first_of("\r\n") != std::string::npos)
        Fail("the trusted comment must be one line");
    // A key that cannot sign stops mkupd before anything is written.
    const std::optional<SMinisignSecretKey> key =
        o.secretKeyPath.empty() ? std::nullopt : std::optional(ReadSecretKey(o.secretKeyPath));

    std::vector<std::pair<std::string, std::string>> inputs;
    for (const STargetOptions& options : o.targets)
        inputs.emplace_back("the data of target " + std::to_string(options.target.number), options.dataPath);
    if (key)
        inputs.emplace_back("the secret key", o.secretKeyPath);
    CheckOutputs(inputs, o.outPath);
    for (const STargetOptions& options : o.targets)
        o.file.targets.push_back(BuildTarget(options, o.svfOptions));
    std::vector<uint8_t> bytes;
    try {
        if (!o.sample)
            CheckReadable(o.file);
        bytes = o.sample ? MakeSampleUpdateFile() : WriteUpdateFile(o.file);
    } catch (const CWriteError& error) {
        Fail(error.what());
    }
    WriteFileBytes(o.outPath, bytes);
    if (key)
        WriteSignature(o.outPath, bytes, *key, o.trustedComment.value_or(DefaultTrustedComment(o.outPath)));
    return 0;
}
