// Who may use the viewer's API: the guard's answers for every kind of
// request, and a viewer started with a token refusing writes without it
// before anything reaches the worlds.
#include <gtest/gtest.h>
#include <httplib.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

#include "tools/worldsim/snapshot.h"
#include "tools/worldsim/viewer.h"
#include "tools/worldsim/viewer_guard.h"

namespace {

struct GuardCase {
    const char* what;
    SimGuard guard;
    SimGuardRequest request;
    int status;
};

const SimGuard LOOPBACK{"127.0.0.1", 5680, ""};
const SimGuard WILDCARD{"0.0.0.0", 5680, ""};
const SimGuard LAN{"192.168.1.20", 5680, "c0ffee"};
constexpr const char* JSON = "application/json";

TEST(WorldsimViewerGuard, AnswersEveryKindOfRequest) {
    const std::vector<GuardCase> cases = {
        {"page by address", LOOPBACK, {"GET", "127.0.0.1:5680", "", "", ""}, 0},
        {"page by name", LOOPBACK, {"GET", "LocalHost:5680", "", "", ""}, 0},
        {"head", LOOPBACK, {"HEAD", "localhost:5680", "", "", ""}, 0},
        {"rebound name", LOOPBACK, {"GET", "rebound.example:5680", "", "", ""}, 403},
        {"no port", LOOPBACK, {"GET", "127.0.0.1", "", "", ""}, 403},
        {"other port", LOOPBACK, {"GET", "127.0.0.1:80", "", "", ""}, 403},
        {"no host", LOOPBACK, {"GET", "", "", "", ""}, 403},
        {"name ending like ours", LOOPBACK, {"GET", "evil127.0.0.1:5680", "", "", ""}, 403},
        {"own origin", LOOPBACK, {"POST", "127.0.0.1:5680", "http://127.0.0.1:5680", JSON, ""}, 0},
        {"origin by name", LOOPBACK, {"POST", "127.0.0.1:5680", "http://localhost:5680", JSON, ""}, 0},
        {"foreign origin", LOOPBACK, {"POST", "127.0.0.1:5680", "http://evil.example", JSON, ""}, 403},
        {"foreign origin reading", LOOPBACK, {"GET", "127.0.0.1:5680", "https://evil.example", "", ""}, 403},
        {"null origin", LOOPBACK, {"POST", "127.0.0.1:5680", "null", JSON, ""}, 403},
        {"other scheme", LOOPBACK, {"POST", "127.0.0.1:5680", "https://127.0.0.1:5680", JSON, ""}, 403},
        {"json with charset", LOOPBACK, {"POST", "127.0.0.1:5680", "", "Application/JSON; charset=utf-8", ""}, 0},
        {"text/plain", LOOPBACK, {"POST", "127.0.0.1:5680", "", "text/plain", ""}, 415},
        {"form", LOOPBACK, {"POST", "127.0.0.1:5680", "", "application/x-www-form-urlencoded", ""}, 415},
        {"no type", LOOPBACK, {"POST", "127.0.0.1:5680", "", "", ""}, 415},
        {"json lookalike", LOOPBACK, {"POST", "127.0.0.1:5680", "", "application/jsonp", ""}, 415},
        {"preflight", LOOPBACK, {"OPTIONS", "127.0.0.1:5680", "http://evil.example", "", ""}, 403},
        {"own preflight", LOOPBACK, {"OPTIONS", "127.0.0.1:5680", "", "", ""}, 405},
        {"delete", LOOPBACK, {"DELETE", "127.0.0.1:5680", "", JSON, ""}, 405},
        {"wildcard by address", WILDCARD, {"GET", "10.1.2.3:5680", "", "", ""}, 0},
        {"wildcard by name", WILDCARD, {"GET", "box.example:5680", "", "", ""}, 403},
        {"lan address", LAN, {"GET", "192.168.1.20:5680", "", "", ""}, 0},
        {"lan, another address", LAN, {"GET", "192.168.1.21:5680", "", "", ""}, 403},
        {"lan write with token", LAN, {"POST", "192.168.1.20:5680", "", JSON, "c0ffee"}, 0},
        {"lan write without token", LAN, {"POST", "192.168.1.20:5680", "", JSON, ""}, 403},
        {"lan write, wrong token", LAN, {"POST", "192.168.1.20:5680", "", JSON, "c0ffef"}, 403},
        {"lan write, longer token", LAN, {"POST", "192.168.1.20:5680", "", JSON, "c0ffee0"}, 403},
        {"lan read without token", LAN, {"GET", "192.168.1.20:5680", "", "", ""}, 0},
    };
    for (const GuardCase& c : cases) {
        std::string why;
        EXPECT_EQ(sim_guard_check(c.guard, c.request, &why), c.status) << c.what;
        EXPECT_EQ(why.empty(), c.status == 0) << c.what << ": " << why;
    }
}

TEST(WorldsimViewerGuard, LoopbackIsTheWholeOfItsBlockAndNothingElse) {
    const std::vector<std::pair<const char*, bool>> cases = {
        {"127.0.0.1", true}, {"127.1.2.3", true},  {"0.0.0.0", false},    {"192.168.1.20", false},
        {"128.0.0.1", false}, {"localhost", false}, {"::1", false},       {"", false},
    };
    for (const auto& [address, loopback] : cases) EXPECT_EQ(sim_address_is_loopback(address), loopback) << address;
}

TEST(WorldsimViewerGuard, TokensAreLongAndFresh) {
    std::string first = sim_guard_new_token();
    EXPECT_EQ(first.size(), 32u);
    EXPECT_EQ(first.find_first_not_of("0123456789abcdef"), std::string::npos) << first;
    EXPECT_NE(sim_guard_new_token(), first);
}

// A viewer in this process with a token, over a picture with one world. A
// stand-in for the protocol thread answers every command and keeps its text.
class WorldsimViewerToken : public ::testing::Test {
protected:
    void SetUp() override {
        sim_shared_publish(&shared, std::make_shared<ViewState>(ViewState{1, "", {ViewWorld{"demo", 1, 30, 2, {}, {}}}}));
        std::string error;
        viewer = sim_viewer_start(&shared, "127.0.0.1", 0, "s3cret", &port, &error);
        ASSERT_NE(viewer, nullptr) << error;
        answering = std::thread([this] {
            for (int i = 0; i < 2000 && !done.load(); ++i) {
                for (SimCommand& command : sim_shared_take(&shared)) {
                    {
                        std::lock_guard<std::mutex> guard(lock);
                        said.push_back(command.text);
                    }
                    command.reply.set_value({200, "said"});
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
        });
    }

    void TearDown() override {
        done.store(true);
        if (answering.joinable()) answering.join();
        shared.stopping.store(true);
        sim_viewer_stop(viewer);
    }

    int Say(const std::string& text, const httplib::Headers& headers) {
        httplib::Client client("127.0.0.1", port);
        client.set_read_timeout(5, 0);
        auto answer = client.Post("/api/worlds/demo/say", headers, "{\"text\": \"" + text + "\"}", "application/json");
        return answer ? answer->status : 0;
    }

    std::vector<std::string> Said() {
        std::lock_guard<std::mutex> guard(lock);
        return said;
    }

    SimShared shared;
    SimViewer* viewer = nullptr;
    int port = 0;
    std::thread answering;
    std::atomic<bool> done{false};
    std::mutex lock;
    std::vector<std::string> said;
};

TEST_F(WorldsimViewerToken, WritesWithoutTheTokenNeverReachTheWorld) {
    EXPECT_EQ(Say("no token", {}), 403);
    EXPECT_EQ(Say("wrong token", {{SIM_TOKEN_HEADER, "s3cre"}}), 403);
    EXPECT_EQ(Say("token", {{SIM_TOKEN_HEADER, "s3cret"}}), 200);
    EXPECT_EQ(Said(), std::vector<std::string>{"token"});

    httplib::Client client("127.0.0.1", port);
    auto page = client.Get("/");
    ASSERT_TRUE(page);
    EXPECT_EQ(page->status, 200) << "reading needs no token";
}

}  // namespace
