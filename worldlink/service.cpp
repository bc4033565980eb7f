// The service loop: one pass over every link of every instance, wl_wait and
// the blocking wait of the request calls.
#include "worldlink/library.h"

#include <cstdlib>

namespace worldlink {

namespace {

constexpr uint32_t LOGIN_LIMIT = 30000;
constexpr uint32_t WORLD_SILENCE_LIMIT = 90000;
constexpr uint32_t UNIVERSE_KEEPALIVE_AFTER = 60000;
constexpr uint32_t WORLD_KEEPALIVE_AFTER = 45000;
// Reconnects of a world link that fail in a row before the next retry asks
// the universe where the world is now.
constexpr int RELOOKUP_AFTER = 3;

// State of one pass. A pass nested inside an event handler has its own, so
// the outer one still notices instances that the inner one saw destroyed.
struct Pass {
    uint32_t destroyed_at_start;
    bool activity;
    bool gone() const { return library.destroyed != destroyed_at_start; }
};

enum class Side { universe, world };

// Reads one message from a link with its side's dispatcher and applies the
// outcome. A dispatcher whose handler closed or replaced its link answers 0,
// so such a link is never lost a second time.
void dispatch(Pass& pass, Instance* instance, Side side) {
    const int reason = side == Side::universe ? universe_dispatch(instance) : world_dispatch(instance);
    if (pass.gone()) return;
    if (reason == 0) pass.activity = true;
    if (reason == 0 || reason == WIRE_NOT_YET) return;
    if (side == Side::universe) universe_link_lost(instance);
    else world_link_lost(instance);
}

// The end of a connect that went on is news like a message read.
void connect_step(Pass& pass, Instance* instance, Side side) {
    const int reason =
        side == Side::universe ? universe_connect_finish(instance) : world_connect_finish(instance);
    if (reason != WIRE_NOT_YET) pass.activity = true;
}

// The wait found the link ready: a connecting one has ended its connect,
// any other has input.
void serve_ready(Pass& pass, Instance* instance, Side side) {
    const Connection* link = side == Side::universe ? instance->universe_link : instance->world_link;
    if (connection_connecting(link))
        connect_step(pass, instance, side);
    else
        dispatch(pass, instance, side);
}

void universe_side(Pass& pass, Instance* instance, uint32_t now) {
    if (link_busy(instance->universe_link)) return;
    switch (instance->universe_state) {
    case UNIVERSE_RETRY:
        if (tick_reached(now, instance->universe_retry_at)) universe_reopen(instance);
        return;
    case UNIVERSE_CONNECTED:
    case UNIVERSE_CONNECTING:
        if (connection_connecting(instance->universe_link)) connect_step(pass, instance, Side::universe);
        return;
    case UNIVERSE_LOGIN_SENT:
        if (tick_elapsed(now, instance->login_sent_at) > LOGIN_LIMIT) {
            universe_link_lost(instance);
            return;
        }
        [[fallthrough]];
    case UNIVERSE_LOGGED_IN:
        if (connection_reason(instance->universe_link) != 0) {
            universe_link_lost(instance);
            return;
        }
        dispatch(pass, instance, Side::universe);
        return;
    default:
        return;
    }
}

// A world that keeps failing may have moved: after a few failed reconnects
// the universe is asked for its address again, bypassing the cache.
void world_reconnect(Instance* instance) {
    if (instance->world_failures < RELOOKUP_AFTER) {
        world_reopen(instance);
        return;
    }
    if (world_lookup_send(instance, instance->world_name, LOOKUP_BY_RETRY) != 0) {
        world_retry(instance);
        universe_link_lost(instance);
        return;
    }
    instance->world_state = WORLD_LOOKUP;
}

void world_side(Pass& pass, Instance* instance, uint32_t now) {
    if (link_busy(instance->world_link)) return;
    switch (instance->world_state) {
    case WORLD_RETRY:
        if (instance->universe_state != UNIVERSE_LOGGED_IN || !tick_reached(now, instance->world_retry_at)) return;
        world_reconnect(instance);
        return;
    case WORLD_CONNECTING:
        connect_step(pass, instance, Side::world);
        return;
    case WORLD_LOOKUP:
        // The answer (universe.cpp) moves on; a universe link lost meanwhile,
        // or one that keeps silent, never brings it.
        if (instance->universe_state != UNIVERSE_LOGGED_IN ||
            tick_elapsed(now, instance->world_lookup_sent_at) > LOGIN_LIMIT)
            world_retry(instance);
        return;
    case WORLD_LOGIN_SENT:
        if (tick_elapsed(now, instance->world_login_sent_at) > LOGIN_LIMIT) {
            world_link_lost(instance);
            return;
        }
        [[fallthrough]];
    case WORLD_IN:
        if (connection_reason(instance->world_link) != 0) {
            world_link_lost(instance);
            return;
        }
        dispatch(pass, instance, Side::world);
        if (pass.gone()) return;
        // Only a world still being entered or in use can fall silent.
        if (instance->world_state != WORLD_LOGIN_SENT && instance->world_state != WORLD_IN) return;
        if (instance->world_heard_at != 0 && tick_elapsed(now, instance->world_heard_at) > WORLD_SILENCE_LIMIT)
            world_link_lost(instance);
        return;
    default:
        return;
    }
}

// Every link of every instance, world link first, for one wait. Kept between
// passes; links that an outer dispatcher is reading are left out.
Connection** wait_links = nullptr;
int wait_capacity = 0;

int collect_links() {
    const int needed = 2 * library.instance_count;
    if (needed > wait_capacity) {
        auto* grown = static_cast<Connection**>(std::realloc(wait_links, sizeof(Connection*) * needed));
        if (grown == nullptr) return 0;
        wait_links = grown;
        wait_capacity = needed;
    }
    int count = 0;
    for (Instance* instance = library.instances; instance != nullptr && count + 2 <= wait_capacity;
         instance = instance->next) {
        if (instance->world_link != nullptr && !link_busy(instance->world_link))
            wait_links[count++] = instance->world_link;
        if (instance->universe_link != nullptr && !link_busy(instance->universe_link))
            wait_links[count++] = instance->universe_link;
    }
    return count;
}

void wait_for_input(Pass& pass, int timeout_ms) {
    const int count = collect_links();
    Connection* ready = connection_wait(count, wait_links, timeout_ms);
    if (ready == nullptr) return;
    for (Instance* instance = library.instances; instance != nullptr; instance = instance->next) {
        if (instance->universe_link == ready) {
            serve_ready(pass, instance, Side::universe);
            return;
        }
        if (instance->world_link == ready) {
            serve_ready(pass, instance, Side::world);
            return;
        }
    }
}

// Keep-alives go out on links that have sent nothing for a while.
void keep_alive(Pass& pass) {
    const uint32_t now = tick_now();
    for (Instance* instance = library.instances; instance != nullptr; instance = instance->next) {
        if (instance->universe_state == UNIVERSE_LOGGED_IN && !link_busy(instance->universe_link) &&
            tick_elapsed(now, connection_last_send(instance->universe_link)) > UNIVERSE_KEEPALIVE_AFTER) {
            if (msg_pack(instance->universe_link, {pack_begin(MSG_UNIVERSE_KEEPALIVE), pack_end()}) != 0)
                universe_link_lost(instance);
        }
        if (instance->world_state == WORLD_IN && !link_busy(instance->world_link) &&
            tick_elapsed(now, connection_last_send(instance->world_link)) > WORLD_KEEPALIVE_AFTER) {
            // A lost world fires EVENT_WORLD_DISCONNECT, whose handler may
            // destroy instances: the walk cannot go on after that.
            if (msg_pack(instance->world_link, {pack_begin(MSG_WORLD_KEEPALIVE), pack_end()}) != 0) {
                world_link_lost(instance);
                if (pass.gone()) return;
            }
        }
    }
}

}  // namespace

bool link_busy(const Connection* link) {
    if (link == nullptr) return false;
    for (const BusyLink* busy = library.busy_links; busy != nullptr; busy = busy->outer)
        if (busy->link == link) return true;
    return false;
}

void link_close(Connection** link) {
    for (BusyLink* busy = library.busy_links; busy != nullptr; busy = busy->outer)
        if (busy->link == *link) busy->link = nullptr;
    connection_close(*link);
    *link = nullptr;
}

namespace {

int pass_run(Pass& pass, int timeout_ms) {
    const uint32_t now = tick_now();
    for (Instance* instance = library.instances; instance != nullptr; instance = instance->next) {
        universe_side(pass, instance, now);
        if (pass.gone()) return 1;
        world_side(pass, instance, now);
        if (pass.gone()) return 1;
    }
    if (!pass.activity && timeout_ms > 0) {
        wait_for_input(pass, timeout_ms);
        if (pass.gone()) return 1;
    }
    keep_alive(pass);
    return pass.activity || pass.gone() ? 1 : 0;
}

}  // namespace

void service_release() {
    std::free(wait_links);
    wait_links = nullptr;
    wait_capacity = 0;
}

int service_pass(int timeout_ms) {
    if (!library.started || library.instance_count == 0) return 0;
    if (library.event_mask_dirty) {
        // Cleared first, so a handler that installs another event during the
        // update is not forgotten.
        library.event_mask_dirty = 0;
        event_mask_update();
    }
    // Only the outermost pass clears the flag: a pass nested in an event
    // handler must not hide a destruction from the dispatcher below it.
    if (library.pass_depth == 0) library.instance_gone = 0;
    ++library.pass_depth;
    Pass pass{library.destroyed, false};
    const int result = pass_run(pass, timeout_ms);
    --library.pass_depth;
    return result;
}

}  // namespace worldlink

using namespace worldlink;

int wl_wait(int milliseconds) {
    if (!library.started) return REASON_NOT_INITIALIZED;
    if (library.instance_count == 0) return REASON_NO_INSTANCE;
    if (milliseconds < 0) {
        // Runs for good, unless a handler has ended the last instance or the
        // library: nothing would be left to serve.
        while (library.started && library.instance_count > 0) {
            service_pass(SERVICE_SLICE);
            if (wait_canceled()) return REASON_CANCELED;
        }
        return library.started ? REASON_NO_INSTANCE : REASON_NOT_INITIALIZED;
    }
    if (milliseconds == 0) {
        while (service_pass(0) == 1) {
        }
        return 0;
    }
    int remaining = milliseconds;
    while (remaining > 0 && library.started) {
        const uint32_t before = tick_now();
        service_pass(remaining < SERVICE_SLICE ? remaining : SERVICE_SLICE);
        if (wait_canceled()) return REASON_CANCELED;
        const uint32_t spent = tick_elapsed(tick_now(), before);
        remaining = spent >= static_cast<uint32_t>(remaining) ? 0 : remaining - static_cast<int>(spent);
    }
    return 0;
}

int worldlink::wait_for_reply(Instance* instance, int type) {
    instance->last_universe_type = -1;
    const int reason = serve_until(instance, [instance, type] {
        return instance->universe_state == UNIVERSE_NONE || instance->last_universe_type == type;
    });
    if (reason != 0) return reason;
    return instance->universe_state == UNIVERSE_NONE ? REASON_UNABLE_TO_CONNECT : 0;
}
