#pragma once
// The outputs of an update run, known good before anything goes to the
// port. The XSVF trace is an output only of a file that holds an XSVF
// target: a regular file's body is looked through for one (record headers
// only, the stream is left where it was). A FIFO or pipe cannot be read
// twice, so it may hold one and its trace is checked all the same.

#include "UpdateFileBody.h"

#include <cstdio>
#include <string>
#include <vector>

namespace devupdate::update {

// From the start of the body of an open update file; the stream is put
// back where it was. True when it cannot seek (a pipe).
bool BodyMayHoldXsvf(FILE* file, EFileVersion version);

// The same for a file by name, without touching a FIFO or pipe (true) and
// false for a file whose header the run would refuse.
bool UpdateFileMayHoldXsvf(const std::string& path);

// The usage error of a run whose files clash: the log (empty: none) and,
// where the update file may hold an XSVF target, each trace, compared with
// the update file and with each other. Empty when none clash.
std::string RunOutputsClash(const std::string& updateFile, const std::string& log,
                            const std::vector<std::string>& traces);

// The trace's own "cannot be opened" text (tracePath empty: the default
// trace), when the body of the open update file may hold an XSVF target
// and the trace could not be created now; empty when it could or is not
// needed. Creates, truncates and leaves nothing.
std::string TracePreflightFailure(FILE* updateFile, EFileVersion version, const std::string& tracePath);

}  // namespace devupdate::update
