// A dialog handler that records what a frame delivers ("initialize",
// "command 1000", "text 1003", "timer 42", "teardown") and runs the hooks a
// test sets. Both window frames' tests drive the logic through it.
#pragma once

#include "app/dialog.h"

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

class EventRecorder : public DialogHandler {
public:
    bool Initialize(DialogFrame& shown) override {
        frame = &shown;
        events.push_back("initialize");
        if (onInitialize) onInitialize(shown);
        return true;
    }
    void Teardown() override { events.push_back("teardown"); }
    void OnCommand(int id) override {
        events.push_back("command " + std::to_string(id));
        if (onCommand) onCommand(*frame, id);
    }
    void OnTextChanged(int id) override { events.push_back("text " + std::to_string(id)); }
    void OnTimer(int id) override {
        events.push_back("timer " + std::to_string(id));
        if (onTimer) onTimer(*frame, id);
    }

    int Count(const std::string& event) const {
        return static_cast<int>(std::count(events.begin(), events.end(), event));
    }

    std::function<void(DialogFrame&)> onInitialize;
    std::function<void(DialogFrame&, int)> onCommand;
    std::function<void(DialogFrame&, int)> onTimer;

    std::vector<std::string> events;
    DialogFrame* frame = nullptr;
};
