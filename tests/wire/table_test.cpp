#include "wire_test_support.h"

#include <cstring>
#include <string>

namespace {

struct TableTest : ::testing::Test {
    KeyedTable* table = table_create(101);
    ~TableTest() override { table_destroy(table); }

    TableEntry* add(const std::string& key, int* found, int value_size = 16) {
        return table_add(table, key.data(), static_cast<int>(key.size()), value_size, found);
    }
    TableEntry* find(const std::string& key) { return table_find(table, key.data(), static_cast<int>(key.size())); }
    int remove(const std::string& key) { return table_remove(table, key.data(), static_cast<int>(key.size())); }
};

TEST_F(TableTest, AddingAPresentKeyReturnsTheSameEntry) {
    int found = -1;
    TableEntry* first = add("world", &found);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(found, 0);
    std::memcpy(table_value(first), "0123456789abcdef", 16);
    TableEntry* second = add("world", &found);
    EXPECT_EQ(second, first);
    EXPECT_EQ(found, 1);
    EXPECT_EQ(table->count, 1);
    EXPECT_EQ(std::memcmp(table_value(second), "0123456789abcdef", 16), 0);
}

TEST_F(TableTest, PrefixKeysAreDistinct) {
    int found = 0;
    TableEntry* short_key = add("ab", &found);
    TableEntry* long_key = add("abc", &found);
    EXPECT_EQ(found, 0);
    EXPECT_NE(short_key, long_key);
    EXPECT_EQ(find("ab"), short_key);
    EXPECT_EQ(find("abc"), long_key);
    EXPECT_EQ(find("a"), nullptr);
    EXPECT_EQ(remove("ab"), 1);
    EXPECT_EQ(find("abc"), long_key);
}

TEST_F(TableTest, EmptyKeyIsOneValidKey) {
    EXPECT_EQ(table_hash("", 0), 0u);
    int found = -1;
    TableEntry* entry = table_add(table, nullptr, 0, 4, &found);
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(found, 0);
    EXPECT_EQ(table->buckets[0], entry);
    EXPECT_EQ(add("", &found), entry);
    EXPECT_EQ(found, 1);
}

TEST_F(TableTest, RemovingAbsentOrOnlyEntries) {
    EXPECT_EQ(remove("nobody"), 0);
    EXPECT_EQ(table->count, 0);
    int found = 0;
    add("solo", &found);
    const uint32_t bucket = table_hash("solo", 4) % 101;
    EXPECT_EQ(remove("solo"), 1);
    EXPECT_EQ(table->count, 0);
    EXPECT_EQ(table->buckets[bucket], nullptr);
    EXPECT_EQ(remove("solo"), 0);
}

TEST_F(TableTest, ValueAreasAreAlignedAndDoNotOverlapTheKey) {
    for (int length = 0; length < 40; ++length) {
        const std::string key(static_cast<size_t>(length), 'k');
        int found = 0;
        TableEntry* entry = add(key, &found, 19);
        auto* value = static_cast<uint8_t*>(table_value(entry));
        EXPECT_EQ(reinterpret_cast<uintptr_t>(value) % 8, 0u) << length;
        std::memset(value, 0xAB, 19);
        EXPECT_EQ(find(key), entry) << "value writes must not touch the key, length " << length;
    }
}

TEST_F(TableTest, ThousandsOfEntriesAreAllFound) {
    constexpr uint32_t COUNT = 5000;
    for (uint32_t session = 0; session < COUNT; ++session) {
        int found = -1;
        TableEntry* entry = table_add(table, &session, 4, 4, &found);
        ASSERT_NE(entry, nullptr);
        ASSERT_EQ(found, 0);
        std::memcpy(table_value(entry), &session, 4);
    }
    EXPECT_EQ(table->count, static_cast<int>(COUNT));
    for (uint32_t session = 0; session < COUNT; ++session) {
        TableEntry* entry = table_find(table, &session, 4);
        ASSERT_NE(entry, nullptr) << session;
        uint32_t stored = 0;
        std::memcpy(&stored, table_value(entry), 4);
        EXPECT_EQ(stored, session);
    }
    for (uint32_t session = 0; session < COUNT; session += 2) EXPECT_EQ(table_remove(table, &session, 4), 1);
    EXPECT_EQ(table->count, static_cast<int>(COUNT / 2));
    for (uint32_t session = 0; session < COUNT; ++session)
        EXPECT_EQ(table_find(table, &session, 4) != nullptr, session % 2 == 1) << session;
}

TEST(TableHash, FixedRowsAndThirtyOneBitResults) {
    const uint8_t zero = 0, one = 1, top = 0xFF;
    EXPECT_EQ(table_hash(&zero, 1), 0x7BE9C1BDu);
    EXPECT_EQ(table_hash(&one, 1), 0x088AA102u);
    EXPECT_EQ(table_hash(&top, 1), 0x5F80DC7Cu);
    // Second step of {0, 1}: index (0x7BE9C1BD ^ 1) & 0xFF = 0xBC, whose row
    // is the hash of the single byte 0xBC.
    const uint8_t pair[2] = {0, 1};
    const uint8_t row = 0xBC;
    EXPECT_EQ(table_hash(pair, 2), (0x7BE9C1BDu >> 8) ^ table_hash(&row, 1));
    for (uint32_t k = 0; k < 100000; k += 7) EXPECT_LT(table_hash(&k, 4), 0x80000000u);
}

}  // namespace
