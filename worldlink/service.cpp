// The service loop: passes over the links that are ready, and over every
// instance once a deadline has come; wl_wait and the blocking wait of the
// request calls.
#include "worldlink/library.h"

#include <algorithm>
#include <cstdlib>

namespace worldlink {

namespace {

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

// The earliest of some ticks, none at first.
struct Earliest {
    bool set = false;
    uint32_t tick = 0;
    void note(uint32_t candidate) {
        if (set && tick_reached(candidate, tick)) return;
        set = true;
        tick = candidate;
    }
};

// The work of a pass that no input announces: when it is due for the
// instance, by the same tests that universe_side, world_side and keep_alive
// make. A side whose link an outer dispatcher is reading has none: the pass
// that serves that link takes its deadlines once the reading is over.
Earliest instance_deadline(const Instance* instance, uint32_t now) {
    Earliest earliest;
    const Connection* universe = instance->universe_link;
    const bool logged_in = instance->universe_state == UNIVERSE_LOGGED_IN;
    switch (link_busy(universe) ? int{UNIVERSE_NONE} : instance->universe_state) {
    case UNIVERSE_RETRY:
        earliest.note(instance->universe_retry_at);
        break;
    case UNIVERSE_CONNECTED:
    case UNIVERSE_CONNECTING:
        if (connection_connecting(universe)) earliest.note(connection_connect_deadline(universe));
        break;
    case UNIVERSE_LOGIN_SENT:
        earliest.note(limit_passed_at(instance->login_sent_at, LOGIN_LIMIT));
        break;
    case UNIVERSE_LOGGED_IN:
        earliest.note(limit_passed_at(connection_last_send(universe), UNIVERSE_KEEPALIVE_AFTER));
        break;
    default:
        break;
    }
    const Connection* world = instance->world_link;
    switch (link_busy(world) ? int{WORLD_NONE} : instance->world_state) {
    case WORLD_RETRY:
        if (logged_in) earliest.note(instance->world_retry_at);
        break;
    case WORLD_CONNECTING:
        // A connect that ended at once is taken up by the next pass.
        earliest.note(connection_connecting(world) ? connection_connect_deadline(world) : now);
        break;
    case WORLD_LOOKUP:
        earliest.note(logged_in ? limit_passed_at(instance->world_lookup_sent_at, LOGIN_LIMIT) : now);
        break;
    case WORLD_LOGIN_SENT:
    case WORLD_IN:
        if (instance->world_state == WORLD_LOGIN_SENT)
            earliest.note(limit_passed_at(instance->world_login_sent_at, LOGIN_LIMIT));
        else
            earliest.note(limit_passed_at(connection_last_send(world), WORLD_KEEPALIVE_AFTER));
        if (instance->world_heard_at != 0)
            earliest.note(limit_passed_at(instance->world_heard_at, WORLD_SILENCE_LIMIT));
        break;
    default:
        break;
    }
    return earliest;
}

bool deadline_reached(uint32_t now) { return library.deadline_set && tick_reached(now, library.deadline); }

// Reads one message from a link with its side's dispatcher and applies the
// outcome. A dispatcher whose handler closed or replaced its link answers 0,
// so such a link is never lost a second time.
void dispatch(Pass& pass, Instance* instance, LinkSide side) {
    const int reason = side == SIDE_UNIVERSE ? universe_dispatch(instance) : world_dispatch(instance);
    if (pass.gone()) return;
    if (reason == 0) pass.activity = true;
    if (reason == 0 || reason == WIRE_NOT_YET) return;
    if (side == SIDE_UNIVERSE) universe_link_lost(instance);
    else world_link_lost(instance);
}

// The end of a connect that went on is news like a message read.
void connect_step(Pass& pass, Instance* instance, LinkSide side) {
    const int reason =
        side == SIDE_UNIVERSE ? universe_connect_finish(instance) : world_connect_finish(instance);
    if (reason != WIRE_NOT_YET) pass.activity = true;
}

// Whether a connect may have ended: the socket says so, its time is up, or it
// ended at once.
bool connect_news(uint32_t now, const Connection* link, bool ready) {
    return ready || !connection_connecting(link) || tick_reached(now, connection_connect_deadline(link));
}

// The wait found the link ready: a connecting one has ended its connect,
// any other has input.
void serve_ready(Pass& pass, Instance* instance, LinkSide side) {
    const Connection* link = side == SIDE_UNIVERSE ? instance->universe_link : instance->world_link;
    if (connection_connecting(link))
        connect_step(pass, instance, side);
    else
        dispatch(pass, instance, side);
}

// `ready`: the link has input or owes a visit; only then is it read.
void universe_side(Pass& pass, Instance* instance, uint32_t now, bool ready) {
    if (link_busy(instance->universe_link)) return;
    switch (instance->universe_state) {
    case UNIVERSE_RETRY:
        if (tick_reached(now, instance->universe_retry_at)) universe_reopen(instance);
        return;
    case UNIVERSE_CONNECTED:
    case UNIVERSE_CONNECTING:
        if (connection_connecting(instance->universe_link) && connect_news(now, instance->universe_link, ready))
            connect_step(pass, instance, SIDE_UNIVERSE);
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
        if (ready) dispatch(pass, instance, SIDE_UNIVERSE);
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

void world_side(Pass& pass, Instance* instance, uint32_t now, bool ready) {
    if (link_busy(instance->world_link)) return;
    switch (instance->world_state) {
    case WORLD_RETRY:
        if (instance->universe_state != UNIVERSE_LOGGED_IN || !tick_reached(now, instance->world_retry_at)) return;
        world_reconnect(instance);
        return;
    case WORLD_CONNECTING:
        if (connect_news(now, instance->world_link, ready)) connect_step(pass, instance, SIDE_WORLD);
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
        if (ready) dispatch(pass, instance, SIDE_WORLD);
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

// Room for the tags that one pass gathers: one per depth of nested passes,
// kept between passes.
struct TagRoom {
    uintptr_t* tags;
    int capacity;
};
TagRoom* rooms = nullptr;
int room_depths = 0;

// The room of the pass at `depth` (1 the outermost) for `needed` tags; null
// when there is no memory for it.
uintptr_t* room_at(int depth, int needed) {
    if (depth > room_depths) {
        auto* grown = static_cast<TagRoom*>(std::realloc(rooms, sizeof(TagRoom) * static_cast<size_t>(depth)));
        if (grown == nullptr) return nullptr;
        for (int k = room_depths; k < depth; ++k) grown[k] = TagRoom{nullptr, 0};
        rooms = grown;
        room_depths = depth;
    }
    TagRoom& room = rooms[depth - 1];
    if (needed > room.capacity || room.tags == nullptr) {
        const int capacity = std::max(needed, 2 * room.capacity);
        auto* tags = static_cast<uintptr_t*>(std::realloc(room.tags, sizeof(uintptr_t) * static_cast<size_t>(capacity + 1)));
        if (tags == nullptr) return nullptr;
        room.tags = tags;
        room.capacity = capacity;
    }
    return room.tags;
}

// Instances from the head, universe link before world link.
bool in_pass_order(uintptr_t a, uintptr_t b) {
    const uint64_t first = tag_instance(a)->sequence;
    const uint64_t second = tag_instance(b)->sequence;
    return first != second ? first > second : tag_side(a) < tag_side(b);
}

// The links ready now, each once, in pass order.
int harvest(uintptr_t* tags, int room) {
    uintptr_t* end = tags + watch_ready(library.watch, tags, room);
    std::sort(tags, end, in_pass_order);
    return static_cast<int>(std::unique(tags, end) - tags);
}

// Takes the tags of one instance from the front of the remaining ones.
struct Readiness {
    bool universe = false;
    bool world = false;
};
Readiness take_tags(const uintptr_t*& tag, const uintptr_t* end, const Instance* instance) {
    Readiness ready;
    for (; tag != end && tag_instance(*tag) == instance; ++tag)
        (tag_side(*tag) == SIDE_WORLD ? ready.world : ready.universe) = true;
    return ready;
}

// An instance's turn: its universe side, then its world side. Before a
// deadline, a side whose link is not ready has nothing to do (`both` when one
// may have).
void visit(Pass& pass, Instance* instance, uint32_t now, Readiness ready, bool both) {
    if (both || ready.universe) universe_side(pass, instance, now, ready.universe);
    if (pass.gone()) return;
    if (both || ready.world) world_side(pass, instance, now, ready.world);
}

// A deadline has come: every instance has its turn, as each could have
// something due, but only ready links are read (`every_link`: all are).
void visit_all(Pass& pass, uint32_t now, const uintptr_t* tags, int count, bool every_link) {
    const uintptr_t* tag = tags;
    for (Instance* instance = library.instances; instance != nullptr; instance = instance->next) {
        const Readiness ready = every_link ? Readiness{true, true} : take_tags(tag, tags + count, instance);
        visit(pass, instance, now, ready, true);
        if (pass.gone()) return;
    }
}

// The states of an instance before it was served. A new state brings new
// deadlines; within one they only move later, as sends and input come. A
// pass nested in its handlers left out the deadlines of the link being read.
struct States {
    explicit States(const Instance* instance)
        : universe(instance->universe_state), world(instance->world_state), passes(library.passes) {}
    void note_if_moved(const Instance* instance) const {
        if (instance->universe_state != universe || instance->world_state != world || library.passes != passes)
            deadline_touch(instance);
    }
    int universe;
    int world;
    uint32_t passes;
};

// Only the instances with a ready link have their turn.
void visit_ready(Pass& pass, uint32_t now, const uintptr_t* tags, int count) {
    for (const uintptr_t* tag = tags; tag != tags + count;) {
        Instance* instance = tag_instance(*tag);
        const States before(instance);
        visit(pass, instance, now, take_tags(tag, tags + count, instance), false);
        if (pass.gone()) return;
        before.note_if_moved(instance);
    }
}

// The wait takes the first ready link in the order of one array of every
// link: for each instance from the head its world link, then its universe
// link.
bool waits_before(uintptr_t a, uintptr_t b) {
    const uint64_t first = tag_instance(a)->sequence;
    const uint64_t second = tag_instance(b)->sequence;
    return first != second ? first > second : tag_side(a) > tag_side(b);
}

// Waits for input up to the timeout or the earliest deadline and serves the
// first ready link. Links that an outer dispatcher is reading are left out.
void wait_for_input(Pass& pass, int timeout_ms) {
    // Handlers may have opened links since the pass began.
    const int room = watch_room(library.watch);
    uintptr_t* tags = room_at(library.pass_depth, room);
    if (tags == nullptr) return;
    int wait_ms = timeout_ms;
    if (library.deadline_set)
        wait_ms = static_cast<int>(std::min<uint32_t>(wait_ms, tick_elapsed(library.deadline, tick_now())));
    for (BusyLink* busy = library.busy_links; busy != nullptr; busy = busy->outer)
        if (busy->link != nullptr) connection_watch_pause(busy->link, true);
    const int count = watch_wait(library.watch, tags, room, wait_ms);
    for (BusyLink* busy = library.busy_links; busy != nullptr; busy = busy->outer)
        if (busy->link != nullptr) connection_watch_pause(busy->link, false);
    if (count <= 0) return;
    const uintptr_t first = *std::min_element(tags, tags + count, waits_before);
    Instance* instance = tag_instance(first);
    const States before(instance);
    serve_ready(pass, instance, tag_side(first));
    if (!pass.gone()) before.note_if_moved(instance);
}

// Keep-alives go out on links that have sent nothing for a while. Having
// seen every instance, the walk takes the earliest deadline afresh.
void keep_alive(Pass& pass) {
    const uint32_t now = tick_now();
    const uint32_t changes = library.deadline_changes;
    Earliest earliest;
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
        const Earliest due = instance_deadline(instance, now);
        if (due.set) earliest.note(due.tick);
    }
    // What handlers noted meanwhile may concern instances already seen.
    if (library.deadline_changes != changes && library.deadline_set) earliest.note(library.deadline);
    library.deadline_set = earliest.set;
    library.deadline = earliest.tick;
    ++library.deadline_changes;
}

}  // namespace

void deadline_note(uint32_t tick) {
    if (library.deadline_set && tick_reached(tick, library.deadline)) return;
    library.deadline_set = true;
    library.deadline = tick;
    ++library.deadline_changes;
}

void deadline_touch(const Instance* instance) {
    const Earliest due = instance_deadline(instance, tick_now());
    if (due.set) deadline_note(due.tick);
}

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
    // Entry points act on the current instance and may have moved its
    // deadlines since the last pass.
    if (library.current_instance != nullptr) deadline_touch(library.current_instance);
    const bool due = deadline_reached(now);
    const int room = watch_room(library.watch);
    uintptr_t* tags = room_at(library.pass_depth, room);
    // Without room to gather ready links, every link is read.
    const int count = tags != nullptr ? harvest(tags, room) : 0;
    if (due || tags == nullptr)
        visit_all(pass, now, tags, count, tags == nullptr);
    else
        visit_ready(pass, now, tags, count);
    if (pass.gone()) return 1;
    if (!pass.activity && timeout_ms > 0) {
        wait_for_input(pass, timeout_ms);
        if (pass.gone()) return 1;
    }
    if (due || deadline_reached(tick_now())) keep_alive(pass);
    return pass.activity || pass.gone() ? 1 : 0;
}

}  // namespace

void service_release() {
    for (int k = 0; k < room_depths; ++k) std::free(rooms[k].tags);
    std::free(rooms);
    rooms = nullptr;
    room_depths = 0;
    library.deadline_set = false;
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
    ++library.passes;
    Pass pass{library.destroyed, false};
    const int result = pass_run(pass, timeout_ms);
    // A pass cut short has not taken the deadlines of what it did: the next
    // one sees every instance.
    if (pass.gone()) deadline_note(tick_now());
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
