// A program run as a child process: stdout on a pipe, stderr inherited or in
// a file. Stopped the way a user stops a console program; killed and waited
// for if the test ends before it does (on Windows with whatever it started).
// child_process_posix.cpp and child_process_windows.cpp each implement all
// of it.
#pragma once

#include <memory>
#include <string>
#include <vector>

class ChildProcess {
public:
    // Starts arguments[0] with the arguments after it. POSIX: a path. Windows:
    // a path or a program name, looked for first in the directory of the
    // running program (where the build puts every program). errorFile, when
    // given, is created or emptied and receives stderr.
    explicit ChildProcess(std::vector<std::string> arguments, const char* errorFile = nullptr);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool Started() const;

    // Reads stdout until it holds the text; false at its end or after the time.
    bool ReadUntil(const std::string& text, int timeoutMs = 5000);
    // Everything read from stdout so far, as the child wrote it (a Windows
    // program's text output has CRLF line endings).
    const std::string& Output() const { return printed; }

    // Asks the child to stop as a user would. POSIX: sends the signal.
    // Windows: delivers the console control event that the signal stands
    // for: SIGINT Ctrl-C, SIGBREAK Ctrl-Break, SIGTERM closing the console
    // (every child gets a console of its own, without a window). Ctrl-C
    // always goes; Ctrl-Break goes on Windows and (through its CtrlRoutine)
    // on wine; the close only on wine. Other signals have no event. False
    // when nothing was delivered.
    bool Signal(int signo);

    // The exit status; -1 when it did not exit in time (or, on POSIX, was
    // killed by a signal).
    int Wait(int timeoutMs = 5000);

private:
    struct Process;
    std::unique_ptr<Process> process;
    std::string printed;
};

// The line ending of a child's text output: CRLF on Windows, LF on POSIX.
#ifdef _WIN32
inline constexpr const char* CHILD_LINE_ENDING = "\r\n";
#else
inline constexpr const char* CHILD_LINE_ENDING = "\n";
#endif

// text with each LF made the child's line ending.
inline std::string ChildText(const std::string& text) {
    std::string converted;
    for (char c : text) {
        if (c == '\n') {
            converted += CHILD_LINE_ENDING;
        } else {
            converted += c;
        }
    }
    return converted;
}
