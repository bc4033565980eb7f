// The control window's logic on a fake frame, against scripted universe and
// world peers, in a working directory of its own.
#pragma once

#include "app/flock_dialog.h"
#include "fake_frame.h"
#include "tests/support/scripted_peer.h"

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <functional>
#include <string>
#include <vector>

using Lines = std::vector<std::string>;

struct StateChange {
    int x, y, z, yaw, type;
    // Where the bird is and as what, heading aside.
    std::array<int, 4> Place() const { return {x, y, z, type}; }
};

struct Whisper {
    int link;
    int session;
    std::string text;
};

class FlockFixture : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // skyflit.ini with these [Main] lines and a [universe] section naming
    // the universe peer (or the given port, or host and port).
    void WriteSettings(const std::string& mainLines);
    void WriteSettings(const std::string& mainLines, int port, const std::string& host = ScriptedPeer::host);
    std::string SettingsBytes() const;

    // Runs the program with the script as the user; returns its exit status.
    int Run(const std::function<void(FakeFrame&, FlockDialog&)>& script);

    // Starts a flock of three birds flying in "sky" (RUNNING_SETTINGS), then
    // runs the rest of the script with the status lines cleared.
    void Fly(const std::function<void(FakeFrame&, FlockDialog&)>& then);

    // Runs timer 42 for a while; for "nothing happens".
    void PumpFor(FlockDialog& dialog, int milliseconds);

    std::vector<StateChange> StateChanges(int link);
    std::vector<Whisper> Whispers();
    // A world message to every bird's world link.
    void SendToAllBirds(int type, const Body& body);
    void AvatarAppears(int session, const std::string& name);

    FakeFrame frame;
    ScriptedPeer universe{PeerRole::universe};
    ScriptedPeer world{PeerRole::world};
    std::atomic<int> lookupResult{0};
    std::string directory;
    std::string previousDirectory;
};

// Exactly these of the window's controls are enabled.
void ExpectEnabled(const FakeFrame& frame, std::initializer_list<int> on);
// A world avatar add of a build 30 world.
Body AvatarBody(int session, const std::string& name);
// A loopback port with nobody listening.
int ClosedPort();

// The status lines of a start of three birds.
inline const Lines THREE_BIRDS_STARTING = {
    "Connecting to universe...", "Bird1 logged in.",         "Bird2 logged in.",         "Bird3 logged in.",
    "Bird1 entered the world.",  "Bird2 entered the world.", "Bird3 entered the world.", "Skyflit now running."};

// The start state that several tests check.
inline constexpr const char* RUNNING_SETTINGS =
    "World=sky\nCitizen=42\nPassword=pw\nBirdCount=3\nAvatar=5\nCenterCoords=1n 2w 0.5a\n";
