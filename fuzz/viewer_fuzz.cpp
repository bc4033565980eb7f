// worldsim's HTTP API without a socket: the POST bodies of every endpoint,
// the guard's headers, and the event stream's picture of worlds whose names,
// avatars and chat come from the input, as clients may send them.
//
// Input: the body (a length word), then the guard's five headers (a length
// byte each), then the picture: a world name, then per avatar a name and
// per chat line a text, each a length byte and the characters.
#include "fuzz/targets.h"
#include "tools/worldsim/viewer.h"
#include "tools/worldsim/viewer_guard.h"

#include <nlohmann/json.hpp>

int fuzz_viewer(const uint8_t* data, size_t size) {
    FuzzInput input{data, size};
    const std::string body(input.text(input.word()));
    for (const SimCommandKind kind : {SIM_SAY, SIM_DROP_WORLD, SIM_DROP_UNIVERSE}) {
        SimCommand command;
        std::string error;
        if (sim_viewer_command(kind, "fuzz", body, &command, &error)) {
            fuzz_require(command.kind == kind && error.empty(), "a command of the endpoint's kind");
            fuzz_require(kind == SIM_SAY || command.session != 0, "a drop names a session");
        } else {
            fuzz_require(!error.empty(), "a refused body is told why");
        }
    }

    SimGuardRequest request;
    for (std::string* header : {&request.method, &request.host, &request.origin, &request.content_type, &request.token})
        *header = input.counted();
    for (const SimGuard& guard : {SimGuard{"127.0.0.1", 5680, ""}, SimGuard{"0.0.0.0", 5680, "token"}}) {
        std::string why;
        const int status = sim_guard_check(guard, request, &why);
        fuzz_require(status == 0 || status == 403 || status == 405 || status == 415, "the guard answers 403, 405 or 415");
    }

    ViewState view{1, "127.0.0.1:5670", {}};
    ViewWorld world{std::string(input.counted()), 5671, 30, 1, {}, {}};
    uint32_t session = 1;
    while (input.size > 0) {
        const std::string text(input.counted());
        if (session % 2 == 1) {
            world.avatars.push_back({session, text, 1000, 2000, -3000, 900, 1, 0, session == 1, {{1, 2}}, true, 0});
        } else {
            world.chat.push_back({session, "say", session - 1, text, 0, "", text});
        }
        ++session;
    }
    view.worlds.push_back(world);
    uint64_t last_chat = 0;
    const std::string picture = sim_viewer_picture(view, world.name, &last_chat);
    fuzz_require(nlohmann::json::accept(picture), "the picture is JSON");
    return 0;
}
