// What the library reports of its own build at run time.
#include "worldlink/worldlink.h"

#define WL_TEXT(value) #value
#define WL_NUMBER_TEXT(value) WL_TEXT(value)

int wl_version(void) {
    return WL_VERSION;
}

const char* wl_build_string(void) {
    return "worldlink " WL_NUMBER_TEXT(WL_VERSION_MAJOR) "." WL_NUMBER_TEXT(WL_VERSION_MINOR) "." WL_NUMBER_TEXT(
        WL_VERSION_PATCH) " (build " WL_NUMBER_TEXT(LIBRARY_BUILD) ")";
}
