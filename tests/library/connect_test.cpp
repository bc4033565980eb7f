// Connects that hang at a peer that drops packets: nothing else waits for
// them, and they give up after 10 seconds of the library's clock.
#include "tests/library/library_fixture.h"
#include "tests/support/black_hole.h"

#include <atomic>
#include <functional>
#include <thread>

namespace {

constexpr uint32_t CONNECT_LIMIT = 10000;

class ConnectTest : public LibraryTest {
protected:
    void SetUp() override {
        LibraryTest::SetUp();
        if (!hole.ok()) GTEST_SKIP() << "connects to a full accept queue are answered or refused here";
        served = logged_in(7);
        served_link = universe.link_count() - 1;
    }

    // A ping to the served instance comes back: its link was read and answered.
    bool served_now() {
        const int pongs = universe.count(MSG_UNIVERSE_PONG);
        universe.send(served_link, MSG_UNIVERSE_PING);
        return pump_until([&] { return universe.count(MSG_UNIVERSE_PONG) > pongs; });
    }

    static void destroy(Instance* instance) {
        wl_instance_set(instance);
        wl_destroy();
    }

    BlackHole hole;
    Instance* served = nullptr;
    int served_link = -1;
};

// The service loop itself reconnects into the hole: a world retry, and a
// universe redirect.
TEST_F(ConnectTest, AHangingReconnectGivesUpAfterTenSecondsAndIsRetried) {
    for (const bool world_side : {true, false}) {
        SCOPED_TRACE(world_side ? "world retry" : "universe redirect");
        Instance* idle = logged_in(8);  // its keep-alive falls due during the hang
        Instance* bird = logged_in(9);
        const int keepalives = universe.count(MSG_UNIVERSE_KEEPALIVE);
        clock.advance(55000);
        if (world_side) {
            bird->world_address = net_order32(LOOPBACK_ADDRESS);
            bird->world_port = hole.port_network();
            bird->world_build = 30;
            bird->world_state = WORLD_RETRY;
            bird->world_retry_at = tick_now();
        } else {
            universe.send(universe.link_count() - 1, MSG_UNIVERSE_REDIRECT,
                          Body().address(net_order32(LOOPBACK_ADDRESS)).word(hole.port()));
        }
        const int connecting = world_side ? int{WORLD_CONNECTING} : int{UNIVERSE_CONNECTING};
        const int retry = world_side ? int{WORLD_RETRY} : int{UNIVERSE_RETRY};
        const auto state = [&] { return world_side ? bird->world_state : bird->universe_state; };
        ASSERT_TRUE(pump_until([&] { return state() == connecting; }));

        for (int second = 1; second < 10; ++second) {
            clock.advance(1000);
            ASSERT_TRUE(served_now()) << "second " << second;
            EXPECT_EQ(state(), connecting) << "second " << second;
        }
        EXPECT_GT(universe.count(MSG_UNIVERSE_KEEPALIVE), keepalives);

        clock.advance(1000);
        wl_wait(0);
        EXPECT_EQ(world_side ? bird->world_connect_reason : bird->universe_connect_reason, WSA_TIMED_OUT);
        EXPECT_EQ(state(), retry);
        clock.advance(999);
        wl_wait(0);
        EXPECT_NE(state(), connecting);
        clock.advance(1);
        wl_wait(0);
        EXPECT_EQ(state(), connecting) << "retried 1000 ms later";
        destroy(bird);
        destroy(idle);
    }
}

// wl_create and wl_enter block their caller, yet serve every other link while
// they wait, and fail with the timed-out connect.
TEST_F(ConnectTest, BlockingCallsGiveUpAfterTenSecondsWhileOthersAreServed) {
    universe.on(MSG_WORLD_LOOKUP, [this](ScriptedPeer& peer, const PeerFrame& frame) {
        peer.send(frame.link, MSG_WORLD_ADDRESS,
                  Body().string("earth").dword(LOOPBACK_ADDRESS).word(hole.port()).word(30));
    });
    Instance* bird = nullptr;
    struct Call {
        const char* name;
        std::function<int()> run;
        std::function<void()> check;
    };
    const Call calls[] = {
        {"wl_create", [this] { return wl_create(ScriptedPeer::host, hole.port(), nullptr); },
         [this] {
             EXPECT_EQ(library.instance_count, 2) << "no instance is left of it";
             EXPECT_EQ(wl_instance(), served);
         }},
        {"wl_enter",
         [&bird] {
             wl_instance_set(bird);
             return wl_enter("earth");
         },
         [&bird] { EXPECT_EQ(bird->world_state, WORLD_RETRY) << "the service loop tries again"; }},
    };
    for (const Call& call : calls) {
        SCOPED_TRACE(call.name);
        if (bird != nullptr) destroy(bird);
        bird = logged_in(9);
        wl_instance_set(served);

        // The clock moves a second at a time, each step only once the
        // served instance has answered a ping.
        std::atomic<bool> returned{false};
        std::atomic<bool> driven{false};
        int answered = 0;
        std::thread driver([&] {
            for (int step = 0; step < 30 && !returned; ++step) {
                clock.advance(1000);
                const int pongs = universe.count(MSG_UNIVERSE_PONG);
                universe.send(served_link, MSG_UNIVERSE_PING);
                if (!universe.wait_count(MSG_UNIVERSE_PONG, pongs + 1)) break;
                ++answered;
            }
            driven = true;
        });
        const uint32_t before = tick_now();
        const int reason = call.run();
        const uint32_t spent = tick_elapsed(tick_now(), before);
        // Checked before any further pass: the driver may still move the
        // clock on once, and the pump below would then act on it.
        call.check();
        returned = true;
        // The last ping may still wait for its pong.
        EXPECT_TRUE(pump_until([&] { return driven.load(); }));
        driver.join();

        EXPECT_EQ(reason, WSA_TIMED_OUT);
        EXPECT_GE(spent, CONNECT_LIMIT);
        EXPECT_GE(answered, 9);
    }
}

}  // namespace
