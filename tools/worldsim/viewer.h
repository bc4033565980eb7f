// The web viewer: an HTTP server in its own threads that shows the worlds
// live and lets a visitor chat. It only reads the shared picture and queues
// commands (snapshot.h); it never touches the protocol state.
#pragma once

#include <cstdint>
#include <string>

#include "tools/worldsim/snapshot.h"

struct SimViewer;

// Binds address:port (0 picks one) and starts serving. Writes need `token`
// unless it is empty. Null on failure, with the reason in `error`; the bound
// port in `bound_port`.
SimViewer* sim_viewer_start(SimShared* shared, const std::string& address, int port, const std::string& token,
                            int* bound_port, std::string* error);
// Stops serving, ends open event streams and frees the viewer.
void sim_viewer_stop(SimViewer* viewer);

// The command a POST body asks for (the world comes from the path), or false
// with what the 400 answer says in `error`.
bool sim_viewer_command(SimCommandKind kind, const std::string& world, const std::string& body, SimCommand* command,
                        std::string* error);
// One picture of the event stream for a world, as JSON text: its avatars,
// centre and the chat lines above *last_chat, which moves on to the newest.
std::string sim_viewer_picture(const ViewState& view, const std::string& world, uint64_t* last_chat);

// The page, compiled in from viewer.html.
extern const char* const SIM_VIEWER_PAGE;
