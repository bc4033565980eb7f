// Writes the fuzz targets' seed inputs from real frames: what worldsim's
// packers and the scripted test peer send to the library, and what the
// library's codec packs for worldsim. scripts/fuzz merges them into
// fuzz/corpus. Usage: make_corpus OUT (writes OUT/NAME/seed-N).
#include "tests/support/scripted_peer.h"
#include "tools/worldsim/server.h"
#include "tools/worldsim/world_send.h"
#include "worldlink/worldlink.h"

#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

using namespace worldlink;

namespace {

using Bytes = std::vector<uint8_t>;

std::filesystem::path out_root;

void write_seed(const std::string& target, const Bytes& bytes) {
    static int count = 0;
    const std::filesystem::path folder = out_root / target;
    std::filesystem::create_directories(folder);
    std::ofstream(folder / ("seed-" + std::to_string(++count)), std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

Bytes operator+(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

Bytes text_bytes(const std::string& text) { return Bytes(text.begin(), text.end()); }

// What a Connection sends while `pack` runs, length bytes included.
Bytes captured(const std::function<void(Connection*)>& pack) {
    int pair[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, pair) != 0) return {};
    Connection* link = nullptr;
    if (connection_adopt(pair[0], &link) != 0) return {};
    pack(link);
    connection_close(link);
    Bytes bytes;
    uint8_t buffer[4096];
    ssize_t got;
    while ((got = recv(pair[1], buffer, sizeof buffer, 0)) > 0) bytes.insert(bytes.end(), buffer, buffer + got);
    close(pair[1]);
    return bytes;
}

Bytes frame(const Bytes& content) {
    return Bytes{static_cast<uint8_t>(content.size() >> 8), static_cast<uint8_t>(content.size())} + content;
}

// A universe frame: result, type, fields.
Bytes universe_frame(int type, const Body& body = Body(), int result = 0) {
    return frame(Bytes{static_cast<uint8_t>(result), static_cast<uint8_t>(type)} + body.bytes());
}
// A world frame: type, fields.
Bytes world_frame(int type, const Body& body = Body()) { return frame(Bytes{static_cast<uint8_t>(type)} + body.bytes()); }

// The library target's input (library_fuzz.cpp gives the header's layout).
void library_seed(int flags, int build, const Bytes& universe, const Bytes& world, int action = 0) {
    Bytes header{static_cast<uint8_t>(flags), static_cast<uint8_t>(build - 19), static_cast<uint8_t>(action),
                 static_cast<uint8_t>(action), 0, 0, static_cast<uint8_t>(universe.size() >> 8),
                 static_cast<uint8_t>(universe.size())};
    write_seed("library", header + universe + world);
}

void library_seeds() {
    const Bytes universe[] = {
        universe_frame(MSG_LOGIN_REPLY, Body().word(7).string("Welcome to worldsim.").dword(99)),
        universe_frame(MSG_UNIVERSE_PROPERTIES, Body().byte(6).string("24").byte(0).string("x")),
        universe_frame(MSG_WORLD_ADDRESS, Body().string("fuzz").dword(0x7F000001).word(5671).word(30)),
        universe_frame(MSG_WORLD_ADDRESS, Body().string("fuzz"), 27),
        universe_frame(MSG_UNIVERSE_PING),
        universe_frame(MSG_UNIVERSE_NOTICE, Body().dword(1).string("a").string("b").byte(1)),
        universe_frame(MSG_NAME_LIST, Body().string("bird").byte(1).word(2).string("owl").byte(0).word(1)),
        universe_frame(MSG_NAME_LIST_COUNTED, Body().word(1).byte(1).dword(5).string("bird").byte(1).word(2)),
        universe_frame(MSG_DIRECTORY_LIST, Body().dword(1).byte(0).string("a").dword(2).byte(1).string("b").string("c")),
        universe_frame(MSG_UNIVERSE_TEXT, Body().dword(3).string("text")),
        universe_frame(MSG_NUMBER_RECORD_REPLY, Body().dword(1).string("t").dword(1).dword(2).dword(3).word(4)),
        universe_frame(MSG_UNIVERSE_REDIRECT, Body().address(0x0100007F).word(5670)),
        universe_frame(MSG_UNIVERSE_TEXT_REPLY, Body().string("reply")),
        universe_frame(MSG_UNIVERSE_KEY, Body().word(10).word(20)),
        universe_frame(MSG_NAMED_RECORD_REPLY,
                       Body().string("n").string("a").dword(1).dword(2).string("b").string("c").dword(3).dword(4).dword(5)),
        universe_frame(MSG_NAMED_RECORD_NAME, Body().string("name")),
        universe_frame(MSG_ACCOUNT_REPLY, Body().dword(1).byte(0).string("x").byte(17).string("y")),
        universe_frame(MSG_ACCOUNT_NUMBER_REPLY, Body().dword(12)),
        universe_frame(MSG_SESSION_RENUMBER, Body().word(9)),
        universe_frame(MSG_UNIVERSE_RECORD_NOTICE, Body().word(1).dword(2).string("t").dword(3).word(4)),
        universe_frame(MSG_ADDRESS_RECORD_REPLY, Body().address(0x0100007F).dword(1).dword(2).string("t")),
        universe_frame(MSG_UNIVERSE_ACK_31, Body(), 5),
    };
    for (const Bytes& message : universe) {
        library_seed(0, 30, message, {});
        library_seed(1 | 4, 30, message, {}, 1);
    }

    // worldsim's own world frames, then the kinds it never sends.
    SimAvatar bird{};
    bird.session = 5;
    bird.name = "bird";
    bird.x = 1000;
    bird.z = -2000;
    bird.yaw = 900;
    for (int build = 19; build <= 30; ++build) {
        const Bytes entry = captured([&](Connection* link) {
            sim_send_world_properties(link, build);
            sim_send_avatar_add(link, build, bird);
            sim_send_avatar_change(link, bird);
            sim_send_chat(link, 0, bird.session, "hello");
            sim_send_chat(link, 2, bird.session, "psst");
            sim_send_flag_set(link);
            sim_send_avatar_delete(link, bird.session);
        });
        library_seed(2, build, {}, entry, build % 6);
        library_seed(1 | 4 | 8 | 16, build, {}, entry, build % 6);
    }
    for (int reason : {465, 466, 467, 489, 1}) {
        library_seed(1 | 4, 30, {}, captured([&](Connection* link) { sim_send_world_close(link, reason); }));
    }
    const Bytes world[] = {
        world_frame(MSG_WORLD_RESULT, Body().dword(1).byte(0)),
        world_frame(MSG_CELL_DATA, Body().word(1).word(2).dword(3).dword(4).dword(5).dword(6).word(7).word(8).word(9)
                                       .word(10).string("a").string("b").string("c")),
        world_frame(MSG_OBJECT_ADD, Body().word(1).dword(2).word(3).word(4).dword(5).dword(6).dword(7).word(8).word(9)
                                        .word(10).word(11).string("a").string("b").string("c")),
        world_frame(MSG_OBJECT_DELETE, Body().word(1).dword(2).word(3).word(4).dword(5)),
        world_frame(MSG_WORLD_KEY, Body().word(3).word(4)),
        world_frame(MSG_SESSION_POINT_A, Body().dword(5).word(1).word(2).dword(3)),
        world_frame(MSG_SESSION_PAIR, Body().dword(5).dword(6)),
        world_frame(MSG_SESSION_ADDRESS_REPLY, Body().dword(5).byte(0).address(0x0100007F)),
        world_frame(MSG_SESSION_TEXTS, Body().dword(5).string("a").string("b")),
        world_frame(MSG_ADDRESS_RECORD, Body().byte(0).address(0x0100007F).dword(1).dword(2).string("t")),
        world_frame(MSG_WORLD_BUILD_RESULT, Body().byte(30).byte(0)),
        world_frame(MSG_ENTRY_NAME_RESULT, Body().string("e").byte(0).dword(1)),
        world_frame(MSG_ENTRY_LIST, Body().dword(1).byte(0).string("n").string("a").string("b").string("c").byte(1)
                                        .dword(2).dword(3).dword(4).word(5).dword(6).byte(7)),
        world_frame(MSG_ENTRY_NOTICE, Body().dword(1)),
        world_frame(MSG_WORLD_NUMBER_ACK, Body().byte(0).dword(1)),
        world_frame(MSG_WORLD_PROPERTIES, Body().byte(14).data({'1'}).byte(57).data({'0', 'a', 'F', 'f'}).byte(60)
                                              .data({'9', '9', '9', '9'}).byte(22).data({1, 2, 3})),
    };
    for (const Bytes& message : world) library_seed(4, 30, {}, message, 3);
}

void codec_seeds() {
    // Flags, six field kinds (codec_fuzz.cpp), then the frame content.
    const Bytes avatar = captured([](Connection* link) {
        SimAvatar bird{};
        bird.session = 9;
        bird.name = "bird";
        sim_send_avatar_add(link, 27, bird);
    });
    const Bytes kinds[] = {{1, 3, 2, 2, 2, 1}, {0, 1, 2, 3, 4, 5}, {3, 3, 3, 3, 3, 3}, {6 + 8 * 3, 7, 4, 0, 0, 0}};
    for (int flags : {0, 1, 2, 4 * 5 + 1}) {
        for (const Bytes& list : kinds) {
            const Bytes content(avatar.begin() + ((flags & 2) != 0 ? 0 : 2), avatar.end());
            write_seed("codec", Bytes{static_cast<uint8_t>(flags)} + list + content);
        }
    }
}

// worldsim's input: flags, the universe stream's length, the streams
// (worldsim_fuzz.cpp).
void worldsim_seed(int flags, const Bytes& universe, const Bytes& world) {
    write_seed("worldsim",
               Bytes{static_cast<uint8_t>(flags), static_cast<uint8_t>(universe.size() >> 8),
                     static_cast<uint8_t>(universe.size())} + universe + world);
}

void worldsim_seeds() {
    const Bytes login = captured([](Connection* link) {
        msg_pack(link, {pack_begin_sealed(MSG_LOGIN), pack_long(LIBRARY_BUILD), pack_string("bird"), pack_long(1),
                        pack_string("secret"), pack_string("skyflit"), pack_end()});
    });
    const Bytes universe = captured([](Connection* link) {
        msg_pack(link, {pack_begin(MSG_WORLD_LOOKUP), pack_string("fuzz"), pack_end()});
        msg_pack(link, {pack_begin(MSG_WORLD_LOOKUP), pack_string("elsewhere"), pack_end()});
        msg_pack(link, {pack_begin(MSG_UNIVERSE_KEEPALIVE), pack_end()});
        msg_pack(link, {pack_begin(MSG_UNIVERSE_PONG), pack_end()});
    });
    const Bytes world = captured([](Connection* link) {
        msg_pack(link, {pack_begin(MSG_EVENT_MASK), pack_long(7), pack_end()});
        msg_pack(link, {pack_begin(MSG_STATE_CHANGE), pack_long(1000), pack_long(0), pack_long(-2000), pack_word(900),
                        pack_byte(1), pack_byte(0), pack_end()});
        msg_pack(link, {pack_begin(MSG_WHISPER), pack_word(1), pack_string("hello"), pack_end()});
        msg_pack(link, {pack_begin(MSG_WORLD_KEEPALIVE), pack_end()});
    });
    const Bytes world_logins = captured([](Connection* link) {
        msg_pack(link, {pack_begin_sealed(MSG_WORLD_LOGIN_V1), pack_word(2), pack_byte(1), pack_end()});
        msg_pack(link, {pack_begin(MSG_WORLD_LOGIN_V2), pack_string("fuzz"), pack_word(2), pack_byte(1), pack_end()});
        msg_pack(link, {pack_begin(MSG_WORLD_LOGIN_V3), pack_string("fuzz"), pack_word(2), pack_byte(1), pack_long(0),
                        pack_end()});
        msg_pack(link, {pack_begin(MSG_WORLD_LOGIN_V4), pack_string("fuzz"), pack_long(2), pack_long(0), pack_word(20),
                        pack_end()});
    });
    worldsim_seed(0, login + universe, world_logins);
    for (int build = 0; build < 12; ++build) {
        worldsim_seed(1 | build << 3, universe, world);
        worldsim_seed(1 | 2 | 4 | build << 3, universe, world);
    }
}

void viewer_seed(const std::string& body, const std::vector<std::string>& rest) {
    Bytes bytes{static_cast<uint8_t>(body.size() >> 8), static_cast<uint8_t>(body.size())};
    bytes = bytes + text_bytes(body);
    for (const std::string& text : rest) bytes = bytes + Bytes{static_cast<uint8_t>(text.size())} + text_bytes(text);
    write_seed("viewer", bytes);
}

void viewer_seeds() {
    const std::vector<std::string> headers[] = {
        {"POST", "127.0.0.1:5680", "", "application/json", ""},
        {"GET", "localhost:5680", "http://localhost:5680", "", ""},
        {"POST", "10.0.0.2:5680", "http://10.0.0.2:5680", "application/json; charset=utf-8", "token"},
    };
    const std::string bodies[] = {R"({"text": "hello birds"})", R"({"session": 5, "reason": "all"})",
                                  R"({"session": 5, "reason": 489})", R"({"session": 4294967295})",
                                  R"({"session": -1, "reason": "close"})", R"([1, 2])"};
    for (const std::string& body : bodies) {
        for (const auto& header : headers) {
            std::vector<std::string> rest = header;
            rest.insert(rest.end(), {"fuzz", "Visitor", "hello", "Bird \xC3\xA9", "psst"});
            viewer_seed(body, rest);
        }
    }
}

void settings_seeds() {
    const std::string files[] = {
        "[Main]\nPassword=secret\nCenterCoords=12.5s 3.1w 0.4a\nWorld=fuzz\nCitizen=1\nAvatar=3\nBirdCount=5\n"
        "[Universe]\nhost=127.0.0.1\nport=5670\n",
        "\xEF\xBB\xBF; settings\r\n[main]\r\n  world = \"Sky\" \r\nPassword='a b'\r\n[Other]\r\nPassword=x",
        "[Universe]\nport=-2147483649\n[Main]\nBirdCount=  +12abc\nWorld=\n",
    };
    for (const std::string& file : files) {
        for (int key = 0; key < 10; ++key)
            write_seed("settings", Bytes{static_cast<uint8_t>(key), 5, ' ', 'S', 'k', 'y', '"'} + text_bytes(file));
    }
}

void text_seeds() {
    const std::string texts[] = {"12.5s 3.1w 0.4a", "0n 0e 0a", "-1.5e3N  7W", "1e400s 1e-400w .5a",
                                 "  -2147483648 ", "0", "+17", "99999999999"};
    for (const std::string& text : texts) write_seed("text", Bytes{0, 1, 0x86, 0xA0} + text_bytes(text));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_corpus OUT\n");
        return 2;
    }
    out_root = argv[1];
    library_seeds();
    codec_seeds();
    worldsim_seeds();
    viewer_seeds();
    settings_seeds();
    text_seeds();
    return 0;
}
