// wl_cancel, called from another thread: every blocking wait gives up after
// its pass, until wl_term. (Cancels that end a login or an entry on their
// way: StartSequence.ACanceledStepEndsTheStartQuietly.)
#include "tests/world/world_fixture.h"

#include <thread>

namespace {

using Cancel = WorldFixture;

TEST_F(Cancel, EndsEveryWaitUntilTerm) {
    std::thread([] { wl_cancel(); }).join();
    EXPECT_EQ(wl_wait(60000), REASON_CANCELED);
    EXPECT_EQ(wl_wait(-1), REASON_CANCELED);
    EXPECT_EQ(wl_wait(0), 0) << "draining what is ready does not block";
    wl_term();
    EXPECT_FALSE(wait_canceled());
}

}  // namespace
