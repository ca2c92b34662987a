#pragma once
// update-cli --check and --list: what an update file holds, for people.

#include "CliOptions.h"

#include <string>

int RunCheck(const SCliOptions& options);
int RunList(const SCliOptions& options);
