#include "CommandLine.h"

#include <CLI/CLI.hpp>

namespace devupdate::link {

namespace {

// CLI11 begins the messages of its option errors with the option's name.
std::string OptionNamed(const std::string& message)
{
    return message.substr(0, message.find(':'));
}

}  // namespace

bool ParseProgramOptions(CLI::App& app, int argc, char** argv, std::string& error)
{
    app.allow_extras();  // reported below in our words
    try {
        app.parse(argc, argv);
    } catch (const CLI::ArgumentMismatch& mismatch) {
        const std::string message = mismatch.what();
        const bool repeated = message.find(": At Most ") != std::string::npos;
        error = OptionNamed(message) + (repeated ? " given more than once" : " needs a value");
        return false;
    } catch (const CLI::ParseError& other) {
        error = other.what();
        return false;
    }
    // What no option or operand took, in order; "--" among it where it stood.
    bool optionsEnded = false;
    for (const std::string& extra : app.remaining()) {
        if (extra == "--" && !optionsEnded) {
            optionsEnded = true;
            continue;
        }
        const bool option = !optionsEnded && extra.size() > 1 && extra[0] == '-';
        error = (option ? "unknown option " : "unexpected operand ") + extra;
        return false;
    }
    return true;
}

}  // namespace devupdate::link
