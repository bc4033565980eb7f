#include "app/flock_dialog.h"

#include "app/settings.h"
#include "worldlink/worldlink.h"

#include <string>

namespace {

// "code;words", in ascending order of code, from the library's own list.
#define REASON_ENTRY(code, name, words) #code ";" words,
constexpr const char* REASON_TABLE[] = {WL_REASONS(REASON_ENTRY) nullptr};
#undef REASON_ENTRY

}  // namespace

const char* FlockDialog::ReasonText(int code) {
    static std::string result;
    bool matched = false;
    for (const char* const* entry = REASON_TABLE; *entry; ++entry) {
        if (DecimalValue(*entry) == code) {
            std::string text = *entry;
            result = text.substr(text.find(';') + 1);
            matched = true;
        }
    }
    if (!matched) {
        result = std::to_string(code);
    }
    return result.c_str();
}
