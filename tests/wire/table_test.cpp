#include "wire_test_support.h"

#include <cstring>
#include <string>

namespace {

struct TableTest : ::testing::Test {
    KeyedTable* table = table_create(101);
    int found = -1;
    ~TableTest() override { table_destroy(table); }

    TableEntry* add(const std::string& key, int value_size = 16) {
        return table_add(table, key.data(), static_cast<int>(key.size()), value_size, &found);
    }
    TableEntry* find(const std::string& key) { return table_find(table, key.data(), static_cast<int>(key.size())); }
    int remove(const std::string& key) { return table_remove(table, key.data(), static_cast<int>(key.size())); }
};

TEST_F(TableTest, AddingAPresentKeyReturnsTheSameEntry) {
    TableEntry* first = add("world");
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(found, 0);
    std::memcpy(table_value(first), "0123456789abcdef", 16);
    EXPECT_EQ(add("world"), first);
    EXPECT_EQ(found, 1);
    EXPECT_EQ(table->count, 1);
    EXPECT_EQ(std::memcmp(table_value(first), "0123456789abcdef", 16), 0);

    // The empty key is one valid key, filed in bucket 0.
    EXPECT_EQ(table_hash("", 0), 0u);
    TableEntry* empty = table_add(table, nullptr, 0, 4, &found);
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(found, 0);
    EXPECT_EQ(table->buckets[0], empty);
    EXPECT_EQ(add(""), empty);
    EXPECT_EQ(found, 1);
}

// One bucket, so every key meets every other in the same chain.
TEST_F(TableTest, PrefixKeysAreDistinctAndRemovalIsExact) {
    table_destroy(table);
    table = table_create(1);
    EXPECT_EQ(remove("nobody"), 0);
    TableEntry* short_key = add("ab");
    TableEntry* long_key = add("abc");
    EXPECT_EQ(found, 0);
    EXPECT_NE(short_key, long_key);
    EXPECT_EQ(find("ab"), short_key);
    EXPECT_EQ(find("a"), nullptr);
    EXPECT_EQ(remove("ab"), 1);
    EXPECT_EQ(remove("ab"), 0);
    EXPECT_EQ(find("abc"), long_key);
    EXPECT_EQ(remove("abc"), 1);
    EXPECT_EQ(table->count, 0);
    EXPECT_EQ(table->buckets[0], nullptr) << "the only entry of its bucket is gone";
}

TEST_F(TableTest, ValueAreasAreAlignedAndDoNotOverlapTheKey) {
    for (int length = 0; length < 40; ++length) {
        SCOPED_TRACE(length);
        const std::string key(static_cast<size_t>(length), 'k');
        TableEntry* entry = add(key, 19);
        auto* value = static_cast<uint8_t*>(table_value(entry));
        EXPECT_EQ(reinterpret_cast<uintptr_t>(value) % 8, 0u);
        std::memset(value, 0xAB, 19);
        EXPECT_EQ(find(key), entry);
    }
}

TEST_F(TableTest, ThousandsOfEntriesAreAllFound) {
    constexpr uint32_t COUNT = 5000;
    for (uint32_t session = 0; session < COUNT; ++session) {
        TableEntry* entry = table_add(table, &session, 4, 4, &found);
        ASSERT_NE(entry, nullptr);
        ASSERT_EQ(found, 0);
        std::memcpy(table_value(entry), &session, 4);
    }
    for (uint32_t session = 0; session < COUNT; session += 2) EXPECT_EQ(table_remove(table, &session, 4), 1);
    EXPECT_EQ(table->count, static_cast<int>(COUNT / 2));
    for (uint32_t session = 0; session < COUNT; ++session) {
        TableEntry* entry = table_find(table, &session, 4);
        ASSERT_EQ(entry != nullptr, session % 2 == 1) << session;
        if (entry != nullptr) {
            EXPECT_EQ(std::memcmp(table_value(entry), &session, 4), 0) << session;
        }
    }
    // Cleared, the table is empty and as usable as a new one.
    table_clear(table);
    EXPECT_EQ(table->count, 0);
    const uint32_t again = 7;
    EXPECT_EQ(table_find(table, &again, 4), nullptr);
    ASSERT_NE(table_add(table, &again, 4, 4, &found), nullptr);
    EXPECT_EQ(found, 0);
    EXPECT_EQ(table->count, 1);
}

// A hash at or above 2^31 would turn negative in signed bucket arithmetic.
TEST(TableHash, ResultsFitInThirtyOneBits) {
    for (uint32_t k = 0; k < 100000; k += 7) EXPECT_LT(table_hash(&k, 4), 0x80000000u);
}

}  // namespace
