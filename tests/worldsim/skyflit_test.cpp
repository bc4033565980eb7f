// The Skyflit program end to end: `skyflit --headless` with five birds
// against worldsim, watched through the viewer's JSON endpoints. With
// SKYFLIT_WINDOWS_BINARY set to skyflit.exe in the environment, the Windows
// build flies the same flock under wine.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <thread>
#include <vector>

#include "tests/worldsim/sim_fixture.h"

namespace {

namespace fs = std::filesystem;

constexpr const char* WINE_LOADER = "/usr/lib/wine/wine64";

// Which build runs, and the line ending of the settings file it is given (and
// must keep).
struct Program {
    const char* name;
    bool windows;
    const char* newline;
};

void PrintTo(const Program& program, std::ostream* out) { *out << program.name; }

const Program PROGRAMS[] = {{"Linux", false, "\n"}, {"WindowsUnderWine", true, "\r\n"}};

class SkyflitAgainstWorldsim : public SimFixture, public ::testing::WithParamInterface<Program> {
protected:
    void SetUp() override {
        std::vector<const char*> command = {SKYFLIT_BINARY, "--headless", nullptr};
        if (GetParam().windows) {
            const char* exe = std::getenv("SKYFLIT_WINDOWS_BINARY");
            if (!exe || !*exe) GTEST_SKIP() << "SKYFLIT_WINDOWS_BINARY names no skyflit.exe";
            command = {WINE_LOADER, exe, "--headless", nullptr};
        }
        StartSim({"--citizen", "42:secret", "--world", "demo"});
        char pattern[] = "/tmp/skyflit-e2e-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        directory = pattern;
        // Leading zeros prove the file was rewritten at the end.
        const std::string n = GetParam().newline;
        std::ofstream(directory / "skyflit.ini", std::ios::binary)
            << "[Main]" << n << "Citizen=0042" << n << "Password=secret" << n << "World=demo" << n << "Avatar=3" << n
            << "CenterCoords=2n 1e 5a" << n << "BirdCount=5" << n << "[universe]" << n << "host=127.0.0.1" << n
            << "port=" << sim.universe_port << n;
        skyflit = fork();
        ASSERT_GE(skyflit, 0);
        if (skyflit == 0) {
            if (chdir(directory.c_str()) != 0) _exit(127);
            if (freopen("skyflit.out", "w", stdout) == nullptr) _exit(127);
            execv(command[0], const_cast<char* const*>(command.data()));
            _exit(127);
        }
    }

    void TearDown() override {
        if (skyflit > 0) {
            kill(skyflit, SIGKILL);
            waitpid(skyflit, nullptr, 0);
        }
        std::error_code ignored;
        fs::remove_all(directory, ignored);
        SimFixture::TearDown();
    }

    int BirdsInWorld() {
        nlohmann::json avatars = Avatars("demo");
        int birds = 0;
        for (const auto& a : avatars) birds += !a["visitor"].get<bool>();
        return birds;
    }

    std::string Read(const char* name) {
        std::ifstream file(directory / name);
        return {std::istreambuf_iterator<char>(file), {}};
    }

    fs::path directory;
    pid_t skyflit = -1;
};

TEST_P(SkyflitAgainstWorldsim, FlockFliesAnswersAndSavesOnStop) {
    ASSERT_TRUE(eventually([&] { return BirdsInWorld() == 5; }, 30000)) << Read("skyflit.out");
    ASSERT_TRUE(eventually([&] { return Read("skyflit.out").find("Skyflit now running.") != std::string::npos; }));
    for (int i = 1; i <= 5; ++i) EXPECT_TRUE(AvatarNamed("demo", "Bird" + std::to_string(i)).is_object()) << i;

    // Hops about once a second: over 3.5 s each bird moves three or four times.
    std::map<std::string, std::pair<int, int>> last;
    std::map<std::string, int> moves;
    auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(3500);
    while (std::chrono::steady_clock::now() < until) {
        for (const auto& a : Avatars("demo")) {
            if (a["visitor"].get<bool>()) continue;
            std::pair<int, int> at{a["x"], a["z"]};
            auto seen = last.find(a["name"]);
            if (seen != last.end() && seen->second != at) ++moves[a["name"]];
            last[a["name"]] = at;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ASSERT_EQ(moves.size(), 5u);
    for (const auto& [name, count] : moves) {
        EXPECT_GE(count, 2) << name;
        EXPECT_LE(count, 5) << name;
    }
    nlohmann::json bird = AvatarNamed("demo", "Bird3");
    EXPECT_EQ(bird["y"], 5000) << "the altitude of the centre";
    EXPECT_EQ(bird["type"], 3) << "the avatar of the settings";

    ASSERT_EQ(Post("/api/worlds/demo/say", {{"text", "skyflit owner"}}), 200);
    auto whispers = [&] {
        int count = 0;
        for (const auto& line : Get("/api/worlds/demo/chat")) count += line["kind"] == "whisper";
        return count;
    };
    ASSERT_TRUE(eventually([&] { return whispers() == 1; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(1000));
    nlohmann::json chat = Get("/api/worlds/demo/chat");
    EXPECT_EQ(whispers(), 1) << "only Bird1 answers: " << chat.dump();
    EXPECT_EQ(chat.back()["text"], "I am owned by citizen number 42.");
    EXPECT_EQ(chat.back()["from_name"], "Bird1");
    ASSERT_EQ(Post("/api/worlds/demo/say", {{"text", "Skyflit Version"}}), 200);
    ASSERT_TRUE(eventually([&] { return whispers() == 2; }));
    EXPECT_EQ(Get("/api/worlds/demo/chat").back()["text"],
              "I am Skyflit Build 6.  These birds are bots; their owner answers for them.");

    // Under wine an interrupt reaches the program as Ctrl-C.
    kill(skyflit, SIGINT);
    int status = -1;
    eventually([&] { return waitpid(skyflit, &status, WNOHANG) == skyflit; }, 10000);
    skyflit = -1;
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    std::string settings = Read("skyflit.ini");
    const std::string n = GetParam().newline;
    EXPECT_NE(settings.find("Citizen=42" + n), std::string::npos) << settings;
    EXPECT_NE(settings.find("port=" + std::to_string(sim.universe_port) + n), std::string::npos) << settings;
    EXPECT_TRUE(eventually([&] { return BirdsInWorld() == 0; })) << "every bird leaves with the program";
}

// An ejected bird is told once; one whose link the world merely closes is
// back within a second or two, which is not worth a line.
TEST_P(SkyflitAgainstWorldsim, AnEjectionIsToldAndAShortLossIsNot) {
    ASSERT_TRUE(eventually([&] { return BirdsInWorld() == 5; }, 30000)) << Read("skyflit.out");
    ASSERT_TRUE(eventually([&] { return Read("skyflit.out").find("Skyflit now running.") != std::string::npos; }));
    const std::string running = Read("skyflit.out");
    ASSERT_EQ(Post("/api/worlds/demo/drop", {{"session", SessionOf("demo", "Bird3")}, {"reason", 466}}), 200);
    ASSERT_TRUE(eventually([&] { return BirdsInWorld() == 4; }));
    ASSERT_EQ(Post("/api/worlds/demo/drop", {{"session", SessionOf("demo", "Bird2")}, {"reason", "close"}}), 200);
    ASSERT_TRUE(eventually([&] { return !AvatarNamed("demo", "Bird2").is_object(); }));
    ASSERT_TRUE(eventually([&] { return AvatarNamed("demo", "Bird2").is_object(); }, 5000));
    // A few hops more, to see nothing else is told.
    std::this_thread::sleep_for(std::chrono::milliseconds(2500));
    EXPECT_EQ(Read("skyflit.out"), running + "Bird3 left the world (ejected)." + GetParam().newline);
}

INSTANTIATE_TEST_SUITE_P(Programs, SkyflitAgainstWorldsim, ::testing::ValuesIn(PROGRAMS),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
