// The web viewer: an HTTP server in its own threads that shows the worlds
// live and lets a visitor chat. It only reads the shared picture and queues
// commands (snapshot.h); it never touches the protocol state.
#pragma once

#include <string>

struct SimShared;
struct SimViewer;

// Binds address:port (0 picks one) and starts serving. Writes need `token`
// unless it is empty. Null on failure, with the reason in `error`; the bound
// port in `bound_port`.
SimViewer* sim_viewer_start(SimShared* shared, const std::string& address, int port, const std::string& token,
                            int* bound_port, std::string* error);
// Stops serving, ends open event streams and frees the viewer.
void sim_viewer_stop(SimViewer* viewer);

// The page, compiled in from viewer.html.
extern const char* const SIM_VIEWER_PAGE;
