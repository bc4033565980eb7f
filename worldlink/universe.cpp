// The universe link at message level: the dispatcher and one handler per
// inbound type. Inbound frame: result (1 byte), type (1 byte), fields.
#include "worldlink/library.h"


#include <cctype>
#include <cstring>

namespace worldlink {

namespace {

constexpr uint32_t CACHE_VALUE_SIZE = sizeof(WorldCacheValue);

// What a handler sees: the instance, its link, the header's result byte and
// the bytes left after the header. A handler returns true when it closed or
// replaced the link, whose reason then no longer concerns the dispatcher.
struct Inbound {
    Instance* instance;
    Connection* link;
    int result;
    int left;
};
using Handler = bool (*)(Inbound&);

AttributeStore* store_of(const Inbound& in) { return in.instance->attributes; }

int send_pong(Connection* link) { return msg_pack(link, {pack_begin(MSG_UNIVERSE_PONG), pack_end()}); }

// Consumes what is left of a message whose fields are not read.
bool skip_rest(Inbound& in) {
    msg_unpack(in.link, {unpack_skip(in.left), unpack_end()});
    return false;
}

// Result only: types 1, 4, 29 and 31. The result stays in last_universe_result.
bool on_result_only(Inbound& in) {
    msg_unpack(in.link, {unpack_end()});
    return false;
}

// session (word), text (string), ticket (long, from universe build 23):
// all present only when bytes follow the header.
bool on_login_reply(Inbound& in) {
    Instance* instance = in.instance;
    if (in.left > 0) {
        uint16_t session = 0;
        char text[256];
        if (msg_unpack(in.link, {unpack_word(&session), unpack_string(text), unpack_stop()}) != 0) return false;
        int32_t ticket = 0;
        const bool with_ticket = instance->universe_build > 22;
        if (with_ticket && msg_unpack(in.link, {unpack_long(&ticket), unpack_stop()}) != 0) return false;
        instance->session = session;
        if (with_ticket) instance->ticket = static_cast<uint32_t>(ticket);
        store_string_set(store_of(in), ATTR_LOGIN_REPLY_TEXT, text);
    }
    if (msg_unpack(in.link, {unpack_end()}) != 0) return false;
    if (in.result != 0) {
        instance->universe_state = UNIVERSE_NONE;
        instance->universe_reconnect = 0;
        link_close(&instance->universe_link);
        return true;
    }
    instance->universe_reconnect = 1;
    instance->universe_state = UNIVERSE_LOGGED_IN;
    // Back after a universe reconnect while in a world: log in there again.
    if (instance->world_state == WORLD_IN) world_login(instance);
    return false;
}

// world name (string); on success: address (long), port (word), build (word).
// Only an answer that the instance awaits is taken: one it never asked for
// would send it to another world's address.
bool on_world_address(Inbound& in) {
    Instance* instance = in.instance;
    const int asker = instance->world_lookup;
    if (asker == LOOKUP_NONE) return skip_rest(in);
    char name[256];
    if (msg_unpack(in.link, {unpack_string(name), unpack_stop()}) != 0) return false;
    for (char* c = name; *c != '\0'; ++c) *c = static_cast<char>(std::tolower(static_cast<unsigned char>(*c)));
    if (in.result == 0) {
        int32_t address = 0;
        uint16_t port = 0;
        uint16_t build = 0;
        if (msg_unpack(in.link, {unpack_long(&address), unpack_word(&port), unpack_word(&build), unpack_stop()}) != 0)
            return false;
        instance->world_address = net_order32(static_cast<uint32_t>(address));
        instance->world_port = net_order16(port);
        instance->world_build = build;
        // Names beyond 8 characters cannot be entered; cutting them to fit
        // the key would file them under another world's name.
        if (std::strlen(name) <= 8) {
            const WorldCacheKey key = world_cache_key(instance, name);
            int found = 0;
            TableEntry* entry = table_add(library.world_address_cache, &key, sizeof key, CACHE_VALUE_SIZE, &found);
            if (entry != nullptr) {
                WorldCacheValue value{};
                value.address = instance->world_address;
                value.port = instance->world_port;
                value.stored_at = tick_now();
                value.build = build;
                std::memcpy(table_value(entry), &value, sizeof value);
            }
        }
    }
    if (msg_unpack(in.link, {unpack_end()}) != 0) return false;
    instance->world_lookup = LOOKUP_NONE;
    if (asker == LOOKUP_BY_RETRY && instance->world_state == WORLD_LOOKUP) {
        // A world that is not running is asked for again at the next retry.
        if (in.result != 0)
            world_retry(instance);
        else
            world_reopen(instance);
    }
    return false;
}

// receive discard (word), send discard (word). The ciphers start whatever the
// fields said: a server that keys the link expects enciphered bytes next.
bool on_key(Inbound& in) {
    uint16_t receive_discard = 0;
    uint16_t send_discard = 0;
    msg_unpack(in.link, {unpack_word(&receive_discard), unpack_word(&send_discard), unpack_end()});
    connection_start_ciphers(in.link, receive_discard, send_discard);
    return false;
}

bool on_ping(Inbound& in) {
    if (msg_unpack(in.link, {unpack_end()}) == 0) send_pong(in.link);
    return false;
}

// new address (4 bytes as sent), new port (word).
bool on_redirect(Inbound& in) {
    Instance* instance = in.instance;
    uint32_t address = 0;
    uint16_t port = 0;
    if (msg_unpack(in.link, {unpack_address(&address), unpack_word(&port), unpack_end()}) != 0) return false;
    instance->universe_address = address;
    instance->universe_port = net_order16(port);
    universe_reopen(instance);
    return true;
}

// new session (word). The world login must go out again with it.
bool on_renumber(Inbound& in) {
    uint16_t session = 0;
    if (msg_unpack(in.link, {unpack_word(&session), unpack_end()}) != 0) return false;
    in.instance->session = session;
    if (in.instance->world_link != nullptr) world_retry(in.instance);
    return false;
}

// While bytes remain: tag (byte), value (string), stored by tag.
bool on_universe_properties(Inbound& in) {
    AttributeStore* store = store_of(in);
    store_int_set(store, ATTR_UNIVERSE_PROP_09, 0);
    store_int_set(store, ATTR_UNIVERSE_PROP_10, 1);
    int left = in.left;
    while (left > 0) {
        uint8_t tag = 0;
        char text[256];
        if (msg_unpack(in.link, {unpack_byte(&tag), unpack_string(text), unpack_remaining(&left), unpack_stop()}) != 0)
            return false;
        if (tag > 11) continue;
        // Tags 0 to 11 sit at attributes 9 to 20 in order.
        store_set_text(store, ATTR_UNIVERSE_PROP_00 + tag, text);
        if (ATTR_UNIVERSE_PROP_00 + tag == ATTR_UNIVERSE_BUILD) in.instance->universe_build = store_int(store, ATTR_UNIVERSE_BUILD);
    }
    if (msg_unpack(in.link, {unpack_end()}) != 0) return false;
    event_fire(in.instance, EVENT_UNIVERSE_PROPERTIES);
    return false;
}

// One entry: name (string), status (byte), count (word).
bool name_list_entry(Inbound& in, int* left) {
    char name[256];
    uint8_t status = 0;
    uint16_t count = 0;
    const int reason = left != nullptr
        ? msg_unpack(in.link, {unpack_string(name), unpack_byte(&status), unpack_word(&count), unpack_remaining(left), unpack_stop()})
        : msg_unpack(in.link, {unpack_string(name), unpack_byte(&status), unpack_word(&count), unpack_stop()});
    if (reason != 0) return false;
    if (event_installed(EVENT_NAME_LIST_ENTRY)) {
        AttributeStore* store = store_of(in);
        store_string_set(store, ATTR_LIST_NAME, name);
        store_int_set(store, ATTR_LIST_STATUS, status);
        store_int_set(store, ATTR_LIST_COUNT, count);
        event_fire(in.instance, EVENT_NAME_LIST_ENTRY);
    }
    return true;
}

bool on_name_list(Inbound& in) {
    library.current_instance = in.instance;
    int left = in.left;
    while (left > 0) {
        if (!name_list_entry(in, &left)) break;
        if (library.instance_gone) return false;
    }
    msg_unpack(in.link, {unpack_end()});
    store_int_set(store_of(in), ATTR_LIST_MORE, 0);
    return false;
}

// count (word), more to come (byte), resume number (long), then the entries.
bool on_name_list_counted(Inbound& in) {
    library.current_instance = in.instance;
    uint16_t count = 0;
    uint8_t more = 0;
    int32_t resume = 0;
    if (msg_unpack(in.link, {unpack_word(&count), unpack_byte(&more), unpack_long(&resume), unpack_stop()}) != 0)
        return false;
    for (int k = 0; k < count; ++k) {
        if (!name_list_entry(in, nullptr)) break;
        if (library.instance_gone) return false;
    }
    in.instance->list_resume = static_cast<uint32_t>(resume);
    msg_unpack(in.link, {unpack_end()});
    store_int_set(store_of(in), ATTR_LIST_MORE, more);
    return false;
}

// The fields of the next five handlers belong to attribute numbers 183 and
// up, beyond the store: they are read and dropped, and the events still fire.

// While bytes remain: number (long), kind (byte), then no, one (kind 0) or
// two (kind 1) strings.
bool on_directory_list(Inbound& in) {
    int left = in.left;
    while (left > 0) {
        int32_t number = 0;
        uint8_t kind = 0;
        char first[256];
        char second[256];
        if (msg_unpack(in.link, {unpack_long(&number), unpack_byte(&kind), unpack_stop()}) != 0) return false;
        if (kind == 0 && msg_unpack(in.link, {unpack_string(first), unpack_stop()}) != 0) return false;
        if (kind == 1 && msg_unpack(in.link, {unpack_string(first), unpack_string(second), unpack_stop()}) != 0)
            return false;
        if (msg_unpack(in.link, {unpack_remaining(&left), unpack_stop()}) != 0) return false;
        event_fire(in.instance, EVENT_DIRECTORY_ENTRY);
        if (library.instance_gone) return false;
    }
    msg_unpack(in.link, {unpack_end()});
    return false;
}

// On success: number (long), two texts (strings), acknowledge flag (byte).
bool on_universe_notice(Inbound& in) {
    // A refused notice carries no fields we know; its bytes still have to go.
    if (in.result != 0) return skip_rest(in);
    int32_t number = 0;
    char first[256];
    char second[256];
    uint8_t acknowledge = 0;
    if (msg_unpack(in.link, {unpack_long(&number), unpack_string(first), unpack_string(second),
                             unpack_byte(&acknowledge), unpack_end()}) != 0)
        return false;
    event_fire(in.instance, EVENT_UNIVERSE_NOTICE);
    if (library.instance_gone) return false;
    if (acknowledge != 0) send_pong(in.link);
    return false;
}

// number (long), text (string).
bool on_universe_text(Inbound& in) {
    int32_t number = 0;
    char text[256];
    if (msg_unpack(in.link, {unpack_long(&number), unpack_string(text), unpack_end()}) != 0) return false;
    event_fire(in.instance, EVENT_UNIVERSE_TEXT);
    return false;
}

// number (long); on success: text (string), three longs, a word.
bool on_number_record_reply(Inbound& in) {
    int32_t number = 0;
    if (msg_unpack(in.link, {unpack_long(&number), unpack_stop()}) != 0) return false;
    if (in.result == 0) {
        char text[256];
        int32_t n1 = 0;
        int32_t n2 = 0;
        int32_t n3 = 0;
        uint16_t word = 0;
        if (msg_unpack(in.link, {unpack_string(text), unpack_long(&n1), unpack_long(&n2), unpack_long(&n3),
                                 unpack_word(&word), unpack_stop()}) != 0)
            return false;
    }
    msg_unpack(in.link, {unpack_end()});
    return false;
}

// text (string), when bytes follow the header.
bool on_universe_text_reply(Inbound& in) {
    char text[256];
    if (in.left > 0 && msg_unpack(in.link, {unpack_string(text), unpack_stop()}) != 0) return false;
    msg_unpack(in.link, {unpack_end()});
    return false;
}

// name (string); on success: string, long, long, string, string, three longs.
bool on_named_record_reply(Inbound& in) {
    AttributeStore* store = store_of(in);
    char name[256];
    if (msg_unpack(in.link, {unpack_string(name), unpack_stop()}) != 0) return false;
    store_string_set(store, ATTR_NAMED_RECORD_NAME, name);
    if (in.result == 0) {
        char s1[256];
        char s2[256];
        char s3[256];
        int32_t n[5] = {};
        if (msg_unpack(in.link, {unpack_string(s1), unpack_long(&n[0]), unpack_long(&n[1]), unpack_string(s2),
                                 unpack_string(s3), unpack_long(&n[2]), unpack_long(&n[3]), unpack_long(&n[4]),
                                 unpack_stop()}) != 0)
            return false;
        store_string_set(store, ATTR_NAMED_RECORD_S1, s1);
        store_int_set(store, ATTR_NAMED_RECORD_N1, n[0]);
        store_int_set(store, ATTR_NAMED_RECORD_N2, n[1]);
        store_string_set(store, ATTR_NAMED_RECORD_S2, s2);
        store_string_set(store, ATTR_NAMED_RECORD_S3, s3);
        store_int_set(store, ATTR_NAMED_RECORD_N3, n[2]);
        store_int_set(store, ATTR_NAMED_RECORD_N4, n[3]);
        store_int_set(store, ATTR_NAMED_RECORD_N5, n[4]);
    }
    msg_unpack(in.link, {unpack_end()});
    return false;
}

// name (string).
bool on_named_record_name(Inbound& in) {
    char name[256];
    if (msg_unpack(in.link, {unpack_string(name), unpack_end()}) != 0) return false;
    store_string_set(store_of(in), ATTR_NAMED_RECORD_NAME, name);
    return false;
}

// Account property tags and their attributes; other tags are dropped.
int account_attribute(int tag) {
    if (tag >= 0 && tag <= 2) return ATTR_ACCOUNT_PROP_00 + tag;
    if (tag == 3) return ATTR_ACCOUNT_PROP_03;
    if (tag >= 17 && tag <= 25) return ATTR_ACCOUNT_PROP_17 + (tag - 17);
    return -1;
}

// number (long), then while bytes remain: tag (byte), value (string).
bool on_account_reply(Inbound& in) {
    AttributeStore* store = store_of(in);
    int32_t number = 0;
    int left = 0;
    if (msg_unpack(in.link, {unpack_long(&number), unpack_remaining(&left), unpack_stop()}) != 0) return false;
    store_int_set(store, ATTR_ACCOUNT_NUMBER, number);
    while (left > 0) {
        uint8_t tag = 0;
        char text[256];
        if (msg_unpack(in.link, {unpack_byte(&tag), unpack_string(text), unpack_remaining(&left), unpack_stop()}) != 0)
            return false;
        const int attribute = account_attribute(tag);
        if (attribute >= 0) store_set_text(store, attribute, text);
    }
    msg_unpack(in.link, {unpack_end()});
    return false;
}

// number (long).
bool on_account_number_reply(Inbound& in) {
    int32_t number = 0;
    if (msg_unpack(in.link, {unpack_long(&number), unpack_end()}) != 0) return false;
    store_int_set(store_of(in), ATTR_ACCOUNT_NUMBER, number);
    return false;
}

// word, long, string, long, word.
bool on_record_notice(Inbound& in) {
    uint16_t w1 = 0;
    uint16_t w2 = 0;
    int32_t n1 = 0;
    int32_t n2 = 0;
    char text[256];
    if (msg_unpack(in.link, {unpack_word(&w1), unpack_long(&n1), unpack_string(text), unpack_long(&n2),
                             unpack_word(&w2), unpack_end()}) != 0)
        return false;
    if (!event_installed(EVENT_UNIVERSE_RECORD_NOTICE)) return false;
    library.current_instance = in.instance;
    AttributeStore* store = store_of(in);
    store_int_set(store, ATTR_NOTICE_W1, w1);
    store_int_set(store, ATTR_NOTICE_N1, n1);
    store_string_set(store, ATTR_NOTICE_TEXT, text);
    store_int_set(store, ATTR_NOTICE_N2, n2);
    store_int_set(store, ATTR_NOTICE_W2, w2);
    event_fire(in.instance, EVENT_UNIVERSE_RECORD_NOTICE);
    return false;
}

// On success: address (4 bytes as sent), long; then, when bytes remain, a
// long and a string.
bool on_address_record_reply(Inbound& in) {
    if (in.result != 0) return skip_rest(in);
    AttributeStore* store = store_of(in);
    uint32_t address = 0;
    int32_t n1 = 0;
    int left = 0;
    if (msg_unpack(in.link, {unpack_address(&address), unpack_long(&n1), unpack_remaining(&left), unpack_stop()}) != 0)
        return false;
    int32_t as_int;
    std::memcpy(&as_int, &address, sizeof as_int);
    store_int_set(store, ATTR_ADDRESS_RECORD_ADDRESS, as_int);
    store_int_set(store, ATTR_ADDRESS_RECORD_N1, n1);
    if (left > 0) {
        int32_t n2 = 0;
        char text[256];
        if (msg_unpack(in.link, {unpack_long(&n2), unpack_string(text), unpack_stop()}) != 0) return false;
        store_int_set(store, ATTR_ADDRESS_RECORD_N2, n2);
        store_string_set(store, ATTR_ADDRESS_RECORD_TEXT, text);
    }
    msg_unpack(in.link, {unpack_end()});
    return false;
}

struct Route {
    int type;
    Handler handler;
};

constexpr Route ROUTES[] = {
    {MSG_WORLD_ADDRESS, on_world_address},
    {MSG_UNIVERSE_ACK_1, on_result_only},
    {MSG_UNIVERSE_ACK_4, on_result_only},
    {MSG_UNIVERSE_PING, on_ping},
    {MSG_UNIVERSE_NOTICE, on_universe_notice},
    {MSG_NAME_LIST, on_name_list},
    {MSG_DIRECTORY_LIST, on_directory_list},
    {MSG_UNIVERSE_TEXT, on_universe_text},
    {MSG_NUMBER_RECORD_REPLY, on_number_record_reply},
    {MSG_UNIVERSE_REDIRECT, on_redirect},
    {MSG_UNIVERSE_TEXT_REPLY, on_universe_text_reply},
    {MSG_LOGIN_REPLY, on_login_reply},
    {MSG_UNIVERSE_PROPERTIES, on_universe_properties},
    {MSG_UNIVERSE_KEY, on_key},
    {MSG_NAMED_RECORD_REPLY, on_named_record_reply},
    {MSG_NAMED_RECORD_NAME, on_named_record_name},
    {MSG_ACCOUNT_REPLY, on_account_reply},
    {MSG_ACCOUNT_NUMBER_REPLY, on_account_number_reply},
    {MSG_SESSION_RENUMBER, on_renumber},
    {MSG_UNIVERSE_RECORD_NOTICE, on_record_notice},
    {MSG_UNIVERSE_ACK_29, on_result_only},
    {MSG_ADDRESS_RECORD_REPLY, on_address_record_reply},
    {MSG_UNIVERSE_ACK_31, on_result_only},
    {MSG_NAME_LIST_COUNTED, on_name_list_counted},
};

Handler handler_of(int type) {
    for (const auto& route : ROUTES)
        if (route.type == type) return route.handler;
    return skip_rest;
}

}  // namespace

WorldCacheKey world_cache_key(const Instance* instance, const char* lower_name) {
    WorldCacheKey key{};
    key.universe_address = instance->universe_address;
    key.universe_port = instance->universe_port;
    std::memcpy(key.name, lower_name, strnlen(lower_name, sizeof key.name));
    return key;
}

int universe_dispatch(Instance* instance) {
    Connection* link = instance->universe_link;
    int reason = connection_receive(link);
    if (reason != 0) return reason;
    uint8_t result = 0;
    uint8_t type = 0;
    int left = 0;
    reason = msg_unpack(link, {unpack_byte(&result), unpack_byte(&type), unpack_remaining(&left), unpack_stop()});
    if (reason != 0) return reason;
    instance->last_universe_type = type;
    instance->last_universe_result = result;

    const LinkReading reading(link);
    Inbound in{instance, link, result, left};
    const bool link_changed = handler_of(type)(in);
    if (library.instance_gone) return 0;
    if (link_changed) return 0;
    return connection_reason(instance->universe_link);
}

}  // namespace worldlink
