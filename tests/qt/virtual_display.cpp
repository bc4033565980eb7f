#include "virtual_display.h"

#include <QStandardPaths>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <thread>

namespace {

struct Program {
    const char* name;
    const char* package;
};

constexpr Program PROGRAMS[] = {{"Xvfb", "xvfb"}, {"openbox", "openbox"}, {"xdotool", "xdotool"}};
constexpr int START_TIMEOUT_MS = 5000;
constexpr int START_POLL_MS = 50;
constexpr const char* QUIET = "/dev/null";

std::string PathOf(const char* program) {
    return QStandardPaths::findExecutable(QString::fromUtf8(program)).toStdString();
}

}  // namespace

std::string VirtualDisplay::Missing() {
    std::string missing;
    for (const Program& program : PROGRAMS) {
        if (PathOf(program.name).empty()) {
            missing += (missing.empty() ? "" : ", ") + std::string(program.package);
        }
    }
    return missing;
}

VirtualDisplay::VirtualDisplay() {
    // With -displayfd Xvfb takes the first free display number and writes it
    // to that descriptor once it accepts clients: no guessed number can clash
    // with another server on the machine.
    server = std::make_unique<ChildProcess>(
        std::vector<std::string>{PathOf("Xvfb"), "-displayfd", "1", "-screen", "0", "1024x768x24", "-nolisten", "tcp"},
        QUIET);
    if (!server->ReadUntil("\n", START_TIMEOUT_MS)) {
        failure = "Xvfb did not report a display";
        return;
    }
    // Appended, not ":" + ...: g++ 12 warns falsely (-Wrestrict) on that at -O3.
    const std::string& output = server->Output();
    std::string display = ":";
    display.append(output, 0, output.find('\n'));
    setenv("DISPLAY", display.c_str(), 1);
    // With no session bus named, a client's D-Bus library tries to launch one
    // for the display (and leaks what it read on the way); the tests' windows
    // need none.
    setenv("DBUS_SESSION_BUS_ADDRESS", "disabled:", 1);
    manager = std::make_unique<ChildProcess>(std::vector<std::string>{PathOf("openbox")}, QUIET);
    // A client that connects before the window manager has announced what it
    // supports takes the display for one without; xdotool asks for a desktop
    // only once openbox has.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(START_TIMEOUT_MS);
    while (ChildProcess({PathOf("xdotool"), "get_desktop"}, QUIET).Wait() != 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            failure = "openbox did not start on " + display;
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(START_POLL_MS));
    }
    name = display;
}

VirtualDisplay::~VirtualDisplay() {
    // Asked rather than killed, so that Xvfb removes its socket and lock file.
    for (ChildProcess* process : {manager.get(), server.get()}) {
        if (process && process->Signal(SIGTERM)) {
            process->Wait();
        }
    }
}

void VirtualDisplay::Click(QPoint at) const {
    const std::string x = std::to_string(at.x());
    const std::string y = std::to_string(at.y());
    ChildProcess({PathOf("xdotool"), "mousemove", x, y, "click", "1"}).Wait();
}

void VirtualDisplay::Key(const char* keysym) const {
    ChildProcess({PathOf("xdotool"), "key", keysym}).Wait();
}
