#include "flock_fixture.h"

#include "app/flock_app.h"
#include "temporary_directory.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

namespace fs = std::filesystem;

namespace {

constexpr int32_t LOOPBACK = 0x7F000001;
constexpr int WORLD_BUILD = 30;
constexpr int WORLD_LOGINS[] = {MSG_WORLD_LOGIN_V1, MSG_WORLD_LOGIN_V2, MSG_WORLD_LOGIN_V3, MSG_WORLD_LOGIN_V4};

}  // namespace

int ClosedPort() {
    ScriptedPeer gone(PeerRole::universe);
    return gone.port();
}

void FlockFixture::SetUp() {
    directory = MakeTemporaryDirectory("skyflit-flock").string();
    previousDirectory = fs::current_path().string();
    fs::current_path(directory);

    universe.on(MSG_LOGIN, [](ScriptedPeer& peer, const PeerFrame& login) {
        peer.send(login.link, MSG_UNIVERSE_PROPERTIES, Body().byte(6).string("30"));
        peer.send(login.link, MSG_LOGIN_REPLY, Body().word(0x100 + login.link).string("welcome").dword(7));
    });
    universe.on(MSG_WORLD_LOOKUP, [this](ScriptedPeer& peer, const PeerFrame& lookup) {
        FieldReader reader(lookup);
        Body body;
        body.string(reader.string());
        int result = lookupResult.load();
        if (result == 0) {
            body.dword(LOOPBACK).word(world.port()).word(WORLD_BUILD);
        }
        peer.send(lookup.link, MSG_WORLD_ADDRESS, body, result);
    });
    for (int login : WORLD_LOGINS) {
        world.on(login, ScriptedPeer::reply(MSG_WORLD_PROPERTIES));
    }
}

void FlockFixture::TearDown() {
    fs::current_path(previousDirectory);
    // On Windows a child process that was just ended may hold the directory
    // (its working directory) a moment longer.
    std::error_code error;
    for (int attempt = 0; attempt < 100; ++attempt) {
        fs::remove_all(directory, error);
        if (!error) {
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EXPECT_FALSE(error) << directory << ": " << error.message();
}

void FlockFixture::WriteSettings(const std::string& mainLines) {
    WriteSettings(mainLines, universe.port());
}

void FlockFixture::WriteSettings(const std::string& mainLines, int port, const std::string& host) {
    std::ofstream(fs::path(directory) / "skyflit.ini", std::ios::binary)
        << "[universe]\nhost=" << host << "\nport=" << port << "\n[Main]\n" << mainLines;
}

std::string FlockFixture::SettingsBytes() const {
    std::ifstream in(fs::path(directory) / "skyflit.ini", std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

int FlockFixture::Run(const std::function<void(FakeFrame&, FlockDialog&)>& script) {
    frame.script = [&script](FakeFrame& fake, DialogHandler& handler) {
        script(fake, dynamic_cast<FlockDialog&>(handler));
    };
    FlockApp app;
    return app.Run(frame);
}

void FlockFixture::Fly(const std::function<void(FakeFrame&, FlockDialog&)>& then) {
    WriteSettings(RUNNING_SETTINGS);
    Run([&](FakeFrame& fake, FlockDialog& dialog) {
        fake.Press(dialog, ID_LOGIN);
        ASSERT_TRUE(dialog.running);
        ASSERT_TRUE(world.wait_count(MSG_STATE_CHANGE, 3));
        fake.statusLines.clear();
        then(fake, dialog);
    });
}

void FlockFixture::PumpFor(FlockDialog& dialog, int milliseconds) {
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    while (std::chrono::steady_clock::now() < end) {
        dialog.OnTimer(TIMER_PUMP);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

std::vector<StateChange> FlockFixture::StateChanges(int link) {
    std::vector<StateChange> changes;
    for (const PeerFrame& sent : world.history()) {
        if (sent.type == MSG_STATE_CHANGE && sent.link == link) {
            FieldReader reader(sent);
            StateChange change{};
            change.x = reader.dword();
            change.y = reader.dword();
            change.z = reader.dword();
            change.yaw = static_cast<int16_t>(reader.word());
            change.type = reader.byte();
            changes.push_back(change);
        }
    }
    return changes;
}

std::vector<Whisper> FlockFixture::Whispers() {
    std::vector<Whisper> whispers;
    for (const PeerFrame& sent : world.history()) {
        if (sent.type == MSG_WHISPER) {
            FieldReader reader(sent);
            int session = reader.word();
            whispers.push_back({sent.link, session, reader.string()});
        }
    }
    return whispers;
}

void FlockFixture::SendToAllBirds(int type, const Body& body) {
    for (int link = 0; link < world.link_count(); ++link) {
        if (!world.closed(link)) {
            world.send(link, type, body);
        }
    }
}

void ExpectEnabled(const FakeFrame& frame, std::initializer_list<int> on) {
    for (int id : {ID_LOGIN, ID_CITIZEN, ID_PASSWORD, ID_WORLD, ID_APPLY, ID_AVATAR, ID_CENTER, ID_BIRDS}) {
        bool expected = std::find(on.begin(), on.end(), id) != on.end();
        EXPECT_EQ(frame.IsEnabled(id), expected) << "control " << id;
    }
}

Body AvatarBody(int session, const std::string& name) {
    Body body = Body().dword(session).string(name).dword(0).dword(0).dword(0);  // at the origin
    return body.word(0).byte(1).byte(0).word(0).dword(-1).dword(-1);
}

void FlockFixture::AvatarAppears(int session, const std::string& name) {
    SendToAllBirds(MSG_AVATAR_ADD, AvatarBody(session, name));
}
