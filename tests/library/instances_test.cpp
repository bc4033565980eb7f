#include "tests/library/library_fixture.h"

#include "worldlink/wire/platform.h"

#include <chrono>
#include <climits>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace {

TEST(LibraryStart, RefusesOtherBuildsAndAnswersEveryCallUntilStarted) {
    EXPECT_EQ(wl_init(19), REASON_VERSION_MISMATCH);
    // A refused build starts nothing.
    EXPECT_EQ(wl_wait(0), REASON_NOT_INITIALIZED);
    EXPECT_EQ(wl_create(ScriptedPeer::host, 1, nullptr), REASON_NOT_INITIALIZED);
    EXPECT_EQ(wl_destroy(), REASON_NOT_INITIALIZED);
    EXPECT_EQ(wl_instance(), nullptr);
    int something = 0;
    EXPECT_EQ(wl_instance_set(reinterpret_cast<Instance*>(&something)), REASON_INVALID_INSTANCE);
    EXPECT_EQ(wl_int_set(ATTR_MY_X, 1), REASON_NOT_INITIALIZED);
    EXPECT_EQ(wl_int(ATTR_MY_X), 0);
    EXPECT_EQ(wl_string(ATTR_LOGIN_NAME), nullptr);
    EXPECT_EQ(wl_event_set(EVENT_CHAT, [] {}), REASON_NOT_INITIALIZED);
    ASSERT_EQ(wl_init(20), 0);
    EXPECT_EQ(wl_wait(0), REASON_NO_INSTANCE);
    EXPECT_EQ(wl_term(), 0);
}

// Words from the header's table, or the number; a number's text stays put for
// good, on every thread, however many others are asked for meanwhile.
TEST(LibraryReasons, WordsOrTheNumberThatStayPut) {
    const std::pair<int, const char*> cases[] = {
        {0, "success"},        {200, "no error (sdk bug, should be 0)"}, {480, "canceled"},
        {473, "reason 473"},   {12345, "reason 12345"},                   {-1, "reason -1"},
        {INT_MIN, "reason -2147483648"}};
    for (auto [code, words] : cases) EXPECT_STREQ(wl_reason_words(code), words) << code;

    const char* first = wl_reason_words(10061);
    auto ask = [](int from) {
        for (int code = from; code < from + 2000; ++code)
            if (wl_reason_words(code) != "reason " + std::to_string(code)) ADD_FAILURE() << code;
    };
    std::vector<std::thread> askers;
    for (int from : {20000, 21000, 30000}) askers.emplace_back(ask, from);
    for (std::thread& asker : askers) asker.join();
    EXPECT_EQ(wl_reason_words(10061), first);
    EXPECT_STREQ(first, "reason 10061");
}

TEST(LibraryBuild, TellsWhatItWasBuiltAs) {
    EXPECT_EQ(wl_version(), WL_VERSION);
    const std::string expected = "worldlink " + std::to_string(WL_VERSION_MAJOR) + "." +
                                 std::to_string(WL_VERSION_MINOR) + "." + std::to_string(WL_VERSION_PATCH) +
                                 " (build " + std::to_string(LIBRARY_BUILD) + ")";
    EXPECT_EQ(wl_build_string(), expected);
}

// Whoever started the socket layer stops it: on Windows an extra clean-up by
// the library would take Winsock from under the caller's own sockets.
TEST(LibraryTerm, LeavesASocketLayerItDidNotStartRunning) {
    const std::pair<const char*, void (*)()> sequences[] = {
        {"term without init", [] { wl_term(); }},
        {"term after a refused init", [] {
             wl_init(19);
             wl_term();
         }},
        {"term twice", [] {
             wl_init(LIBRARY_BUILD);
             wl_term();
             wl_term();
         }},
    };
    for (const auto& [name, calls] : sequences) {
        SCOPED_TRACE(name);
        ASSERT_EQ(net_start(), 0);
        calls();
        SocketHandle listener = NO_SOCKET;
        uint16_t port = 0;
        EXPECT_EQ(tcp_listen(net_order32(LOOPBACK_ADDRESS), 0, &listener, &port), 0);
        if (listener != NO_SOCKET) socket_close(listener);
        EXPECT_EQ(net_stop(), 0);
    }
}

class InstancesTest : public LibraryTest {};

TEST_F(InstancesTest, TheNewestIsCurrentAndHeadsTheList) {
    EXPECT_EQ(wl_wait(0), REASON_NO_INSTANCE);
    EXPECT_EQ(wl_destroy(), REASON_NO_INSTANCE);
    Instance* first = create();
    EXPECT_EQ(wl_instance(), first);
    EXPECT_EQ(wl_wait(0), 0);
    Instance* second = create();
    EXPECT_EQ(wl_instance(), second);
    EXPECT_EQ(library.instances, second);
    EXPECT_EQ(second->next, first);
    EXPECT_EQ(library.instance_count, 2);
    EXPECT_EQ(second->universe_state, UNIVERSE_CONNECTED);
    EXPECT_EQ(second->world_state, WORLD_NONE);
    EXPECT_EQ(second->universe_port, universe.port_network());
    EXPECT_EQ(second->universe_address, universe.address_network());
    // A second start keeps what the first one built.
    EXPECT_EQ(wl_init(LIBRARY_BUILD), 0);
    EXPECT_EQ(wl_instance(), second);
    EXPECT_EQ(library.instance_count, 2);
    wl_term();
    EXPECT_EQ(wl_wait(0), REASON_NOT_INITIALIZED);
}

TEST_F(InstancesTest, DestroyingLeavesTheNewestRemainingCurrent) {
    Instance* first = create();
    Instance* second = create();
    Instance* third = create();
    ASSERT_EQ(wl_instance_set(second), 0);
    ASSERT_EQ(wl_destroy(), 0);
    EXPECT_EQ(wl_instance(), third);
    EXPECT_EQ(third->next, first);
    EXPECT_TRUE(universe.wait_closed(1)) << "the destroyed instance's link is closed";
    EXPECT_FALSE(universe.closed(0));
    EXPECT_TRUE(universe.quiet()) << "nothing is sent on destruction";
    EXPECT_EQ(wl_instance_set(second), REASON_INVALID_INSTANCE);
    EXPECT_EQ(wl_instance(), third) << "a refused selection keeps the current instance";

    ASSERT_EQ(wl_destroy(), 0);
    EXPECT_EQ(wl_instance(), first);
    ASSERT_EQ(wl_destroy(), 0);
    EXPECT_EQ(wl_instance(), nullptr);
    EXPECT_EQ(wl_destroy(), REASON_NO_INSTANCE);
    EXPECT_EQ(library.instance_count, 0);
}

TEST_F(InstancesTest, AFailedCreateLeavesNothingBehind) {
    Instance* instance = create();
    Instance* out = nullptr;
    EXPECT_EQ(wl_create(ScriptedPeer::host, 70000, &out), REASON_UNABLE_TO_CONNECT);
    EXPECT_EQ(wl_create(ScriptedPeer::host, -1, &out), REASON_UNABLE_TO_CONNECT);
    // An empty name names no host, whatever the local resolver makes of it.
    EXPECT_EQ(wl_create("", universe.port(), &out), 11001);
    SocketHandle listener = NO_SOCKET;
    uint16_t refusing = 0;
    ASSERT_EQ(tcp_listen(universe.address_network(), 0, &listener, &refusing), 0);
    socket_close(listener);
    EXPECT_EQ(wl_create(ScriptedPeer::host, net_order16(refusing), &out), REASON_UNABLE_TO_CONNECT);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(wl_instance(), instance);
    EXPECT_EQ(library.instance_count, 1);
}

TEST_F(InstancesTest, TermClosesEveryLink) {
    for (int k = 0; k < 3; ++k) create();
    EXPECT_EQ(wl_term(), 0);
    for (int link = 0; link < 3; ++link) EXPECT_TRUE(universe.wait_closed(link));
    EXPECT_EQ(wl_instance(), nullptr);
}

TEST_F(InstancesTest, AnEndlessWaitEndsWhenAHandlerDestroysTheLastInstance) {
    Instance* instance = logged_in();
    ASSERT_EQ(wl_event_set(EVENT_UNIVERSE_PROPERTIES, [] { wl_destroy(); }), 0);
    universe.send(MSG_UNIVERSE_PROPERTIES);
    EXPECT_TRUE(readable(instance->universe_link));
    EXPECT_EQ(wl_wait(-1), REASON_NO_INSTANCE);
    EXPECT_EQ(library.instance_count, 0);
}

// On the real clock: a positive wait spends its whole time.
TEST(LibraryWait, APositiveWaitSpendsItsTime) {
    ScriptedPeer universe(PeerRole::universe);
    ASSERT_EQ(wl_init(LIBRARY_BUILD), 0);
    ASSERT_EQ(wl_create(ScriptedPeer::host, universe.port(), nullptr), 0);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(wl_wait(120), 0);
    const auto spent = std::chrono::steady_clock::now() - start;
    EXPECT_GE(spent, std::chrono::milliseconds(115));
    EXPECT_LT(spent, std::chrono::milliseconds(3000));
    wl_term();
}

}  // namespace
