// Which flight the flock flies and the flock flight's parameters, as the
// settings file's [Main] section and the command line give them:
// Flight=hop|flock, FlockRadius, FlockSpeed and FlockSeparation in world
// units. Without any of them the flock hops, and the file is written back
// without them.
#pragma once

#include "app/flocking.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

enum class FlightMode { Hop, Flock };

struct FlightSettings {
    FlightMode mode = FlightMode::Hop;
    FlockParameters flock;
    // The file or the command line named a flight: the keys go back into
    // the file with the values in force.
    bool named = false;
};

// "hop" or "flock", in any case.
std::optional<FlightMode> ParseFlightMode(std::string_view text);
const char* FlightModeName(FlightMode mode);

// The words that say what a flight may be, for refusals.
inline constexpr const char* FLIGHT_MODES = "hop or flock";

// The flight keys of the file at path over settings; Flight only when
// readMode (the command line wins over it, whatever it says). Returns "" or,
// for a value it refuses, what is wrong in words (settings stays unchanged
// then). A missing file, section or key leaves what settings holds.
std::string ReadFlightSettings(const std::string& path, FlightSettings& settings, bool readMode = true);

// The keys and their texts, as written back; none when the flight was not
// named.
std::vector<std::pair<std::string, std::string>> FlightSettingTexts(const FlightSettings& settings);
