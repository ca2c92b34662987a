#pragma once
// The programs' command lines go through CLI11; this is their common rule
// for what is a usage error and how it reads. Each error names the option:
// "--log needs a value", "--log given more than once", "unknown option -x".
// "--" ends the options: everything after it is an operand.

#include <string>

namespace CLI {
class App;
}

namespace devupdate::link {

// Parses argv with the options `app` declares (operands too, when it takes
// any). False with `error` set on a usage error; the caller reports it.
// Single-valued options keep CLI11's default and refuse a second value.
bool ParseProgramOptions(CLI::App& app, int argc, char** argv, std::string& error);

}  // namespace devupdate::link
