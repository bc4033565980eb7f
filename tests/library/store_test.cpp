#include "tests/library/library_fixture.h"

#include <bit>
#include <climits>
#include <string>
#include <vector>

namespace {

class StoreTest : public ::testing::Test {
protected:
    AttributeStore* store = store_create();
    ~StoreTest() override { store_destroy(store); }
};

TEST_F(StoreTest, EachOperationFitsOnlyItsTypes) {
    EXPECT_EQ(store_int_set(store, ATTR_LOGIN_NAME, 1), REASON_TYPE_MISMATCH);
    EXPECT_EQ(store_float_set(store, ATTR_MY_X, 1.0f), REASON_TYPE_MISMATCH);
    EXPECT_EQ(store_string_set(store, ATTR_SPARE_6, "x"), REASON_TYPE_MISMATCH);
    EXPECT_EQ(store_data_set(store, ATTR_MY_X, nullptr, 0), REASON_TYPE_MISMATCH);
    EXPECT_EQ(store_string(store, ATTR_MY_X), nullptr);

    EXPECT_EQ(store_int_set(store, ATTR_SPARE_6, 7), 0);
    EXPECT_EQ(store_int(store, ATTR_SPARE_6), 1) << "a bool holds 0 or 1";
    EXPECT_EQ(store_int_set(store, ATTR_MY_YAW, -3600), 0);
    EXPECT_EQ(store_int(store, ATTR_MY_YAW), -3600);
    EXPECT_EQ(store_float_set(store, ATTR_WORLD_PROP_41, 0.25f), 0);
    EXPECT_EQ(store_float(store, ATTR_WORLD_PROP_41), 0.25f);
    EXPECT_EQ(store_int(store, ATTR_WORLD_PROP_41), 0) << "floats are not read as ints";
}

TEST_F(StoreTest, NumbersOutsideTheStoreAreInvalid) {
    for (int number : {-1, int{ATTR_COUNT}, 1000}) {
        SCOPED_TRACE(number);
        EXPECT_EQ(store_int_set(store, number, 1), REASON_INVALID_ATTRIBUTE);
        EXPECT_EQ(store_float_set(store, number, 1.0f), REASON_INVALID_ATTRIBUTE);
        EXPECT_EQ(store_string_set(store, number, "x"), REASON_INVALID_ATTRIBUTE);
        EXPECT_EQ(store_data_set(store, number, nullptr, 0), REASON_INVALID_ATTRIBUTE);
        EXPECT_EQ(store_set_text(store, number, "1"), REASON_INVALID_ATTRIBUTE);
        EXPECT_EQ(store_read_only(number), REASON_INVALID_ATTRIBUTE);
        EXPECT_EQ(store_int(store, number), 0);
        EXPECT_EQ(store_string(store, number), nullptr);
    }
}

TEST_F(StoreTest, TextsAndDataAreCopiesWithinTheirLimits) {
    char source[] = "Bird1";
    ASSERT_EQ(store_string_set(store, ATTR_LOGIN_NAME, source), 0);
    source[0] = 'X';
    EXPECT_STREQ(store_string(store, ATTR_LOGIN_NAME), "Bird1");
    for (const char* unset : {"", static_cast<const char*>(nullptr)}) {
        EXPECT_EQ(store_string_set(store, ATTR_LOGIN_NAME, unset), 0);
        ASSERT_NE(store_string(store, ATTR_LOGIN_NAME), nullptr);
        EXPECT_STREQ(store_string(store, ATTR_LOGIN_NAME), "");
    }

    const uint8_t bytes[] = {0x0A, 0x00, 0xFF};
    ASSERT_EQ(store_data_set(store, ATTR_WORLD_DATA, bytes, 3), 0);
    int length = -1;
    const uint8_t* held = store_data(store, ATTR_WORLD_DATA, &length);
    ASSERT_EQ(length, 3);
    EXPECT_EQ(std::vector<uint8_t>(held, held + 3), std::vector<uint8_t>(bytes, bytes + 3));
    EXPECT_EQ(store_data_set(store, ATTR_WORLD_DATA, bytes, 256), REASON_STRING_TOO_LONG);
    EXPECT_EQ(store_data_set(store, ATTR_WORLD_DATA, bytes, 0), 0);
    EXPECT_EQ(store_data(store, ATTR_WORLD_DATA, &length), nullptr);
    EXPECT_EQ(length, 0);
}

TEST_F(StoreTest, SetTextConvertsByTheAttributeType) {
    const struct {
        int number;
        const char* text;
        int expected;
    } rows[] = {
        {ATTR_MY_X, "42abc", 42}, {ATTR_MY_X, "  -17", -17}, {ATTR_MY_X, "abc", 0}, {ATTR_MY_X, nullptr, 0},
        {ATTR_MY_X, "99999999999", INT32_MAX},  // clamped, not wrapped
        {ATTR_SPARE_6, "Y", 1}, {ATTR_SPARE_6, "yes", 1}, {ATTR_SPARE_6, "y", 1},
        {ATTR_SPARE_6, "1", 0}, {ATTR_SPARE_6, "no", 0}, {ATTR_SPARE_6, "", 0}, {ATTR_SPARE_6, " y", 0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.text ? row.text : "null");
        store_int_set(store, row.number, row.expected == 1 ? 0 : 1);
        EXPECT_EQ(store_set_text(store, row.number, row.text), 0);
        EXPECT_EQ(store_int(store, row.number), row.expected);
    }
    store_set_text(store, ATTR_WORLD_PROP_41, "-0.8");
    EXPECT_EQ(std::bit_cast<uint32_t>(store_float(store, ATTR_WORLD_PROP_41)), 0xBF4CCCCDu);
    store_set_text(store, ATTR_WORLD_PROP_00, "lobby");
    EXPECT_STREQ(store_string(store, ATTR_WORLD_PROP_00), "lobby");

    const uint8_t kept[] = {1, 2};
    store_data_set(store, ATTR_WORLD_DATA, kept, 2);
    EXPECT_EQ(store_set_text(store, ATTR_WORLD_DATA, "0aff"), 0);
    int length = 0;
    store_data(store, ATTR_WORLD_DATA, &length);
    EXPECT_EQ(length, 2) << "a data attribute is not written from text";
}

TEST_F(StoreTest, WorldDefaultsResetOnlyTheWorldProperties) {
    store_int_set(store, ATTR_WORLD_PROP_05, 1);
    store_string_set(store, ATTR_WORLD_PROP_38, "x");
    store_float_set(store, ATTR_WORLD_PROP_41, 0);
    const uint8_t bytes[] = {9};
    store_data_set(store, ATTR_WORLD_DATA, bytes, 1);
    store_string_set(store, ATTR_WORLD_NAME, "earth");
    store_int_set(store, ATTR_MY_X, 5);

    store_world_defaults(store);

    EXPECT_EQ(store_int(store, ATTR_WORLD_PROP_05), 10080);
    EXPECT_STREQ(store_string(store, ATTR_WORLD_PROP_38), "*");
    EXPECT_EQ(std::bit_cast<uint32_t>(store_float(store, ATTR_WORLD_PROP_41)), 0xBF4CCCCDu);
    int length = -1;
    store_data(store, ATTR_WORLD_DATA, &length);
    EXPECT_EQ(length, 0);
    EXPECT_STREQ(store_string(store, ATTR_WORLD_NAME), "earth");
    EXPECT_EQ(store_int(store, ATTR_MY_X), 5);
}

// The public calls act on the current instance.
class PublicAttributeTest : public LibraryTest {};

TEST_F(PublicAttributeTest, ANewInstanceReadsZerosAndEmptyTexts) {
    EXPECT_EQ(wl_int_set(ATTR_MY_X, 1), REASON_NO_INSTANCE);
    EXPECT_EQ(wl_string_set(ATTR_LOGIN_NAME, "x"), REASON_NO_INSTANCE);
    EXPECT_EQ(wl_int(ATTR_MY_X), 0);
    EXPECT_EQ(wl_string(ATTR_LOGIN_NAME), nullptr);
    create();
    for (int number = 0; number < ATTR_COUNT; ++number) {
        EXPECT_EQ(wl_int(number), 0) << number;
        const char* text = wl_string(number);
        if (text != nullptr) {
            EXPECT_STREQ(text, "") << number;
        }
    }
    EXPECT_STREQ(wl_string(ATTR_LOGIN_NAME), "");
    EXPECT_EQ(wl_string(ATTR_MY_X), nullptr);
}

TEST_F(PublicAttributeTest, ReadOnlyIsTestedBeforeTypeAndRange) {
    create();
    EXPECT_EQ(wl_int_set(ATTR_COUNT, 1), REASON_READ_ONLY);
    EXPECT_EQ(wl_int_set(-1, 1), REASON_READ_ONLY);
    EXPECT_EQ(wl_int(ATTR_COUNT), 0);
    EXPECT_EQ(wl_string(-1), nullptr);
    EXPECT_EQ(wl_int_set(ATTR_AVATAR_SESSION, 1), REASON_READ_ONLY);
    EXPECT_EQ(wl_float_set(ATTR_AVATAR_SESSION, 1.0f), REASON_READ_ONLY);
    EXPECT_EQ(wl_string_set(ATTR_LOGIN_REPLY_TEXT, "x"), REASON_READ_ONLY);
    EXPECT_EQ(wl_float_set(ATTR_MY_X, 1.0f), REASON_TYPE_MISMATCH);
    EXPECT_EQ(wl_string_set(ATTR_SPARE_6, "x"), REASON_TYPE_MISMATCH);
}

TEST_F(PublicAttributeTest, SettersStoreOnTheCurrentInstance) {
    Instance* first = create();
    Instance* second = create();
    EXPECT_EQ(wl_bool_set(ATTR_SPARE_6, 7), 0);
    EXPECT_EQ(wl_int(ATTR_SPARE_6), 1);
    EXPECT_EQ(wl_string_set(ATTR_LOGIN_NAME, std::string(255, 'n').c_str()), 0);
    EXPECT_EQ(wl_string_set(ATTR_LOGIN_NAME, std::string(256, 'm').c_str()), REASON_STRING_TOO_LONG);
    EXPECT_EQ(wl_string(ATTR_LOGIN_NAME), std::string(255, 'n')) << "the old value stays";
    EXPECT_EQ(wl_float_set(ATTR_WORLD_PROP_42, 2.5f), 0);
    EXPECT_EQ(store_float(second->attributes, ATTR_WORLD_PROP_42), 2.5f);

    ASSERT_EQ(wl_instance_set(first), 0);
    EXPECT_EQ(wl_int(ATTR_SPARE_6), 0);
    EXPECT_STREQ(wl_string(ATTR_LOGIN_NAME), "");
}

}  // namespace
