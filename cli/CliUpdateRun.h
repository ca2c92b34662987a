#pragma once
// An update run from the command line: what "Update" does in the window,
// with message lines and progress bars instead of controls.

#include "CliOptions.h"

// Exit status of update-cli.
enum CliExit : int {
    EXIT_UPDATED = 0,
    EXIT_RUN_FAILED = 1,
    EXIT_USAGE_OR_SETUP = 2,
    EXIT_CANCELLED = 3,
    EXIT_WAKEUP_TIMEOUT = 4,
};

int RunUpdate(const SCliOptions& options);
