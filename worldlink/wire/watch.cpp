// The watch set: the platform's readiness set of the links' sockets, and the
// links owed a visit that no socket would announce.
#include "worldlink/wire/platform.h"

#include <cstdlib>

namespace worldlink {

struct WatchSet {
    SocketSet* sockets;
    int links;   // registered, paused ones included
    int paused;
    Connection** owed;
    int owed_count;
    int owed_capacity;
};

namespace {

SocketHandle handle_of(const Connection* connection) { return connection->link->handle; }

// Takes the connection off the owed list; the last entry fills its place.
void owed_remove(Connection* connection) {
    WatchSet* set = connection->watch.set;
    const int slot = connection->watch.owed_slot;
    if (slot < 0) return;
    Connection* last = set->owed[--set->owed_count];
    set->owed[slot] = last;
    last->watch.owed_slot = slot;
    connection->watch.owed_slot = -1;
}

bool owes(const Connection* connection) {
    return connection->reason != 0 || connection->send_fill > 0 || connection->recv_ahead > 0;
}

// A socket the set cannot watch would never be reported: the link fails.
void socket_watch(Connection* connection) {
    const LinkWatch& watch = connection->watch;
    if (socket_set_watch(watch.set->sockets, handle_of(connection), connection_connecting(connection), watch.tag) != 0)
        connection_record(connection, socket_last_error());
}

}  // namespace

WatchSet* watch_create() {
    auto* set = static_cast<WatchSet*>(std::malloc(sizeof(WatchSet)));
    if (!set) return nullptr;
    *set = WatchSet{socket_set_create(), 0, 0, nullptr, 0, 0};
    if (!set->sockets) {
        std::free(set);
        return nullptr;
    }
    return set;
}

void watch_destroy(WatchSet* set) {
    if (!set) return;
    socket_set_destroy(set->sockets);
    std::free(set->owed);
    std::free(set);
}

int connection_watch(WatchSet* set, Connection* connection, uintptr_t tag) {
    if (!set || !connection || !connection->link) return WIRE_NULL_POINTER;
    if (set->owed_capacity < set->links + 1) {
        // Room for every link on the owed list, so owing never fails.
        const int capacity = set->owed_capacity > 0 ? 2 * set->owed_capacity : 64;
        auto* grown = static_cast<Connection**>(std::realloc(set->owed, sizeof(Connection*) * static_cast<size_t>(capacity)));
        if (!grown) return WIRE_OUT_OF_MEMORY;
        set->owed = grown;
        set->owed_capacity = capacity;
    }
    if (socket_set_watch(set->sockets, handle_of(connection), connection_connecting(connection), tag) != 0)
        return socket_last_error();
    connection->watch = LinkWatch{set, tag, -1, false};
    ++set->links;
    if (owes(connection)) watch_owe(connection);
    return 0;
}

void connection_watch_pause(Connection* connection, bool paused) {
    LinkWatch& watch = connection->watch;
    if (!watch.set || watch.paused == paused) return;
    watch.paused = paused;
    if (paused) {
        socket_set_forget(watch.set->sockets, handle_of(connection));
        ++watch.set->paused;
    } else {
        --watch.set->paused;
        socket_watch(connection);
    }
}

int watch_room(const WatchSet* set) { return 2 * set->links; }

int watch_ready(WatchSet* set, uintptr_t* tags, int room) {
    int count = set->links == set->paused ? 0 : socket_set_wait(set->sockets, tags, room, 0);
    if (count < 0) count = 0;
    for (int k = 0; k < set->owed_count;) {
        Connection* connection = set->owed[k];
        if (!owes(connection)) {
            owed_remove(connection);
            continue;
        }
        if (!connection->watch.paused && count < room) tags[count++] = connection->watch.tag;
        ++k;
    }
    return count;
}

int watch_wait(WatchSet* set, uintptr_t* tags, int room, int timeout_ms) {
    // Bytes received ahead are input that no socket announces again.
    int count = 0;
    for (int k = 0; k < set->owed_count && count < room; ++k) {
        const Connection* connection = set->owed[k];
        if (!connection->watch.paused && connection->recv_ahead > 0) tags[count++] = connection->watch.tag;
    }
    if (set->links == set->paused) return count;
    const int more = socket_set_wait(set->sockets, tags + count, room - count, count > 0 ? 0 : timeout_ms);
    return more > 0 ? count + more : (count > 0 ? count : more);
}

void watch_owe(Connection* connection) {
    WatchSet* set = connection->watch.set;
    if (!set || connection->watch.owed_slot >= 0) return;
    connection->watch.owed_slot = set->owed_count;
    set->owed[set->owed_count++] = connection;
}

void watch_connected(Connection* connection) {
    if (connection->watch.set && !connection->watch.paused) socket_watch(connection);
}

void watch_forget(Connection* connection) {
    WatchSet* set = connection->watch.set;
    if (!set) return;
    owed_remove(connection);
    if (connection->watch.paused)
        --set->paused;
    else
        socket_set_forget(set->sockets, handle_of(connection));
    --set->links;
    connection->watch.set = nullptr;
}

}  // namespace worldlink
