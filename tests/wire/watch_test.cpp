// The watch set: which links a pass has to serve, found without trying them.
#include "tests/wire/wire_test_support.h"

#include <chrono>
#include <set>

namespace {

using namespace wiretest;

struct WatchTest : ::testing::Test {
    // First: it outlives the links, which leave it as they close.
    struct Owner {
        WatchSet* set = watch_create();
        ~Owner() { watch_destroy(set); }
    } owner;
    WatchSet* set = owner.set;
    LinkedPair first{PairTest::SMALL_BUFFERS};
    LinkedPair second;

    void SetUp() override {
        ASSERT_NE(set, nullptr);
        ASSERT_EQ(connection_watch(set, first.connection, 1), 0);
        ASSERT_EQ(connection_watch(set, second.connection, 2), 0);
    }
    std::set<uintptr_t> ready() {
        uintptr_t tags[4];
        const int count = watch_ready(set, tags, 4);
        return {tags, tags + count};
    }
    std::set<uintptr_t> waited(int timeout_ms) {
        uintptr_t tags[2];
        const int count = watch_wait(set, tags, 2, timeout_ms);
        return {tags, tags + std::max(count, 0)};
    }
};

using Tags = std::set<uintptr_t>;

TEST_F(WatchTest, ALinkIsReadyForAsLongAsItHasInput) {
    EXPECT_EQ(ready(), Tags{});
    second.write(framed({7}));
    EXPECT_EQ(waited(2000), Tags{2});
    EXPECT_EQ(ready(), Tags{2}) << "still unread";
    ASSERT_EQ(receive_frame(second.connection), 0);
    EXPECT_EQ(ready(), Tags{}) << "the frame is read off the socket";
}

TEST_F(WatchTest, PausedAndClosedLinksAreLeftOut) {
    first.write({1});
    second.write({2});
    connection_watch_pause(first.connection, true);
    EXPECT_EQ(waited(2000), Tags{2});
    connection_watch_pause(first.connection, false);
    ASSERT_TRUE(eventually([&] { return ready() == Tags{1, 2}; }));
    connection_close(second.connection);
    second.connection = nullptr;
    EXPECT_EQ(ready(), Tags{1});

    // With nothing left to watch the wait cannot end by input: it ends at once.
    connection_watch_pause(first.connection, true);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(waited(10000), Tags{});
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}

// Neither shows on the socket, so only the owed list brings them; a plain
// wait, which stands for input, leaves them out.
TEST_F(WatchTest, ALinkOwesAVisitWhileItHoldsAFailureOrUnsentBytes) {
    connection_record(second.connection, WIRE_SEND_FAILED);
    const size_t filler = first.choke();
    ASSERT_EQ(msg_pack(first.connection, {pack_begin(32), pack_end()}), 0);
    EXPECT_EQ(ready(), (Tags{1, 2}));
    EXPECT_EQ(waited(0), Tags{});

    ASSERT_EQ(first.read(filler).size(), filler);
    ASSERT_TRUE(eventually([&] { return connection_flush(first.connection) == 0 && first.connection->send_fill == 0; }));
    EXPECT_EQ(ready(), Tags{2}) << "a failure stays until the link is closed";
}

}  // namespace
