#include "app/flock_app.h"

#include "app/flock_dialog.h"
#include "worldlink/worldlink.h"

#include <csignal>

namespace {

constexpr int EXIT_START_FAILED = 1;

// A peer that closes a link must cost a failed send, not the process.
bool StartSockets() {
    return std::signal(SIGPIPE, SIG_IGN) != SIG_ERR;
}

}  // namespace

int FlockApp::Run(DialogFrame& frame) {
    if (wl_init(LIBRARY_BUILD) != 0) {
        frame.ShowMessage("Unable to initialize world API.", MESSAGE_CAPTION, MessageIcon::Error, false);
        return EXIT_START_FAILED;
    }
    if (!StartSockets()) {
        frame.ShowMessage("Can't initialize Winsock", MESSAGE_CAPTION, MessageIcon::Warning, false);
        return EXIT_START_FAILED;
    }
    FlockDialog dialog;
    return frame.RunModal(dialog);
}
