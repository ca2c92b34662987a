#include "UpdateFileListing.h"

#include "CliUpdateRun.h"
#include "PrintableText.h"
#include "ProgressDisplay.h"
#include "StringTable.h"
#include "UpdateFileReader.h"
#include "UpdateRunState.h"
#include "XsvfListing.h"

#include <cstdio>
#include <fstream>
#include <sstream>
#include <vector>


namespace {

const char* const VERSION_TOKENS[] = {"V1.00", "V1.01"};

// Checks the header; prints the version and the targets on success.
bool CheckAndDescribe(CUpdateRunState& run, const SCliOptions& options, std::ostream& out)
{
    run.m_fileName = options.file;
    const CUpdateRunState::SCheckResult check = run.CheckUpdateFileHeader();
    if (!check.ok) {
        std::fprintf(stderr, "%s%s", check.message.c_str(), check.message.back() == '\n' ? "" : "\n");
        return false;
    }
    out << "Version: " << VERSION_TOKENS[run.m_fileVersion] << "\n";
    for (unsigned i = 0; i < run.m_targetCount; ++i)
        out << (i + 1) << ": " << TrimName(run.m_targetName[i]) << "\n";
    return true;
}

const char* TypeName(unsigned type)
{
    switch (type) {
    case TARGET_FIRMWARE:
        return "firmware";
    case TARGET_XSVF:
        return "xsvf";
    default:
        return "unknown, not updated";
    }
}

// Firmware data are blocks of a 2-byte count and that many bytes; the
// number of whole blocks, or -1 when the data do not divide into blocks.
int CountFirmwareBlocks(const std::vector<uint8_t>& data)
{
    size_t offset = 0;
    int blocks = 0;
    while (offset < data.size()) {
        if (offset + 2 > data.size())
            return -1;
        const size_t count = (size_t{data[offset]} << 8) | data[offset + 1];
        if (count > 998 || offset + 2 + count > data.size())
            return -1;
        offset += 2 + count;
        ++blocks;
    }
    return blocks;
}

std::string Hex(unsigned value, int digits)
{
    return res::Format("%0*X", digits, value);
}

// Lists the body records; false (with the reason on stderr) on a malformed body.
bool ListBody(CUpdateRunState& run, std::ostream& out)
{
    FILE* file = run.m_updateFile;
    int record = 0;
    for (;;) {
        unsigned number = 0;
        if (!ReadHexField(file, 2, number)) {
            std::fprintf(stderr, "Error: record %d: no record number (the body must end with 00).\n", record + 1);
            return false;
        }
        if (number == 0)
            break;
        ++record;
        unsigned flags = 0;
        unsigned type = TARGET_FIRMWARE;
        unsigned length = 0;
        if ((run.m_fileVersion == 1 && (!ReadHexField(file, 4, flags) || !ReadHexField(file, 4, type))) ||
            !ReadHexField(file, 8, length)) {
            std::fprintf(stderr, "Error: record %d (target %02X): unreadable record header.\n", record, number);
            return false;
        }
        run.m_targetFlags = flags;
        run.m_targetType = type;
        run.m_dataLength = length;
        run.m_dataConsumed = 0;
        run.m_runPending = 0;
        run.m_dataEnd = false;
        std::vector<uint8_t> data;
        const bool known = type == TARGET_FIRMWARE || type == TARGET_XSVF;
        uint8_t byte = 0;
        while (known && run.ReadDataByte(byte))
            data.push_back(byte);
        out << "Record " << record << ": target " << Hex(number, 2) << ", flags " << Hex(flags, 4) << ", type "
            << Hex(type, 4) << " (" << TypeName(type) << "), stored " << length << " bytes";
        if (known && !run.m_dataEnd && length != 0) {
            out << "\n";
            std::fprintf(stderr, "Error: record %d (target %02X): data end after %u of %u stored bytes or hold an "
                                 "invalid packed run.\n",
                         record, number, run.m_dataConsumed, length);
            return false;
        }
        if (known)
            out << ", unpacked " << data.size() << " bytes";
        if (type == TARGET_FIRMWARE) {
            const int blocks = CountFirmwareBlocks(data);
            if (blocks < 0) {
                out << "\n";
                std::fprintf(stderr, "Error: record %d (target %02X): firmware data do not divide into blocks of "
                                     "at most 998 bytes.\n",
                             record, number);
                return false;
            }
            out << ", " << blocks << (blocks == 1 ? " block" : " blocks");
        }
        out << "\n";
        if (type == TARGET_XSVF)
            out << ListXsvf(data);
        if (!known && !run.SkipTargetRest()) {
            std::fprintf(stderr, "Error: record %d (target %02X): cannot skip its data.\n", record, number);
            return false;
        }
    }
    out << "End of body: " << record << (record == 1 ? " record" : " records") << ".\n";
    return true;
}

// Names and comments come from the file: shown with control characters
// made visible, line by line.
std::string PrintableLines(const std::string& text)
{
    std::string shown;
    size_t start = 0;
    for (size_t end = text.find('\n'); end != std::string::npos; end = text.find('\n', start)) {
        shown += PrintableText(std::string_view(text).substr(start, end - start));
        shown += '\n';
        start = end + 1;
    }
    return shown + PrintableText(std::string_view(text).substr(start));
}

// A read that failed is said as such, not only as the format error it caused.
bool ReportedReadError(const CUpdateRunState& run)
{
    if (run.m_readError.empty())
        return false;
    std::fprintf(stderr, "Error: reading %s failed: %s.\n", run.m_fileName.c_str(), run.m_readError.c_str());
    return true;
}

}  // namespace

int RunCheck(const SCliOptions& options)
{
    CUpdateRunState run;
    std::ostringstream out;
    const bool ok = CheckAndDescribe(run, options, out);
    run.CloseUpdateFile();
    std::fputs(PrintableLines(out.str()).c_str(), stdout);
    const bool readFailed = ReportedReadError(run);
    return ok && !readFailed ? EXIT_UPDATED : EXIT_USAGE_OR_SETUP;
}

int RunList(const SCliOptions& options)
{
    CUpdateRunState run;
    std::ostringstream out;
    bool ok = CheckAndDescribe(run, options, out) && ListBody(run, out);
    run.CloseUpdateFile();
    ok = !ReportedReadError(run) && ok;
    std::fputs(PrintableLines(out.str()).c_str(), stdout);
    if (!options.listingOut.empty()) {
        std::ofstream listing(options.listingOut, std::ios::binary | std::ios::trunc);
        listing << PrintableLines(out.str());
        listing.close();
        if (!listing) {
            std::fprintf(stderr, "Error: cannot write %s.\n", options.listingOut.c_str());
            return EXIT_USAGE_OR_SETUP;
        }
    }
    return ok ? EXIT_UPDATED : EXIT_USAGE_OR_SETUP;
}
