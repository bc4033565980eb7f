// skyflit: the control window, or with --headless the console frame.
#include "app/console/console_frame.h"
#include "app/flock_app.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#ifdef SKYFLIT_HAVE_QT
#include "app/qt/qt_frame.h"
#endif
#ifdef SKYFLIT_HAVE_WIN32
#include "app/win32/win32_frame.h"
#endif

namespace {

constexpr int EXIT_USAGE = 2;

bool HasArgument(int argc, char** argv, const char* wanted) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], wanted) == 0) {
            return true;
        }
    }
    return false;
}

#ifdef SKYFLIT_HAVE_QT
bool IsSet(const char* name) {
    const char* value = std::getenv(name);
    return value && *value;
}
#endif

void PrintUsage(std::FILE* to) {
    std::fprintf(to,
                 "usage: skyflit [--headless]\n"
                 "  Reads skyflit.ini from the working directory and flies a flock of bots.\n"
                 "  --headless  no window: log in at once with the saved settings, print\n"
                 "              the status line to stdout; SIGINT or SIGTERM logs out.\n");
}

}  // namespace

int main(int argc, char** argv) {
    if (HasArgument(argc, argv, "--help")) {
        PrintUsage(stdout);
        return 0;
    }
    FlockApp app;
    if (HasArgument(argc, argv, "--headless")) {
        ConsoleFrame frame;
        return app.Run(frame);
    }
#if defined(SKYFLIT_HAVE_WIN32)
    CloseOwnConsole();
    auto frame = MakeWin32Frame();
    return app.Run(*frame);
#elif defined(SKYFLIT_HAVE_QT)
    if (!IsSet("DISPLAY") && !IsSet("WAYLAND_DISPLAY") && !IsSet("QT_QPA_PLATFORM")) {
        std::fprintf(stderr,
                     "skyflit: no display found; run 'skyflit --headless' to fly the flock "
                     "without a window, using skyflit.ini in the working directory.\n");
        return EXIT_USAGE;
    }
    auto frame = MakeQtFrame(argc, argv);
    return app.Run(*frame);
#else
    std::fprintf(stderr, "skyflit: this build has no window; run 'skyflit --headless' to fly the flock "
                         "using skyflit.ini in the working directory.\n");
    return EXIT_USAGE;
#endif
}
