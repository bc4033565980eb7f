// Which flight the settings file asks for, what it refuses, and what goes
// back into it.
#include "app/flight_settings.h"
#include "settings_fixture.h"

namespace {

class FlightSettingsFile : public SettingsFile {};

TEST_F(FlightSettingsFile, ReadsTheFlightAndItsParametersOrRefusesThem) {
    const struct {
        const char* main;
        FlightMode mode;
        FlockParameters flock;
        bool named;
        const char* refusal;  // the start of it; nullptr when read
    } cases[] = {
        {"World=sky\n", FlightMode::Hop, {}, false, nullptr},
        {"Flight=flock\n", FlightMode::Flock, {}, true, nullptr},
        {"Flight = FLOCK \n", FlightMode::Flock, {}, true, nullptr},
        {"Flight=\"hop\"\n", FlightMode::Hop, {}, true, nullptr},
        {"FlockRadius=5000\nFlockSpeed=90\nFlockSeparation=40\n", FlightMode::Hop, {5000, 90, 40}, true, nullptr},
        {"Flight=fly\n", {}, {}, false, "Flight in "},
        {"Flight=\n", {}, {}, false, "Flight in "},
        {"Flight=flock\nFlockRadius=2k\n", {}, {}, false, "FlockRadius in "},
        {"FlockSpeed=-5\n", {}, {}, false, "FlockSpeed in "},
        {"FlockSeparation=9\n", {}, {}, false, "FlockSeparation in "},
        {"FlockRadius=1000001\n", {}, {}, false, "FlockRadius in "},
        {"FlockRadius=99999999999999999999\n", {}, {}, false, "FlockRadius in "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.main);
        Put(std::string("[Main]\n") + c.main);
        FlightSettings settings;
        const std::string refusal = ReadFlightSettings(path, settings);
        if (c.refusal) {
            EXPECT_EQ(refusal.rfind(c.refusal, 0), 0u) << refusal;
            EXPECT_NE(refusal.find(path), std::string::npos) << refusal;
            EXPECT_FALSE(settings.named);
            EXPECT_EQ(settings.mode, FlightMode::Hop);
            continue;
        }
        EXPECT_EQ(refusal, "");
        EXPECT_EQ(settings.mode, c.mode);
        EXPECT_EQ(settings.named, c.named);
        EXPECT_EQ(settings.flock.radius, c.flock.radius);
        EXPECT_EQ(settings.flock.speed, c.flock.speed);
        EXPECT_EQ(settings.flock.separation, c.flock.separation);
    }
}

TEST_F(FlightSettingsFile, AFlightGivenElsewhereIsNotReadFromTheFile) {
    Put("[Main]\nFlight=fly\nFlockSpeed=200\n");
    FlightSettings settings;
    settings.mode = FlightMode::Flock;
    EXPECT_EQ(ReadFlightSettings(path, settings, false), "");
    EXPECT_EQ(settings.mode, FlightMode::Flock);
    EXPECT_EQ(settings.flock.speed, 200);
}

TEST_F(FlightSettingsFile, AMissingFileLeavesTheDefaults) {
    FlightSettings settings;
    EXPECT_EQ(ReadFlightSettings(path + ".missing", settings), "");
    EXPECT_FALSE(settings.named);
}

TEST(FlightSettings, GoBackOnlyWhenNamedAndReadBackTheSame) {
    FlightSettings settings;
    EXPECT_TRUE(FlightSettingTexts(settings).empty());
    settings = {FlightMode::Flock, {3000, 200, 120}, true};
    const std::vector<std::pair<std::string, std::string>> expected = {
        {"Flight", "flock"}, {"FlockRadius", "3000"}, {"FlockSpeed", "200"}, {"FlockSeparation", "120"}};
    EXPECT_EQ(FlightSettingTexts(settings), expected);
}

}  // namespace
