#include "tests/world/world_fixture.h"

Heard heard;

namespace {

template <int... Slots>
void install(std::integer_sequence<int, Slots...>) {
    (wl_event_set(Slots, record_event<Slots>), ...);
}

constexpr int WORLD_LOGINS[] = {MSG_WORLD_LOGIN_V1, MSG_WORLD_LOGIN_V2, MSG_WORLD_LOGIN_V3, MSG_WORLD_LOGIN_V4};

}  // namespace

void install_every_event() { install(std::make_integer_sequence<int, EVENT_COUNT>()); }

void WorldFixture::SetUp() {
    heard = Heard();
    ASSERT_EQ(wl_init(LIBRARY_BUILD), 0);
    // Off tick 0, which stands for "never" in some of the library's stamps.
    clock.advance(1000);
    // Universe build 30: the login reply carries a ticket.
    universe.on(MSG_LOGIN, [](ScriptedPeer& peer, const PeerFrame& frame) {
        peer.send(frame.link, MSG_UNIVERSE_PROPERTIES, Body().byte(6).string("30"));
        peer.send(frame.link, MSG_LOGIN_REPLY, Body().word(SESSION).string("welcome").dword(TICKET));
    });
    universe.on(MSG_WORLD_LOOKUP, [this](ScriptedPeer& peer, const PeerFrame& frame) {
        FieldReader reader(frame);
        Body body;
        body.string(reader.string());
        const int result = lookup_result.load();
        const int port = lookup_port.load() != 0 ? lookup_port.load() : world.port();
        if (result == 0) body.dword(LOOPBACK).word(port).word(lookup_build.load());
        peer.send(frame.link, MSG_WORLD_ADDRESS, body, result);
    });
    world_answers();
    ASSERT_EQ(wl_create(ScriptedPeer::host, universe.port(), &bot), 0);
    wl_string_set(ATTR_LOGIN_NAME, "Bird1");
    wl_int_set(ATTR_LOGIN_OWNER, 42);
    wl_string_set(ATTR_LOGIN_PASSWORD, "secret");
    ASSERT_EQ(wl_login(), 0);
    wl_instance_set(bot);
}

void WorldFixture::TearDown() {
    for (int slot = 0; slot < EVENT_COUNT; ++slot) wl_event_set(slot, nullptr);
    wl_term();
}

void WorldFixture::world_answers(const Body& properties) { world_answers_with(MSG_WORLD_PROPERTIES, properties); }

void WorldFixture::world_answers_with(int type, const Body& body) {
    for (int login : WORLD_LOGINS) world.on(login, ScriptedPeer::reply(type, body));
}

int WorldFixture::enter(const char* name) {
    wl_instance_set(bot);
    const int reason = wl_enter(name);
    wl_instance_set(bot);
    return reason;
}

bool WorldFixture::pump_until(const std::function<bool()>& condition) {
    return eventually([&] {
        wl_instance_set(bot);
        wl_wait(0);
        return condition();
    });
}

void WorldFixture::pump() {
    wl_instance_set(bot);
    wl_wait(0);
}

bool WorldFixture::stays_out() {
    const int links = world.link_count();
    clock.advance(5000);
    pump();
    return !world.wait_links(links + 1, 100);
}

std::vector<PeerFrame> frames(ScriptedPeer& peer, int type) {
    std::vector<PeerFrame> found;
    for (auto& frame : peer.history())
        if (frame.type == type) found.push_back(frame);
    return found;
}

void expect_ints(std::initializer_list<std::pair<int, int>> attributes) {
    for (auto [attribute, value] : attributes) EXPECT_EQ(wl_int(attribute), value) << "attribute " << attribute;
}

Body avatar_add_body(int build, int session, const std::string& name) {
    Body body;
    if (build < 28)
        body.word(session);
    else
        body.dword(session);
    body.string(name).dword(1000).dword(-200).dword(3000).word(-900).byte(7).byte(200);
    if (build >= 28) body.word(0xFFFE).dword(11).dword(-12);
    return body;
}

Body object_body(int32_t number, int x_offset, int y, int z_offset) {
    return Body().dword(number).dword(2).dword(3).word(x_offset).word(y).word(z_offset).word(4).string("model").string(
        "").string("action");
}
