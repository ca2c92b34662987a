#pragma once
// What every program of the product does first, before it opens anything.

#include <string>

namespace devupdate::link {

// Descriptors 0, 1 and 2 that were found closed are opened on /dev/null, so
// that the next open (a serial port, the update file) cannot become standard
// output and receive the program's texts. SIGPIPE is ignored: a reader that
// goes away makes a write fail with EPIPE instead of killing a run half-way.
// False (with errno set) when /dev/null cannot be opened or SIGPIPE not set;
// the program may go on, it is only less protected.
bool PrepareProgramStart();

// True when the program was started with `signal` set to "ignore" (a
// background job of a script, nohup): such a signal must stay ignored.
bool SignalInheritedAsIgnored(int signal);

// The program's own name for its usage, version, log records and errors: the
// file name of the running executable, so that the build tree's copy says
// "update-cli" and the installed copy "devupdate-cli". main() calls
// NameProgramFromExecutable() once, before any thread starts; until then (in
// library code under test) ProgramName() returns `buildName`.
void NameProgramFromExecutable();
std::string ProgramName(const char* buildName);

}  // namespace devupdate::link
