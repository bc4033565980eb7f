// The control window's logic: settings, the start sequence, apply, the
// timers of the flight and the texts of reason codes. It knows the window
// only through the DialogFrame it is handed at Initialize.
#pragma once

#include "app/bird.h"
#include "app/dialog.h"
#include "app/field_exchange.h"
#include "app/flight_settings.h"
#include "app/flock_flight.h"

#include <array>
#include <string>

inline constexpr int BUILD_NUMBER = 6;

// Window timers.
inline constexpr int TIMER_PUMP = 42;
inline constexpr int TIMER_HOP = 43;
inline constexpr int TIMER_RECENTER = 44;
inline constexpr int PUMP_PERIOD_MS = 100;
inline constexpr int HOP_PERIOD_MS = 990;
inline constexpr int RECENTER_PERIOD_MS = 120000;

// Must equal the library's own default universe host.
inline constexpr const char* DEFAULT_HOST = "localhost";
inline constexpr int DEFAULT_PORT = 5670;

inline constexpr const char* SETTINGS_FILE_NAME = "skyflit.ini";
inline constexpr const char* MESSAGE_CAPTION = "Skyflit";

class FlockDialog : public DialogHandler {
public:
    // settingsFile empty: SETTINGS_FILE_NAME in the working directory.
    explicit FlockDialog(std::string settingsFile = {});
    ~FlockDialog() override;
    FlockDialog(const FlockDialog&) = delete;
    FlockDialog& operator=(const FlockDialog&) = delete;

    bool Initialize(DialogFrame& frame) override;
    void Teardown() override;
    void OnCommand(int id) override;
    void OnTextChanged(int id) override;
    void OnTimer(int id) override;

    void OnLogin();
    void OnApply();
    void OnFieldChanged();

    // Reads the centre text ("12.5s 3.1w 0.4a") into the axes it names, in
    // library units; axes it does not name keep their values.
    static void ParseCenter(const std::string& text, int& z, int& x, int& y);
    // The words of a reason code, or the code in decimal. The text is shared
    // and overwritten by the next call.
    static const char* ReasonText(int code);

    int citizenNumber = 0;
    std::string privilegePassword;
    std::string worldName;
    int avatarType = 0;
    std::string centerText;
    int birdCount = 0;
    std::string universeHost;
    int universePort = 0;

    int centerX = 0;
    int centerY = 0;
    int centerZ = 0;
    std::string currentWorld;
    bool running = false;
    BirdList birds;

    std::string versionReplyFormat;
    std::string ownerReplyFormat;
    std::string settingsPath;
    // Which flight the flock flies, from the file and the command line; set
    // before the window runs.
    FlightSettings flight;
    // Set by Teardown when the settings could not be saved, in words for
    // the user; empty when they were.
    std::string saveFailure;

private:
    std::array<FieldBinding, 6> Fields();
    void SetStatus(const std::string& text);
    void EnableAll(std::initializer_list<int> ids, bool enabled);
    void Report(const std::string& text);
    void EndRun(const std::string& text);
    void EndRunUnlessClosing(const std::string& text, int code, const std::string& detail = "");
    bool EnterAll(bool fatal);
    // Tells a change in whether the bird is in the world, from the result of
    // the state change it just sent and the flight time since its last one.
    void Watch(Bird& bird, int result, int elapsedMs);
    void LoadSettings();
    void SaveSettings();
    void PlaceFlock(bool starting);
    void FlyOneTick();

    DialogFrame* frame = nullptr;
    FlockFlight flock;
};

// The settings file in the working directory: SETTINGS_FILE_NAME there.
std::string SettingsPathHere();

// The window whose birds answer chat; set while a FlockDialog exists.
extern FlockDialog* activeDialog;
