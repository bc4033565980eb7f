#include "tests/support/scripted_peer.h"
#include "worldlink/worldlink.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

// The expected values were worked out once by a separate script: a plain
// python3 loop that seeds word 0 with 100000, sets word i to word i-1 * 69069
// mod 2^32, starts the draw index at 1, regenerates the 624 words (offset 397,
// matrix 0x9908B0DF) when the index reaches 624 and tempers with shifts 11, 7,
// 15, 18 and masks 0x9D2C5680, 0xEFC60000.
TEST(LibraryRandom, DrawsFollowTheSeededTwister) {
    FakeClock clock(100000);  // the seed is the raw clock at wl_init
    ASSERT_EQ(wl_init(LIBRARY_BUILD), 0);

    std::vector<uint32_t> draws;
    for (int k = 0; k < 627; ++k) draws.push_back(wl_random());
    EXPECT_EQ(draws[0], 0xE137F530u) << "the first draw tempers word 1, the seed times 69069";
    EXPECT_EQ(draws[1], 0x73072E68u);
    EXPECT_EQ(draws[2], 0x8011EDF8u);
    EXPECT_EQ(draws[3], 0x3459C026u);
    EXPECT_EQ(draws[620], 0x8FDAD434u);
    EXPECT_EQ(draws[621], 0xC9279C7Eu);
    EXPECT_EQ(draws[622], 0xDAA9D115u) << "the 623rd draw tempers the last seeded word";
    EXPECT_EQ(draws[623], 0x19C39B7Au) << "the 624th draw regenerates and starts at word 0";
    EXPECT_EQ(draws[624], 0xDEAB837Fu);
    EXPECT_EQ(draws[625], 0xFD8C0BDCu);
    EXPECT_EQ(draws[626], 0x913343E9u);
    wl_term();
}

}  // namespace
