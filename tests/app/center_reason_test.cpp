#include "app/flock_dialog.h"

#include <gtest/gtest.h>

#include <climits>

namespace {

struct Center {
    int z, x, y;
    bool operator==(const Center&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Center& c) {
    return out << "z=" << c.z << " x=" << c.x << " y=" << c.y;
}

struct CenterCase {
    const char* text;
    Center expected;
};

// Parses each text over the callers' values {7, 8, 9}.
void ExpectCenters(std::initializer_list<CenterCase> cases) {
    for (const CenterCase& c : cases) {
        Center got{7, 8, 9};
        FlockDialog::ParseCenter(c.text, got.z, got.x, got.y);
        EXPECT_EQ(got, c.expected) << '"' << c.text << '"';
    }
}

TEST(ParseCenter, ReadsTokensIntoTheirAxes) {
    ExpectCenters({{"0n 0e 0a", {0, 0, 0}},          {"1.5n 2e 0.1a", {1500, -2000, 100}},
                   {"-2e", {7, 2000, 9}},             {"2s", {-2000, 8, 9}},
                   {"5N", {5000, 8, 9}},              {".5w", {7, 500, 9}},
                   {"12.5s 3.1w 0.4a", {-12500, 3100, 400}}, {"1n 2n", {2000, 8, 9}},
                   {"0.0004n", {0, 8, 9}},            {"-0.0015s", {1, 8, 9}},
                   {"1e3n", {1000000, 8, 9}},         {"  \t3a   4w \n", {7, 4000, 3000}}});
}

TEST(ParseCenter, TokensWithoutEffectLeaveTheCallersValues) {
    for (const char* text : {"+5n", "5", "90", "n", "north", "", "   ", "5x", "-", "0x10", "inf"}) {
        ExpectCenters({{text, {7, 8, 9}}});
    }
    // A tab does not split: one token, judged by its first and last characters.
    // Only plain decimals are read: no hexadecimal, infinity or NaN.
    ExpectCenters({{"5n\t3w", {7, 5000, 9}}, {"0x10n", {0, 8, 9}}, {"-nann", {0, 8, 9}}, {"-infw", {7, 0, 9}}});
}

TEST(ParseCenter, ProductsBeyondTheIntRangeSaturate) {
    ExpectCenters({{"3000000n", {INT_MAX, 8, 9}},
                   {"3000000s", {INT_MIN, 8, 9}},
                   {"1e400w 1e-400a", {7, INT_MAX, 0}},
                   {"2147483.647n", {INT_MAX, 8, 9}},
                   {"-2147483.648n", {INT_MIN, 8, 9}}});
}

// Words where the table has them, otherwise the number; the text is shared
// between calls.
TEST(ReasonText, GivesTheWordsOrTheNumber) {
    const std::pair<int, const char*> cases[] = {
        {0, "success"}, {200, "no error (sdk bug, should be 0)"}, {471, "connection lost"}, {2, "2"},
        {473, "473"},   {480, "canceled"},  {10061, "10061"},     {INT_MIN, "-2147483648"}};
    for (auto [code, text] : cases) {
        EXPECT_STREQ(FlockDialog::ReasonText(code), text) << code;
    }
    const char* first = FlockDialog::ReasonText(13);
    EXPECT_STREQ(first, "invalid password");
    EXPECT_EQ(FlockDialog::ReasonText(402), first);
    EXPECT_STREQ(first, "timeout");
}

}  // namespace
