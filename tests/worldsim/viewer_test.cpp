// The viewer's HTTP side: the JSON picture follows the protocol, the chat box
// speaks into the world, the event stream keeps its pace, and bad requests
// get clear answers.
#include <httplib.h>

#include <chrono>
#include <vector>

#include "tests/worldsim/raw_client.h"
#include "tests/worldsim/sim_fixture.h"
#include "worldlink/messages.h"
#include "worldlink/wire/wire.h"

using namespace worldlink;

namespace {

class WorldsimViewer : public SimFixture {
protected:
    void SetUp() override {
        StartSim({"--world", "demo"});
        bird = Bot("Bird1", 0x07);
        ASSERT_NE(bird, nullptr);
        ASSERT_GT(SessionOf("demo", "Bird1"), 0);
    }

    RawBot* bird = nullptr;
};

TEST_F(WorldsimViewer, PictureFollowsMovesWithATrail) {
    ASSERT_EQ(raw_send_state(bird->world, 1000, 5000, 0, 900), 0);
    ASSERT_EQ(raw_send_state(bird->world, 1100, 5000, 200, 450), 0);
    ASSERT_EQ(raw_send_state(bird->world, 1100, 5000, 200, 450), 0);  // no move: no trail point
    ASSERT_TRUE(eventually([&] { return AvatarNamed("demo", "Bird1")["x"] == 1100; }));
    nlohmann::json avatar = AvatarNamed("demo", "Bird1");
    EXPECT_EQ(avatar["y"], 5000);
    EXPECT_EQ(avatar["z"], 200);
    EXPECT_EQ(avatar["yaw"], 450);
    EXPECT_EQ(avatar["visitor"], false);
    EXPECT_EQ(avatar["trail"], nlohmann::json::parse("[[0,0],[1000,0]]"));

    nlohmann::json worlds = Get("/api/worlds");
    ASSERT_EQ(worlds.size(), 1u);
    EXPECT_EQ(worlds[0]["name"], "demo");
    EXPECT_EQ(worlds[0]["build"], 30);
    EXPECT_EQ(worlds[0]["avatars"], 2) << "the bird and the visitor";
    EXPECT_GT(worlds[0]["port"].get<int>(), 0);
}

TEST_F(WorldsimViewer, TrailKeepsTheLastEightPlacesOldestFirst) {
    for (int x = 1; x <= 12; ++x) ASSERT_EQ(raw_send_state(bird->world, x * 100, 5000, 0, 0), 0);
    ASSERT_TRUE(eventually([&] { return AvatarNamed("demo", "Bird1")["x"] == 1200; }));
    EXPECT_EQ(AvatarNamed("demo", "Bird1")["trail"],
              nlohmann::json::parse("[[400,0],[500,0],[600,0],[700,0],[800,0],[900,0],[1000,0],[1100,0]]"));
}

TEST_F(WorldsimViewer, ChatBoxSpeaksAsTheVisitor) {
    ASSERT_EQ(Post("/api/worlds/DEMO/say", {{"text", "skyflit version"}}), 200);
    RawFrame chat;
    ASSERT_TRUE(raw_read_type(bird->world, false, MSG_CHAT_0, &chat, 2000));
    RawReader reader(chat.body);
    int visitor = Get("/api/worlds")[0]["visitor"];
    EXPECT_EQ(reader.Word(), visitor);
    EXPECT_EQ(reader.String(), "skyflit version");

    ASSERT_EQ(raw_send_whisper(bird->world, visitor, "I am a bird."), 0);
    ASSERT_TRUE(eventually([&] { return Get("/api/worlds/demo/chat").size() == 2; }));
    nlohmann::json log = Get("/api/worlds/demo/chat");
    EXPECT_EQ(log[0]["kind"], "say");
    EXPECT_EQ(log[0]["from_name"], "Visitor");
    EXPECT_EQ(log[1]["kind"], "whisper");
    EXPECT_EQ(log[1]["from_name"], "Bird1");
    EXPECT_EQ(log[1]["to_name"], "Visitor");
    int first = log[0]["seq"];
    EXPECT_EQ(Get("/api/worlds/demo/chat?after=" + std::to_string(first)).size(), 1u);
}

TEST_F(WorldsimViewer, NamesAndChatThatAreNotUtf8AreShownWithReplacements) {
    ASSERT_NE(Bot("J\xFCrgen", 0x07), nullptr);
    ASSERT_EQ(raw_send_whisper(bird->world, Get("/api/worlds")[0]["visitor"], "gr\xFC\xDF"), 0);
    ASSERT_TRUE(eventually([&] { return Get("/api/worlds/demo/chat").size() == 1; }));
    EXPECT_EQ(Get("/api/worlds/demo/chat")[0]["text"], "gr\uFFFD\uFFFD");
    EXPECT_FALSE(AvatarNamed("demo", "J\uFFFDrgen").is_null());
}

TEST_F(WorldsimViewer, BadRequestsAreRefusedClearly) {
    nlohmann::json reply;
    EXPECT_EQ(Post("/api/worlds/demo/say", {{"words", "hi"}}, &reply), 400);
    EXPECT_TRUE(reply.contains("error"));
    EXPECT_EQ(Post("/api/worlds/demo/say", nlohmann::json::array({"hi"})), 400);
    EXPECT_EQ(Post("/api/worlds/demo/say", {{"text", ""}}), 400);
    EXPECT_EQ(Post("/api/worlds/demo/say", {{"text", std::string(256, 'a')}}), 400);
    EXPECT_EQ(Post("/api/worlds/demo/say", {{"text", std::string(255, 'a')}}), 200);
    EXPECT_EQ(Post("/api/worlds/nowhere/say", {{"text", "hi"}}), 404);
    EXPECT_EQ(Post("/api/worlds/demo/drop", {{"session", "one"}}), 400);
    EXPECT_EQ(Post("/api/worlds/demo/drop", {{"session", 9999}}), 404);
    EXPECT_EQ(Post("/api/worlds/demo/drop", {{"session", 1}, {"reason", 470}}), 400);
    EXPECT_EQ(Post("/api/universe/drop", {{"session", 9999}}), 404);
    EXPECT_EQ(Get("/api/worlds/nowhere/avatars")["error"], "no such world");

    httplib::Client client("127.0.0.1", sim.viewer_port);
    auto answer = client.Post("/api/worlds/demo/say", "{not json", "application/json");
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->status, 400);
}

// What any web page could make the browser send: simple POSTs, a foreign
// Origin, a name rebound to 127.0.0.1. None is said or dropped.
TEST_F(WorldsimViewer, RequestsFromOtherPagesChangeNothing) {
    int session = SessionOf("demo", "Bird1");
    std::string port = std::to_string(sim.viewer_port);
    std::string say = R"({"text": "refused"})";
    std::string drop = nlohmann::json{{"session", session}, {"reason", "all"}}.dump();
    std::string drop_universe = nlohmann::json{{"session", session}}.dump();
    struct Refused {
        const char* what;
        const char* path;
        std::string body;
        const char* type;
        httplib::Headers headers;
        int status;
    };
    const std::vector<Refused> cases = {
        {"text/plain say", "/api/worlds/demo/say", say, "text/plain", {}, 415},
        {"form say", "/api/worlds/demo/say", "text=refused", "application/x-www-form-urlencoded", {}, 415},
        {"text/plain world drop", "/api/worlds/demo/drop", drop, "text/plain", {}, 415},
        {"text/plain universe drop", "/api/universe/drop", drop_universe, "text/plain", {}, 415},
        {"foreign Origin say", "/api/worlds/demo/say", say, "application/json", {{"Origin", "http://evil.example"}}, 403},
        {"foreign Origin drop", "/api/worlds/demo/drop", drop, "application/json", {{"Origin", "null"}}, 403},
        {"foreign Host say", "/api/worlds/demo/say", say, "application/json", {{"Host", "rebound.example:" + port}}, 403},
        {"foreign Host drop", "/api/universe/drop", drop_universe, "application/json", {{"Host", "rebound.example"}}, 403},
    };
    httplib::Client client("127.0.0.1", sim.viewer_port);
    client.set_read_timeout(5, 0);
    for (const Refused& c : cases) {
        auto answer = client.Post(c.path, c.headers, c.body, c.type);
        ASSERT_TRUE(answer) << c.what;
        EXPECT_EQ(answer->status, c.status) << c.what;
        EXPECT_FALSE(answer->has_header("Access-Control-Allow-Origin")) << c.what;
        EXPECT_TRUE(nlohmann::json::parse(answer->body, nullptr, false).contains("error")) << c.what;
    }
    auto rebound = client.Get("/api/worlds/demo/avatars", {{"Host", "rebound.example:" + port}});
    ASSERT_TRUE(rebound);
    EXPECT_EQ(rebound->status, 403) << "a rebound name reads nothing";
    httplib::Request preflight;
    preflight.method = "OPTIONS";
    preflight.path = "/api/worlds/demo/say";
    preflight.headers = {{"Origin", "http://evil.example"}, {"Access-Control-Request-Method", "POST"},
                         {"Access-Control-Request-Headers", "content-type"}};
    auto answer = client.send(preflight);
    ASSERT_TRUE(answer);
    EXPECT_GE(answer->status, 400);
    EXPECT_FALSE(answer->has_header("Access-Control-Allow-Origin"));

    // The first line the bird hears is said after every refusal, on links
    // that are still open.
    ASSERT_EQ(Post("/api/worlds/demo/say", {{"text", "after"}}), 200);
    RawFrame chat;
    ASSERT_TRUE(raw_read_type(bird->world, false, MSG_CHAT_0, &chat, 2000));
    RawReader reader(chat.body);
    reader.Word();
    EXPECT_EQ(reader.String(), "after");
    EXPECT_FALSE(raw_closed_by_server(bird->universe, 200));
    EXPECT_EQ(SessionOf("demo", "Bird1"), session);
}

TEST_F(WorldsimViewer, PictureTellsWhoMovesAndTheCentresAltitude) {
    nlohmann::json entered = AvatarNamed("demo", "Bird1");
    EXPECT_EQ(entered["moved"], false);
    ASSERT_EQ(raw_send_state(bird->world, 0, 5000, 0, 0), 0);
    ASSERT_TRUE(eventually([&] { return AvatarNamed("demo", "Bird1")["moved"] == true; }));
    nlohmann::json moved = AvatarNamed("demo", "Bird1");
    EXPECT_LT(moved["still_ms"].get<int>(), 2000);
    EXPECT_TRUE(eventually([&] { return AvatarNamed("demo", "Bird1")["still_ms"].get<int>() >= 300; }))
        << "still time grows while it keeps its place";

    RawBot* other = Bot("Bird2", 0);
    ASSERT_NE(other, nullptr);
    ASSERT_EQ(raw_send_state(other->world, 0, 3000, 0, 0), 0);
    ASSERT_TRUE(eventually([&] { return AvatarNamed("demo", "Bird2")["y"] == 3000; }));
    httplib::Client client("127.0.0.1", sim.viewer_port);
    client.set_read_timeout(5, 0);
    std::string received;
    client.Get("/api/events?world=demo", [&](const char* data, size_t length) {
        received.append(data, length);
        return received.find("\n\n") == std::string::npos;
    });
    size_t start = received.find("data: ") + 6;
    nlohmann::json picture = nlohmann::json::parse(received.substr(start, received.find("\n\n") - start), nullptr, false);
    ASSERT_TRUE(picture.is_object()) << received;
    EXPECT_EQ(picture["centre"]["y"], 4000);
    EXPECT_EQ(picture["centre"]["count"], 2);
}

TEST_F(WorldsimViewer, EventStreamSendsFivePicturesASecond) {
    httplib::Client client("127.0.0.1", sim.viewer_port);
    client.set_read_timeout(5, 0);
    std::string received;
    auto start = std::chrono::steady_clock::now();
    client.Get("/api/events?world=demo", [&](const char* data, size_t length) {
        received.append(data, length);
        return std::chrono::steady_clock::now() - start < std::chrono::milliseconds(1500);
    });
    size_t pictures = 0;
    for (size_t at = received.find("data: "); at != std::string::npos; at = received.find("data: ", at + 1)) ++pictures;
    EXPECT_GE(pictures, 7u) << received.substr(0, 300);
    std::string first = received.substr(6, received.find("\n\n") - 6);
    nlohmann::json picture = nlohmann::json::parse(first, nullptr, false);
    ASSERT_TRUE(picture.is_object()) << first;
    EXPECT_EQ(picture["world"], "demo");
    EXPECT_EQ(picture["centre"]["count"], 1);
    EXPECT_EQ(picture["avatars"].size(), 2u);
}

TEST_F(WorldsimViewer, PageIsSelfContained) {
    httplib::Client client("127.0.0.1", sim.viewer_port);
    auto answer = client.Get("/");
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->status, 200);
    EXPECT_NE(answer->body.find("<canvas id=\"map\""), std::string::npos);
    EXPECT_NE(answer->body.find("EventSource"), std::string::npos);
    EXPECT_EQ(answer->body.find("src=\"http"), std::string::npos) << "no resources from elsewhere";
    EXPECT_EQ(answer->body.find("href=\"http"), std::string::npos);
}

}  // namespace
