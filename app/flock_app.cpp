#include "app/flock_app.h"

#include "app/flock_dialog.h"
#include "app/platform.h"
#include "worldlink/worldlink.h"

namespace {

constexpr int EXIT_START_FAILED = 1;

}  // namespace

int FlockApp::Run(DialogFrame& frame) {
    if (wl_init(LIBRARY_BUILD) != 0) {
        frame.ShowMessage("Unable to initialize world API.", MESSAGE_CAPTION, MessageIcon::Error, false);
        return EXIT_START_FAILED;
    }
    if (!StartSocketLayer()) {
        frame.ShowMessage("Can't initialize Winsock", MESSAGE_CAPTION, MessageIcon::Warning, false);
        return EXIT_START_FAILED;
    }
    FlockDialog dialog;
    return frame.RunModal(dialog);
}
