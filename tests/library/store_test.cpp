#include "tests/library/library_fixture.h"

#include <bit>
#include <climits>
#include <string>

namespace {

class StoreTest : public ::testing::Test {
protected:
    AttributeStore* store = store_create();
    ~StoreTest() override { store_destroy(store); }
};

TEST_F(StoreTest, ANewStoreReadsZerosAndEmptyTexts) {
    ASSERT_NE(store, nullptr);
    for (int number = 0; number < ATTR_COUNT; ++number) {
        EXPECT_EQ(store_int(store, number), 0) << number;
        const char* text = store_string(store, number);
        if (text != nullptr) {
            EXPECT_STREQ(text, "") << number;
        }
    }
}

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

TEST_F(StoreTest, TextsUpTo255CharactersFit) {
    const std::string longest(255, 'a');
    EXPECT_EQ(store_string_set(store, ATTR_LOGIN_NAME, longest.c_str()), 0);
    EXPECT_EQ(store_string(store, ATTR_LOGIN_NAME), longest);
    const std::string too_long(256, 'b');
    EXPECT_EQ(store_string_set(store, ATTR_LOGIN_NAME, too_long.c_str()), REASON_STRING_TOO_LONG);
    EXPECT_EQ(store_string(store, ATTR_LOGIN_NAME), longest) << "the old value stays";
}

TEST_F(StoreTest, TextsAreCopiesAndEmptyMeansUnset) {
    char source[] = "Bird1";
    ASSERT_EQ(store_string_set(store, ATTR_LOGIN_NAME, source), 0);
    source[0] = 'X';
    EXPECT_STREQ(store_string(store, ATTR_LOGIN_NAME), "Bird1");
    EXPECT_EQ(store_string_set(store, ATTR_LOGIN_NAME, ""), 0);
    ASSERT_NE(store_string(store, ATTR_LOGIN_NAME), nullptr);
    EXPECT_STREQ(store_string(store, ATTR_LOGIN_NAME), "");
    EXPECT_EQ(store_string_set(store, ATTR_LOGIN_NAME, nullptr), 0);
    EXPECT_STREQ(store_string(store, ATTR_LOGIN_NAME), "");
}

TEST_F(StoreTest, DataBlocksKeepTheirBytesAndLength) {
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
    EXPECT_EQ(store_set_text(store, ATTR_MY_X, "42abc"), 0);
    EXPECT_EQ(store_int(store, ATTR_MY_X), 42);
    store_set_text(store, ATTR_MY_X, "  -17");
    EXPECT_EQ(store_int(store, ATTR_MY_X), -17);
    store_set_text(store, ATTR_MY_X, "abc");
    EXPECT_EQ(store_int(store, ATTR_MY_X), 0);
    store_set_text(store, ATTR_MY_X, "99999999999");
    EXPECT_EQ(store_int(store, ATTR_MY_X), INT32_MAX) << "clamped, not wrapped";
    store_set_text(store, ATTR_MY_X, nullptr);
    EXPECT_EQ(store_int(store, ATTR_MY_X), 0);

    for (const char* yes : {"Y", "yes", "y"}) {
        store_int_set(store, ATTR_SPARE_6, 0);
        store_set_text(store, ATTR_SPARE_6, yes);
        EXPECT_EQ(store_int(store, ATTR_SPARE_6), 1) << yes;
    }
    for (const char* no : {"1", "no", "", " y"}) {
        store_int_set(store, ATTR_SPARE_6, 1);
        store_set_text(store, ATTR_SPARE_6, no);
        EXPECT_EQ(store_int(store, ATTR_SPARE_6), 0) << no;
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
    store_int_set(store, ATTR_WORLD_PROP_23, 0);
    store_string_set(store, ATTR_WORLD_PROP_38, "x");
    const uint8_t bytes[] = {9};
    store_data_set(store, ATTR_WORLD_DATA, bytes, 1);
    store_string_set(store, ATTR_WORLD_NAME, "earth");
    store_int_set(store, ATTR_MY_X, 5);

    store_world_defaults(store);

    EXPECT_EQ(store_int(store, ATTR_WORLD_PROP_05), 10080);
    EXPECT_EQ(store_int(store, ATTR_WORLD_PROP_13), 178);
    EXPECT_EQ(store_int(store, ATTR_WORLD_PROP_23), 1);
    EXPECT_EQ(store_int(store, ATTR_WORLD_PROP_29), 1500);
    EXPECT_EQ(store_int(store, ATTR_WORLD_PROP_53), 120);
    EXPECT_EQ(store_int(store, ATTR_WORLD_PROP_58), -1);
    EXPECT_EQ(store_int(store, ATTR_WORLD_PROP_60), 10);
    EXPECT_EQ(store_int(store, ATTR_WORLD_PROP_49), 255);
    EXPECT_EQ(store_int(store, ATTR_WORLD_PROP_39), 0);
    EXPECT_EQ(std::bit_cast<uint32_t>(store_float(store, ATTR_WORLD_PROP_41)), 0xBF4CCCCDu);
    EXPECT_EQ(store_float(store, ATTR_WORLD_PROP_42), -0.5f);
    EXPECT_EQ(store_float(store, ATTR_WORLD_PROP_43), -0.2f);
    EXPECT_STREQ(store_string(store, ATTR_WORLD_PROP_38), "*");
    EXPECT_STREQ(store_string(store, ATTR_WORLD_PROP_59), "*");
    EXPECT_STREQ(store_string(store, ATTR_WORLD_OBJECT_PATH), "http://objects.localhost/default/");
    int length = -1;
    store_data(store, ATTR_WORLD_DATA, &length);
    EXPECT_EQ(length, 0);
    EXPECT_STREQ(store_string(store, ATTR_WORLD_NAME), "earth");
    EXPECT_EQ(store_int(store, ATTR_MY_X), 5);
}

TEST_F(StoreTest, ReadOnlyFlagsComeFromTheTable) {
    EXPECT_EQ(store_read_only(ATTR_LOGIN_NAME), 0);
    EXPECT_EQ(store_read_only(ATTR_AVATAR_SESSION), 1);
    EXPECT_EQ(store_read_only(ATTR_WORLD_PROP_14), 1);
    EXPECT_EQ(store_read_only(ATTR_WORLD_RESULT_VALUE), 1);
    EXPECT_EQ(store_read_only(ATTR_SPARE_125), 0);
    EXPECT_STREQ(attribute_name(ATTR_WORLD_DISCONNECT_REASON), "WORLD_DISCONNECT_REASON");
}

// The public calls act on the current instance.
class PublicAttributeTest : public LibraryTest {};

TEST_F(PublicAttributeTest, NeedAnInstance) {
    EXPECT_EQ(wl_int_set(ATTR_MY_X, 1), REASON_NO_INSTANCE);
    EXPECT_EQ(wl_string_set(ATTR_LOGIN_NAME, "x"), REASON_NO_INSTANCE);
    EXPECT_EQ(wl_int(ATTR_MY_X), 0);
    EXPECT_EQ(wl_string(ATTR_LOGIN_NAME), nullptr);
}

TEST_F(PublicAttributeTest, ANewInstanceReadsZerosAndEmptyTexts) {
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
    EXPECT_EQ(wl_string(ATTR_LOGIN_NAME), std::string(255, 'n'));
    EXPECT_EQ(wl_float_set(ATTR_WORLD_PROP_42, 2.5f), 0);
    EXPECT_EQ(store_float(second->attributes, ATTR_WORLD_PROP_42), 2.5f);

    ASSERT_EQ(wl_instance_set(first), 0);
    EXPECT_EQ(wl_int(ATTR_SPARE_6), 0);
    EXPECT_STREQ(wl_string(ATTR_LOGIN_NAME), "");
}

}  // namespace
