// console_event PID EVENT: delivers console control event EVENT (0 Ctrl-C,
// 1 Ctrl-Break, 2 console close) to process PID the way the console does.
// Exits with 0 when the event was delivered. Used by ChildProcess::Signal on
// Windows.
//
// Ctrl-C and Ctrl-Break go through the console: this program, started
// without a console of its own (DETACHED_PROCESS, since a process can be on
// one console only), attaches to the child's and generates the event there,
// as a keystroke would; every process on that console gets it.
//
// Where the console cannot carry an event (wine carries Ctrl-C only; no
// console anywhere can be asked for a close event), it is delivered the way
// the console itself delivers events: a new thread in the process at the
// system's CtrlRoutine, which runs the process's handlers. Only systems that
// export CtrlRoutine (wine does, Windows does not) allow that.
#include <windows.h>

#include <cstdlib>
#include <initializer_list>

namespace {

// The event is for the others on the console, not for this program.
BOOL WINAPI Ignore(DWORD) {
    return TRUE;
}

bool ThroughTheConsole(DWORD processId, DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) {
        return false;
    }
    FreeConsole();
    if (!AttachConsole(processId)) {
        return false;
    }
    SetConsoleCtrlHandler(Ignore, TRUE);
    const BOOL sent = GenerateConsoleCtrlEvent(event, 0);
    FreeConsole();
    return sent != FALSE;
}

bool ThroughCtrlRoutine(DWORD processId, DWORD event) {
    FARPROC routine = nullptr;
    for (const char* module : {"kernelbase.dll", "kernel32.dll"}) {
        if (HMODULE loaded = GetModuleHandleA(module)) {
            routine = routine ? routine : GetProcAddress(loaded, "CtrlRoutine");
        }
    }
    if (!routine) {
        return false;
    }
    HANDLE process = OpenProcess(PROCESS_CREATE_THREAD | PROCESS_QUERY_INFORMATION | PROCESS_VM_OPERATION |
                                     PROCESS_VM_READ | PROCESS_VM_WRITE,
                                 FALSE, processId);
    if (!process) {
        return false;
    }
    // The system's modules sit at the same address in every process.
    auto start = reinterpret_cast<LPTHREAD_START_ROUTINE>(reinterpret_cast<void*>(routine));
    HANDLE thread = CreateRemoteThread(process, nullptr, 0, start, reinterpret_cast<void*>(static_cast<ULONG_PTR>(event)),
                                       0, nullptr);
    if (thread) {
        CloseHandle(thread);
    }
    CloseHandle(process);
    return thread != nullptr;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        return 2;
    }
    const DWORD processId = std::strtoul(argv[1], nullptr, 10);
    const DWORD event = std::strtoul(argv[2], nullptr, 10);
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT) {
        return 2;
    }
    return ThroughTheConsole(processId, event) || ThroughCtrlRoutine(processId, event) ? 0 : 1;
}
