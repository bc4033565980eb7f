// Runs worldsim as a child process for tests and benchmarks: starts it, reads
// the ports it chose from its first line, and stops it.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

struct SimProcess {
    pid_t pid = -1;
    int universe_port = 0;
    int viewer_port = 0;
    std::string output_path;  // the child's stdout goes to this file
};

// Starts `binary` with `arguments` and waits up to timeout_ms for the line
// "universe ADDRESS:PORT viewer http://ADDRESS:PORT/". 0, or -1 with the
// reason in `error` (the child is then already stopped).
int sim_process_start(const std::string& binary, const std::vector<std::string>& arguments, SimProcess* out,
                      int timeout_ms, std::string* error);
// SIGTERM, then SIGKILL once timeout_ms has passed. The exit status as
// waitpid gives it, or -1 when there was no child.
int sim_process_stop(SimProcess* process, int timeout_ms);
// Everything the child has written to stdout so far.
std::string sim_process_output(const SimProcess& process);
// Parses the port line; false when `line` is not one.
bool sim_parse_port_line(const std::string& line, int* universe_port, int* viewer_port);
