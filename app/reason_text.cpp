#include "app/flock_dialog.h"

#include "worldlink/reasons.h"

#include <string>

// The library's words where its table has them, otherwise the bare number.
const char* FlockDialog::ReasonText(int code) {
    static std::string result;
    const char* words = worldlink::reason_table_words(code);
    result = words != nullptr ? words : std::to_string(code);
    return result.c_str();
}
