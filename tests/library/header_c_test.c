/* The public header as a C program sees it. */
#include "worldlink/worldlink.h"

#include <stdio.h>

static int chats;

static void on_chat(void) { ++chats; }

int main(void) {
    int failures = 0;
    if (wl_init(LIBRARY_BUILD - 1) != REASON_VERSION_MISMATCH) ++failures;
    if (wl_init(LIBRARY_BUILD) != REASON_SUCCESS) ++failures;
    if (wl_event_set(EVENT_CHAT, on_chat) != 0) ++failures;
    if (wl_event_set(EVENT_COUNT, on_chat) != REASON_INVALID_ATTRIBUTE) ++failures;
    if (wl_instance() != NULL) ++failures;
    if (wl_wait(0) != REASON_NO_INSTANCE) ++failures;
    if (wl_int_set(ATTR_MY_X, 5) != REASON_NO_INSTANCE) ++failures;
    if (wl_string(ATTR_LOGIN_NAME) != NULL) ++failures;
    (void)wl_random();
    if (wl_event_set(EVENT_CHAT, NULL) != 0) ++failures;
    if (wl_term() != 0) ++failures;
    if (wl_wait(0) != REASON_NOT_INITIALIZED) ++failures;
    if (failures != 0) fprintf(stderr, "%d checks of the C interface failed\n", failures);
    return failures != 0;
}
