#include "app/field_exchange.h"
#include "fake_frame.h"

#include <gtest/gtest.h>

#include <tuple>

namespace {

TEST(FieldInteger, FollowsTheFieldRules) {
    const struct {
        const char* text;
        bool valid;
        int value;
    } cases[] = {
        {"42", true, 42},          {" \t-17 \t", true, -17},  {"+5", true, 5},
        {"0", true, 0},            {"007", true, 7},          {"2147483647", true, 2147483647},
        {"-2147483648", true, -2147483647 - 1},               {"2147483648", false, 0},
        {"-2147483649", false, 0}, {"99999999999999999999999", false, 0},
        {"", false, 0},            {"  ", false, 0},          {"-", false, 0},
        {"4 2", false, 0},         {"12a", false, 0},         {"0x10", false, 0},
        {" 0", false, 0},  // a zero must be spelt from a leading 0
        {"-0", false, 0},          {"00 ", true, 0},          {"1\n", false, 0},
    };
    for (const auto& c : cases) {
        int value = -99;
        EXPECT_EQ(ParseFieldInteger(c.text, value), c.valid) << '"' << c.text << '"';
        EXPECT_EQ(value, c.valid ? c.value : -99) << '"' << c.text << '"';
    }
    // Only the first 31 characters count.
    int value = 0;
    EXPECT_TRUE(ParseFieldInteger("5" + std::string(30, ' ') + "junk", value));
    EXPECT_EQ(value, 5);
    EXPECT_FALSE(ParseFieldInteger("5" + std::string(29, ' ') + "junk", value));
}

class Exchange : public ::testing::Test {
protected:
    // Fills the six fields and takes them into the members.
    bool Take(std::array<const char*, 6> texts) {
        const std::array<FieldBinding, 6> fields = {{{ID_CITIZEN, &citizen, nullptr},
                                                     {ID_PASSWORD, nullptr, &password},
                                                     {ID_WORLD, nullptr, &world},
                                                     {ID_AVATAR, &avatar, nullptr},
                                                     {ID_CENTER, nullptr, &center},
                                                     {ID_BIRDS, &birds, nullptr}}};
        for (std::size_t i = 0; i < fields.size(); ++i) {
            frame.texts[fields[i].id] = texts[i];
        }
        frame.messages.clear();
        return TakeFields(frame, fields);
    }
    auto Members() const { return std::tuple(citizen, password, world, avatar, center, birds); }

    FakeFrame frame;
    int citizen = 1;
    std::string password = "oldpw";
    std::string world = "old";
    int avatar = 2;
    std::string center = "1n";
    int birds = 3;
};

TEST_F(Exchange, AllGoodFieldsReachTheMembers) {
    EXPECT_TRUE(Take({"77", "sixteen-chars-pw", "eightchr", "9", "2s 3w", "5"}));
    EXPECT_EQ(Members(), std::tuple(77, "sixteen-chars-pw", "eightchr", 9, "2s 3w", 5));
    EXPECT_TRUE(frame.messages.empty());
}

// Members of the fields before the failing one take their new values.
TEST_F(Exchange, AFailedFieldStopsTheExchangeThere) {
    EXPECT_FALSE(Take({"77", "pw", "new", "x1", "2s", "5"}));
    ASSERT_EQ(frame.messages.size(), 1u);
    EXPECT_EQ(frame.messages[0].text, "Please enter an integer.");
    EXPECT_EQ(frame.messages[0].icon, MessageIcon::Warning);
    EXPECT_EQ(frame.focused, ID_AVATAR);
    EXPECT_EQ(Members(), std::tuple(77, "pw", "new", 2, "1n", 3));

    EXPECT_FALSE(Take({"78", "pw2", "ninechars", "4", "2s", "5"}));
    EXPECT_EQ(frame.MessageTexts(), std::vector<std::string>{"Please enter no more than 8 characters."});
    EXPECT_EQ(frame.focused, ID_WORLD);
    EXPECT_EQ(Members(), std::tuple(78, "pw2", "new", 2, "1n", 3));

    EXPECT_FALSE(Take({"1", "seventeen-chars-p", "w", "4", "2s", "5"}));
    EXPECT_EQ(frame.MessageTexts(), std::vector<std::string>{"Please enter no more than 16 characters."});
    EXPECT_EQ(Members(), std::tuple(1, "pw2", "new", 2, "1n", 3));
}

}  // namespace
