#include "app/flock_dialog.h"

#include "app/chat.h"
#include "app/connect_detail.h"
#include "app/platform.h"
#include "app/settings.h"
#include "worldlink/worldlink.h"

#include <utility>

FlockDialog* activeDialog = nullptr;

namespace {

constexpr std::size_t CURRENT_DIRECTORY_LIMIT = 512;

// Read buffer sizes of the settings, terminator included.
constexpr std::size_t PASSWORD_BUFFER = 20;
constexpr std::size_t CENTER_BUFFER = 200;
constexpr std::size_t NUMBER_BUFFER = 10;
constexpr std::size_t WORLD_BUFFER = 10;
constexpr std::size_t HOST_BUFFER = 100;

constexpr const char* MAIN_SECTION = "Main";
constexpr const char* UNIVERSE_SECTION = "universe";

// "N of M birds in the world.", counting those whose leaving was told as away.
std::string InWorldCount(BirdList& birds) {
    std::size_t inWorld = 0;
    for (Bird& bird : birds) {
        inWorld += bird.presence.toldGone ? 0 : 1;
    }
    return std::to_string(inWorld) + " of " + std::to_string(birds.Count()) + " birds in the world.";
}

std::string Bracketed(int code) {
    return std::string(" (") + FlockDialog::ReasonText(code) + ").";
}

}  // namespace

// The working directory, the platform's separator ("\" on Windows, "/" on
// POSIX) and the file name. A drive root such as "C:\" gives two separators
// in a row, which Windows reads as one.
std::string SettingsPathHere() {
    if (std::optional<std::string> directory = CurrentDirectory(CURRENT_DIRECTORY_LIMIT)) {
        std::string path = std::move(*directory);
        path += DirectorySeparator();
        path += SETTINGS_FILE_NAME;
        return path;
    }
    // Too deep for the limit, or gone: the name alone still means the
    // working directory.
    return SETTINGS_FILE_NAME;
}

FlockDialog::FlockDialog(std::string settingsFile) : settingsPath(std::move(settingsFile)) {
    activeDialog = this;
}

FlockDialog::~FlockDialog() {
    if (activeDialog == this) {
        activeDialog = nullptr;
    }
}

std::array<FieldBinding, 6> FlockDialog::Fields() {
    return {{
        {ID_CITIZEN, &citizenNumber, nullptr},
        {ID_PASSWORD, nullptr, &privilegePassword},
        {ID_WORLD, nullptr, &worldName},
        {ID_AVATAR, &avatarType, nullptr},
        {ID_CENTER, nullptr, &centerText},
        {ID_BIRDS, &birdCount, nullptr},
    }};
}

bool FlockDialog::Initialize(DialogFrame& window) {
    frame = &window;
    frame->SetIcon(PROGRAM_ICON);
    frame->GreyMaximizeAndSize();
    running = false;
    versionReplyFormat = VERSION_REPLY_FORMAT;
    ownerReplyFormat = OWNER_REPLY_FORMAT;
    wl_event_set(EVENT_CHAT, ChatHandler);
    frame->StartTimer(TIMER_PUMP, PUMP_PERIOD_MS);
    if (settingsPath.empty()) {
        settingsPath = SettingsPathHere();
    }
    RemoveLeftoverTemporaries(settingsPath);
    LoadSettings();
    return true;
}

void FlockDialog::LoadSettings() {
    const std::string defaultPort = std::to_string(DEFAULT_PORT);
    const SettingRead reads[] = {
        {MAIN_SECTION, "Password", "", PASSWORD_BUFFER},
        {MAIN_SECTION, "CenterCoords", "0n 0e 0a", CENTER_BUFFER},
        {MAIN_SECTION, "World", "", WORLD_BUFFER},
        {MAIN_SECTION, "Citizen", "", NUMBER_BUFFER},
        {MAIN_SECTION, "Avatar", "", NUMBER_BUFFER},
        {MAIN_SECTION, "BirdCount", "3", NUMBER_BUFFER},
        {UNIVERSE_SECTION, "host", DEFAULT_HOST, HOST_BUFFER},
        {UNIVERSE_SECTION, "port", defaultPort, NUMBER_BUFFER},
    };
    const std::vector<std::string> values = ReadSettings(settingsPath, reads);
    privilegePassword = values[0];
    centerText = values[1];
    worldName = values[2];
    citizenNumber = DecimalValue(values[3]);
    avatarType = DecimalValue(values[4]);
    birdCount = DecimalValue(values[5]);
    ShowFields(*frame, Fields());
    universeHost = values[6];
    universePort = DecimalValue(values[7]);
}

void FlockDialog::Teardown() {
    birds.DestroyInstances();
    SaveSettings();
    birds.Clear();
    wl_term();
    running = false;
    frame = nullptr;
}

void FlockDialog::SaveSettings() {
    const std::string citizen = std::to_string(citizenNumber);
    const std::string avatar = std::to_string(avatarType);
    const std::string count = std::to_string(birdCount);
    std::vector<Setting> keys = {{"Citizen", citizen},         {"Avatar", avatar}, {"Password", privilegePassword},
                                 {"CenterCoords", centerText}, {"World", worldName}, {"BirdCount", count}};
    const auto flightTexts = FlightSettingTexts(flight);
    for (const auto& [key, value] : flightTexts) {
        keys.push_back({key, value});
    }
    if (int error = WriteSettings(settingsPath, MAIN_SECTION, keys); error != 0) {
        saveFailure = "could not save settings to " + settingsPath + ": " + SystemErrorText(error);
    }
}

void FlockDialog::OnCommand(int id) {
    if (id == ID_LOGIN) {
        OnLogin();
    } else if (id == ID_APPLY) {
        OnApply();
    }
}

void FlockDialog::OnTextChanged(int id) {
    if (id == ID_WORLD || id == ID_AVATAR || id == ID_CENTER) {
        OnFieldChanged();
    }
}

void FlockDialog::OnTimer(int id) {
    if (id == TIMER_PUMP) {
        wl_wait(0);
    } else if (id == TIMER_HOP && running) {
        FlyOneTick();
    } else if (id == TIMER_RECENTER && running && flight.mode == FlightMode::Hop) {
        // Only hops need bringing back: the flock flight keeps near the
        // centre by itself.
        for (Bird& bird : birds) {
            Watch(bird, bird.Place(centerX, centerY, centerZ), 0);
        }
    }
}

// The ticks are the flock's clock, one period each, so frames and tests
// drive it; a recentring looks without taking time.
void FlockDialog::FlyOneTick() {
    if (flight.mode == FlightMode::Flock) {
        flock.Tick(birds, [this](Bird& bird, int result) { Watch(bird, result, HOP_PERIOD_MS); });
        return;
    }
    for (Bird& bird : birds) {
        Watch(bird, bird.Hop(), HOP_PERIOD_MS);
    }
}

// Every bird at the centre: the hop puts them all on it; the flock flight
// starts there at the login and flies there, or is moved there, on apply.
void FlockDialog::PlaceFlock(bool starting) {
    const Vec3 centre{static_cast<double>(centerX), static_cast<double>(centerY), static_cast<double>(centerZ)};
    if (flight.mode == FlightMode::Hop) {
        birds.PlaceAll(centerX, centerY, centerZ);
    } else if (starting) {
        flock.Start(birds, flight.flock, centre);
    } else {
        flock.MoveCentre(birds, centre);
    }
}

void FlockDialog::Watch(Bird& bird, int result, int elapsedMs) {
    // The state change left the bird's instance current.
    PresenceReport report = ObservePresence(bird.presence, result, wl_int(ATTR_WORLD_DISCONNECT_REASON), elapsedMs);
    if (report.change == PresenceChange::Left) {
        SetStatus(bird.name + " left the world" + Bracketed(report.reason));
    } else if (report.change == PresenceChange::Back) {
        // A window's one line must also say whether anyone is still away.
        SetStatus(frame->KeepsStatusLines() ? bird.name + " is back in the world." : InWorldCount(birds));
    }
}

void FlockDialog::SetStatus(const std::string& text) {
    frame->SetText(ID_STATUS, text);
}

void FlockDialog::EnableAll(std::initializer_list<int> ids, bool enabled) {
    for (int id : ids) {
        frame->Enable(id, enabled);
    }
}

void FlockDialog::Report(const std::string& text) {
    frame->ShowMessage(text, MESSAGE_CAPTION, MessageIcon::None, true);
}

void FlockDialog::EndRun(const std::string& text) {
    Report(text);
    frame->PostQuit();
}

// A failed step ends the run with its message and the reason; a step
// canceled because the window is closing (wl_cancel) shows nothing and
// leaves the end to the close.
void FlockDialog::EndRunUnlessClosing(const std::string& text, int code, const std::string& detail) {
    if (code != REASON_CANCELED) {
        EndRun(WithDetail(text + Bracketed(code), detail));
    }
}

// Brings every bird into worldName, Bird1 first. A failure ends the run
// during the start (fatal) and stops the flock during an apply; a cancel
// means the window is closing either way.
bool FlockDialog::EnterAll(bool fatal) {
    for (Bird& bird : birds) {
        int code = bird.Enter(worldName);
        if (code != 0) {
            std::string message = bird.name + " is unable to enter the world";
            std::string detail = WorldUnreachable(worldName, code);
            if (fatal || code == REASON_CANCELED) {
                EndRunUnlessClosing(message, code, detail);
            } else {
                Report(WithDetail(message + Bracketed(code), detail));
                EnableAll({ID_AVATAR, ID_CENTER, ID_WORLD}, true);
                SetStatus("Changes failed.");
            }
            return false;
        }
        SetStatus(bird.name + " entered the world.");
    }
    return true;
}

void FlockDialog::OnLogin() {
    TakeFields(*frame, Fields());
    EnableAll({ID_LOGIN, ID_AVATAR, ID_CENTER, ID_CITIZEN, ID_PASSWORD, ID_WORLD, ID_BIRDS}, false);
    if (worldName.empty()) {
        Report("You must enter in a world name.");
        EnableAll({ID_LOGIN, ID_WORLD}, true);
        return;
    }
    centerX = centerY = centerZ = 0;
    ParseCenter(centerText, centerZ, centerX, centerY);
    SetStatus("Connecting to universe...");
    for (int i = 1; i <= birdCount; ++i) {
        Bird& bird = birds.Append();
        int code = bird.Create(universeHost, universePort);
        if (code != 0) {
            EndRunUnlessClosing("Unable to create bot instance", code,
                                UniverseUnreachable(universeHost, universePort, code));
            return;
        }
        std::string name = "Bird" + std::to_string(i);
        code = bird.Login(citizenNumber, privilegePassword, name);
        if (code != 0) {
            EndRunUnlessClosing("Unable to login " + name, code);
            return;
        }
        SetStatus(name + " logged in.");
    }
    if (!EnterAll(true)) {
        return;
    }
    birds.SetAvatarAll(avatarType);
    PlaceFlock(true);
    running = true;
    currentWorld = worldName;
    frame->StartTimer(TIMER_HOP, HOP_PERIOD_MS);
    frame->StartTimer(TIMER_RECENTER, RECENTER_PERIOD_MS);
    EnableAll({ID_AVATAR, ID_CENTER, ID_WORLD}, true);
    SetStatus("Skyflit now running.");
}

void FlockDialog::OnApply() {
    TakeFields(*frame, Fields());
    EnableAll({ID_APPLY, ID_AVATAR, ID_CENTER, ID_WORLD}, false);
    running = false;
    if (worldName != currentWorld && !EnterAll(false)) {
        return;
    }
    centerX = centerY = centerZ = 0;
    ParseCenter(centerText, centerZ, centerX, centerY);
    birds.SetAvatarAll(avatarType);
    PlaceFlock(false);
    EnableAll({ID_AVATAR, ID_CENTER, ID_WORLD}, true);
    currentWorld = worldName;
    running = true;
    SetStatus("Changes successful.");
}

void FlockDialog::OnFieldChanged() {
    if (running) {
        frame->Enable(ID_APPLY, true);
    }
}
