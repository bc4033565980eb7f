// The pass over ready links: passes nested in handlers, instances destroyed
// while their links are ready, deadlines among busy links, and the lookup of
// instances by address.
#include "tests/library/library_fixture.h"

#include <functional>
#include <vector>

namespace {

// Handlers are plain functions: what they need lives here.
ScriptedPeer* peer = nullptr;
FakeClock* time_source = nullptr;
Instance* other = nullptr;
int read_inside = -1;
bool other_sent_inside = false;

class PassTest : public LibraryTest {
protected:
    void SetUp() override {
        LibraryTest::SetUp();
        peer = &universe;
        time_source = &clock;
    }
    static bool sent_now(const Instance* instance) {
        return connection_last_send(instance->universe_link) == tick_now();
    }
};

TEST_F(PassTest, APassInsideAHandlerServesALinkThatBecameReadyMeanwhile) {
    other = logged_in(7);  // link 0
    logged_in(8);          // link 1
    wl_event_set(EVENT_UNIVERSE_PROPERTIES, [] {
        ++fired;
        peer->send(0, MSG_UNIVERSE_PING);
        if (!readable(other->universe_link)) return;
        wl_wait(0);
        read_inside = other->last_universe_type;
    });
    universe.send(1, MSG_UNIVERSE_PROPERTIES);
    ASSERT_TRUE(pump_until([] { return fired == 1; }));
    EXPECT_EQ(read_inside, MSG_UNIVERSE_PING);
    universe.expect(MSG_UNIVERSE_PONG);
}

TEST_F(PassTest, AnInstanceDestroyedWhileItsLinkIsReadyIsNeverServed) {
    other = logged_in(7);  // link 0, served after the head
    Instance* head = logged_in(8);
    wl_event_set(EVENT_UNIVERSE_PROPERTIES, [] {
        ++fired;
        if (wl_instance_set(other) == 0) wl_destroy();
    });
    universe.send(0, MSG_UNIVERSE_PING);
    universe.send(1, MSG_UNIVERSE_PROPERTIES);
    ASSERT_TRUE(readable(other->universe_link));
    ASSERT_TRUE(readable(head->universe_link));

    EXPECT_EQ(service_pass(0), 1);
    EXPECT_EQ(fired, 1);
    EXPECT_EQ(wl_instance_set(other), REASON_INVALID_INSTANCE);
    // A new instance may take the freed address; the old link stays unserved.
    create();
    wl_wait(0);
    EXPECT_TRUE(universe.wait_closed(0));
    EXPECT_EQ(universe.count(MSG_UNIVERSE_PONG), 0);
}

// Another instance has input in every pass; each deadline is still acted on
// in the first pass after it.
TEST_F(PassTest, DeadlinesComeDueWhileOtherLinksKeepEveryPassBusy) {
    const struct {
        const char* name;
        std::function<Instance*()> prepare;
        uint32_t wait;
        std::function<bool(Instance*)> done;
    } rows[] = {
        // First: the peer has nothing queued before its login.
        {"login limit",
         [&] {
             universe.clear_rules();  // no reply to the login
             Instance* instance = create();
             EXPECT_EQ(universe_login(instance), 0);
             instance->universe_state = UNIVERSE_LOGIN_SENT;
             universe.expect(MSG_LOGIN);  // taken before the next rule
             return instance;
         },
         30001, [](Instance* i) { return i->universe_state == UNIVERSE_NONE; }},
        {"universe keep-alive", [&] { return logged_in(); }, 60001, [](Instance* i) { return sent_now(i); }},
        {"universe retry",
         [&] {
             Instance* instance = logged_in();
             universe.close();
             EXPECT_TRUE(pump_until([instance] { return instance->universe_state == UNIVERSE_RETRY; }));
             return instance;
         },
         1000, [](Instance* i) { return i->universe_state != UNIVERSE_RETRY; }},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        Instance* idle = row.prepare();
        Instance* busy = logged_in();
        for (int k = 0; k < 20; ++k) universe.send(MSG_UNIVERSE_PING);
        ASSERT_TRUE(readable(busy->universe_link));
        clock.advance(row.wait);
        EXPECT_EQ(service_pass(0), 1);
        EXPECT_TRUE(row.done(idle));
        wl_wait(0);
        for (Instance* instance : {idle, busy}) {
            wl_instance_set(instance);
            wl_destroy();
        }
    }
}

// Messages that came in with an earlier one are served one per pass, though
// their socket has nothing left to announce them.
TEST_F(PassTest, MessagesReceivedAheadAreServedOnePerPass) {
    Instance* instance = logged_in();
    for (int k = 0; k < 5; ++k) universe.send(MSG_UNIVERSE_PING);
    ASSERT_TRUE(readable(instance->universe_link));
    for (int k = 0; k < 5; ++k) EXPECT_EQ(service_pass(0), 1) << "pass " << k;
    EXPECT_EQ(instance->universe_link->recv_ahead, 0);
    EXPECT_EQ(service_pass(0), 0);
    EXPECT_TRUE(universe.wait_count(MSG_UNIVERSE_PONG, 5));
}

TEST_F(PassTest, AKeepAliveDueWhileItsLinkIsBeingReadGoesOutOnceTheReadingEnds) {
    Instance* reading = logged_in(7);  // link 0
    other = logged_in(8);
    wl_event_set(EVENT_UNIVERSE_PROPERTIES, [] {
        time_source->advance(60001);
        wl_wait(0);
        other_sent_inside = sent_now(other);
        wl_instance_set(other);  // the read instance is no longer current
        ++fired;
    });
    universe.send(0, MSG_UNIVERSE_PROPERTIES);
    ASSERT_TRUE(readable(reading->universe_link));
    wl_wait(0);
    ASSERT_EQ(fired, 1);
    EXPECT_TRUE(other_sent_inside) << "the nested pass kept the other link alive";
    EXPECT_TRUE(sent_now(reading)) << "the link read meanwhile, once free";
}

TEST(InstanceIndex, AnswersAsTheListWouldThroughGrowthAndRemovals) {
    // Spaced like heap records; the index never reads through them.
    std::vector<const Instance*> all;
    for (uintptr_t k = 0; k < 1000; ++k) all.push_back(reinterpret_cast<const Instance*>(0x7f0000100000 + 240 * k));
    const struct {
        const char* name;
        bool (*removed)(size_t);
        bool newest_first;
    } rows[] = {
        {"every other", [](size_t k) { return k % 2 == 0; }, false},
        {"every other, newest first", [](size_t k) { return k % 2 == 0; }, true},
        {"the older half", [](size_t k) { return k < 500; }, false},
        {"scattered", [](size_t k) { return k * 7 % 10 < 3; }, true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        InstanceIndex index{};
        for (const Instance* instance : all) ASSERT_TRUE(index_add(&index, instance));
        for (size_t n = 0; n < all.size(); ++n) {
            const size_t k = row.newest_first ? all.size() - 1 - n : n;
            if (row.removed(k)) index_remove(&index, all[k]);
        }
        for (size_t k = 0; k < all.size(); ++k) ASSERT_EQ(index_has(&index, all[k]), !row.removed(k)) << k;
        EXPECT_FALSE(index_has(&index, nullptr));
        index_release(&index);
    }
}

}  // namespace
