#include "app/field_exchange.h"
#include "fake_frame.h"

#include <gtest/gtest.h>


namespace {

struct IntegerCase {
    const char* text;
    bool valid;
    int value;
};

TEST(FieldInteger, FollowsTheFieldRules) {
    const IntegerCase cases[] = {
        {"42", true, 42},
        {" \t-17 \t", true, -17},
        {"+5", true, 5},
        {"0", true, 0},
        {"007", true, 7},
        {"2147483647", true, 2147483647},
        {"-2147483648", true, -2147483647 - 1},
        {"2147483648", false, 0},
        {"-2147483649", false, 0},
        {"99999999999999999999999", false, 0},
        {"", false, 0},
        {"  ", false, 0},
        {"-", false, 0},
        {"4 2", false, 0},
        {"12a", false, 0},
        {"0x10", false, 0},
        {" 0", false, 0},  // a zero must be spelt from a leading 0
        {"-0", false, 0},
        {"00 ", true, 0},
        {"1\n", false, 0},
    };
    for (const IntegerCase& c : cases) {
        int value = -99;
        EXPECT_EQ(ParseFieldInteger(c.text, value), c.valid) << '"' << c.text << '"';
        EXPECT_EQ(value, c.valid ? c.value : -99) << '"' << c.text << '"';
    }
}

TEST(FieldInteger, OnlyTheFirst31CharactersCount) {
    int value = 0;
    EXPECT_TRUE(ParseFieldInteger("5" + std::string(30, ' ') + "junk", value));
    EXPECT_EQ(value, 5);
    EXPECT_FALSE(ParseFieldInteger("5" + std::string(29, ' ') + "junk", value));
}

class Exchange : public ::testing::Test {
protected:
    std::array<FieldBinding, 6> Fields() {
        return {{{ID_CITIZEN, &citizen, nullptr},
                 {ID_PASSWORD, nullptr, &password},
                 {ID_WORLD, nullptr, &world},
                 {ID_AVATAR, &avatar, nullptr},
                 {ID_CENTER, nullptr, &center},
                 {ID_BIRDS, &birds, nullptr}}};
    }
    void Fill(const char* citizenText, const char* passwordText, const char* worldText,
              const char* avatarText, const char* centerText, const char* birdsText) {
        frame.texts[ID_CITIZEN] = citizenText;
        frame.texts[ID_PASSWORD] = passwordText;
        frame.texts[ID_WORLD] = worldText;
        frame.texts[ID_AVATAR] = avatarText;
        frame.texts[ID_CENTER] = centerText;
        frame.texts[ID_BIRDS] = birdsText;
    }

    FakeFrame frame;
    int citizen = 1;
    std::string password = "oldpw";
    std::string world = "old";
    int avatar = 2;
    std::string center = "1n";
    int birds = 3;
};

TEST_F(Exchange, AllGoodFieldsReachTheMembers) {
    Fill("77", "sixteen-chars-pw", "eightchr", "9", "2s 3w", "5");
    EXPECT_TRUE(TakeFields(frame, Fields()));
    EXPECT_EQ(citizen, 77);
    EXPECT_EQ(password, "sixteen-chars-pw");
    EXPECT_EQ(world, "eightchr");
    EXPECT_EQ(avatar, 9);
    EXPECT_EQ(center, "2s 3w");
    EXPECT_EQ(birds, 5);
    EXPECT_TRUE(frame.messages.empty());
}

TEST_F(Exchange, ANonIntegerStopsAtItsFieldMembersBeforeItTakeTheirValues) {
    Fill("77", "pw", "new", "x1", "2s", "5");
    EXPECT_FALSE(TakeFields(frame, Fields()));
    ASSERT_EQ(frame.messages.size(), 1u);
    EXPECT_EQ(frame.messages[0].text, "Please enter an integer.");
    EXPECT_EQ(frame.messages[0].icon, MessageIcon::Warning);
    EXPECT_EQ(frame.focused, ID_AVATAR);
    EXPECT_EQ(citizen, 77);
    EXPECT_EQ(password, "pw");
    EXPECT_EQ(world, "new");
    EXPECT_EQ(avatar, 2);
    EXPECT_EQ(center, "1n");
    EXPECT_EQ(birds, 3);
}

TEST_F(Exchange, AnOverlongTextNamesTheLimit) {
    Fill("77", "pw", "ninechars", "4", "2s", "5");
    EXPECT_FALSE(TakeFields(frame, Fields()));
    ASSERT_EQ(frame.MessageTexts(), std::vector<std::string>{"Please enter no more than 8 characters."});
    EXPECT_EQ(password, "pw");
    EXPECT_EQ(world, "old");
    EXPECT_EQ(avatar, 2);

    frame.messages.clear();
    Fill("1", "seventeen-chars-p", "w", "4", "2s", "5");
    EXPECT_FALSE(TakeFields(frame, Fields()));
    EXPECT_EQ(frame.MessageTexts(), std::vector<std::string>{"Please enter no more than 16 characters."});
    EXPECT_EQ(citizen, 1);
    EXPECT_EQ(password, "pw");
}

}  // namespace
