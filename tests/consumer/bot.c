/* A user's C program: it logs a bot into a world and leaves. Its own globals
 * bear names that the library uses inside, which must not get in the way.
 *
 * Usage: bot HOST PORT WORLD
 */
#include <worldlink/worldlink.h>

#include <stdio.h>
#include <stdlib.h>

int library;
int tick_now;
int tcp_create;

static int fail(const char* step, int reason) {
    fprintf(stderr, "bot: %s failed (%s)\n", step, wl_reason_words(reason));
    wl_term();
    return EXIT_FAILURE;
}

int main(int argc, char** argv) {
    if (argc != 4) {
        fprintf(stderr, "usage: bot HOST PORT WORLD\n");
        return EXIT_FAILURE;
    }
    library = 1;
    tick_now = 2;
    tcp_create = 3;
    int reason = wl_init(LIBRARY_BUILD);
    if (reason != 0) return fail("start", reason);
    Instance* bot = NULL;
    reason = wl_create(argv[1], atoi(argv[2]), &bot);
    if (reason != 0) return fail("connect", reason);
    wl_string_set(ATTR_LOGIN_NAME, "ConsumerBot");
    wl_int_set(ATTR_LOGIN_OWNER, 1);
    wl_string_set(ATTR_LOGIN_PASSWORD, "secret");
    reason = wl_login();
    if (reason != 0) return fail("login", reason);
    wl_instance_set(bot);
    reason = wl_enter(argv[3]);
    if (reason != 0) return fail("enter", reason);
    wl_instance_set(bot);
    reason = wl_state_change();
    if (reason != 0) return fail("state change", reason);
    printf("%s: in %s, %d %d %d\n", wl_build_string(), argv[3], library, tick_now, tcp_create);
    wl_term();
    return EXIT_SUCCESS;
}
