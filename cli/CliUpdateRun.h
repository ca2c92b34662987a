#pragma once
// An update run from the command line: what "Update" does in the window,
// with message lines and progress bars instead of controls. The exit status
// is the outcome's (RunOutcome.h).

#include "CliOptions.h"
#include "RunOutcome.h"

int RunUpdate(const SCliOptions& options);
