// Server state: listeners, worlds, sessions and the viewer's picture.
#include "tools/worldsim/server.h"

#include <arpa/inet.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "worldlink/wire/wire.h"

namespace {

constexpr uint64_t WAKE_ID = 0;

std::string lower(const std::string& text) {
    std::string out = text;
    for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

std::string address_text(uint32_t address) {
    char buffer[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &address, buffer, sizeof buffer);
    return buffer;
}

bool watch(SimServer* server, int fd, uint64_t id) {
    epoll_event event{};
    event.events = EPOLLIN;
    event.data.u64 = id;
    return epoll_ctl(server->epoll, EPOLL_CTL_ADD, fd, &event) == 0;
}

bool world_allowed(const SimServer* server, const std::string& name) {
    if (name.empty() || name.size() > 8) return false;
    if (server->options.worlds.empty()) return true;
    return std::any_of(server->options.worlds.begin(), server->options.worlds.end(),
                       [&](const std::string& allowed) { return lower(allowed) == name; });
}

bool session_in_use(const SimServer* server, uint32_t number) {
    if (server->sessions.count(number) != 0) return true;
    for (const auto& [name, world] : server->worlds) {
        if (world->avatars.count(number) != 0) return true;
    }
    return false;
}

}  // namespace

void sim_log(const SimServer* server, const std::string& line) {
    if (server->options.verbose) std::fprintf(stderr, "worldsim: %s\n", line.c_str());
}

SimClient* sim_client(SimServer* server, uint64_t id) {
    auto found = server->clients.find(id);
    return found == server->clients.end() ? nullptr : found->second.get();
}

uint32_t sim_session_allocate(SimServer* server) {
    // Session numbers travel as 16-bit words; 0 is never handed out.
    for (int tries = 0; tries < 65535; ++tries) {
        uint32_t number = server->next_session;
        server->next_session = number >= 65535 ? 1 : number + 1;
        if (!session_in_use(server, number)) return number;
    }
    return 0;
}

void sim_client_mark_dead(SimServer* server, SimClient* client) {
    if (client->dead) return;
    client->dead = true;
    server->dead.push_back(client->id);
}

void sim_client_drop(SimServer* server, SimClient* client, const std::string& why) {
    sim_log(server, "client " + std::to_string(client->id) + " dropped: " + why);
    sim_client_mark_dead(server, client);
}

namespace {

// Lists the client in `list` when its link holds output and it is not
// listed there yet (`listed` is its flag for that list).
void hold(SimServer* server, SimClient* client, std::vector<uint64_t>& list, bool SimClient::*listed) {
    if (client->dead) return;
    if (connection_reason(client->link) != 0) {
        sim_client_drop(server, client, "send reason " + std::to_string(connection_reason(client->link)));
        return;
    }
    if (client->link->send_fill > 0 && !(client->*listed)) {
        client->*listed = true;
        list.push_back(client->id);
    }
}

}  // namespace

void sim_client_packed(SimServer* server, SimClient* client) {
    hold(server, client, server->unflushed, &SimClient::unflushed);
}

void sim_client_news(SimServer* server, SimClient* client) { hold(server, client, server->news, &SimClient::news_held); }

SimWorld* sim_world_find(SimServer* server, const std::string& name) {
    auto found = server->worlds.find(lower(name));
    return found == server->worlds.end() ? nullptr : found->second.get();
}

SimWorld* sim_world_open(SimServer* server, const std::string& requested) {
    std::string name = lower(requested);
    if (SimWorld* world = sim_world_find(server, name)) return world;
    if (!world_allowed(server, name)) return nullptr;
    uint16_t want = 0;
    if (server->options.world_port_base != 0) {
        int port = server->options.world_port_base + static_cast<int>(server->worlds.size());
        if (port > 65535) return nullptr;
        want = static_cast<uint16_t>(port);
    }
    auto world = std::make_unique<SimWorld>();
    uint16_t bound = 0;
    if (tcp_listen(server->address, htons(want), &world->listener, &bound) != 0) {
        std::fprintf(stderr, "worldsim: cannot listen for world %s on port %d\n", name.c_str(), want);
        return nullptr;
    }
    world->name = name;
    world->port = ntohs(bound);
    uint64_t id = server->next_id++;
    if (!watch(server, world->listener, id)) {
        close(world->listener);
        return nullptr;
    }
    server->listeners[id] = name;
    world->visitor = sim_session_allocate(server);
    SimAvatar visitor{};
    visitor.session = world->visitor;
    visitor.name = "Visitor";
    visitor.visitor = true;
    visitor.still_at = clock_raw();
    world->avatars[visitor.session] = visitor;
    SimWorld* made = world.get();
    server->worlds[name] = std::move(world);
    server->view_dirty = true;
    std::printf("world %s %s:%d\n", name.c_str(), address_text(server->address).c_str(), made->port);
    std::fflush(stdout);
    return made;
}

void sim_chat_log(SimServer* server, SimWorld* world, const std::string& kind, uint32_t from, uint32_t to,
                  const std::string& text) {
    auto name_of = [&](uint32_t session) -> std::string {
        auto found = world->avatars.find(session);
        return found == world->avatars.end() ? std::string() : found->second.name;
    };
    world->chat.push_back({server->next_chat_seq++, kind, from, name_of(from), to, to ? name_of(to) : "", text});
    while (world->chat.size() > SIM_CHAT_KEPT) world->chat.pop_front();
    server->view_dirty = true;
}

std::shared_ptr<const ViewState> sim_view_build(SimServer* server) {
    auto view = std::make_shared<ViewState>();
    view->version = ++server->view_version;
    view->universe = address_text(server->address) + ":" + std::to_string(server->universe_port);
    for (const auto& [name, world] : server->worlds) {
        ViewWorld out;
        out.name = world->name;
        out.port = world->port;
        out.build = server->options.world_build;
        out.visitor = world->visitor;
        out.avatars.reserve(world->avatars.size());
        for (const auto& [session, a] : world->avatars) {
            ViewAvatar v{a.session, a.name, a.x, a.y, a.z, static_cast<int16_t>(a.yaw), a.type, a.extra, a.visitor,
                         a.trail, a.moved, a.still_at};
            out.avatars.push_back(std::move(v));
        }
        out.chat.assign(world->chat.begin(), world->chat.end());
        view->worlds.push_back(std::move(out));
    }
    return view;
}

int sim_server_start(SimServer* server, const SimOptions& options, SimShared* shared, std::string* error) {
    server->options = options;
    server->shared = shared;
    server->next_id = 1;
    server->next_session = 1;
    server->next_chat_seq = 1;
    server->universe_listener = -1;
    server->epoll = -1;
    server->random.seed(std::random_device{}());
    if (inet_pton(AF_INET, options.bind.c_str(), &server->address) != 1) {
        *error = "worldsim: --bind wants an IPv4 address, not \"" + options.bind + "\"";
        return 1;
    }
    server->epoll = epoll_create1(EPOLL_CLOEXEC);
    shared->wake_fd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (server->epoll < 0 || shared->wake_fd < 0 || !watch(server, shared->wake_fd, WAKE_ID)) {
        *error = "worldsim: cannot set up epoll";
        return 1;
    }
    uint16_t bound = 0;
    if (int reason = tcp_listen(server->address, htons(static_cast<uint16_t>(options.universe_port)),
                                &server->universe_listener, &bound);
        reason != 0) {
        const char* words = socket_error_words(reason);
        *error = "worldsim: cannot listen on " + options.bind + ":" + std::to_string(options.universe_port) + ": " +
                 (words ? words : "error " + std::to_string(reason));
        return 1;
    }
    server->universe_port = ntohs(bound);
    uint64_t id = server->next_id++;
    if (!watch(server, server->universe_listener, id)) {
        *error = "worldsim: cannot watch the universe port";
        return 1;
    }
    server->listeners[id] = "";
    for (const std::string& name : options.worlds) {
        if (sim_world_open(server, name) == nullptr) {
            *error = "worldsim: cannot open world " + name;
            return 1;
        }
    }
    server->last_heartbeat = clock_raw();
    server->last_publish = clock_raw();
    server->last_sweep = clock_raw();
    server->last_news = server->last_sweep;
    sim_shared_publish(shared, sim_view_build(server));
    return 0;
}

void sim_server_stop(SimServer* server) {
    for (auto& [id, client] : server->clients) connection_close(client->link);
    server->clients.clear();
    for (auto& [name, world] : server->worlds) close(world->listener);
    server->worlds.clear();
    if (server->universe_listener >= 0) close(server->universe_listener);
    server->universe_listener = -1;
    {
        std::lock_guard<std::mutex> guard(server->shared->lock);
        server->shared->stopping = true;
    }
    for (SimCommand& command : sim_shared_take(server->shared)) command.reply.set_value({503, "worldsim is stopping"});
    if (server->epoll >= 0) close(server->epoll);
    server->epoll = -1;
}
