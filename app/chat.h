// Chat replies: Bird1 whispers the owner's citizen number or the build to
// whoever says "skyflit owner" or "skyflit version".
#pragma once

#include <string>

inline constexpr const char* VERSION_COMMAND = "skyflit version";
inline constexpr const char* OWNER_COMMAND = "skyflit owner";
inline constexpr const char* VERSION_REPLY_FORMAT =
    "I am Skyflit Build %d.  These birds are bots; their owner answers for them.";
inline constexpr const char* OWNER_REPLY_FORMAT = "I am owned by citizen number %d.";

// The library's EVENT_CHAT handler; reaches the birds through activeDialog.
void ChatHandler();

// format with its first "%d" replaced by number.
std::string FormatNumber(const std::string& format, int number);
