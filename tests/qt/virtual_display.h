// A display of the tests' own: Xvfb on a display number it picks itself, and
// openbox managing its windows, so that a window is framed, placed and given
// the focus as on a desktop. Input comes through the X server, as a user's
// does. DISPLAY names the display while it lives, and no session bus is
// named.
#pragma once

#include "tests/support/child_process.h"

#include <QPoint>

#include <memory>
#include <string>

class VirtualDisplay {
public:
    // The Debian packages of the programs it needs that are not on PATH,
    // comma-separated; empty when all are there.
    static std::string Missing();

    VirtualDisplay();
    ~VirtualDisplay();
    VirtualDisplay(const VirtualDisplay&) = delete;
    VirtualDisplay& operator=(const VirtualDisplay&) = delete;

    // ":N" once Xvfb accepts clients and openbox manages its windows.
    const std::string& Name() const { return name; }
    // What did not start; empty when Name is set.
    const std::string& Failure() const { return failure; }

    // Moves the pointer to a point in root coordinates and clicks the left
    // button there.
    void Click(QPoint at) const;
    // Presses and releases a key (an X keysym name such as "Return") in the
    // window that has the focus.
    void Key(const char* keysym) const;

private:
    std::unique_ptr<ChildProcess> server;
    std::unique_ptr<ChildProcess> manager;
    std::string name;
    std::string failure;
};
