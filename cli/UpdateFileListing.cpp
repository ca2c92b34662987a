#include "UpdateFileListing.h"

#include "CliUpdateRun.h"
#include "LineEstimate.h"
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

// Checks the header; prints the version on success.
bool CheckAndDescribe(CUpdateRunState& run, const SCliOptions& options, std::ostream& out)
{
    run.m_fileName = options.file;
    const CUpdateRunState::SCheckResult check = run.CheckUpdateFileHeader();
    if (!check.ok) {
        std::fprintf(stderr, "%s%s", check.message.c_str(), check.message.back() == '\n' ? "" : "\n");
        return false;
    }
    out << "Version: " << FileVersionToken(run.m_fileVersion) << "\n";
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

std::string Hex(unsigned value, int digits)
{
    return res::Format("%0*X", digits, value);
}

struct SBodyRecord {
    SRecordHeader header;
    std::vector<uint8_t> data;  // unpacked; empty for a type that is not updated
};

enum class ERecordRead { Record, End, Error };

// Reads the body's next record (the record-th); an error is said on stderr.
ERecordRead ReadRecord(CUpdateRunState& run, int record, SBodyRecord& out)
{
    unsigned number = 0;
    if (!ReadRecordNumber(run.m_updateFile, number)) {
        std::fprintf(stderr, "Error: record %d: no record number (the body must end with 00).\n", record);
        return ERecordRead::Error;
    }
    if (number == 0)
        return ERecordRead::End;
    out = {};
    out.header.number = number;
    if (!run.LoadRecordHeader(out.header)) {
        std::fprintf(stderr, "Error: record %d (target %02X): unreadable record header.\n", record, number);
        return ERecordRead::Error;
    }
    const unsigned type = out.header.type;
    if (type != TARGET_FIRMWARE && type != TARGET_XSVF) {
        if (run.SkipTargetRest())
            return ERecordRead::Record;
        std::fprintf(stderr, "Error: record %d (target %02X): cannot skip its data.\n", record, number);
        return ERecordRead::Error;
    }
    uint8_t byte = 0;
    while (run.ReadDataByte(byte))
        out.data.push_back(byte);
    if (!run.m_dataEnd && out.header.length != 0) {
        std::fprintf(stderr, "Error: record %d (target %02X): data end after %u of %u stored bytes or hold an "
                             "invalid packed run.\n",
                     record, number, run.m_dataConsumed, out.header.length);
        return ERecordRead::Error;
    }
    return ERecordRead::Record;
}

// ", estimated N.N s at 57600 baud": how long the target takes on the line.
std::string EstimateText(const SBodyRecord& record)
{
    const unsigned type = record.header.type;
    if (type != TARGET_FIRMWARE && type != TARGET_XSVF)
        return res::Format(", estimated %.1f s at %.0f baud", 0.0, ESTIMATE_BAUD);  // nothing is sent for it
    const std::optional<SLineEstimate> estimate = EstimateTarget(type, record.data);
    if (!estimate)
        return type == TARGET_XSVF ? ", not estimated: the stream does not play to its end"
                                   : ", not estimated: the data are no blocks";
    return res::Format(", estimated %.1f s at %.0f baud", estimate->Seconds(), ESTIMATE_BAUD);
}

// Lists the body records; false (with the reason on stderr) on a malformed body.
bool ListBody(CUpdateRunState& run, std::ostream& out)
{
    int record = 0;
    for (;;) {
        SBodyRecord body;
        const ERecordRead read = ReadRecord(run, record + 1, body);
        if (read == ERecordRead::Error)
            return false;
        if (read == ERecordRead::End)
            break;
        ++record;
        const unsigned type = body.header.type;
        const bool known = type == TARGET_FIRMWARE || type == TARGET_XSVF;
        out << "Record " << record << ": target " << Hex(body.header.number, 2) << ", flags "
            << Hex(body.header.flags, 4) << ", type " << Hex(type, 4) << " (" << TypeName(type) << "), stored "
            << body.header.length << " bytes";
        if (known)
            out << ", unpacked " << body.data.size() << " bytes";
        if (type == TARGET_FIRMWARE) {
            const int blocks = CountFirmwareBlocks(body.data);
            if (blocks < 0) {
                out << "\n";
                std::fprintf(stderr, "Error: record %d (target %02X): firmware data do not divide into blocks of "
                                     "at most %u bytes.\n",
                             record, body.header.number, MAX_BLOCK_PAYLOAD);
                return false;
            }
            out << ", " << blocks << (blocks == 1 ? " block" : " blocks");
        }
        out << EstimateText(body) << "\n";
        if (type == TARGET_XSVF)
            out << ListXsvf(body.data);
    }
    out << "End of body: " << record << (record == 1 ? " record" : " records") << ".\n";
    return true;
}

// The header's targets with each record's stored size and estimate, in body
// order; records past the header's count are listed without a name.
bool DescribeTargets(CUpdateRunState& run, std::ostream& out)
{
    bool bodyEnded = false;
    for (int record = 1;; ++record) {
        SBodyRecord body;
        const ERecordRead read = bodyEnded ? ERecordRead::End : ReadRecord(run, record, body);
        if (read == ERecordRead::Error)
            return false;
        bodyEnded = read == ERecordRead::End;
        const bool named = record <= static_cast<int>(run.m_targetCount);
        if (bodyEnded && !named)
            return true;
        out << record << ": " << (named ? TrimName(run.m_targetName[record - 1]) : "(no header line)");
        if (!bodyEnded)
            out << ", stored " << body.header.length << " bytes" << EstimateText(body);
        else
            out << ", no record";
        out << "\n";
    }
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
    const bool ok = CheckAndDescribe(run, options, out) && DescribeTargets(run, out);
    run.CloseUpdateFile();
    std::fputs(out.str().c_str(), stdout);
    const bool readFailed = ReportedReadError(run);
    return ok && !readFailed ? EXIT_UPDATED : EXIT_USAGE_OR_SETUP;
}

int RunList(const SCliOptions& options)
{
    CUpdateRunState run;
    std::ostringstream out;
    bool ok = CheckAndDescribe(run, options, out);
    if (ok) {
        for (unsigned i = 0; i < run.m_targetCount; ++i)
            out << (i + 1) << ": " << TrimName(run.m_targetName[i]) << "\n";
        ok = ListBody(run, out);
    }
    run.CloseUpdateFile();
    ok = !ReportedReadError(run) && ok;
    std::fputs(out.str().c_str(), stdout);
    if (!options.listingOut.empty()) {
        std::ofstream listing(options.listingOut, std::ios::binary | std::ios::trunc);
        listing << out.str();
        listing.close();
        if (!listing) {
            std::fprintf(stderr, "Error: cannot write %s.\n", options.listingOut.c_str());
            return EXIT_USAGE_OR_SETUP;
        }
    }
    return ok ? EXIT_UPDATED : EXIT_USAGE_OR_SETUP;
}
