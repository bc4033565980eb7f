// The words of reason codes, from the one table in worldlink.h.
#include "worldlink/reasons.h"

#include <map>
#include <mutex>
#include <string>

namespace worldlink {

namespace {

struct ReasonWords {
    int code;
    const char* words;
};

#define WL_REASON_ENTRY(code, name, words) {code, words},
constexpr ReasonWords REASON_WORDS[] = {WL_REASONS(WL_REASON_ENTRY)};
#undef WL_REASON_ENTRY

}  // namespace

const char* reason_table_words(int code) {
    for (const ReasonWords& entry : REASON_WORDS)
        if (entry.code == code) return entry.words;
    return nullptr;
}

}  // namespace worldlink

using namespace worldlink;

// A code without words gets its text once, kept until the process ends, so the
// pointer stays valid on every thread however often it is asked again.
const char* wl_reason_words(int reason) {
    if (const char* words = reason_table_words(reason)) return words;
    static std::mutex guard;
    static std::map<int, std::string> numbered;
    const std::lock_guard<std::mutex> lock(guard);
    auto [entry, added] = numbered.try_emplace(reason);
    if (added) entry->second = "reason " + std::to_string(reason);
    return entry->second.c_str();
}
