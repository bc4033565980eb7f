/* The public header as a C program sees it: it compiles as strict C and every
   kind of entry point links. */
#include "worldlink/worldlink.h"

#include <stdio.h>
#include <string.h>

static void on_chat(void) {}

int main(void) {
    int failures = 0;
    if (wl_init(LIBRARY_BUILD) != REASON_SUCCESS) ++failures;
    if (wl_event_set(EVENT_CHAT, on_chat) != 0) ++failures;
    if (wl_instance() != NULL || wl_wait(0) != REASON_NO_INSTANCE) ++failures;
    if (wl_int_set(ATTR_MY_X, 5) != REASON_NO_INSTANCE || wl_string(ATTR_LOGIN_NAME) != NULL) ++failures;
    (void)wl_random();
    if (strcmp(wl_reason_words(REASON_NOT_INITIALIZED), "not initialized") != 0 || wl_version() != WL_VERSION) ++failures;
    if (wl_term() != 0) ++failures;
    if (failures != 0) fprintf(stderr, "%d checks of the C interface failed\n", failures);
    return failures != 0;
}
