// The dialog layer: what the window logic needs from a window, and what a
// window delivers to the logic. A frame (the Qt window, the console) builds
// its controls from the dialog template (dialog_template.h), implements
// DialogFrame and forwards its events to a DialogHandler. The logic never
// sees a toolkit type.
//
// Lifetime: DialogFrame::RunModal creates the window, calls
// DialogHandler::Initialize, delivers events until the window closes or a
// quit request has been posted and the handler that posted it has returned,
// then calls DialogHandler::Teardown exactly once and destroys the window.
// Everything runs on one thread; a handler may call any DialogFrame member.
//
// The Qt window is made by MakeQtFrame (app/qt/qt_frame.h):
//   std::unique_ptr<DialogFrame> MakeQtFrame(int& argc, char** argv);
// It owns the QApplication, so message boxes work before RunModal.
#pragma once

#include <string>

// Control ids of the control window.
enum ControlId : int {
    ID_LOGIN = 1000,    // default push button "Login"
    ID_CITIZEN = 1001,  // edit: citizen number
    ID_PASSWORD = 1002, // edit: privilege password
    ID_WORLD = 1003,    // edit: world name
    ID_APPLY = 1004,    // push button "Apply"
    ID_AVATAR = 1005,   // edit: avatar type
    ID_STATUS = 1007,   // sunken label: the status line
    ID_CENTER = 1008,   // edit: centre text
    ID_BIRDS = 1009,    // edit: number of birds
    ID_NONE = -1        // fixed texts and the group box
};

// The program icon resource, shown large and small and when minimised.
inline constexpr int PROGRAM_ICON = 128;

enum class MessageIcon { None, Warning, Error };

// Exit statuses that RunModal hands back.
inline constexpr int EXIT_CLOSED = 0;     // the user closed the window
inline constexpr int EXIT_QUIT_POSTED = 1; // the logic posted a quit request

class DialogFrame;

// Implemented by the window logic (FlockDialog).
class DialogHandler {
public:
    virtual ~DialogHandler() = default;

    // The controls exist and show the template's texts; the window is not yet
    // shown. The frame stays valid until Teardown returns.
    virtual bool Initialize(DialogFrame& frame) = 0;
    // Once, when the window goes away, whatever the reason.
    virtual void Teardown() = 0;
    // A push button was pressed (ID_LOGIN, ID_APPLY); Enter presses the
    // default button ID_LOGIN when it is enabled.
    virtual void OnCommand(int id) = 0;
    // The text of an edit field changed (the user typed, pasted or deleted).
    virtual void OnTextChanged(int id) = 0;
    // A timer started with DialogFrame::StartTimer fell due.
    virtual void OnTimer(int id) = 0;
};

// Implemented by each frame.
class DialogFrame {
public:
    virtual ~DialogFrame() = default;

    // Runs the window until it closes (close box, Escape, a signal for the
    // console) or a quit request was posted; returns EXIT_CLOSED or
    // EXIT_QUIT_POSTED. Teardown has run when it returns.
    virtual int RunModal(DialogHandler& handler) = 0;

    // Control texts by id. SetText shows the whole text even beyond the
    // field's length limit: the limit refuses typing, and field exchange
    // reports an over-long text itself.
    virtual void SetText(int id, const std::string& text) = 0;
    virtual std::string Text(int id) const = 0;
    virtual void Enable(int id, bool enabled) = 0;
    virtual bool IsEnabled(int id) const = 0;
    // Moves the input focus to a control (after a failed field exchange).
    virtual void Focus(int /*id*/) {}

    // Modal message box with an OK button; the text may run to several lines,
    // split at "\n". owned: the control window is its owner; false before the
    // window exists. Returns once dismissed.
    virtual void ShowMessage(const std::string& text, const std::string& caption,
                            MessageIcon icon, bool owned) = 0;

    // Window timers: starting an id that runs restarts it with the new period.
    virtual void StartTimer(int id, int periodMs) = 0;
    virtual void StopTimer(int id) = 0;

    // Ends the modal run once the current handler has returned.
    virtual void PostQuit() = 0;

    // True when every status text stays in view once shown (the console
    // prints each on a line of its own); a window shows only the latest, so
    // a text there must stand alone.
    virtual bool KeepsStatusLines() const { return false; }

    // Window decorations; frames without them ignore these.
    virtual void SetIcon(int /*resource*/) {}
    virtual void GreyMaximizeAndSize() {}
};
