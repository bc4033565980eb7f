// The control window's logic on a fake frame, against scripted universe and
// world peers, in a working directory of its own.
#pragma once

#include "app/flock_dialog.h"
#include "fake_frame.h"
#include "tests/support/scripted_peer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <string>
#include <vector>

struct StateChange {
    int x, y, z, yaw, type;
};

struct Whisper {
    int session;
    std::string text;
};

class FlockFixture : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // skyflit.ini with these [Main] lines and a [universe] section naming
    // the universe peer (or the given port).
    void WriteSettings(const std::string& mainLines);
    void WriteSettings(const std::string& mainLines, int port);
    std::string SettingsBytes() const;

    // Runs the program with the script as the user; returns its exit status.
    int Run(const std::function<void(FakeFrame&, FlockDialog&)>& script);

    // Runs timer 42 until the condition holds (bounded in real time).
    bool PumpUntil(FlockDialog& dialog, const std::function<bool()>& condition);
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

// A loopback port with nobody listening.
int ClosedPort();

// The start state that several tests check.
inline constexpr const char* RUNNING_SETTINGS =
    "World=sky\nCitizen=42\nPassword=pw\nBirdCount=3\nAvatar=5\nCenterCoords=1n 2w 0.5a\n";
