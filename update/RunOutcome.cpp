#include "RunOutcome.h"

#include "StringTable.h"
#include "UpdateFileBody.h"

#include <algorithm>
#include <iterator>

using namespace devupdate::res;

namespace devupdate::update {

bool SRunOutcome::EveryTargetUpdated() const
{
    if (records.size() != static_cast<size_t>(targetCount))
        return false;
    return std::all_of(records.begin(), records.end(),
                       [](const SRecordOutcome& record) { return record.result == ERecordResult::Updated; });
}

int ExitStatusOf(const SRunOutcome& outcome)
{
    switch (outcome.ending) {
    case ERunEnding::AllUpdated: return EXIT_UPDATED;
    case ERunEnding::SomeNotUpdated:
    case ERunEnding::Failed:
    case ERunEnding::NotResponding: return EXIT_RUN_FAILED;
    case ERunEnding::Cancelled: return EXIT_CANCELLED;
    case ERunEnding::WakeupTimeout: return EXIT_WAKEUP_TIMEOUT;
    case ERunEnding::NotStarted: return EXIT_USAGE_OR_SETUP;
    }
    return EXIT_RUN_FAILED;
}

int MoreSeriousExitStatus(int a, int b)
{
    // Least serious first; any other status is a failed run.
    constexpr int ORDER[] = {EXIT_UPDATED, EXIT_CANCELLED, EXIT_RUN_FAILED, EXIT_WAKEUP_TIMEOUT, EXIT_USAGE_OR_SETUP};
    const auto rank = [&](int status) {
        const auto found = std::find(std::begin(ORDER), std::end(ORDER), status);
        return found == std::end(ORDER) ? 2 : found - std::begin(ORDER);
    };
    return ORDER[std::max(rank(a), rank(b))];
}

const char* EndingName(ERunEnding ending)
{
    switch (ending) {
    case ERunEnding::AllUpdated: return "all_updated";
    case ERunEnding::SomeNotUpdated: return "some_not_updated";
    case ERunEnding::Failed: return "failed";
    case ERunEnding::NotResponding: return "not_responding";
    case ERunEnding::Cancelled: return "cancelled";
    case ERunEnding::WakeupTimeout: return "wakeup_timeout";
    case ERunEnding::NotStarted: return "not_started";
    }
    return "failed";
}

const char* RecordResultName(ERecordResult result)
{
    switch (result) {
    case ERecordResult::Updated: return "updated";
    case ERecordResult::Failed: return "failed";
    case ERecordResult::Skipped: return "skipped";
    case ERecordResult::Refused: return "refused";
    case ERecordResult::Cancelled: return "cancelled";
    case ERecordResult::NotReached: return "not_reached";
    }
    return "failed";
}

const char* TargetTypeName(unsigned type)
{
    switch (type) {
    case TARGET_FIRMWARE: return "firmware";
    case TARGET_XSVF: return "xsvf";
    default: return "unknown";
    }
}

std::string WakeupTimeoutText(double seconds)
{
    if (seconds == 1)
        return "No answer from the device within 1 second.";
    return res::Format("No answer from the device within %g seconds.", seconds);
}

std::string TrimName(const std::string& name)
{
    const char* const blanks = " \t\r\n";
    const size_t first = name.find_first_not_of(blanks);
    if (first == std::string::npos)
        return {};
    const size_t last = name.find_last_not_of(blanks);
    return name.substr(first, last - first + 1);
}

}  // namespace devupdate::update
