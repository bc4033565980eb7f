#include "tests/worldsim/sim_fixture.h"

#include <httplib.h>
#include <sys/wait.h>

#include <chrono>
#include <thread>

void SimFixture::TearDown() {
    for (RawBot& bot : bots) raw_leave(&bot);
    if (sim.pid > 0) {
        int status = sim_process_stop(&sim, 5000);
        // A clean stop is part of every test: SIGTERM must end worldsim with 0.
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "worldsim status " << status;
    }
}

void SimFixture::StartSim(const std::vector<std::string>& arguments) {
    std::vector<std::string> all = {"--bind", "127.0.0.1", "--port", "0", "--viewer-port", "0"};
    all.insert(all.end(), arguments.begin(), arguments.end());
    std::string error;
    ASSERT_EQ(sim_process_start(WORLDSIM_BINARY, all, &sim, 10000, &error), 0) << error;
}

nlohmann::json SimFixture::Get(const std::string& path) {
    httplib::Client client("127.0.0.1", sim.viewer_port);
    client.set_read_timeout(5, 0);
    auto answer = client.Get(path.c_str());
    if (!answer) return nullptr;
    return nlohmann::json::parse(answer->body, nullptr, false);
}

int SimFixture::Post(const std::string& path, const nlohmann::json& body, nlohmann::json* reply) {
    httplib::Client client("127.0.0.1", sim.viewer_port);
    client.set_read_timeout(5, 0);
    auto answer = client.Post(path.c_str(), body.dump(), "application/json");
    if (!answer) return 0;
    if (reply != nullptr) *reply = nlohmann::json::parse(answer->body, nullptr, false);
    return answer->status;
}

nlohmann::json SimFixture::Avatars(const std::string& world) { return Get("/api/worlds/" + world + "/avatars"); }

nlohmann::json SimFixture::AvatarNamed(const std::string& world, const std::string& name) {
    nlohmann::json avatars = Avatars(world);
    if (!avatars.is_array()) return nullptr;
    for (const auto& a : avatars) {
        if (a["name"] == name) return a;
    }
    return nullptr;
}

int SimFixture::SessionOf(const std::string& world, const std::string& name) {
    int session = 0;
    eventually([&] {
        nlohmann::json avatar = AvatarNamed(world, name);
        session = avatar.is_object() ? avatar["session"].get<int>() : 0;
        return session != 0;
    }, 3000);
    return session;
}

bool SimFixture::SimRunning() {
    int status = 0;
    if (sim.pid <= 0) return false;
    if (waitpid(sim.pid, &status, WNOHANG) == 0) return true;
    sim.pid = -1;
    return false;
}

RawBot* SimFixture::Bot(const char* name, uint32_t mask, const char* world) {
    RawBot& bot = bots.emplace_back();
    return raw_enter(sim.universe_port, world, name, mask, &bot) ? &bot : nullptr;
}

bool eventually(const std::function<bool()>& condition, int timeout_ms) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    for (;;) {
        if (condition()) return true;
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}
