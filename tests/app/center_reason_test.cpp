#include "app/flock_dialog.h"

#include <gtest/gtest.h>

#include <climits>

namespace {

struct Center {
    int z, x, y;
    bool operator==(const Center&) const = default;
};

Center Parse(const std::string& text, Center start = {0, 0, 0}) {
    FlockDialog::ParseCenter(text, start.z, start.x, start.y);
    return start;
}

std::ostream& operator<<(std::ostream& out, const Center& c) {
    return out << "z=" << c.z << " x=" << c.x << " y=" << c.y;
}

TEST(ParseCenter, ReadsTokensIntoTheirAxes) {
    EXPECT_EQ(Parse("0n 0e 0a"), (Center{0, 0, 0}));
    EXPECT_EQ(Parse("1.5n 2e 0.1a"), (Center{1500, -2000, 100}));
    EXPECT_EQ(Parse("-2e"), (Center{0, 2000, 0}));
    EXPECT_EQ(Parse("2s"), (Center{-2000, 0, 0}));
    EXPECT_EQ(Parse("5N"), (Center{5000, 0, 0}));
    EXPECT_EQ(Parse(".5w"), (Center{0, 500, 0}));
    EXPECT_EQ(Parse("12.5s 3.1w 0.4a"), (Center{-12500, 3100, 400}));
    EXPECT_EQ(Parse("1n 2n"), (Center{2000, 0, 0}));
    EXPECT_EQ(Parse("0.0004n"), (Center{0, 0, 0}));
    EXPECT_EQ(Parse("-0.0015s"), (Center{1, 0, 0}));
    EXPECT_EQ(Parse("1e3n"), (Center{1000000, 0, 0}));
    EXPECT_EQ(Parse("  \t3a   4w \n"), (Center{0, 4000, 3000}));
}

TEST(ParseCenter, TokensWithoutEffectLeaveTheCallersValues) {
    const Center start{7, 8, 9};
    for (const char* text : {"+5n", "5", "90", "n", "north", "", "   ", "5x", "-", "0x10", "inf"}) {
        EXPECT_EQ(Parse(text, start), start) << '"' << text << '"';
    }
    // A tab does not split: one token, judged by its first and last characters.
    EXPECT_EQ(Parse("5n\t3w"), (Center{0, 5000, 0}));
    // Only plain decimals are read: no hexadecimal, infinity or NaN.
    EXPECT_EQ(Parse("0x10n", start), (Center{0, 8, 9}));
    EXPECT_EQ(Parse("-nann", start), (Center{0, 8, 9}));
    EXPECT_EQ(Parse("-infw", start), (Center{7, 0, 9}));
}

TEST(ParseCenter, ProductsBeyondTheIntRangeSaturate) {
    EXPECT_EQ(Parse("3000000n"), (Center{INT_MAX, 0, 0}));
    EXPECT_EQ(Parse("3000000s"), (Center{INT_MIN, 0, 0}));
    EXPECT_EQ(Parse("1e400w 1e-400a"), (Center{0, INT_MAX, 0}));
    EXPECT_EQ(Parse("2147483.647n"), (Center{INT_MAX, 0, 0}));
    EXPECT_EQ(Parse("-2147483.648n"), (Center{INT_MIN, 0, 0}));
}

TEST(ReasonText, GivesTheWordsOrTheNumber) {
    EXPECT_STREQ(FlockDialog::ReasonText(0), "success");
    EXPECT_STREQ(FlockDialog::ReasonText(471), "connection lost");
    EXPECT_STREQ(FlockDialog::ReasonText(200), "no error (sdk bug, should be 0)");
    EXPECT_STREQ(FlockDialog::ReasonText(110), "name doesnt exist");
    EXPECT_STREQ(FlockDialog::ReasonText(429), "unable to connect");
    EXPECT_STREQ(FlockDialog::ReasonText(2), "2");
    EXPECT_STREQ(FlockDialog::ReasonText(472), "472");
    EXPECT_STREQ(FlockDialog::ReasonText(473), "473");
    EXPECT_STREQ(FlockDialog::ReasonText(-1), "-1");
    EXPECT_STREQ(FlockDialog::ReasonText(999), "999");
    EXPECT_STREQ(FlockDialog::ReasonText(10061), "10061");
    EXPECT_STREQ(FlockDialog::ReasonText(INT_MIN), "-2147483648");
}

TEST(ReasonText, TheResultIsSharedBetweenCalls) {
    const char* first = FlockDialog::ReasonText(13);
    std::string copy = first;
    const char* second = FlockDialog::ReasonText(402);
    EXPECT_EQ(first, second);
    EXPECT_EQ(copy, "invalid password");
    EXPECT_STREQ(second, "timeout");
}

}  // namespace
