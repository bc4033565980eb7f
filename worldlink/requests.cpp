// The request calls: log in, enter and leave a world, move, whisper.
// wl_login and wl_enter block in the service loop until their answer has come.
#include "worldlink/library.h"

#include <cctype>
#include <cstring>

namespace worldlink {

namespace {

constexpr uint32_t WORLD_CACHE_LIFETIME = 1800000;  // 30 minutes
constexpr int OLDEST_WORLD_BUILD = 19;
constexpr int WORLD_NAME_MAX = 8;
constexpr int WHISPER_MAX = 255;

// Closes the world link without telling anyone: the server notices the drop.
void world_leave(Instance* instance) {
    world_link_end(instance);
    instance->world_state = WORLD_NONE;
    instance->state_pending = 0;
    // The next world starts its silence clock afresh, or a world left long
    // ago would count as silent the moment it is entered again.
    instance->world_heard_at = 0;
    instance->world_failures = 0;
    // An answer still on its way was asked for the world being left.
    instance->world_lookup = LOOKUP_NONE;
}

// Takes the world's address from the cache while its entry is younger than
// 30 minutes; an older entry is left for the next lookup answer to replace.
void world_cache_take(Instance* instance) {
    WorldCacheKey key = world_cache_key(instance, instance->world_name);
    TableEntry* entry = table_find(library.world_address_cache, &key, sizeof key);
    if (entry == nullptr) return;
    const auto* value = static_cast<const WorldCacheValue*>(table_value(entry));
    if (tick_elapsed(tick_now(), value->stored_at) >= WORLD_CACHE_LIFETIME) return;
    instance->world_address = value->address;
    instance->world_port = value->port;
    instance->world_build = value->build;
    instance->last_universe_result = 0;
}

// Connects and logs in to the world whose address the instance holds, then
// serves every link until the world answers, closes, or the entry fails.
int enter_finish(Instance* instance) {
    if (instance->last_universe_result != 0) return instance->last_universe_result;
    if (instance->world_build < OLDEST_WORLD_BUILD) return REASON_WORLD_TOO_OLD;
    // A failed connect is retried in the service loop like any other, and
    // entered later by itself; this entry has failed all the same.
    world_reopen(instance);
    const int reason = serve_until(instance, [instance] {
        return instance->world_state != WORLD_CONNECTING && instance->world_state != WORLD_LOGIN_SENT;
    });
    if (reason != 0) return reason;
    if (instance->world_state == WORLD_IN) return 0;
    // The connect or the link failed without a word from the world: the retry
    // goes on in the service loop, but this entry has failed and must not read as success
    // (nor as the reason of some earlier close).
    if (instance->world_state == WORLD_RETRY)
        return instance->world_connect_reason != 0 ? instance->world_connect_reason : REASON_UNABLE_TO_CONTACT_WORLD;
    return store_int(instance->attributes, ATTR_WORLD_DISCONNECT_REASON);
}

}  // namespace

int instance_ready() {
    if (!library.started) return REASON_NOT_INITIALIZED;
    if (library.current_instance == nullptr) return REASON_NO_INSTANCE;
    if (library.current_instance->universe_state != UNIVERSE_LOGGED_IN) return REASON_NO_CONNECTION;
    return 0;
}

// Layout: x, y, z (4 bytes each), heading (2), type (1), second value (1).
int send_state(Instance* instance) {
    const AttributeStore* store = instance->attributes;
    return msg_pack(instance->world_link,
                    {pack_begin(MSG_STATE_CHANGE), pack_long(store_int(store, ATTR_MY_X)),
                     pack_long(store_int(store, ATTR_MY_Y)), pack_long(store_int(store, ATTR_MY_Z)),
                     pack_word(store_int(store, ATTR_MY_YAW)), pack_byte(store_int(store, ATTR_MY_TYPE)),
                     pack_byte(store_int(store, ATTR_MY_EXTRA)), pack_end()});
}

}  // namespace worldlink

using namespace worldlink;

int wl_login() {
    if (!library.started) return REASON_NOT_INITIALIZED;
    Instance* instance = library.current_instance;
    if (instance == nullptr) return REASON_NO_INSTANCE;
    if (instance->universe_state == UNIVERSE_NONE) return REASON_NO_CONNECTION;
    int reason = universe_login(instance);
    if (reason != 0) return reason;
    instance->universe_state = UNIVERSE_LOGIN_SENT;
    instance->last_universe_result = 0;
    reason = wait_for_reply(instance, MSG_LOGIN_REPLY);
    if (reason == REASON_INVALID_INSTANCE) return reason;
    if (instance->last_universe_result != 0) return instance->last_universe_result;
    return reason;
}

int wl_enter(const char* world) {
    int reason = instance_ready();
    if (reason != 0) return reason;
    Instance* instance = library.current_instance;
    // Any earlier world ends here, even when the new name is refused.
    world_leave(instance);
    if (world == nullptr) return REASON_INVALID_WORLD_NAME;
    size_t length = strlen(world);
    if (length > WORLD_NAME_MAX) return REASON_INVALID_WORLD_NAME;

    for (size_t i = 0; i < length; ++i)
        instance->world_name[i] = static_cast<char>(tolower(static_cast<unsigned char>(world[i])));
    instance->world_name[length] = '\0';
    instance->world_name_length = static_cast<int>(length);
    store_set_text(instance->attributes, ATTR_WORLD_NAME, instance->world_name);
    instance->world_address = 0;
    world_cache_take(instance);
    instance->entered = 0;

    if (instance->world_address == 0) {
        // The universe is asked in the caller's spelling; only the cache folds case.
        reason = world_lookup_send(instance, world, LOOKUP_BY_ENTER);
        if (reason != 0) return reason;
        reason = wait_for_reply(instance, MSG_WORLD_ADDRESS);
        if (reason != 0) return reason;
    }
    return enter_finish(instance);
}

int wl_exit() {
    int reason = instance_ready();
    if (reason != 0) return reason;
    world_leave(library.current_instance);
    return 0;
}

int wl_state_change() {
    int reason = instance_ready();
    if (reason != 0) return reason;
    Instance* instance = library.current_instance;
    if (instance->world_state != WORLD_IN) return REASON_NO_CONNECTION;
    instance->state_pending = 1;
    return send_state(instance);
}

// Layout: session (2 bytes), text (length byte and characters).
int wl_whisper(int session, const char* text) {
    int reason = instance_ready();
    if (reason != 0) return reason;
    Instance* instance = library.current_instance;
    if (instance->world_state != WORLD_IN) return REASON_NO_CONNECTION;
    if (text != nullptr && strlen(text) > WHISPER_MAX) return REASON_STRING_TOO_LONG;
    return msg_pack(instance->world_link, {pack_begin(MSG_WHISPER), pack_word(session), pack_string(text), pack_end()});
}
