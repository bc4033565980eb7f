// The program's start: the library, then the control window on a frame.
#pragma once

#include "app/dialog.h"
#include "app/flight_settings.h"

#include <optional>
#include <string>

class FlockApp {
public:
    // The settings file read at start and written at teardown; empty for
    // the working directory's skyflit.ini.
    std::string settingsFile;
    // The flight the command line names; it wins over the file's.
    std::optional<FlightMode> flightMode;

    // Starts the library and runs the control window on frame until it
    // closes; the window's teardown stops the library and saves the
    // settings. Returns the exit status: the frame's; 2 when the file's
    // flight settings are refused, before anything starts; or 1 when the
    // library or the sockets do not start, or when the settings could not
    // be saved (each said in a message box first).
    int Run(DialogFrame& frame);
};
