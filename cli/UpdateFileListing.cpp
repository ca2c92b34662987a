#include "UpdateFileListing.h"

#include "CliUpdateRun.h"
#include "FirmwareBlockCounter.h"
#include "LineEstimate.h"
#include "OutputFile.h"
#include "PrintableText.h"
#include "ProgressDisplay.h"
#include "ReplacementFile.h"
#include "StringTable.h"
#include "UpdateFileReader.h"
#include "UpdateRunState.h"
#include "XsvfListing.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <optional>
#include <sstream>
#include <streambuf>
#include <sys/stat.h>
#include <sys/types.h>
#include <vector>

using namespace devupdate;
using namespace devupdate::link;
using namespace devupdate::xsvf;
using namespace devupdate::res;
using namespace devupdate::update;

namespace {

// Checks the header; prints the version and, withNames, the targets' names.
bool CheckAndDescribe(CUpdateRunState& run, const SCliOptions& options, std::ostream& out, bool withNames)
{
    run.m_fileName = options.file;
    run.m_requireSignature = options.requireSignature;
    const CUpdateRunState::SCheckResult check = run.CheckUpdateFileHeader();
    if (!check.ok) {
        std::fprintf(stderr, "%s%s", check.message.c_str(), check.message.back() == '\n' ? "" : "\n");
        return false;
    }
    out << "Version: " << FileVersionToken(run.m_fileVersion) << "\n";
    out << SignatureLine(run.m_signatureCheck) << "\n";
    for (unsigned i = 0; withNames && i < run.m_targetCount; ++i)
        out << (i + 1) << ": " << PrintableText(TrimName(run.m_targetName[i])) << "\n";
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

// What one pass over a record's data tells: its unpacked size, its blocks
// (firmware) and its time on the line.
struct SRecordScan {
    size_t unpacked = 0;
    int blocks = -1;
    std::optional<SLineEstimate> estimate;
};

// Reads the current record's data once (nothing for a type not updated).
SRecordScan ScanRecordData(CUpdateRunState& run)
{
    SRecordScan scan;
    const unsigned type = run.m_targetType;
    if (type != TARGET_FIRMWARE && type != TARGET_XSVF)
        return scan;
    CFirmwareBlockCounter blocks;
    const std::function<bool(uint8_t&)> next = [&](uint8_t& byte) {
        if (!run.ReadDataByte(byte))
            return false;
        ++scan.unpacked;
        blocks.Add(byte);
        return true;
    };
    // The player reads the stream up to XCOMPLETE; the rest is counted after.
    if (type == TARGET_XSVF)
        scan.estimate = EstimateXsvf(next);
    uint8_t byte = 0;
    while (next(byte)) {
    }
    scan.blocks = blocks.Blocks();
    if (type == TARGET_FIRMWARE && scan.blocks >= 0)
        scan.estimate = EstimateFirmware(scan.unpacked, static_cast<uint64_t>(scan.blocks));
    return scan;
}

// ", estimated N.N s at 57600 baud": how long the target takes on the line.
std::string EstimateText(unsigned type, const SRecordScan& scan)
{
    if (type != TARGET_FIRMWARE && type != TARGET_XSVF)
        return res::Format(", estimated %.1f s at %.0f baud", 0.0, ESTIMATE_BAUD);  // nothing is sent for it
    if (!scan.estimate)
        return type == TARGET_XSVF ? ", not estimated: the stream does not play to its end"
                                   : ", not estimated: the data are no blocks";
    return res::Format(", estimated %.1f s at %.0f baud", scan.estimate->Seconds(), ESTIMATE_BAUD);
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
        if (!ReadRecordNumber(file, number)) {
            std::fprintf(stderr, "Error: record %d: no record number (the body must end with 00).\n", record + 1);
            return false;
        }
        if (number == 0)
            break;
        ++record;
        SRecordHeader header;
        header.number = number;
        if (!run.LoadRecordHeader(header)) {
            std::fprintf(stderr, "Error: record %d (target %02X): unreadable record header.\n", record, number);
            return false;
        }
        const unsigned flags = header.flags;
        const unsigned type = header.type;
        const uint32_t length = header.length;
        const bool known = type == TARGET_FIRMWARE || type == TARGET_XSVF;
        // The data are read twice, to count them and then to list them, so
        // that a stream of any size is never held whole.
        const off_t dataStart = ftello(file);
        const SRecordScan scan = ScanRecordData(run);
        const size_t unpacked = scan.unpacked;
        uint8_t byte = 0;
        out << "Record " << record << ": target " << Hex(number, 2) << ", flags " << Hex(flags, 4) << ", type "
            << Hex(type, 4) << " (" << TypeName(type) << "), stored " << length << " bytes";
        if (known && !run.m_dataEnd && length != 0) {
            out << std::endl;
            std::fprintf(stderr, "Error: record %d (target %02X): data end after %u of %u stored bytes or hold an "
                                 "invalid packed run.\n",
                         record, number, run.m_dataConsumed, length);
            return false;
        }
        if (known)
            out << ", unpacked " << unpacked << " bytes";
        if (type == TARGET_FIRMWARE) {
            if (scan.blocks < 0) {
                out << std::endl;
                std::fprintf(stderr, "Error: record %d (target %02X): firmware data do not divide into blocks of "
                                     "at most %u bytes.\n",
                             record, number, MAX_BLOCK_PAYLOAD);
                return false;
            }
            out << ", " << scan.blocks << (scan.blocks == 1 ? " block" : " blocks");
        }
        out << EstimateText(type, scan) << "\n";
        if (type == TARGET_XSVF) {
            if (dataStart < 0 || fseeko(file, dataStart, SEEK_SET) != 0) {
                std::fprintf(stderr, "Error: record %d (target %02X): cannot read its data again: %s.\n", record,
                             number, std::strerror(errno));
                return false;
            }
            run.m_dataConsumed = 0;
            run.m_runPending = 0;
            run.m_dataEnd = false;
            ListXsvf([&](uint8_t& next) { return run.ReadDataByte(next); },
                     [&](std::string_view text) { out.write(text.data(), static_cast<std::streamsize>(text.size())); });
            // A listing that stopped early leaves bytes before the next record.
            while (run.ReadDataByte(byte)) {
            }
        }
        if (!known && !run.SkipTargetRest()) {
            std::fprintf(stderr, "Error: record %d (target %02X): cannot skip its data.\n", record, number);
            return false;
        }
    }
    out << "End of body: " << record << (record == 1 ? " record" : " records") << ".\n";
    return true;
}

// One line per target of the header, with its record's stored size and
// estimate in body order; records past the header's count follow unnamed.
bool DescribeTargets(CUpdateRunState& run, std::ostream& out)
{
    bool bodyEnded = false;
    for (int record = 1;; ++record) {
        const bool named = record <= static_cast<int>(run.m_targetCount);
        SRecordHeader header;
        if (!bodyEnded && !ReadRecordNumber(run.m_updateFile, header.number)) {
            std::fprintf(stderr, "Error: record %d: no record number (the body must end with 00).\n", record);
            return false;
        }
        bodyEnded = bodyEnded || header.number == 0;
        if (bodyEnded && !named)
            return true;
        out << record << ": " << (named ? PrintableText(TrimName(run.m_targetName[record - 1])) : "(no header line)");
        if (bodyEnded) {
            out << ", no record\n";
            continue;
        }
        if (!run.LoadRecordHeader(header)) {
            out << "\n";
            std::fprintf(stderr, "Error: record %d (target %02X): unreadable record header.\n", record, header.number);
            return false;
        }
        const SRecordScan scan = ScanRecordData(run);
        const bool known = header.type == TARGET_FIRMWARE || header.type == TARGET_XSVF;
        if ((known && !run.m_dataEnd && header.length != 0) || (!known && !run.SkipTargetRest())) {
            out << "\n";
            std::fprintf(stderr, "Error: record %d (target %02X): data end before the stored length.\n", record,
                         header.number);
            return false;
        }
        out << ", stored " << header.length << " bytes" << EstimateText(header.type, scan) << "\n";
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
    const bool ok = CheckAndDescribe(run, options, out, false) && DescribeTargets(run, out);
    run.CloseUpdateFile();
    std::fputs(out.str().c_str(), stdout);
    const bool readFailed = ReportedReadError(run);
    return ok && !readFailed ? EXIT_UPDATED : EXIT_USAGE_OR_SETUP;
}

// The listing's text to standard output and, with --out, to the file that
// replaces the listing file once the listing is complete.
class CListingBuffer : public std::streambuf {
public:
    explicit CListingBuffer(CReplacementFile* file) : m_file(file), m_buffer(64 * 1024)
    {
        setp(m_buffer.data(), m_buffer.data() + m_buffer.size());
    }
    ~CListingBuffer() override { Flush(); }
    CListingBuffer(const CListingBuffer&) = delete;
    CListingBuffer& operator=(const CListingBuffer&) = delete;

    // The first error writing the file; empty when none.
    const std::string& FileError() const { return m_fileError; }

protected:
    int_type overflow(int_type c) override
    {
        Flush();
        if (!traits_type::eq_int_type(c, traits_type::eof())) {
            *pptr() = traits_type::to_char_type(c);
            pbump(1);
        }
        return traits_type::not_eof(c);
    }
    int sync() override
    {
        Flush();
        return 0;
    }

private:
    void Flush()
    {
        const size_t size = static_cast<size_t>(pptr() - pbase());
        if (size == 0)
            return;
        // A closed standard output (a pager quit early) does not stop the listing file.
        if (std::fwrite(pbase(), 1, size, stdout) != size)
            std::clearerr(stdout);
        std::fflush(stdout);
        if (m_file != nullptr && m_fileError.empty())
            m_file->Write(pbase(), size, m_fileError);
        setp(m_buffer.data(), m_buffer.data() + m_buffer.size());
    }

    CReplacementFile* m_file;
    std::vector<char> m_buffer;
    std::string m_fileError;
};

int RunList(const SCliOptions& options)
{
    if (!options.listingOut.empty() && IdentifyFile(options.file).SameAs(IdentifyFile(options.listingOut))) {
        std::fprintf(stderr, "Error: --out %s is the update file itself.\n", options.listingOut.c_str());
        return EXIT_USAGE_OR_SETUP;
    }
    std::unique_ptr<CReplacementFile> listingFile;
    if (!options.listingOut.empty()) {
        listingFile = std::make_unique<CReplacementFile>(options.listingOut);
        std::string error;
        if (!listingFile->Open(error)) {
            std::fprintf(stderr, "Error: cannot write %s: %s.\n", options.listingOut.c_str(), error.c_str());
            return EXIT_USAGE_OR_SETUP;
        }
    }
    CUpdateRunState run;
    CListingBuffer buffer(listingFile.get());
    std::ostream out(&buffer);
    bool ok = CheckAndDescribe(run, options, out, true) && ListBody(run, out);
    run.CloseUpdateFile();
    ok = !ReportedReadError(run) && ok;
    out.flush();
    ok = !ReportedReadError(run) && ok;
    if (!ok)
        return EXIT_USAGE_OR_SETUP;  // the listing file stays as it was
    std::string error = buffer.FileError();
    if (listingFile != nullptr && error.empty())
        listingFile->Commit(error);
    if (!error.empty()) {
        std::fprintf(stderr, "Error: cannot write %s: %s.\n", options.listingOut.c_str(), error.c_str());
        return EXIT_USAGE_OR_SETUP;
    }
    return EXIT_UPDATED;
}
