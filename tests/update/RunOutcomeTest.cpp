// The exit status of a run of several ports: the most serious of theirs.

#include "RunOutcome.h"

#include <gtest/gtest.h>

using namespace devupdate::update;

namespace {

struct SPair {
    int a;
    int b;
    int moreSerious;
};

TEST(MoreSeriousExitStatusTest, SetupBeforeTimeoutBeforeFailureBeforeCancelBeforeSuccess)
{
    const SPair pairs[] = {
        {EXIT_UPDATED, EXIT_UPDATED, EXIT_UPDATED},
        {EXIT_UPDATED, EXIT_CANCELLED, EXIT_CANCELLED},
        {EXIT_CANCELLED, EXIT_RUN_FAILED, EXIT_RUN_FAILED},
        {EXIT_RUN_FAILED, EXIT_WAKEUP_TIMEOUT, EXIT_WAKEUP_TIMEOUT},
        {EXIT_WAKEUP_TIMEOUT, EXIT_USAGE_OR_SETUP, EXIT_USAGE_OR_SETUP},
        {EXIT_UPDATED, EXIT_USAGE_OR_SETUP, EXIT_USAGE_OR_SETUP},
        {EXIT_CANCELLED, EXIT_WAKEUP_TIMEOUT, EXIT_WAKEUP_TIMEOUT},
        // A status no run gives (a child killed, say) counts as a failed run.
        {EXIT_CANCELLED, 7, EXIT_RUN_FAILED},
        {-9, EXIT_UPDATED, EXIT_RUN_FAILED},
        {EXIT_WAKEUP_TIMEOUT, 127, EXIT_WAKEUP_TIMEOUT},
    };
    for (const SPair& pair : pairs) {
        EXPECT_EQ(MoreSeriousExitStatus(pair.a, pair.b), pair.moreSerious) << pair.a << " " << pair.b;
        EXPECT_EQ(MoreSeriousExitStatus(pair.b, pair.a), pair.moreSerious) << pair.b << " " << pair.a;
    }
}

}  // namespace
