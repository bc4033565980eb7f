// HTTP endpoints of the viewer:
//   GET  /                              the page
//   GET  /api/worlds                    every world: name, port, build, avatars, visitor
//   GET  /api/worlds/NAME/avatars       the avatars of one world, trails included
//   GET  /api/worlds/NAME/chat?after=N  chat lines with a sequence number above N
//   POST /api/worlds/NAME/say           {"text": "..."}: the visitor says it
//   POST /api/worlds/NAME/drop          {"session": N, "reason": 465|466|467|489|"all"|"close"}
//   POST /api/universe/drop             {"session": N}: close that universe link
//   GET  /api/events?world=NAME         Server-Sent Events, five pictures a second
// Every request passes the guard first (viewer_guard.h).
#include "tools/worldsim/viewer.h"

#include <httplib.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <thread>

#include "tools/worldsim/snapshot.h"
#include "tools/worldsim/viewer_guard.h"
#include "worldlink/wire/wire.h"

using namespace worldlink;

using nlohmann::json;

struct SimViewer {
    httplib::Server http;
    std::thread thread;
    SimShared* shared;
    SimGuard guard;
};

namespace {

constexpr int COMMAND_TIMEOUT_MS = 3000;
constexpr auto EVENT_PERIOD = std::chrono::milliseconds(200);
constexpr int HTTP_THREADS = 32;

const ViewWorld* find_world(const ViewState& view, const std::string& name) {
    std::string wanted = name;
    for (char& c : wanted) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    for (const ViewWorld& world : view.worlds) {
        if (world.name == wanted) return &world;
    }
    return nullptr;
}

// still_ms: how long the avatar has kept its place, or stayed since it entered.
json avatar_json(const ViewAvatar& a, uint32_t now) {
    json trail = json::array();
    for (const ViewPoint& p : a.trail) trail.push_back({p.x, p.z});
    return {{"session", a.session}, {"name", a.name}, {"x", a.x}, {"y", a.y}, {"z", a.z}, {"yaw", a.yaw},
            {"type", a.type}, {"extra", a.extra}, {"visitor", a.visitor}, {"trail", trail}, {"moved", a.moved},
            {"still_ms", tick_elapsed(now, a.still_at)}};
}

json avatars_json(const ViewWorld& world) {
    uint32_t now = clock_raw();
    json out = json::array();
    for (const ViewAvatar& a : world.avatars) out.push_back(avatar_json(a, now));
    return out;
}

json chat_json(const ViewWorld& world, uint64_t after) {
    json out = json::array();
    for (const ViewChat& line : world.chat) {
        if (line.seq <= after) continue;
        out.push_back({{"seq", line.seq}, {"kind", line.kind}, {"from", line.from}, {"from_name", line.from_name},
                       {"to", line.to}, {"to_name", line.to_name}, {"text", line.text}});
    }
    return out;
}

// The flock's centre: the mean position of every avatar but the visitor.
json centre_json(const ViewWorld& world) {
    double x = 0, y = 0, z = 0;
    int count = 0;
    for (const ViewAvatar& a : world.avatars) {
        if (a.visitor) continue;
        x += a.x;
        y += a.y;
        z += a.z;
        ++count;
    }
    if (count > 0) {
        x /= count;
        y /= count;
        z /= count;
    }
    return {{"x", x}, {"y", y}, {"z", z}, {"count", count}};
}

// Names and chat lines are whatever bytes the clients sent; those that are
// not UTF-8 are shown as U+FFFD rather than failing the whole answer.
std::string json_text(const json& value) { return value.dump(-1, ' ', false, json::error_handler_t::replace); }

void reply_json(httplib::Response& res, int status, const json& body) {
    res.status = status;
    res.set_content(json_text(body), "application/json");
}

void reply_error(httplib::Response& res, int status, const std::string& message) {
    reply_json(res, status, {{"error", message}});
}

void reply_command(SimViewer* viewer, httplib::Response& res, SimCommand command) {
    SimReply reply = sim_shared_command(viewer->shared, std::move(command), COMMAND_TIMEOUT_MS);
    if (reply.status == 200) {
        reply_json(res, 200, {{"ok", true}, {"message", reply.message}});
    } else {
        reply_error(res, reply.status, reply.message);
    }
}

void post(SimViewer* viewer, SimCommandKind kind, const httplib::Request& req, httplib::Response& res) {
    SimCommand command;
    std::string error;
    if (!sim_viewer_command(kind, kind == SIM_DROP_UNIVERSE ? "" : req.matches[1].str(), req.body, &command, &error)) {
        reply_error(res, 400, error);
        return;
    }
    reply_command(viewer, res, std::move(command));
}

bool session_of(const json& body, uint32_t* session) {
    if (body.is_discarded() || !body.contains("session") || !body["session"].is_number_unsigned()) return false;
    uint64_t value = body["session"].get<uint64_t>();
    if (value == 0 || value > 0xffffffffu) return false;
    *session = static_cast<uint32_t>(value);
    return true;
}

// The reason of a world drop: 466 when the body names none.
bool drop_reason(const json& body, int* reason) {
    *reason = 466;
    if (!body.contains("reason")) return true;
    const json& given = body["reason"];
    if (given == "all") {
        *reason = SIM_DROP_ALL;
    } else if (given == "close") {
        *reason = SIM_DROP_CLOSE;
    } else if (given.is_number_integer() && (given == 465 || given == 466 || given == 467 || given == 489)) {
        *reason = given.get<int>();
    } else {
        return false;
    }
    return true;
}

void events(SimViewer* viewer, const httplib::Request& req, httplib::Response& res) {
    std::string world = req.get_param_value("world");
    SimShared* shared = viewer->shared;
    uint64_t last_chat = 0;
    bool first = true;
    res.set_header("Cache-Control", "no-cache");
    res.set_chunked_content_provider(
        "text/event-stream", [shared, world, last_chat, first](size_t, httplib::DataSink& sink) mutable {
            if (!first) std::this_thread::sleep_for(EVENT_PERIOD);
            first = false;
            if (shared->stopping.load()) return false;
            std::string message = "data: " + sim_viewer_picture(*sim_shared_view(shared), world, &last_chat) + "\n\n";
            return sink.write(message.data(), message.size());
        });
}

httplib::Server::HandlerResponse guard(const SimGuard& guard, const httplib::Request& req, httplib::Response& res) {
    SimGuardRequest request{req.method, req.get_header_value("Host"), req.get_header_value("Origin"),
                            req.get_header_value("Content-Type"), req.get_header_value(SIM_TOKEN_HEADER)};
    std::string why;
    int status = sim_guard_check(guard, request, &why);
    if (status == 0) return httplib::Server::HandlerResponse::Unhandled;
    reply_error(res, status, why);
    return httplib::Server::HandlerResponse::Handled;
}

void routes(SimViewer* viewer) {
    httplib::Server& http = viewer->http;
    SimShared* shared = viewer->shared;
    http.set_pre_routing_handler([viewer](const httplib::Request& req, httplib::Response& res) {
        return guard(viewer->guard, req, res);
    });
    http.Get("/", [](const httplib::Request&, httplib::Response& res) {
        res.set_content(SIM_VIEWER_PAGE, "text/html; charset=utf-8");
    });
    http.Get("/api/worlds", [shared](const httplib::Request&, httplib::Response& res) {
        std::shared_ptr<const ViewState> view = sim_shared_view(shared);
        json out = json::array();
        for (const ViewWorld& w : view->worlds) {
            out.push_back({{"name", w.name}, {"port", w.port}, {"build", w.build}, {"visitor", w.visitor},
                           {"avatars", w.avatars.size()}});
        }
        reply_json(res, 200, out);
    });
    http.Get(R"(/api/worlds/([^/]+)/avatars)", [shared](const httplib::Request& req, httplib::Response& res) {
        std::shared_ptr<const ViewState> view = sim_shared_view(shared);
        const ViewWorld* world = find_world(*view, req.matches[1]);
        if (world == nullptr) return reply_error(res, 404, "no such world");
        reply_json(res, 200, avatars_json(*world));
    });
    http.Get(R"(/api/worlds/([^/]+)/chat)", [shared](const httplib::Request& req, httplib::Response& res) {
        std::shared_ptr<const ViewState> view = sim_shared_view(shared);
        const ViewWorld* world = find_world(*view, req.matches[1]);
        if (world == nullptr) return reply_error(res, 404, "no such world");
        uint64_t after = std::strtoull(req.get_param_value("after").c_str(), nullptr, 10);
        reply_json(res, 200, chat_json(*world, after));
    });
    http.Post(R"(/api/worlds/([^/]+)/say)",
              [viewer](const httplib::Request& req, httplib::Response& res) { post(viewer, SIM_SAY, req, res); });
    http.Post(R"(/api/worlds/([^/]+)/drop)",
              [viewer](const httplib::Request& req, httplib::Response& res) { post(viewer, SIM_DROP_WORLD, req, res); });
    http.Post("/api/universe/drop",
              [viewer](const httplib::Request& req, httplib::Response& res) { post(viewer, SIM_DROP_UNIVERSE, req, res); });
    http.Get("/api/events", [viewer](const httplib::Request& req, httplib::Response& res) { events(viewer, req, res); });
}

}  // namespace

bool sim_viewer_command(SimCommandKind kind, const std::string& world, const std::string& body, SimCommand* command,
                        std::string* error) {
    json parsed = json::parse(body, nullptr, false);
    if (parsed.is_discarded() || !parsed.is_object()) parsed = json(json::value_t::discarded);
    *command = SimCommand{kind, world, "", 0, 0, {}};
    switch (kind) {
    case SIM_SAY:
        if (parsed.is_discarded() || !parsed.contains("text") || !parsed["text"].is_string()) {
            *error = "send {\"text\": \"...\"}";
            return false;
        }
        command->text = parsed["text"].get<std::string>();
        return true;
    case SIM_DROP_WORLD:
        if (!session_of(parsed, &command->session)) {
            *error = "send {\"session\": N, \"reason\": 465|466|467|489|\"all\"|\"close\"}";
            return false;
        }
        if (!drop_reason(parsed, &command->reason)) {
            *error = "reason is one of 465, 466, 467, 489, \"all\", \"close\"";
            return false;
        }
        return true;
    case SIM_DROP_UNIVERSE:
        if (!session_of(parsed, &command->session)) {
            *error = "send {\"session\": N}";
            return false;
        }
        return true;
    }
    return false;
}

std::string sim_viewer_picture(const ViewState& view, const std::string& world, uint64_t* last_chat) {
    json picture = {{"version", view.version}};
    if (const ViewWorld* w = find_world(view, world)) {
        json chat = chat_json(*w, *last_chat);
        if (!w->chat.empty()) *last_chat = std::max(*last_chat, w->chat.back().seq);
        picture.update({{"world", w->name}, {"visitor", w->visitor}, {"avatars", avatars_json(*w)},
                        {"centre", centre_json(*w)}, {"chat", chat}});
    } else {
        picture.update({{"world", world}, {"missing", true}});
    }
    return json_text(picture);
}

SimViewer* sim_viewer_start(SimShared* shared, const std::string& address, int port, const std::string& token,
                            int* bound_port, std::string* error) {
    auto viewer = std::make_unique<SimViewer>();
    viewer->shared = shared;
    viewer->http.new_task_queue = [] { return new httplib::ThreadPool(HTTP_THREADS); };
    viewer->http.set_payload_max_length(64 * 1024);
    routes(viewer.get());
    if (port == 0) {
        *bound_port = viewer->http.bind_to_any_port(address);
        if (*bound_port <= 0) {
            *error = "worldsim: cannot listen for the viewer on " + address;
            return nullptr;
        }
    } else {
        if (!viewer->http.bind_to_port(address.c_str(), port)) {
            *error = "worldsim: cannot listen for the viewer on " + address + ":" + std::to_string(port);
            return nullptr;
        }
        *bound_port = port;
    }
    viewer->guard = SimGuard{address, *bound_port, token};
    SimViewer* raw = viewer.get();
    viewer->thread = std::thread([raw] { raw->http.listen_after_bind(); });
    // A stop before the listener runs would be lost, so wait until it does.
    for (int i = 0; i < 400 && !viewer->http.is_running(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return viewer.release();
}

void sim_viewer_stop(SimViewer* viewer) {
    std::unique_ptr<SimViewer> owned(viewer);
    if (!owned) return;
    owned->http.stop();
    if (owned->thread.joinable()) owned->thread.join();
}
