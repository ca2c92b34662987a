#pragma once
// The harnesses' assertion: a broken invariant is a finding. Under libFuzzer
// it aborts (a crash with the input saved); the regression tests make it
// throw so that one bad input fails one test instead of the whole program.

#include <stdexcept>
#include <string>

class CFuzzFinding : public std::logic_error {
public:
    using std::logic_error::logic_error;
};

// Throw CFuzzFinding instead of aborting (set once by the regression tests).
void SetFuzzFindingsThrow(bool enable);

[[noreturn]] void FuzzFail(const std::string& what, const char* file, int line);

#define FUZZ_CHECK(condition)                                   \
    do {                                                        \
        if (!(condition))                                       \
            FuzzFail(#condition, __FILE__, __LINE__);           \
    } while (false)
