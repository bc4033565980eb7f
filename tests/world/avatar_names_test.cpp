// Avatars tables store each name once for all instances, yet every instance
// knows exactly the sessions it was told of, by the names it was told.
#include "worldlink/library.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <string>

using namespace worldlink;

namespace {

class AvatarNames : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(wl_init(LIBRARY_BUILD), 0); }
    // The tables go first: their names live in the library's store.
    void TearDown() override {
        avatars_destroy(first);
        avatars_destroy(second);
        wl_term();
    }

    static std::string name(AvatarTable* avatars, uint32_t session) {
        const char* known = avatars_name(avatars, session);
        return known != nullptr ? known : "(unknown)";
    }
    static int stored() { return library.avatar_names->count; }

    AvatarTable* first = avatars_create();
    AvatarTable* second = avatars_create();
};

TEST_F(AvatarNames, EachTableShowsTheNameItWasTold) {
    ASSERT_EQ(avatars_put(first, 7, "Ann"), 0);
    ASSERT_EQ(avatars_put(second, 7, "Bob"), 0);
    EXPECT_EQ(name(first, 7), "Ann");
    EXPECT_EQ(name(second, 7), "Bob");
    EXPECT_EQ(stored(), 2);

    ASSERT_EQ(avatars_put(second, 7, "Ann"), 0);
    EXPECT_EQ(name(second, 7), "Ann");
    EXPECT_EQ(second->count, 1);
    EXPECT_EQ(stored(), 1) << "the name nobody knows any more is freed";
}

TEST_F(AvatarNames, ForgettingInOneInstanceLeavesTheOther) {
    for (AvatarTable* avatars : {first, second}) {
        ASSERT_EQ(avatars_put(avatars, 1, "Ann"), 0);
        ASSERT_EQ(avatars_put(avatars, 2, "Bob"), 0);
    }
    avatars_remove(first, 1);
    EXPECT_EQ(name(first, 1), "(unknown)");
    EXPECT_EQ(name(second, 1), "Ann");

    Instance bird{};
    bird.avatars = first;
    world_link_end(&bird);
    EXPECT_EQ(first->count, 0);
    EXPECT_EQ(name(first, 2), "(unknown)");
    EXPECT_EQ(name(second, 2), "Bob");
    EXPECT_EQ(stored(), 2);

    avatars_clear(second);
    EXPECT_EQ(stored(), 0);
}

// Adds and removals in a scrambled order against a plain map: every answer
// agrees, and the array keeps room to spare yet follows the count down,
// freeing itself once empty.
TEST_F(AvatarNames, ManyAddsAndRemovalsAgreeWithAMap) {
    std::map<uint32_t, std::string> model;
    uint32_t draw = 12345;
    for (int step = 0; step < 40000; ++step) {
        draw = draw * 1103515245u + 12345u;
        // Sessions 65535 apart share a slot mark.
        const uint32_t session = ((draw >> 16) & 0x1FF) + 65535u * ((draw >> 4) & 3);
        // Adds win early, removals late, so the table rises and falls.
        if (((draw >> 8) & 0xFF) < (step < 20000 ? 200u : 40u)) {
            char told[8];
            std::snprintf(told, sizeof told, "S%u", static_cast<unsigned>(session % 97));
            ASSERT_EQ(avatars_put(first, session, told), 0);
            model[session] = told;
        } else {
            avatars_remove(first, session);
            model.erase(session);
        }
        ASSERT_EQ(first->count, static_cast<int>(model.size()));
        ASSERT_LE(first->count * 4, first->capacity * 3);
        ASSERT_LE(first->capacity, std::max(8, first->count * 16)) << "step " << step;
    }
    for (uint32_t low = 0; low < 0x200; ++low) {
        for (uint32_t session = low; session < low + 4 * 65535u; session += 65535u) {
            const auto known = model.find(session);
            ASSERT_EQ(name(first, session), known == model.end() ? "(unknown)" : known->second) << session;
        }
    }
    for (const auto& [session, told] : model) avatars_remove(first, session);
    EXPECT_EQ(first->capacity, 0);
    EXPECT_EQ(first->slots, nullptr);
    EXPECT_EQ(stored(), 0);
}

}  // namespace
