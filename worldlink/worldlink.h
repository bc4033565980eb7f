/* worldlink: a client library for the universe and world servers of a 3D chat
 * platform. Usable from C and C++.
 *
 * Conventions:
 * 1. Every call acts on the current instance (wl_instance_set selects it).
 *    Before an event handler runs, the library makes the instance concerned
 *    current and does not restore the previous one: select your instance again
 *    after wl_wait, wl_create, wl_login and wl_enter.
 * 2. Calls return a reason code: 0 for success, otherwise one of the REASON_
 *    codes below, a result code sent by a server (below 400), or a platform
 *    socket error number (10000 and up). 401 (not yet) is never an error.
 * 3. A string returned by wl_string belongs to the library and stays valid until
 *    the next write of that attribute or the destruction of the instance.
 * 4. Everything runs on the caller's thread, inside wl_wait and the blocking
 *    calls wl_create, wl_login and wl_enter, which serve every other instance
 *    while they wait. No connect waits longer than 10 seconds. There are no
 *    locks; use one thread. The one exception is wl_cancel (6).
 * 5. Event handlers take no arguments, read what the message carried through
 *    wl_int and wl_string, and may call any entry point, wl_destroy included.
 * 6. wl_cancel may be called from any thread and from a signal handler: it
 *    only sets a lock-free atomic flag. From then until wl_term, wl_create,
 *    wl_login, wl_enter and wl_wait with a non-zero time return 480
 *    (canceled) once their current service pass ends; a pass waits at most a
 *    second, less when a signal interrupts the waiting thread.
 * 7. wl_reason_words, wl_version and wl_build_string need no wl_init and may be
 *    called from any thread; the texts they return are never freed or changed.
 */
#ifndef WORLDLINK_WORLDLINK_H
#define WORLDLINK_WORLDLINK_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define LIBRARY_BUILD 20

/* The library's version; the shared library's soname carries the major. */
#define WL_VERSION_MAJOR 1
#define WL_VERSION_MINOR 0
#define WL_VERSION_PATCH 0
#define WL_VERSION (WL_VERSION_MAJOR * 10000 + WL_VERSION_MINOR * 100 + WL_VERSION_PATCH)

/* Marks the entry points: the only names the shared library exports. */
#if defined(__GNUC__) && !defined(_WIN32)
#define WL_API __attribute__((visibility("default")))
#else
#define WL_API
#endif

/* One bot session. Opaque: the library owns it. */
typedef struct Instance Instance;

/* An event handler: no arguments, no result. */
typedef void (*wl_event_handler)(void);

/* Reason codes with their words, once: code, constant suffix, text. */
#define WL_REASONS(X) \
    X(0, SUCCESS, "success") \
    X(1, CITIZENSHIP_EXPIRED, "citizenship expired") \
    X(3, NO_SUCH_CITIZEN, "no such citizen") \
    X(4, MESSAGE_LENGTH_BAD, "message length bad") \
    X(5, LICENSE_PASSWORD_CONTAINS_SPACE, "license password contains space") \
    X(6, LICENSE_PASSWORD_TOO_LONG, "license password too long") \
    X(7, LICENSE_PASSWORD_TOO_SHORT, "license password too short") \
    X(8, LICENSE_RANGE_TOO_LARGE, "license range too large") \
    X(9, LICENSE_RANGE_TOO_SMALL, "license range too small") \
    X(10, LICENSE_USERS_TOO_LARGE, "license users too large") \
    X(11, LICENSE_USERS_TOO_SMALL, "license users too small") \
    X(12, LICENSE_WORLD_CONTAINS_SPACE, "license world contains space") \
    X(13, INVALID_PASSWORD, "invalid password") \
    X(14, UNABLE_TO_MAIL_BACK_NUMBER, "unable to mail back number") \
    X(15, LICENSE_WORLD_TOO_SHORT, "license world too short") \
    X(16, LICENSE_WORLD_TOO_LONG, "license world too long") \
    X(17, SERVER_OUT_OF_MEMORY, "server out of memory") \
    X(27, WORLD_NOT_RUNNING, "world not running") \
    X(31, NOT_LOGGED_IN, "not logged in") \
    X(32, UNAUTHORIZED, "unauthorized") \
    X(33, ALREADY_LICENSED, "already licensed") \
    X(34, NO_SUCH_LICENSE, "no such license") \
    X(39, IDENTITY_ALREADY_IN_USE, "identity already in use") \
    X(40, UNABLE_TO_REPORT_LOCATION, "unable to report location") \
    X(41, INVALID_EMAIL, "invalid email") \
    X(42, NO_SUCH_ACTING_CITIZEN, "no such acting citizen") \
    X(43, ACTING_PASSWORD_INVALID, "acting password invalid") \
    X(58, MUST_UPGRADE, "must upgrade") \
    X(59, BOT_LIMIT_EXCEEDED, "bot limit exceeded") \
    X(100, EMAIL_CONTAINS_INVALID_CHAR, "email contains invalid char") \
    X(101, EMAIL_ENDS_WITH_BLANK, "email ends with blank") \
    X(102, EMAIL_MISSING_DOT, "email missing dot") \
    X(103, EMAIL_MISSING_AT, "email missing at") \
    X(104, EMAIL_STARTS_WITH_BLANK, "email starts with blank") \
    X(105, EMAIL_TOO_LONG, "email too long") \
    X(106, EMAIL_TOO_SHORT, "email too short") \
    X(107, NAME_ALREADY_USED, "name already used") \
    X(108, NAME_CONTAINS_INVALID_CHAR, "name contains invalid char") \
    X(109, NAME_CONTAINS_INVALID_BLANK, "name contains invalid blank") \
    X(110, NAME_DOESNT_EXIST, "name doesnt exist") \
    X(111, NAME_ENDS_WITH_BLANK, "name ends with blank") \
    X(112, NAME_TOO_LONG, "name too long") \
    X(113, NAME_TOO_SHORT, "name too short") \
    X(114, NAME_UNUSED, "name unused") \
    X(115, PASSWORD_TOO_LONG, "password too long") \
    X(116, PASSWORD_TOO_SHORT, "password too short") \
    X(117, PASSWORD_IS_WRONG, "password is wrong") \
    X(126, NUMBER_ALREADY_USED, "number already used") \
    X(127, NUMBER_OUT_OF_RANGE, "number out of range") \
    X(128, PRIVILEGE_PASSWORD_IS_TOO_SHORT, "privilege password is too short") \
    X(200, NO_ERROR, "no error (sdk bug, should be 0)") \
    X(203, NOT_CHANGE_OWNER, "not change owner") \
    X(204, CANT_FIND_OLD_ELEMENT, "cant find old element") \
    X(211, CANT_CHANGE_OWNER, "cant change owner") \
    X(216, CANT_BUILD_HERE, "cant build here") \
    X(300, ENCROACHES, "encroaches") \
    X(301, NO_SUCH_OBJECT, "no such object") \
    X(302, NOT_DELETE_OWNER, "not delete owner") \
    X(303, TOO_MANY_BYTES, "too many bytes") \
    X(306, UNREGISTERED_OBJECT, "unregistered object") \
    X(308, ELEMENT_ALREADY_EXISTS, "element already exists") \
    X(310, NO_BUILD_RIGHTS, "no build rights") \
    X(311, OUT_OF_BOUNDS, "out of bounds") \
    X(313, RESTRICTED_OBJECT, "restricted object") \
    X(314, RESTRICTED_AREA, "restricted area") \
    X(400, OUT_OF_MEMORY, "out of memory") \
    X(401, NOT_YET, "not yet") \
    X(402, TIMEOUT, "timeout") \
    X(403, NULL_POINTER, "null pointer") \
    X(404, UNABLE_TO_CONTACT_UNIVERSE, "unable to contact universe") \
    X(405, UNABLE_TO_CONTACT_WORLD, "unable to contact world") \
    X(406, INVALID_WORLD_NAME, "invalid world name") \
    X(415, SEND_FAILED, "send failed") \
    X(416, RECEIVE_FAILED, "receive failed") \
    X(421, STREAM_EMPTY, "stream empty") \
    X(422, STREAM_MESSAGE_TOO_LONG, "stream message too long") \
    X(423, WORLD_NAME_TOO_LONG, "world name too long") \
    X(426, MESSAGE_TOO_LONG, "message too long") \
    X(429, UNABLE_TO_CONNECT, "unable to connect") \
    X(439, NO_CONNECTION, "no connection") \
    X(442, UNABLE_TO_INITIALIZE_NETWORK, "unable to initialize network") \
    X(443, INCORRECT_MESSAGE_LENGTH, "incorrect message length") \
    X(444, NOT_INITIALIZED, "not initialized") \
    X(445, NO_INSTANCE, "no instance") \
    X(446, OUT_BUFFER_FULL, "out buffer full") \
    X(447, INVALID_CALLBACK, "invalid callback") \
    X(448, INVALID_ATTRIBUTE, "invalid attribute") \
    X(449, TYPE_MISMATCH, "type mismatch") \
    X(450, STRING_TOO_LONG, "string too long") \
    X(451, READ_ONLY, "read only") \
    X(453, INVALID_INSTANCE, "invalid instance") \
    X(454, VERSION_MISMATCH, "version mismatch") \
    X(461, IN_BUFFER_FULL, "in buffer full") \
    X(463, PROTOCOL_ERROR, "protocol error") \
    X(464, QUERY_IN_PROGRESS, "query in progress") \
    X(466, EJECTED, "ejected") \
    X(467, NOT_WELCOME, "not welcome") \
    X(471, CONNECTION_LOST, "connection lost") \
    X(480, CANCELED, "canceled")

enum {
#define WL_REASON_CONSTANT(code, name, words) REASON_##name = code,
    WL_REASONS(WL_REASON_CONSTANT)
#undef WL_REASON_CONSTANT
    /* Codes that have no words. */
    REASON_NO_SOCKET = 428,
    REASON_NO_NONBLOCKING = 430,
    REASON_WORLD_DROPPED = 465,
    REASON_NOT_OPEN = 473,
    REASON_WORLD_TOO_OLD = 488,
    REASON_WORLD_DROPPED_489 = 489
};

/* Attribute numbers, 0 to 182. */
enum {
    ATTR_LOGIN_NAME = 0,
    ATTR_SPARE_1 = 1,
    ATTR_LOGIN_OWNER = 2,
    ATTR_LOGIN_PASSWORD = 3,
    ATTR_SPARE_4 = 4,
    ATTR_LOGIN_REPLY_TEXT = 5,
    ATTR_SPARE_6 = 6,
    ATTR_LOGIN_APPLICATION = 7,
    ATTR_SPARE_8 = 8,
    ATTR_UNIVERSE_PROP_00 = 9,
    ATTR_UNIVERSE_PROP_01 = 10,
    ATTR_UNIVERSE_PROP_02 = 11,
    ATTR_UNIVERSE_PROP_03 = 12,
    ATTR_UNIVERSE_PROP_04 = 13,
    ATTR_UNIVERSE_PROP_05 = 14,
    ATTR_UNIVERSE_BUILD = 15,
    ATTR_UNIVERSE_PROP_07 = 16,
    ATTR_UNIVERSE_PROP_08 = 17,
    ATTR_UNIVERSE_PROP_09 = 18,
    ATTR_UNIVERSE_PROP_10 = 19,
    ATTR_UNIVERSE_PROP_11 = 20,
    ATTR_ACCOUNT_NUMBER = 21,
    ATTR_ACCOUNT_PROP_00 = 22,
    ATTR_ACCOUNT_PROP_01 = 23,
    ATTR_ACCOUNT_PROP_02 = 24,
    ATTR_SPARE_25 = 25,
    ATTR_ACCOUNT_PROP_03 = 26,
    ATTR_ACCOUNT_PROP_17 = 27,
    ATTR_ACCOUNT_PROP_18 = 28,
    ATTR_ACCOUNT_PROP_19 = 29,
    ATTR_ACCOUNT_PROP_20 = 30,
    ATTR_ACCOUNT_PROP_21 = 31,
    ATTR_ACCOUNT_PROP_22 = 32,
    ATTR_ACCOUNT_PROP_23 = 33,
    ATTR_ACCOUNT_PROP_24 = 34,
    ATTR_ACCOUNT_PROP_25 = 35,
    ATTR_WORLD_NAME = 36,
    ATTR_WORLD_PROP_00 = 37,
    ATTR_WORLD_PROP_01 = 38,
    ATTR_WORLD_PROP_02 = 39,
    ATTR_WORLD_OBJECT_PATH = 40,
    ATTR_WORLD_PROP_05 = 41,
    ATTR_WORLD_PROP_06 = 42,
    ATTR_WORLD_PROP_07 = 43,
    ATTR_WORLD_PROP_08 = 44,
    ATTR_WORLD_PROP_10 = 45,
    ATTR_WORLD_PROP_11 = 46,
    ATTR_WORLD_PROP_12 = 47,
    ATTR_WORLD_PROP_13 = 48,
    ATTR_WORLD_PROP_14 = 49,
    ATTR_WORLD_PROP_15 = 50,
    ATTR_WORLD_PROP_17 = 51,
    ATTR_WORLD_PROP_18 = 52,
    ATTR_WORLD_PROP_19 = 53,
    ATTR_WORLD_PROP_20 = 54,
    ATTR_WORLD_BUILD = 55,
    ATTR_WORLD_DATA = 56,
    ATTR_WORLD_PROP_23 = 57,
    ATTR_WORLD_PROP_24 = 58,
    ATTR_WORLD_PROP_25 = 59,
    ATTR_WORLD_PROP_26 = 60,
    ATTR_WORLD_PROP_27 = 61,
    ATTR_WORLD_PROP_29 = 62,
    ATTR_WORLD_PROP_30 = 63,
    ATTR_WORLD_PROP_31 = 64,
    ATTR_WORLD_PROP_32 = 65,
    ATTR_WORLD_PROP_33 = 66,
    ATTR_WORLD_PROP_39 = 67,
    ATTR_WORLD_PROP_35 = 68,
    ATTR_WORLD_PROP_36 = 69,
    ATTR_WORLD_PROP_37 = 70,
    ATTR_WORLD_PROP_38 = 71,
    ATTR_WORLD_PROP_40 = 72,
    ATTR_WORLD_PROP_41 = 73,
    ATTR_WORLD_PROP_42 = 74,
    ATTR_WORLD_PROP_43 = 75,
    ATTR_WORLD_PROP_44 = 76,
    ATTR_WORLD_PROP_45 = 77,
    ATTR_WORLD_PROP_46 = 78,
    ATTR_WORLD_PROP_47 = 79,
    ATTR_WORLD_PROP_48 = 80,
    ATTR_WORLD_PROP_49 = 81,
    ATTR_WORLD_PROP_50 = 82,
    ATTR_WORLD_PROP_51 = 83,
    ATTR_WORLD_PROP_52 = 84,
    ATTR_WORLD_PROP_53 = 85,
    ATTR_WORLD_PROP_54 = 86,
    ATTR_WORLD_PROP_55 = 87,
    ATTR_WORLD_PROP_56 = 88,
    ATTR_WORLD_PROP_58 = 89,
    ATTR_WORLD_PROP_59 = 90,
    ATTR_WORLD_PROP_60 = 91,
    ATTR_MY_X = 92,
    ATTR_MY_Y = 93,
    ATTR_MY_Z = 94,
    ATTR_MY_YAW = 95,
    ATTR_MY_TYPE = 96,
    ATTR_MY_EXTRA = 97,
    ATTR_AVATAR_SESSION = 98,
    ATTR_AVATAR_NAME = 99,
    ATTR_AVATAR_X = 100,
    ATTR_AVATAR_Y = 101,
    ATTR_AVATAR_Z = 102,
    ATTR_AVATAR_YAW = 103,
    ATTR_AVATAR_TYPE = 104,
    ATTR_AVATAR_EXTRA = 105,
    ATTR_AVATAR_ADDRESS = 106,
    ATTR_AVATAR_W1 = 107,
    ATTR_AVATAR_N1 = 108,
    ATTR_AVATAR_N2 = 109,
    ATTR_CHAT_SESSION = 110,
    ATTR_CHAT_MESSAGE = 111,
    ATTR_CELL_X = 112,
    ATTR_CELL_Z = 113,
    ATTR_CELL_N1 = 114,
    ATTR_CELL_SIZE = 115,
    ATTR_WORLD_NUMBER = 116,
    ATTR_OBJECT_NUMBER = 117,
    ATTR_OBJECT_X = 118,
    ATTR_OBJECT_Y = 119,
    ATTR_OBJECT_Z = 120,
    ATTR_OBJECT_W1 = 121,
    ATTR_OBJECT_TEXT_1 = 122,
    ATTR_OBJECT_TEXT_2 = 123,
    ATTR_OBJECT_TEXT_3 = 124,
    ATTR_SPARE_125 = 125,
    ATTR_SPARE_126 = 126,
    ATTR_SPARE_127 = 127,
    ATTR_OBJECT_N2 = 128,
    ATTR_OBJECT_W0 = 129,
    ATTR_OBJECT_N3 = 130,
    ATTR_WORLD_FLAG = 131,
    ATTR_CHAT_TYPE = 132,
    ATTR_NAMED_RECORD_NAME = 133,
    ATTR_NAMED_RECORD_S1 = 134,
    ATTR_NAMED_RECORD_N1 = 135,
    ATTR_NAMED_RECORD_N2 = 136,
    ATTR_NAMED_RECORD_S2 = 137,
    ATTR_NAMED_RECORD_S3 = 138,
    ATTR_NAMED_RECORD_N3 = 139,
    ATTR_NAMED_RECORD_N4 = 140,
    ATTR_NAMED_RECORD_N5 = 141,
    ATTR_LIST_NAME = 142,
    ATTR_LIST_STATUS = 143,
    ATTR_LIST_COUNT = 144,
    ATTR_LIST_MORE = 145,
    ATTR_SPARE_146 = 146,
    ATTR_SPARE_147 = 147,
    ATTR_ADDRESS_RECORD_ADDRESS = 148,
    ATTR_ADDRESS_RECORD_N1 = 149,
    ATTR_ADDRESS_RECORD_N2 = 150,
    ATTR_ADDRESS_RECORD_TEXT = 151,
    ATTR_WORLD_DISCONNECT_REASON = 152,
    ATTR_SPARE_153 = 153,
    ATTR_NOTICE_N1 = 154,
    ATTR_NOTICE_TEXT = 155,
    ATTR_NOTICE_W1 = 156,
    ATTR_NOTICE_N2 = 157,
    ATTR_NOTICE_W2 = 158,
    ATTR_PAIR_SESSION = 159,
    ATTR_PAIR_NAME = 160,
    ATTR_SESSION_TEXT_1 = 161,
    ATTR_SESSION_TEXT_2 = 162,
    ATTR_SESSION_RECORD_TEXT = 163,
    ATTR_SESSION_RECORD_N1 = 164,
    ATTR_SESSION_RECORD_N2 = 165,
    ATTR_SESSION_RECORD_N3 = 166,
    ATTR_SESSION_RECORD_W = 167,
    ATTR_SESSION_RECORD_FLAG = 168,
    ATTR_ENTRY_NAME = 169,
    ATTR_ENTRY_TEXT_1 = 170,
    ATTR_ENTRY_TEXT_2 = 171,
    ATTR_ENTRY_TEXT_3 = 172,
    ATTR_ENTRY_NUMBER = 173,
    ATTR_ENTRY_KIND = 174,
    ATTR_ENTRY_B1 = 175,
    ATTR_ENTRY_N1 = 176,
    ATTR_ENTRY_N2 = 177,
    ATTR_ENTRY_N3 = 178,
    ATTR_ENTRY_W = 179,
    ATTR_ENTRY_N4 = 180,
    ATTR_ENTRY_B2 = 181,
    ATTR_WORLD_RESULT_VALUE = 182,
    ATTR_COUNT = 183
};

/* Event slots for wl_event_set. */
enum {
    EVENT_AVATAR_ADD = 0,
    EVENT_AVATAR_CHANGE = 1,
    EVENT_AVATAR_DELETE = 2,
    EVENT_CELL_BEGIN = 3,
    EVENT_CELL_OBJECT = 4,
    EVENT_CELL_END = 5,
    EVENT_CHAT = 6,
    EVENT_OBJECT_ADD = 7,
    EVENT_OBJECT_DELETE = 8,
    EVENT_UNIVERSE_PROPERTIES = 9,
    EVENT_WORLD_PROPERTIES = 10,
    EVENT_NAME_LIST_ENTRY = 11,
    EVENT_WORLD_DISCONNECT = 12,
    EVENT_UNIVERSE_RECORD_NOTICE = 13,
    EVENT_DIRECTORY_ENTRY = 14,
    EVENT_UNIVERSE_NOTICE = 15,
    EVENT_UNIVERSE_TEXT = 16,
    EVENT_SESSION_POINT_A = 17,
    EVENT_SESSION_POINT_B = 18,
    EVENT_SESSION_PAIR = 19,
    EVENT_SESSION_TEXTS = 20,
    EVENT_SESSION_RECORD = 21,
    EVENT_ENTRY = 22,
    EVENT_ENTRY_NOTICE = 23,
    EVENT_COUNT = 24
};

/* Library and instances. */
WL_API int wl_init(int build);                           /* 454 unless build is LIBRARY_BUILD; 0 when already started */
WL_API int wl_term(void);                                /* destroys every instance and stops the library */
WL_API int wl_create(const char* host, int port, Instance** out); /* null host: localhost; port 0: 5670; the new instance becomes current */
WL_API int wl_destroy(void);                             /* destroys the current instance; the newest remaining becomes current */
WL_API Instance* wl_instance(void);                      /* the current instance, or null */
WL_API int wl_instance_set(Instance* instance);          /* 453 when it is not a live instance */
WL_API int wl_wait(int milliseconds);                    /* services every link for that long; 0 drains what is ready;
                                                            negative: until no instance is left (445) */
WL_API uint32_t wl_random(void);                         /* next draw of the library's Mersenne Twister */
WL_API int wl_cancel(void);                              /* blocking calls end with 480 until wl_term (see 6) */

/* Attributes of the current instance. */
WL_API int wl_int(int attribute);                        /* int or bool value; 0 when none */
WL_API const char* wl_string(int attribute);             /* text, "" when unset; null for a non-string attribute */
WL_API int wl_int_set(int attribute, int value);
WL_API int wl_bool_set(int attribute, int value);
WL_API int wl_float_set(int attribute, float value);
WL_API int wl_string_set(int attribute, const char* text); /* 450 above 255 characters */

/* Requests; wl_login and wl_enter block until the server has answered. */
WL_API int wl_login(void);                               /* 0, or the universe's own refusal code */
WL_API int wl_enter(const char* world);                  /* 0 once the world's properties have arrived */
WL_API int wl_exit(void);                                /* leaves the world; nothing is sent */
WL_API int wl_state_change(void);                        /* sends ATTR_MY_X..ATTR_MY_EXTRA */
WL_API int wl_whisper(int session, const char* text);    /* 450 for 256 characters or more */

/* Events. */
WL_API int wl_event_set(int slot, wl_event_handler handler); /* null uninstalls; 448 for a slot outside 0..23 */

/* Reasons and the library's build (see 7). */
WL_API const char* wl_reason_words(int reason);          /* the words of WL_REASONS, else "reason <number>" */
WL_API int wl_version(void);                             /* WL_VERSION of the library that runs */
WL_API const char* wl_build_string(void);                /* "worldlink <major>.<minor>.<patch> (build <LIBRARY_BUILD>)" */

#ifdef __cplusplus
}
#endif

#endif
