#pragma once
// How an update run ended, as a value: the front ends take their exit
// status, their "success" and their reports from here, never from a text.

#include <cstdint>
#include <string>
#include <vector>

namespace devupdate::update {

enum class ERunEnding {
    AllUpdated,      // every target the header names and every record of the body was updated
    SomeNotUpdated,  // the body was worked through, but not every target or record was updated
    Failed,          // the run ended early: wrong answers, file or XSVF error
    NotResponding,   // the device fell silent or the adapter vanished
    Cancelled,       // the worker ended because the user cancelled
    WakeupTimeout,   // the worker ended because the front end gave up waiting for the device
    NotStarted,      // file, port or thread could not be set up; the message says why
};

enum class ERecordResult {
    Updated,
    Failed,      // "unsuccessful": a selection or block not accepted, or the run ended in it
    Skipped,     // a type the tool cannot update ("update unknown")
    Refused,     // the device has no such target ("missing target")
    Cancelled,   // the run was cancelled while the record was worked on
    NotReached,  // the run ended before the record
};

struct SRecordOutcome {
    int index = 0;         // 0-based place in the body; rows exist for 0..9 within the header's count
    unsigned number = 0;   // the device's target number
    std::string name;      // the header's name, trimmed; empty past the header's count
    unsigned type = 0;
    ERecordResult result = ERecordResult::NotReached;
    std::string status;    // the row's status text
    int percent = 0;
    uint64_t bytesSent = 0;
    double seconds = 0;

    bool operator==(const SRecordOutcome&) const = default;
};

struct SRunOutcome {
    ERunEnding ending = ERunEnding::NotStarted;
    std::string message;      // the final message line
    bool messageBox = false;  // the run ended with a message for a box
    int targetsUpdated = 0;
    int targetCount = 0;      // the header's count, as the final message shows it
    bool bodyComplete = false;  // every record up to the end mark is in `records`
    // The system's reason when the port failed the run (a write refused, the
    // adapter gone), as strerror words it; empty otherwise.
    std::string osError;
    std::vector<SRecordOutcome> records;

    // Every target the header names and every record of the body updated:
    // one record per named target, none past the count, none failed.
    bool Succeeded() const { return ending == ERunEnding::AllUpdated; }
    // The rule behind Succeeded() for a body worked through to its end mark.
    bool EveryTargetUpdated() const;
};

// update-cli's exit status of an outcome.
enum RunExitStatus : int {
    EXIT_UPDATED = 0,
    EXIT_RUN_FAILED = 1,
    EXIT_USAGE_OR_SETUP = 2,
    EXIT_CANCELLED = 3,
    EXIT_WAKEUP_TIMEOUT = 4,
};
int ExitStatusOf(const SRunOutcome& outcome);

// Of two runs' exit statuses the one that says more about what went wrong:
// a setup error (2) before a wake-up time-out (4) before a failed run (1)
// before a cancel (3) before success (0). Unknown statuses count as failed.
int MoreSeriousExitStatus(int a, int b);

// Names for machine-readable output: "all_updated", "updated", ...
const char* EndingName(ERunEnding ending);
const char* RecordResultName(ERecordResult result);
// "firmware", "xsvf" or "unknown".
const char* TargetTypeName(unsigned type);

// The final message of a run whose device did not answer the wake-up:
// "No answer from the device within 1 second." ("%g seconds" otherwise).
std::string WakeupTimeoutText(double seconds);

// A header name as rows show it: without surrounding blanks and line ends.
std::string TrimName(const std::string& name);

}  // namespace devupdate::update
