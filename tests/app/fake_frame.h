// A frame without a window: records what the logic shows and lets a test
// play the user.
#pragma once

#include "app/dialog.h"
#include "app/dialog_template.h"

#include <functional>
#include <map>
#include <string>
#include <vector>

struct ShownMessage {
    std::string text;
    std::string caption;
    MessageIcon icon;
    bool owned;
};

class FakeFrame : public DialogFrame {
public:
    FakeFrame() {
        for (const ControlTemplate& control : FlockDialogTemplate().controls) {
            if (control.id != ID_NONE) {
                texts[control.id] = control.text;
                enabled[control.id] = (control.styles & STYLE_DISABLED) == 0;
            }
        }
    }

    // What RunModal does between Initialize and Teardown.
    std::function<void(FakeFrame&, DialogHandler&)> script;

    int RunModal(DialogHandler& handler) override {
        handler.Initialize(*this);
        if (script) {
            script(*this, handler);
        }
        handler.Teardown();
        return quitPosted ? EXIT_QUIT_POSTED : EXIT_CLOSED;
    }

    void SetText(int id, const std::string& text) override {
        texts[id] = text;
        if (id == ID_STATUS) {
            statusLines.push_back(text);
        }
    }
    std::string Text(int id) const override {
        auto it = texts.find(id);
        return it == texts.end() ? std::string() : it->second;
    }
    void Enable(int id, bool enable) override { enabled[id] = enable; }
    bool IsEnabled(int id) const override {
        auto it = enabled.find(id);
        return it != enabled.end() && it->second;
    }
    void Focus(int id) override { focused = id; }
    void ShowMessage(const std::string& text, const std::string& caption, MessageIcon icon,
                    bool owned) override {
        messages.push_back({text, caption, icon, owned});
    }
    void StartTimer(int id, int periodMs) override { timers[id] = periodMs; }
    void StopTimer(int id) override { timers.erase(id); }
    void PostQuit() override { quitPosted = true; }
    bool KeepsStatusLines() const override { return keepsStatusLines; }

    // The user types into a field.
    void Type(DialogHandler& handler, int id, const std::string& text) {
        texts[id] = text;
        handler.OnTextChanged(id);
    }
    // The user presses a button; a disabled one does nothing.
    bool Press(DialogHandler& handler, int id) {
        if (!IsEnabled(id)) {
            return false;
        }
        handler.OnCommand(id);
        return true;
    }
    std::vector<std::string> MessageTexts() const {
        std::vector<std::string> result;
        for (const ShownMessage& message : messages) {
            result.push_back(message.text);
        }
        return result;
    }

    std::map<int, std::string> texts;
    std::map<int, bool> enabled;
    std::vector<std::string> statusLines;
    std::vector<ShownMessage> messages;
    std::map<int, int> timers;
    bool quitPosted = false;
    int focused = 0;
    // As the console: every status line stays in view.
    bool keepsStatusLines = false;
};
