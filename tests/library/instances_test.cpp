#include "tests/library/library_fixture.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>

namespace {

void ignore() {}

TEST(LibraryStart, RefusesOtherBuildsAndStartsOnce) {
    EXPECT_EQ(wl_init(19), REASON_VERSION_MISMATCH);
    EXPECT_EQ(wl_wait(0), REASON_NOT_INITIALIZED) << "a refused build starts nothing";
    ASSERT_EQ(wl_init(20), 0);
    EXPECT_EQ(wl_init(20), 0);
    EXPECT_EQ(wl_wait(0), REASON_NO_INSTANCE);
    EXPECT_EQ(wl_term(), 0);
}

TEST(LibraryStart, EveryCallAnswersWhenNotStarted) {
    EXPECT_EQ(wl_wait(0), REASON_NOT_INITIALIZED);
    EXPECT_EQ(wl_create(ScriptedPeer::host, 1, nullptr), REASON_NOT_INITIALIZED);
    EXPECT_EQ(wl_destroy(), REASON_NOT_INITIALIZED);
    EXPECT_EQ(wl_instance(), nullptr);
    int something = 0;
    EXPECT_EQ(wl_instance_set(reinterpret_cast<Instance*>(&something)), REASON_INVALID_INSTANCE);
    EXPECT_EQ(wl_int_set(ATTR_MY_X, 1), REASON_NOT_INITIALIZED);
    EXPECT_EQ(wl_int(ATTR_MY_X), 0);
    EXPECT_EQ(wl_string(ATTR_LOGIN_NAME), nullptr);
    EXPECT_EQ(wl_event_set(EVENT_CHAT, ignore), REASON_NOT_INITIALIZED);
}

class InstancesTest : public LibraryTest {};

TEST_F(InstancesTest, WaitAndDestroyNeedAnInstance) {
    EXPECT_EQ(wl_wait(0), REASON_NO_INSTANCE);
    EXPECT_EQ(wl_destroy(), REASON_NO_INSTANCE);
    create();
    EXPECT_EQ(wl_wait(0), 0);
    wl_term();
    EXPECT_EQ(wl_wait(0), REASON_NOT_INITIALIZED);
}

TEST_F(InstancesTest, TheNewestIsCurrentAndHeadsTheList) {
    Instance* first = create();
    EXPECT_EQ(wl_instance(), first);
    Instance* second = create();
    EXPECT_EQ(wl_instance(), second);
    EXPECT_EQ(library.instances, second);
    EXPECT_EQ(second->next, first);
    EXPECT_EQ(library.instance_count, 2);
    EXPECT_EQ(second->universe_state, UNIVERSE_CONNECTED);
    EXPECT_EQ(second->world_state, WORLD_NONE);
    EXPECT_EQ(second->universe_port, universe.port_network());
    EXPECT_EQ(second->universe_address, universe.address_network());
}

TEST_F(InstancesTest, DestroyingMakesTheNewestRemainingCurrent) {
    Instance* first = create();
    Instance* second = create();
    ASSERT_EQ(wl_destroy(), 0);
    EXPECT_EQ(wl_instance(), first);
    EXPECT_EQ(wl_instance_set(second), REASON_INVALID_INSTANCE);
    EXPECT_EQ(wl_instance(), first) << "a refused selection keeps the current instance";
    ASSERT_EQ(wl_destroy(), 0);
    EXPECT_EQ(wl_instance(), nullptr);
    EXPECT_EQ(wl_destroy(), REASON_NO_INSTANCE);
    EXPECT_EQ(library.instance_count, 0);
}

TEST_F(InstancesTest, DestroyingAnOlderInstanceLeavesTheHeadCurrent) {
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
}

TEST_F(InstancesTest, AStartedLibraryKeepsItsInstancesOnASecondInit) {
    Instance* instance = create();
    EXPECT_EQ(wl_init(LIBRARY_BUILD), 0);
    EXPECT_EQ(wl_instance(), instance);
    EXPECT_EQ(library.instance_count, 1);
}

TEST_F(InstancesTest, AFailedCreateLeavesNothingBehind) {
    Instance* instance = create();
    Instance* out = nullptr;
    EXPECT_EQ(wl_create(ScriptedPeer::host, 70000, &out), REASON_UNABLE_TO_CONNECT);
    EXPECT_EQ(wl_create(ScriptedPeer::host, -1, &out), REASON_UNABLE_TO_CONNECT);

    // A bound socket that does not listen refuses the connection.
    const int refusing = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(refusing, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    socklen_t size = sizeof address;
    ::getsockname(refusing, reinterpret_cast<sockaddr*>(&address), &size);
    EXPECT_EQ(wl_create(ScriptedPeer::host, ntohs(address.sin_port), &out), REASON_UNABLE_TO_CONNECT);
    ::close(refusing);

    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(wl_instance(), instance);
    EXPECT_EQ(library.instance_count, 1);
}

TEST_F(InstancesTest, TermClosesEveryLink) {
    create();
    create();
    create();
    EXPECT_EQ(wl_term(), 0);
    for (int link = 0; link < 3; ++link) EXPECT_TRUE(universe.wait_closed(link));
    EXPECT_EQ(wl_instance(), nullptr);
}

void destroy_current() { wl_destroy(); }

TEST_F(InstancesTest, AnEndlessWaitEndsWhenAHandlerDestroysTheLastInstance) {
    Instance* instance = logged_in();
    ASSERT_EQ(wl_event_set(EVENT_UNIVERSE_PROPERTIES, destroy_current), 0);
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
