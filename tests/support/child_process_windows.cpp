// Child processes on Windows: CreateProcess with stdout on a pipe and a
// console of the child's own (CREATE_NO_WINDOW: a console without a window),
// so that console control events can reach it without reaching the test.
//
// A console control event goes to every process on a console, and only a
// process on that console can send it. So Signal runs console_event.exe,
// which has no console of its own, attaches to the child's and sends the
// event there, or delivers it as the console does where the console cannot
// (console_event.cpp). (GenerateConsoleCtrlEvent to a process group of the
// test's own console works only when the test has a console, which it has
// not under ctest and wine; and a child in a group of its own ignores
// Ctrl-C.)
//
// The child and console_event.exe run in a job that ends whatever is left
// of it when the ChildProcess goes: a process may start others, and under
// wine the console host of a child ended during its start-up lives on.
#include "tests/support/child_process.h"

#include <windows.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <vector>

namespace {

// How long a console_event run may take.
constexpr DWORD EVENT_SENDER_TIMEOUT_MS = 10000;
// How long an ended child may take to go.
constexpr DWORD END_TIMEOUT_MS = 10000;

// One argument quoted so that the C runtime's command-line parser gives it
// back unchanged.
std::string Quoted(const std::string& argument) {
    if (!argument.empty() && argument.find_first_of(" \t\n\v\"") == std::string::npos) {
        return argument;
    }
    std::string quoted = "\"";
    std::size_t backslashes = 0;
    for (char c : argument) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        // Backslashes before a quote are doubled, and the quote escaped.
        quoted.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
        backslashes = 0;
        quoted += c;
    }
    quoted.append(backslashes * 2, '\\');  // before the closing quote
    quoted += '"';
    return quoted;
}

std::string CommandLine(const std::vector<std::string>& arguments) {
    std::string line;
    for (const std::string& argument : arguments) {
        if (!line.empty()) {
            line += ' ';
        }
        line += Quoted(argument);
    }
    return line;
}

std::string ProgramDirectory() {
    char path[MAX_PATH];
    const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string directory(path, length < MAX_PATH ? length : 0);
    const std::size_t slash = directory.find_last_of("\\/");
    return slash == std::string::npos ? std::string() : directory.substr(0, slash + 1);
}

// A program name without a directory is the one beside the running program.
std::string ProgramPath(const std::string& program) {
    if (program.find_first_of("\\/:") != std::string::npos) {
        return program;
    }
    return ProgramDirectory() + program;
}

HANDLE Inheritable(HANDLE handle) {
    if (handle != INVALID_HANDLE_VALUE) {
        SetHandleInformation(handle, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
    }
    return handle;
}

void CloseIfOpen(HANDLE& handle) {
    if (handle != INVALID_HANDLE_VALUE && handle != nullptr) {
        CloseHandle(handle);
    }
    handle = INVALID_HANDLE_VALUE;
}

// A job whose processes all end when its last handle is closed, or null.
HANDLE KillOnCloseJob() {
    HANDLE job = CreateJobObjectA(nullptr, nullptr);
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    if (job && !SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits)) {
        CloseHandle(job);
        job = nullptr;
    }
    return job;
}

// Starts program in the job with the command line and these three standard
// handles, which are all it inherits (none: INVALID_HANDLE_VALUE for all
// three); the process handle, or INVALID_HANDLE_VALUE. The process joins the
// job before it runs, so whatever it starts is in the job too.
HANDLE Start(const std::string& program, std::string commandLine, HANDLE input, HANDLE output, HANDLE error,
             DWORD flags, HANDLE job, DWORD* processId) {
    HANDLE inherited[3] = {input, output, error};
    DWORD count = 0;
    for (HANDLE handle : {input, output, error}) {
        bool seen = false;
        for (DWORD i = 0; i < count; ++i) {
            seen = seen || inherited[i] == handle;
        }
        if (!seen && handle != INVALID_HANDLE_VALUE) {
            inherited[count++] = handle;
        }
    }
    // Only these handles go to the child, so a pipe's write end started for
    // another child at the same time never keeps this one's pipe open.
    SIZE_T size = 0;
    InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
    std::vector<char> storage(size);
    auto* attributes = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(storage.data());
    const bool listed = count > 0 && size > 0 && InitializeProcThreadAttributeList(attributes, 1, 0, &size);
    STARTUPINFOEXA startup{};
    startup.StartupInfo.cb = sizeof startup;
    if (count > 0) {
        startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
        startup.StartupInfo.hStdInput = input;
        startup.StartupInfo.hStdOutput = output;
        startup.StartupInfo.hStdError = error;
    }
    if (listed && UpdateProcThreadAttribute(attributes, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, inherited,
                                            count * sizeof(HANDLE), nullptr, nullptr)) {
        startup.lpAttributeList = attributes;
        flags |= EXTENDED_STARTUPINFO_PRESENT;
    }
    PROCESS_INFORMATION info{};
    const BOOL started = CreateProcessA(program.c_str(), commandLine.data(), nullptr, nullptr, count > 0,
                                        flags | CREATE_SUSPENDED, nullptr, nullptr, &startup.StartupInfo, &info);
    if (listed) {
        DeleteProcThreadAttributeList(attributes);
    }
    if (!started) {
        return INVALID_HANDLE_VALUE;
    }
    // Outside the job it would outlive every cleanup: then it never runs.
    if (!job || !AssignProcessToJobObject(job, info.hProcess)) {
        const DWORD error = job ? GetLastError() : ERROR_INVALID_HANDLE;
        TerminateProcess(info.hProcess, 1);
        WaitForSingleObject(info.hProcess, END_TIMEOUT_MS);
        CloseHandle(info.hThread);
        CloseHandle(info.hProcess);
        SetLastError(error);
        return INVALID_HANDLE_VALUE;
    }
    ResumeThread(info.hThread);
    CloseHandle(info.hThread);
    if (processId) {
        *processId = info.dwProcessId;
    }
    return info.hProcess;
}

}  // namespace

struct ChildProcess::Process {
    HANDLE handle = INVALID_HANDLE_VALUE;
    DWORD id = 0;
    HANDLE output = INVALID_HANDLE_VALUE;
    HANDLE job = KillOnCloseJob();
    bool reaped = false;
};

ChildProcess::ChildProcess(std::vector<std::string> arguments, const char* errorFile)
    : process(std::make_unique<Process>()) {
    if (arguments.empty()) {
        return;
    }
    HANDLE readEnd = INVALID_HANDLE_VALUE;
    HANDLE writeEnd = INVALID_HANDLE_VALUE;
    if (!CreatePipe(&readEnd, &writeEnd, nullptr, 0)) {
        return;
    }
    process->output = readEnd;
    HANDLE input = CreateFileA("NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                               nullptr);
    HANDLE error = INVALID_HANDLE_VALUE;
    if (errorFile) {
        // Shared, so the test may read it while the child writes.
        error = CreateFileA(errorFile, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    } else if (!DuplicateHandle(GetCurrentProcess(), GetStdHandle(STD_ERROR_HANDLE), GetCurrentProcess(), &error, 0,
                                FALSE, DUPLICATE_SAME_ACCESS)) {
        error = INVALID_HANDLE_VALUE;
    }
    if (input != INVALID_HANDLE_VALUE && error != INVALID_HANDLE_VALUE) {
        process->handle = Start(ProgramPath(arguments[0]), CommandLine(arguments), Inheritable(input),
                                Inheritable(writeEnd), Inheritable(error), CREATE_NO_WINDOW, process->job,
                                &process->id);
    }
    if (process->handle == INVALID_HANDLE_VALUE) {
        // Started() says only that it failed; this says why.
        std::fprintf(stderr, "ChildProcess: %s did not start (error %lu)\n", arguments[0].c_str(), GetLastError());
    }
    CloseIfOpen(writeEnd);
    CloseIfOpen(input);
    CloseIfOpen(error);
}

ChildProcess::~ChildProcess() {
    if (process->job) {
        // The child if it still runs, and whatever it or a signal started.
        TerminateJobObject(process->job, 1);
    }
    if (process->handle != INVALID_HANDLE_VALUE) {
        if (!process->reaped) {
            WaitForSingleObject(process->handle, END_TIMEOUT_MS);
        }
        CloseHandle(process->handle);
    }
    if (process->job) {
        CloseHandle(process->job);
    }
    CloseIfOpen(process->output);
}

bool ChildProcess::Started() const { return process->handle != INVALID_HANDLE_VALUE; }

// Anonymous pipes have no waits with a time limit: look, then read what is
// there, or sleep a little.
bool ChildProcess::ReadUntil(const std::string& text, int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (printed.find(text) == std::string::npos) {
        DWORD available = 0;
        if (!PeekNamedPipe(process->output, nullptr, 0, nullptr, &available, nullptr)) {
            return false;  // the child closed its end
        }
        if (available == 0) {
            if (std::chrono::steady_clock::now() >= deadline) {
                return false;
            }
            Sleep(5);
            continue;
        }
        char buffer[512];
        DWORD got = 0;
        if (!ReadFile(process->output, buffer, available < sizeof buffer ? available : sizeof buffer, &got, nullptr) ||
            got == 0) {
            return false;
        }
        printed.append(buffer, got);
    }
    return true;
}

bool ChildProcess::Signal(int signo) {
    DWORD event = 0;
    if (signo == SIGINT) {
        event = CTRL_C_EVENT;
    } else if (signo == SIGBREAK) {
        event = CTRL_BREAK_EVENT;
    } else if (signo == SIGTERM) {
        event = CTRL_CLOSE_EVENT;
    } else {
        return false;
    }
    if (!Started()) {
        return false;
    }
    const std::vector<std::string> arguments = {CONSOLE_EVENT_PROGRAM, std::to_string(process->id),
                                                std::to_string(event)};
    const HANDLE none = INVALID_HANDLE_VALUE;
    HANDLE sender = Start(ProgramPath(arguments[0]), CommandLine(arguments), none, none, none, DETACHED_PROCESS,
                          process->job, nullptr);
    if (sender == INVALID_HANDLE_VALUE) {
        return false;
    }
    DWORD status = 1;
    const bool done = WaitForSingleObject(sender, EVENT_SENDER_TIMEOUT_MS) == WAIT_OBJECT_0 &&
                      GetExitCodeProcess(sender, &status);
    if (!done) {
        TerminateProcess(sender, 1);
    }
    CloseHandle(sender);
    return done && status == 0;
}

int ChildProcess::Wait(int timeoutMs) {
    if (!Started()) {
        return -1;
    }
    if (WaitForSingleObject(process->handle, static_cast<DWORD>(timeoutMs)) != WAIT_OBJECT_0) {
        return -1;
    }
    DWORD status = 0;
    GetExitCodeProcess(process->handle, &status);
    process->reaped = true;
    return static_cast<int>(status);
}
