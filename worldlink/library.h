// The library's private state and the steps its files share. Not installed:
// applications see only worldlink.h.
#pragma once

#include "worldlink/messages.h"
#include "worldlink/wire/wire.h"
#include "worldlink/worldlink.h"

#include <cstdint>

namespace worldlink {

inline constexpr const char* DEFAULT_UNIVERSE_HOST = "localhost";
inline constexpr int DEFAULT_UNIVERSE_PORT = 5670;

// ---------------------------------------------------------------- attributes

enum AttributeType : uint8_t { TYPE_INT, TYPE_BOOL, TYPE_FLOAT, TYPE_STRING, TYPE_DATA };

struct AttributeSlot {
    uint32_t value;  // int or bool value, or float bits
    uint8_t length;  // data slots only
    void* block;     // owned text or bytes, null when unset or empty
};

struct AttributeStore {
    AttributeSlot slots[ATTR_COUNT];
};

AttributeStore* store_create();
void store_destroy(AttributeStore* store);
int store_int(const AttributeStore* store, int number);
float store_float(const AttributeStore* store, int number);
const char* store_string(const AttributeStore* store, int number);
const uint8_t* store_data(const AttributeStore* store, int number, int* length);
int store_int_set(AttributeStore* store, int number, int value);
int store_float_set(AttributeStore* store, int number, float value);
int store_string_set(AttributeStore* store, int number, const char* text);
int store_data_set(AttributeStore* store, int number, const uint8_t* bytes, int length);
int store_set_text(AttributeStore* store, int number, const char* text);
int store_read_only(int number);
// The attribute's name without its ATTR_ prefix; null out of range.
const char* attribute_name(int number);
// Resets the world properties (37..91) to their defaults.
void store_world_defaults(AttributeStore* store);

// ---------------------------------------------------------------- avatars

inline constexpr int AVATAR_NAME_MAX = 18;

// A name some instance was told for a session, stored once for every instance
// that knows it (library.avatar_names, keyed by the session and the name, so
// a record never changes) and freed when the last of them forgets it.
struct AvatarName {
    char text[AVATAR_NAME_MAX + 1];  // first, so the entry's value is the name
    uint32_t session;
    int32_t references;
};

// The sessions one instance knows: open addressing over the shared names,
// sized to its content and without storage while empty.
struct AvatarTable {
    TableEntry** slots;  // null or an entry of library.avatar_names
    // In the same allocation, a mark of each slot's session (never 0) or 0
    // for an empty slot: probes walk these small marks and follow an entry
    // only where the mark matches.
    uint16_t* marks;
    int count;
    int capacity;  // a power of two, or 0
};

AvatarTable* avatars_create();
void avatars_destroy(AvatarTable* avatars);
void avatars_clear(AvatarTable* avatars);
// The name the instance was told for the session, or null when it knows none.
const char* avatars_name(AvatarTable* avatars, uint32_t session);
// The session goes by this name (cut to 18 characters) from now on; 400 when
// the memory is not there, the table then as before.
int avatars_put(AvatarTable* avatars, uint32_t session, const char* name);
void avatars_remove(AvatarTable* avatars, uint32_t session);
// The keyed-table lookup: the key is the session as 32 bits, the entry's
// value the name.
TableEntry* table_find(AvatarTable* avatars, const void* key, int key_length);

}  // namespace worldlink

// ---------------------------------------------------------------- instances

// Defined at global scope, where the public header declares the handle.
struct Instance {
    Instance* next;
    uint32_t session;
    uint32_t ticket;
    worldlink::AttributeStore* attributes;
    worldlink::AvatarTable* avatars;
    worldlink::Connection* universe_link;
    uint32_t universe_address;
    uint16_t universe_port;
    int universe_state;
    int last_universe_type;
    int last_universe_result;
    uint32_t login_sent_at;
    uint32_t universe_retry_at;
    int universe_reconnect;
    int universe_build;
    uint32_t list_resume;
    worldlink::Connection* world_link;
    uint32_t world_address;
    uint16_t world_port;
    int world_state;
    int world_build;
    int world_result_reason;
    int state_pending;
    int entered;
    int last_world_type;
    int last_world_result;
    uint32_t world_heard_at;
    uint32_t world_login_sent_at;
    uint32_t world_retry_at;
    int world_name_length;
    char world_name[9];
    int universe_connect_reason;  // how the last universe connect ended (0 connected)
    int world_connect_reason;     // the same for the world link
    int world_failures;           // world reconnects in a row that never reached the world
    int world_lookup;             // who awaits a world address: a WorldLookup
    uint32_t world_lookup_sent_at;
    uint64_t sequence;            // creation order: the list runs from the highest
};

namespace worldlink {
// A watched link's tag: its instance, whose alignment leaves the low bit free
// to tell the world link from the universe link.
enum LinkSide : uintptr_t { SIDE_UNIVERSE = 0, SIDE_WORLD = 1 };
static_assert(alignof(Instance) > SIDE_WORLD);
inline uintptr_t link_tag(const Instance* instance, LinkSide side) {
    return reinterpret_cast<uintptr_t>(instance) | side;
}
inline Instance* tag_instance(uintptr_t tag) { return reinterpret_cast<Instance*>(tag & ~uintptr_t{SIDE_WORLD}); }
inline LinkSide tag_side(uintptr_t tag) { return static_cast<LinkSide>(tag & SIDE_WORLD); }

// The instances by address, so that a liveness test is a lookup: open
// addressing with linear probing, never more than half full.
struct InstanceIndex {
    const Instance** slots;
    uint32_t capacity;  // a power of two, or 0
    uint32_t count;
};
// False when there is no memory for it.
bool index_add(InstanceIndex* index, const Instance* instance);
void index_remove(InstanceIndex* index, const Instance* instance);
bool index_has(const InstanceIndex* index, const Instance* instance);
void index_release(InstanceIndex* index);

// State 2 covers the connect of wl_create as well: the link is then still
// connecting, and no login follows by itself.
enum UniverseState {
    UNIVERSE_NONE = 0,
    UNIVERSE_RETRY = 1,
    UNIVERSE_CONNECTED = 2,
    UNIVERSE_LOGIN_SENT = 3,
    UNIVERSE_LOGGED_IN = 4,
    UNIVERSE_CONNECTING = 5,  // a reopened link: the login goes out once it connects
};
enum WorldState {
    WORLD_NONE = 0,
    WORLD_RETRY = 1,
    WORLD_CONNECTING = 2,  // the world login goes out once the link connects
    WORLD_LOGIN_SENT = 3,
    WORLD_IN = 4,
    WORLD_LOOKUP = 5,  // a retry waits for the universe to name the world's address
};
// A world address message is taken only when one of these asked for it.
enum WorldLookup { LOOKUP_NONE = 0, LOOKUP_BY_ENTER = 1, LOOKUP_BY_RETRY = 2 };

// A link whose inbound frame a dispatcher is reading. Passes nested inside an
// event handler leave such links alone, so the outer read is never disturbed.
struct BusyLink {
    Connection* link;
    BusyLink* outer;
};

struct Library {
    int started;
    int build;
    Instance* instances;
    int instance_count;
    Instance* current_instance;
    int instance_gone;
    int event_mask_dirty;
    uint32_t event_mask;
    KeyedTable* world_address_cache;
    KeyedTable* avatar_names;  // AvatarName records
    uint32_t destroyed;   // instances destroyed so far; passes compare it
    int pass_depth;       // service passes running, nested ones included
    uint32_t passes;      // service passes begun
    BusyLink* busy_links;
    WatchSet* watch;      // every open link of every instance
    InstanceIndex index;
    uint64_t created;     // instances created so far
    // No instance has anything due without input before this tick.
    bool deadline_set;
    uint32_t deadline;
    uint32_t deadline_changes;  // lowered or recomputed so far
};

extern Library library;

bool instance_alive(const Instance* instance);
// True while a dispatcher further up the stack is reading this link's frame.
bool link_busy(const Connection* link);

// Marks a link as being read while a dispatcher runs the handlers of its
// frame; `closed` tells the dispatcher that a handler closed it meanwhile.
class LinkReading {
public:
    explicit LinkReading(Connection* link) : busy{link, library.busy_links} { library.busy_links = &busy; }
    ~LinkReading() { library.busy_links = busy.outer; }
    LinkReading(const LinkReading&) = delete;
    LinkReading& operator=(const LinkReading&) = delete;
    bool closed() const { return busy.link == nullptr; }

private:
    BusyLink busy;
};
// Closes a link and forgets it as busy, so a new link that the allocator
// places at the same address is never mistaken for the one being read.
void link_close(Connection** link);
int service_pass(int timeout_ms);
// Brings the earliest deadline forward to `tick` when that is sooner.
void deadline_note(uint32_t tick);
// Notes the deadlines that the instance's state holds now.
void deadline_touch(const Instance* instance);
// Opens a link of the instance into `slot` (its universe or world link) and
// watches it; 0, or why it could not.
int link_open(Instance* instance, Connection** slot, uint32_t address, uint16_t port);
// The longest single wait of a pass run by wl_wait and the blocking calls.
inline constexpr int SERVICE_SLICE = 1000;
// A login, world login or world lookup is given up once more than this has
// passed without its answer.
inline constexpr uint32_t LOGIN_LIMIT = 30000;
// The first tick at which more than `limit` has passed since `since`.
inline uint32_t limit_passed_at(uint32_t since, uint32_t limit) { return since + limit + 1; }

// True from wl_cancel until wl_term: blocking waits end after their pass.
bool wait_canceled();
// The one loop of the blocking calls: serves every link, pass after pass,
// until done() holds (0), until an event handler has destroyed the instance
// (453; not a byte of it may be read any more), or until wl_cancel (480).
template <typename Done>
int serve_until(const Instance* instance, Done done) {
    while (!done()) {
        service_pass(SERVICE_SLICE);
        if (!instance_alive(instance)) return REASON_INVALID_INSTANCE;
        if (wait_canceled()) return REASON_CANCELED;
    }
    return 0;
}
// Frees what the service loop keeps between passes (at wl_term).
void service_release();
int universe_login(Instance* instance);
void universe_link_lost(Instance* instance);
// Closes the world link and forgets the avatars it told of: a world entered
// again tells of everyone present.
void world_link_end(Instance* instance);
// Opens the universe link again at the instance's address; the login follows
// once it connects.
void universe_reopen(Instance* instance);
// Acts on the end of a universe connect: a reopened link logs in, a failed one
// is lost. 401 while the connect goes on, else how it ended.
int universe_connect_finish(Instance* instance);
// Starts connecting the world link (state 2 on success); the world login
// follows in world_connect_finish.
int world_connect(Instance* instance);
// The world side of universe_connect_finish.
int world_connect_finish(Instance* instance);
// world_connect, then world_connect_finish; a failure is a lost world link.
void world_reopen(Instance* instance);
int world_login(Instance* instance);
// Asks the universe for the world's address; `asker` is a WorldLookup.
int world_lookup_send(Instance* instance, const char* name, int asker);
void world_link_lost(Instance* instance);
void world_link_close(Instance* instance, int reason);
void world_retry(Instance* instance);
void both_links_lost(Instance* instance);
void event_mask_update();
// 0 once a universe message of `type` has been read; 429 when the universe
// side fell to state 0; 453 when an event handler destroyed the instance;
// 480 after wl_cancel.
int wait_for_reply(Instance* instance, int type);
// The test of wl_enter, wl_exit, wl_state_change and wl_whisper.
int instance_ready();
// Sends the own state (the message of wl_state_change).
int send_state(Instance* instance);
// Seeds the generator behind wl_random.
void random_seed(uint32_t seed);

// ---------------------------------------------------------------- dispatch

// Each reads at most one inbound message: 0 handled, 401 none whole yet,
// anything else a failed link.
int universe_dispatch(Instance* instance);
int world_dispatch(Instance* instance);

// The world_address_cache: key and value layouts.
struct WorldCacheKey {
    uint32_t universe_address;
    uint16_t universe_port;
    char name[8];
    uint8_t zero[2];
};
struct WorldCacheValue {
    uint32_t address;
    uint16_t port;
    uint16_t zero;
    uint32_t stored_at;
    int32_t build;
};
static_assert(sizeof(WorldCacheKey) == 16 && sizeof(WorldCacheValue) == 16);
WorldCacheKey world_cache_key(const Instance* instance, const char* lower_name);

// ---------------------------------------------------------------- events

bool event_installed(int slot);
// Makes the instance current and calls the slot's handler, when installed.
void event_fire(Instance* instance, int slot);
uint32_t event_mask_compute(uint32_t stored);

}  // namespace worldlink
