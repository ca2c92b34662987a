#include "FuzzWorkDir.h"

#include "FuzzCheck.h"

#include <climits>
#include <cstdlib>
#include <unistd.h>

const std::string& FuzzWorkDir()
{
    static const std::string folder = [] {
        char pattern[] = "/tmp/update-fuzz-XXXXXX";
        const char* made = mkdtemp(pattern);
        if (made == nullptr)
            FuzzFail("mkdtemp failed", __FILE__, __LINE__);
        return std::string(made);
    }();
    return folder;
}

CScopedWorkDir::CScopedWorkDir()
{
    char current[PATH_MAX];
    FUZZ_CHECK(getcwd(current, sizeof current) != nullptr);
    m_previous = current;
    FUZZ_CHECK(chdir(FuzzWorkDir().c_str()) == 0);
}

CScopedWorkDir::~CScopedWorkDir()
{
    // A destructor must not throw: a failed return is reported, not raised.
    if (chdir(m_previous.c_str()) != 0)
        std::perror("chdir");
}
