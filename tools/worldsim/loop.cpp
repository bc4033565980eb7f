// The protocol thread: epoll over every socket, accepting, reading frames,
// flushing pending output, dropping clients, timers and viewer commands.
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include "tools/worldsim/server.h"
#include "worldlink/wire/wire.h"

namespace {

constexpr uint64_t WAKE_ID = 0;
constexpr int FRAMES_PER_WAKEUP = 32;   // so one busy client cannot starve the rest
constexpr uint32_t CLOSE_GRACE_MS = 2000;
constexpr uint32_t PUBLISH_EVERY_MS = 100;
constexpr uint32_t SWEEP_EVERY_MS = 100;
constexpr uint32_t NEWS_EVERY_MS = 20;
constexpr int POLL_MS = 50;

void watch_output(SimServer* server, SimClient* client, bool on) {
    if (client->watching_output == on) return;
    epoll_event event{};
    event.events = on ? (EPOLLIN | EPOLLOUT) : EPOLLIN;
    event.data.u64 = client->id;
    epoll_ctl(server->epoll, EPOLL_CTL_MOD, connection_handle(client->link), &event);
    client->watching_output = on;
}

void shut_when_drained(SimServer* server, SimClient* client) {
    if (!client->closing || client->shut || client->link->send_fill > 0) return;
    shutdown(connection_handle(client->link), SHUT_WR);
    client->shut = true;
    watch_output(server, client, false);
}

void accept_all(SimServer* server, SocketHandle listener, const std::string& world) {
    for (;;) {
        SocketHandle handle = NO_SOCKET;
        if (tcp_accept(listener, &handle) != 0) return;
        Connection* link = nullptr;
        if (connection_adopt(handle, &link) != 0) continue;  // the socket is closed with it
        link->hold_output = true;
        if (server->options.socket_buffer > 0) {
            int size = server->options.socket_buffer;
            setsockopt(handle, SOL_SOCKET, SO_SNDBUF, &size, sizeof size);
        }
        auto client = std::make_unique<SimClient>();
        client->id = server->next_id++;
        client->link = link;
        client->kind = world.empty() ? SIM_UNIVERSE_LINK : SIM_WORLD_LINK;
        client->world = world;
        client->accepted_at = clock_raw();
        epoll_event event{};
        event.events = EPOLLIN;
        event.data.u64 = client->id;
        if (epoll_ctl(server->epoll, EPOLL_CTL_ADD, handle, &event) != 0) {
            connection_close(link);
            continue;
        }
        server->timed.insert(client->id);
        server->clients[client->id] = std::move(client);
    }
}

// Input of a client that is being closed is read and thrown away; its end of
// file finishes the close.
void discard_input(SimServer* server, SimClient* client) {
    uint8_t scratch[4096];
    for (int i = 0; i < 16; ++i) {
        ssize_t got = recv(connection_handle(client->link), scratch, sizeof scratch, MSG_DONTWAIT);
        if (got > 0) continue;
        if (got == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) sim_client_mark_dead(server, client);
        return;
    }
}

// Sends what the link holds; what the socket does not take waits until it
// drains.
void flush_client(SimServer* server, SimClient* client) {
    if (connection_flush(client->link) != 0) {
        sim_client_mark_dead(server, client);
        return;
    }
    watch_output(server, client, client->link->send_fill > 0);
    shut_when_drained(server, client);
}

// Each listed client's held output in one send; `listed` is its flag for
// the list.
void flush_listed(SimServer* server, std::vector<uint64_t>& list, bool SimClient::*listed) {
    std::vector<uint64_t> taken;
    taken.swap(list);
    for (uint64_t id : taken) {
        SimClient* client = sim_client(server, id);
        if (client == nullptr) continue;
        client->*listed = false;
        if (!client->dead) flush_client(server, client);
    }
    sim_server_reap(server);
}

SimReply run_command(SimServer* server, const SimCommand& command) {
    if (command.kind == SIM_DROP_UNIVERSE) {
        auto session = server->sessions.find(command.session);
        SimClient* client = session == server->sessions.end() ? nullptr : sim_client(server, session->second.universe_client);
        if (client == nullptr) return {404, "no universe link has that session"};
        sim_client_mark_dead(server, client);
        return {200, "closed"};
    }
    SimWorld* world = sim_world_find(server, command.world);
    if (world == nullptr) return {404, "no such world"};
    if (command.kind == SIM_SAY) {
        if (command.text.empty()) return {400, "nothing to say"};
        if (command.text.size() > 255) return {400, "a chat line holds at most 255 characters"};
        sim_world_say(server, world, command.text);
        return {200, "said"};
    }
    auto member = world->members.find(command.session);
    SimClient* client = member == world->members.end() ? nullptr : sim_client(server, member->second);
    if (client == nullptr) return {404, "no such session in that world"};
    sim_world_drop(server, client, command.reason);
    return {200, "dropped"};
}

void run_commands(SimServer* server) {
    for (SimCommand& command : sim_shared_take(server->shared)) {
        command.reply.set_value(run_command(server, command));
        sim_server_reap(server);
    }
}

void sweep(SimServer* server, uint32_t now) {
    uint32_t limit = static_cast<uint32_t>(server->options.login_timeout_ms);
    for (uint64_t id : server->timed) {
        SimClient* client = sim_client(server, id);
        if (client->closing) {
            if (tick_elapsed(now, client->closing_since) > CLOSE_GRACE_MS) sim_client_mark_dead(server, client);
        } else if (!client->logged_in && tick_elapsed(now, client->accepted_at) > limit) {
            sim_client_drop(server, client, "no login in time");
        } else if (client->partial && tick_elapsed(now, client->partial_since) > limit) {
            sim_client_drop(server, client, "a frame left half-way");
        }
    }
}

void timers(SimServer* server) {
    uint32_t now = clock_raw();
    if (tick_elapsed(now, server->last_heartbeat) >= static_cast<uint32_t>(server->options.heartbeat_ms)) {
        server->last_heartbeat = now;
        sim_world_heartbeat(server);
    }
    if (tick_elapsed(now, server->last_news) >= NEWS_EVERY_MS) {
        server->last_news = now;
        flush_listed(server, server->news, &SimClient::news_held);
    }
    if (tick_elapsed(now, server->last_sweep) >= SWEEP_EVERY_MS) {
        server->last_sweep = now;
        sweep(server, now);
        sim_server_reap(server);
    }
    if (server->view_dirty && tick_elapsed(now, server->last_publish) >= PUBLISH_EVERY_MS) {
        server->last_publish = now;
        server->view_dirty = false;
        sim_shared_publish(server->shared, sim_view_build(server));
    }
}

// Until the next thing due: input received ahead, the news tick, or the
// timers' poll.
int wait_ms(const SimServer* server) {
    if (!server->again.empty()) return 0;
    if (server->news.empty()) return POLL_MS;
    const uint32_t since = tick_elapsed(clock_raw(), server->last_news);
    return since >= NEWS_EVERY_MS ? 0 : static_cast<int>(NEWS_EVERY_MS - since);
}

}  // namespace

void sim_client_readable(SimServer* server, SimClient* client) {
    if (client->closing) {
        discard_input(server, client);
        return;
    }
    for (int i = 0; i < FRAMES_PER_WAKEUP && !client->dead && !client->closing; ++i) {
        int reason = connection_receive(client->link);
        if (reason == WIRE_NOT_YET) break;
        if (reason != 0) {
            sim_client_drop(server, client, "receive reason " + std::to_string(reason));
            return;
        }
        if (client->kind == SIM_UNIVERSE_LINK) {
            sim_universe_frame(server, client);
        } else {
            sim_world_frame(server, client);
        }
        if (!client->dead && connection_reason(client->link) != 0) {
            sim_client_drop(server, client, "reason " + std::to_string(connection_reason(client->link)));
        }
    }
    if (!client->dead && !client->closing && client->link->recv_ahead > 0) server->again.push_back(client->id);
    // Clients send whole frames; one left half-way is a stalled or broken peer.
    bool partial = client->link->pending_length > 0 || client->link->recv_unread > 0 || client->link->recv_ahead > 0;
    if (partial && !client->partial) client->partial_since = clock_raw();
    client->partial = partial;
    if (client->logged_in && !partial && !client->closing) {
        server->timed.erase(client->id);
    } else {
        server->timed.insert(client->id);
    }
    sim_client_packed(server, client);
}

void sim_server_reap(SimServer* server) {
    while (!server->dead.empty()) {
        uint64_t id = server->dead.back();
        server->dead.pop_back();
        auto found = server->clients.find(id);
        if (found == server->clients.end()) continue;
        std::unique_ptr<SimClient> client = std::move(found->second);
        server->clients.erase(found);
        server->timed.erase(id);
        epoll_ctl(server->epoll, EPOLL_CTL_DEL, connection_handle(client->link), nullptr);
        if (client->kind == SIM_UNIVERSE_LINK) {
            sim_universe_gone(server, client.get());
        } else {
            sim_world_gone(server, client.get());
        }
        // What was packed before the end still goes out, as far as the socket takes it.
        connection_flush(client->link);
        connection_close(client->link);
    }
}

void sim_client_close_soon(SimServer* server, SimClient* client) {
    if (client->closing || client->dead) return;
    client->closing = true;
    client->closing_since = clock_raw();
    server->timed.insert(client->id);
    sim_client_packed(server, client);
    shut_when_drained(server, client);
}

void sim_server_run(SimServer* server) {
    epoll_event events[256];
    std::vector<uint64_t> again;
    while (!server->shared->stopping.load()) {
        int count = epoll_wait(server->epoll, events, 256, wait_ms(server));
        for (int i = 0; i < count; ++i) {
            uint64_t id = events[i].data.u64;
            if (id == WAKE_ID) {
                uint64_t drained = 0;
                ssize_t got = read(server->shared->wake_fd, &drained, sizeof drained);
                (void)got;
                continue;
            }
            auto listener = server->listeners.find(id);
            if (listener != server->listeners.end()) {
                SimWorld* world = listener->second.empty() ? nullptr : sim_world_find(server, listener->second);
                accept_all(server, world ? world->listener : server->universe_listener, listener->second);
                continue;
            }
            SimClient* client = sim_client(server, id);
            if (client == nullptr || client->dead) continue;
            if (events[i].events & EPOLLOUT) flush_client(server, client);
            if (!client->dead && (events[i].events & (EPOLLIN | EPOLLHUP | EPOLLERR)))
                sim_client_readable(server, client);
            sim_server_reap(server);
        }
        again.swap(server->again);
        for (uint64_t id : again) {
            SimClient* client = sim_client(server, id);
            if (client != nullptr && !client->dead) sim_client_readable(server, client);
            sim_server_reap(server);
        }
        again.clear();
        run_commands(server);
        timers(server);
        flush_listed(server, server->unflushed, &SimClient::unflushed);
    }
}
