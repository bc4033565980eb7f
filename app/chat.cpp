#include "app/chat.h"

#include "app/ascii.h"
#include "app/flock_dialog.h"
#include "worldlink/worldlink.h"

namespace {

bool IsCommand(const char* message, std::string_view command) {
    if (!message) {
        return false;
    }
    std::string_view text = message;
    if (text.size() != command.size()) {
        return false;
    }
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (AsciiLower(text[i]) != command[i]) {
            return false;
        }
    }
    return true;
}

void WhisperToAsker(const std::string& reply) {
    wl_whisper(wl_int(ATTR_CHAT_SESSION), reply.c_str());
}

}  // namespace

std::string FormatNumber(const std::string& format, int number) {
    std::string text = format;
    std::size_t at = text.find("%d");
    if (at != std::string::npos) {
        text.replace(at, 2, std::to_string(number));
    }
    return text;
}

void ChatHandler() {
    if (!activeDialog) {
        return;
    }
    Bird* first = activeDialog->birds.Head();
    if (!first || !first->instance || wl_instance() != first->instance) {
        return;
    }
    if (IsCommand(wl_string(ATTR_CHAT_MESSAGE), VERSION_COMMAND)) {
        WhisperToAsker(FormatNumber(activeDialog->versionReplyFormat, BUILD_NUMBER));
    }
    if (IsCommand(wl_string(ATTR_CHAT_MESSAGE), OWNER_COMMAND)) {
        WhisperToAsker(FormatNumber(activeDialog->ownerReplyFormat, wl_int(ATTR_LOGIN_OWNER)));
    }
}
