// Library state and the life of instances: wl_init, wl_term, wl_create,
// wl_destroy, wl_instance, wl_instance_set, wl_cancel.
#include "worldlink/library.h"

#include <atomic>
#include <new>

namespace worldlink {

Library library;

namespace {

constexpr int CACHE_BUCKETS = 101;
// A name per session of every world the instances are in: thousands in a flock.
constexpr int AVATAR_NAME_BUCKETS = 4093;

// Set by wl_cancel from a signal handler or another thread, so it must be
// lock-free; kept apart from the plain Library record for that reason.
std::atomic<int> canceled{0};
static_assert(std::atomic<int>::is_always_lock_free);

// Releases everything that hangs from an instance, then the record.
void instance_free(Instance* instance) {
    store_destroy(instance->attributes);
    link_close(&instance->world_link);
    link_close(&instance->universe_link);
    avatars_destroy(instance->avatars);
    delete instance;
}

void instance_destroy(Instance* instance) {
    for (Instance** link = &library.instances; *link != nullptr; link = &(*link)->next) {
        if (*link == instance) {
            *link = instance->next;
            break;
        }
    }
    index_remove(&library.index, instance);
    instance_free(instance);
    library.current_instance = library.instances;
    library.instance_gone = 1;
    ++library.destroyed;
    --library.instance_count;
}

void release_tables() {
    table_destroy(library.world_address_cache);
    table_destroy(library.avatar_names);
    library.world_address_cache = nullptr;
    library.avatar_names = nullptr;
}

}  // namespace

bool instance_alive(const Instance* instance) { return index_has(&library.index, instance); }

}  // namespace worldlink

using namespace worldlink;

int wl_init(int build) {
    if (build != LIBRARY_BUILD) return REASON_VERSION_MISMATCH;
    if (library.started) return 0;
    library.build = build;
    if (net_start() != 0) return REASON_UNABLE_TO_INITIALIZE_NETWORK;
    tick_start();
    random_seed(clock_raw());
    library.watch = watch_create();
    if (library.watch == nullptr) {
        net_stop();
        return REASON_UNABLE_TO_INITIALIZE_NETWORK;
    }
    library.world_address_cache = table_create(CACHE_BUCKETS);
    library.avatar_names = table_create(AVATAR_NAME_BUCKETS);
    if (library.world_address_cache == nullptr || library.avatar_names == nullptr) {
        release_tables();
        watch_destroy(library.watch);
        library.watch = nullptr;
        net_stop();
        return REASON_OUT_OF_MEMORY;
    }
    library.started = 1;
    return 0;
}

int wl_term() {
    while (library.instances != nullptr) {
        library.current_instance = library.instances;
        instance_destroy(library.instances);
    }
    release_tables();
    watch_destroy(library.watch);
    library.watch = nullptr;
    index_release(&library.index);
    service_release();
    // Stop only a socket layer this library started: a second clean-up
    // would take the sockets from under other users in the process.
    const int reason = library.started ? net_stop() : 0;
    library.started = 0;
    canceled.store(0);
    return reason;
}

int wl_cancel() {
    canceled.store(1);
    return 0;
}

bool worldlink::wait_canceled() {
    return canceled.load() != 0;
}

int wl_create(const char* host, int port, Instance** out) {
    if (!library.started) return REASON_NOT_INITIALIZED;
    // A port that does not fit 16 bits would connect somewhere else entirely.
    if (port < 0 || port > 65535) return REASON_UNABLE_TO_CONNECT;
    uint32_t address = 0;
    const int resolved = resolve_host(host != nullptr ? host : DEFAULT_UNIVERSE_HOST, &address);
    if (resolved != 0) return resolved;

    auto* instance = new (std::nothrow) Instance{};
    if (instance == nullptr) return REASON_OUT_OF_MEMORY;
    instance->attributes = store_create();
    if (instance->attributes == nullptr) {
        instance_free(instance);
        return REASON_OUT_OF_MEMORY;
    }
    instance->universe_address = address;
    instance->universe_port = net_order16(static_cast<uint16_t>(port != 0 ? port : DEFAULT_UNIVERSE_PORT));
    const int opened = link_open(instance, &instance->universe_link, instance->universe_address, instance->universe_port);
    if (opened != 0) {
        instance_free(instance);
        return opened;
    }
    instance->avatars = avatars_create();
    if (instance->avatars == nullptr) {
        instance_free(instance);
        return REASON_OUT_OF_MEMORY;
    }
    if (!index_add(&library.index, instance)) {
        instance_free(instance);
        return REASON_OUT_OF_MEMORY;
    }
    instance->world_state = WORLD_NONE;
    instance->universe_state = UNIVERSE_CONNECTED;
    deadline_touch(instance);

    instance->sequence = ++library.created;
    instance->next = library.instances;
    library.instances = instance;
    ++library.instance_count;
    if (connection_connecting(instance->universe_link)) {
        // In the list while its connect goes on, so the passes that serve
        // every other link meanwhile watch this one too.
        const int reason = serve_until(instance, [instance] { return !connection_connecting(instance->universe_link); });
        // 453: a handler destroyed it already.
        if (reason == REASON_INVALID_INSTANCE) return reason;
        if (reason != 0 || instance->universe_state == UNIVERSE_NONE) {
            const int failed = reason != 0 ? reason : instance->universe_connect_reason;
            Instance* current = library.current_instance;
            instance_destroy(instance);
            library.current_instance = current;
            return failed;
        }
    }
    if (out != nullptr) *out = instance;
    library.current_instance = instance;
    return 0;
}

int wl_destroy() {
    if (!library.started) return REASON_NOT_INITIALIZED;
    if (library.current_instance == nullptr) return REASON_NO_INSTANCE;
    instance_destroy(library.current_instance);
    return 0;
}

Instance* wl_instance() { return library.current_instance; }

int wl_instance_set(Instance* instance) {
    if (!instance_alive(instance)) return REASON_INVALID_INSTANCE;
    library.current_instance = instance;
    return 0;
}
