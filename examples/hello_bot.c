/* hello_bot: one bot that enters a world, prints every chat line it hears as
 * "Name: text" and answers "hello bot" with a whisper. Ctrl-C logs it out.
 *
 * Usage: hello_bot HOST PORT OWNER PASSWORD WORLD
 */
#include "worldlink/worldlink.h"

#include <ctype.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>

static volatile sig_atomic_t stop_requested = 0;

static void on_interrupt(int signal_number) {
    (void)signal_number;
    stop_requested = 1;
}

/* Equal texts, regardless of case. */
static int same_text(const char* a, const char* b) {
    while (*a != '\0' && *b != '\0') {
        if (tolower((unsigned char)*a) != tolower((unsigned char)*b)) return 0;
        ++a;
        ++b;
    }
    return *a == *b;
}

/* The library made the hearing instance current and filled the chat
 * attributes before calling. */
static void on_chat(void) {
    const char* name = wl_string(ATTR_AVATAR_NAME);
    const char* text = wl_string(ATTR_CHAT_MESSAGE);
    printf("%s: %s\n", name, text);
    fflush(stdout);
    if (same_text(text, "hello bot")) {
        char reply[256];
        snprintf(reply, sizeof reply, "Hello, %s", name);
        int reason = wl_whisper(wl_int(ATTR_CHAT_SESSION), reply);
        if (reason != 0) fprintf(stderr, "hello_bot: whisper failed (reason %d)\n", reason);
    }
}

static int fail(const char* step, int reason) {
    fprintf(stderr, "hello_bot: %s failed (reason %d)\n", step, reason);
    wl_term();
    return EXIT_FAILURE;
}

int main(int argc, char** argv) {
    if (argc != 6) {
        fprintf(stderr, "usage: %s HOST PORT OWNER PASSWORD WORLD\n", argv[0]);
        return EXIT_FAILURE;
    }
    const char* host = argv[1];
    int port = atoi(argv[2]);
    int owner = atoi(argv[3]);
    const char* password = argv[4];
    const char* world = argv[5];

    int reason = wl_init(LIBRARY_BUILD);
    if (reason != 0) {
        fprintf(stderr, "hello_bot: start failed (reason %d)\n", reason);
        return EXIT_FAILURE;
    }
    wl_event_set(EVENT_CHAT, on_chat);

    Instance* bot = NULL;
    reason = wl_create(host, port, &bot);
    if (reason != 0) return fail("connect", reason);
    wl_string_set(ATTR_LOGIN_NAME, "HelloBot");
    wl_int_set(ATTR_LOGIN_OWNER, owner);
    wl_string_set(ATTR_LOGIN_PASSWORD, password);
    wl_string_set(ATTR_LOGIN_APPLICATION, "hello_bot");
    reason = wl_login();
    if (reason != 0) return fail("login", reason);

    wl_instance_set(bot);
    reason = wl_enter(world);
    if (reason != 0) return fail("enter", reason);

    /* Show the bot at the world's origin, facing north. */
    wl_instance_set(bot);
    wl_int_set(ATTR_MY_X, 0);
    wl_int_set(ATTR_MY_Y, 0);
    wl_int_set(ATTR_MY_Z, 0);
    wl_int_set(ATTR_MY_YAW, 0);
    reason = wl_state_change();
    if (reason != 0) return fail("state change", reason);
    fprintf(stderr, "hello_bot: in world %s\n", world);

    signal(SIGINT, on_interrupt);
#ifdef SIGBREAK
    signal(SIGBREAK, on_interrupt); /* Ctrl-Break, on Windows */
#endif
    while (!stop_requested) wl_wait(100);

    wl_term();
    fprintf(stderr, "hello_bot: logged out\n");
    return EXIT_SUCCESS;
}
