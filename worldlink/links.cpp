// Opening, logging in, losing and retrying the two links of an instance.
#include "worldlink/library.h"

namespace worldlink {

namespace {

constexpr uint32_t RETRY_AFTER = 1000;
// Sent as it stands in the three older world logins.
constexpr int WORLD_LOGIN_CONSTANT = 50;

}  // namespace

int link_open(Instance* instance, Connection** slot, uint32_t address, uint16_t port) {
    int reason = connection_open(address, port, slot);
    if (reason != 0) {
        *slot = nullptr;
        return reason;
    }
    const LinkSide side = slot == &instance->world_link ? SIDE_WORLD : SIDE_UNIVERSE;
    reason = connection_watch(library.watch, *slot, link_tag(instance, side));
    if (reason != 0) link_close(slot);
    return reason;
}

int universe_login(Instance* instance) {
    const AttributeStore* store = instance->attributes;
    instance->login_sent_at = tick_now();
    // The caller moves to state 3 once the login is out.
    deadline_note(limit_passed_at(instance->login_sent_at, LOGIN_LIMIT));
    return msg_pack(instance->universe_link, {pack_begin_sealed(MSG_LOGIN),
                                              pack_long(LIBRARY_BUILD),
                                              pack_string(store_string(store, ATTR_LOGIN_NAME)),
                                              pack_long(store_int(store, ATTR_LOGIN_OWNER)),
                                              pack_string(store_string(store, ATTR_LOGIN_PASSWORD)),
                                              pack_string(store_string(store, ATTR_LOGIN_APPLICATION)),
                                              pack_end()});
}

void universe_link_lost(Instance* instance) {
    if (!instance_alive(instance)) return;
    link_close(&instance->universe_link);
    instance->list_resume = 0;
    if (instance->universe_reconnect) {
        instance->universe_state = UNIVERSE_RETRY;
        instance->universe_retry_at = tick_now() + RETRY_AFTER;
    } else {
        instance->universe_state = UNIVERSE_NONE;
    }
    deadline_touch(instance);
}

void universe_reopen(Instance* instance) {
    link_close(&instance->universe_link);
    instance->universe_connect_reason =
        link_open(instance, &instance->universe_link, instance->universe_address, instance->universe_port);
    if (instance->universe_connect_reason != 0) {
        universe_link_lost(instance);
        return;
    }
    instance->universe_state = UNIVERSE_CONNECTING;
    deadline_touch(instance);
    universe_connect_finish(instance);
}

int universe_connect_finish(Instance* instance) {
    int reason = connection_connected(instance->universe_link);
    if (reason == WIRE_NOT_YET) return reason;
    instance->universe_connect_reason = reason;
    // wl_create's own link waits in state 2 for wl_login.
    if (reason == 0 && instance->universe_state == UNIVERSE_CONNECTING) {
        reason = universe_login(instance);
        if (reason == 0) instance->universe_state = UNIVERSE_LOGIN_SENT;
    }
    if (reason != 0) universe_link_lost(instance);
    return reason;
}

int world_connect(Instance* instance) {
    link_close(&instance->world_link);
    const int reason = link_open(instance, &instance->world_link, instance->world_address, instance->world_port);
    instance->world_connect_reason = reason;
    if (reason != 0) return reason;
    instance->world_state = WORLD_CONNECTING;
    return 0;
}

void world_reopen(Instance* instance) {
    if (world_connect(instance) != 0)
        world_link_lost(instance);
    else
        world_connect_finish(instance);
}

// The deadlines are taken once the connect has had its chance to end at once.
int world_connect_finish(Instance* instance) {
    int reason = connection_connected(instance->world_link);
    if (reason == WIRE_NOT_YET) {
        deadline_touch(instance);
        return reason;
    }
    instance->world_connect_reason = reason;
    if (reason == 0 && instance->world_state == WORLD_CONNECTING) reason = world_login(instance);
    if (reason != 0) world_link_lost(instance);
    return reason;
}

// Layout: world name (string).
int world_lookup_send(Instance* instance, const char* name, int asker) {
    const int reason =
        msg_pack(instance->universe_link, {pack_begin(MSG_WORLD_LOOKUP), pack_string(name), pack_end()});
    if (reason == 0) {
        instance->world_lookup = asker;
        instance->world_lookup_sent_at = tick_now();
        // A retry's caller moves to the lookup state once it is out.
        deadline_note(limit_passed_at(instance->world_lookup_sent_at, LOGIN_LIMIT));
    }
    return reason;
}

int world_login(Instance* instance) {
    Connection* link = instance->world_link;
    const int header = connection_has_cipher(link) ? FIELD_BEGIN : FIELD_BEGIN_SEALED;
    const char* name = instance->world_name;
    const auto session = static_cast<int32_t>(instance->session);
    const auto ticket = static_cast<int32_t>(instance->ticket);
    int reason;
    if (instance->world_build >= 28) {
        reason = msg_pack(link, {{header, MSG_WORLD_LOGIN_V4, nullptr}, pack_string(name), pack_long(session),
                                 pack_long(ticket), pack_word(LIBRARY_BUILD), pack_end()});
    } else if (instance->world_build >= 23) {
        reason = msg_pack(link, {{header, MSG_WORLD_LOGIN_V3, nullptr}, pack_string(name), pack_word(session),
                                 pack_byte(WORLD_LOGIN_CONSTANT), pack_long(ticket), pack_end()});
    } else if (instance->world_build >= 20) {
        reason = msg_pack(link, {{header, MSG_WORLD_LOGIN_V2, nullptr}, pack_string(name), pack_word(session),
                                 pack_byte(WORLD_LOGIN_CONSTANT), pack_end()});
    } else {
        reason = msg_pack(link, {{header, MSG_WORLD_LOGIN_V1, nullptr}, pack_word(session),
                                 pack_byte(WORLD_LOGIN_CONSTANT), pack_end()});
    }
    if (reason == 0) {
        instance->world_login_sent_at = tick_now();
        instance->world_state = WORLD_LOGIN_SENT;
        deadline_touch(instance);
    }
    return reason;
}

void world_link_lost(Instance* instance) {
    if (instance->world_state == WORLD_IN)
        world_link_close(instance, REASON_CONNECTION_LOST);
    else
        ++instance->world_failures;  // a connect or a login that never reached the world
    // The disconnect handler may have destroyed this very instance; one that
    // lives on (another may have gone) is still retried.
    if (!instance_alive(instance)) return;
    world_retry(instance);
}

void world_link_end(Instance* instance) {
    link_close(&instance->world_link);
    avatars_clear(instance->avatars);
}

void world_link_close(Instance* instance, int reason) {
    world_link_end(instance);
    const int old_state = instance->world_state;
    instance->world_state = WORLD_NONE;
    store_int_set(instance->attributes, ATTR_WORLD_DISCONNECT_REASON, reason);
    if (old_state == WORLD_IN || (old_state == WORLD_LOGIN_SENT && instance->entered))
        event_fire(instance, EVENT_WORLD_DISCONNECT);
}

void world_retry(Instance* instance) {
    world_link_end(instance);
    instance->world_state = WORLD_RETRY;
    instance->world_retry_at = tick_now() + RETRY_AFTER;
    instance->world_heard_at = 0;
    deadline_touch(instance);
}

void both_links_lost(Instance* instance) {
    world_link_lost(instance);
    universe_link_lost(instance);
}

}  // namespace worldlink
