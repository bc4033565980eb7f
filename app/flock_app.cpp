#include "app/flock_app.h"

#include "app/flock_dialog.h"
#include "app/platform.h"
#include "worldlink/worldlink.h"

namespace {

constexpr int EXIT_START_FAILED = 1;
constexpr int EXIT_SAVE_FAILED = 1;
constexpr int EXIT_REFUSED_SETTINGS = 2;

}  // namespace

int FlockApp::Run(DialogFrame& frame) {
    const std::string settingsPath = settingsFile.empty() ? SettingsPathHere() : settingsFile;
    FlightSettings flight;
    if (flightMode) {
        flight.mode = *flightMode;
        flight.named = true;
    }
    if (std::string refusal = ReadFlightSettings(settingsPath, flight, !flightMode); !refusal.empty()) {
        frame.ShowMessage(refusal, MESSAGE_CAPTION, MessageIcon::Error, false);
        return EXIT_REFUSED_SETTINGS;
    }
    if (wl_init(LIBRARY_BUILD) != 0) {
        frame.ShowMessage("Unable to initialize world API.", MESSAGE_CAPTION, MessageIcon::Error, false);
        return EXIT_START_FAILED;
    }
    if (!StartSocketLayer()) {
        frame.ShowMessage("Can't initialize Winsock", MESSAGE_CAPTION, MessageIcon::Warning, false);
        return EXIT_START_FAILED;
    }
    FlockDialog dialog(settingsPath);
    dialog.flight = flight;
    const int status = frame.RunModal(dialog);
    if (!dialog.saveFailure.empty()) {
        // The window is gone: the box has no owner.
        frame.ShowMessage(dialog.saveFailure, MESSAGE_CAPTION, MessageIcon::Error, false);
        return EXIT_SAVE_FAILED;
    }
    return status;
}
