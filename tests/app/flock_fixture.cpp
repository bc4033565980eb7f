#include "flock_fixture.h"

#include "app/flock_app.h"

#include <chrono>
#include <filesystem>
#include <fstream>
#include <netinet/in.h>
#include <sstream>
#include <sys/socket.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

constexpr int32_t LOOPBACK = 0x7F000001;
constexpr int WORLD_BUILD = 30;
constexpr int WORLD_LOGINS[] = {MSG_WORLD_LOGIN_V1, MSG_WORLD_LOGIN_V2, MSG_WORLD_LOGIN_V3, MSG_WORLD_LOGIN_V4};

}  // namespace

int ClosedPort() {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    socklen_t length = sizeof address;
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    close(fd);
    return ntohs(address.sin_port);
}

void FlockFixture::SetUp() {
    std::string pattern = (fs::temp_directory_path() / "skyflit-flock-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    directory = pattern;
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
    fs::remove_all(directory);
}

void FlockFixture::WriteSettings(const std::string& mainLines) {
    WriteSettings(mainLines, universe.port());
}

void FlockFixture::WriteSettings(const std::string& mainLines, int port) {
    std::ofstream(fs::path(directory) / "skyflit.ini", std::ios::binary)
        << "[universe]\nhost=127.0.0.1\nport=" << port << "\n[Main]\n" << mainLines;
}

std::string FlockFixture::SettingsBytes() const {
    std::ifstream in(fs::path(directory) / "skyflit.ini", std::ios::binary);
    std::stringstream all;
    all << in.rdbuf();
    return all.str();
}

int FlockFixture::Run(const std::function<void(FakeFrame&, FlockDialog&)>& script) {
    frame.script = [&script](FakeFrame& fake, DialogHandler& handler) {
        script(fake, dynamic_cast<FlockDialog&>(handler));
    };
    FlockApp app;
    return app.Run(frame);
}

bool FlockFixture::PumpUntil(FlockDialog& dialog, const std::function<bool()>& condition) {
    return eventually([&] {
        dialog.OnTimer(TIMER_PUMP);
        return condition();
    });
}

void FlockFixture::PumpFor(FlockDialog& dialog, int milliseconds) {
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    while (std::chrono::steady_clock::now() < end) {
        dialog.OnTimer(TIMER_PUMP);
        usleep(5000);
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
            whispers.push_back({session, reader.string()});
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

void FlockFixture::AvatarAppears(int session, const std::string& name) {
    SendToAllBirds(MSG_AVATAR_ADD, Body()
                                       .dword(session)
                                       .string(name)
                                       .dword(0)
                                       .dword(0)
                                       .dword(0)
                                       .word(0)
                                       .byte(1)
                                       .byte(0)
                                       .word(0)
                                       .dword(-1)
                                       .dword(-1));
}
