// skyflit: the control window, or with --headless the console frame.
#include "app/console/console_frame.h"
#include "app/flock_app.h"
#include "app/flock_dialog.h"
#include "worldlink/worldlink.h"

#include <getopt.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

#ifdef SKYFLIT_HAVE_QT
#include "app/qt/qt_frame.h"
#endif
#ifdef SKYFLIT_HAVE_WIN32
#include "app/win32/win32_frame.h"
#endif

namespace {

constexpr int EXIT_USAGE = 2;

#ifdef SKYFLIT_HAVE_QT
bool IsSet(const char* name) {
    const char* value = std::getenv(name);
    return value && *value;
}
#endif

void PrintUsage(std::FILE* to) {
    std::fprintf(to,
                 "usage: skyflit [--headless] [--config PATH]\n"
                 "               [--flight hop|flock]\n"
                 "       skyflit --help | --version\n"
                 "  Flies a flock of bots with the settings in skyflit.ini in the working\n"
                 "  directory, and writes them back there when it ends.\n"
                 "  --headless     no window: log in at once with the saved settings, print\n"
                 "                 the status line to stdout; SIGINT or SIGTERM logs out.\n"
                 "  --config PATH  read and write the settings in PATH instead.\n"
                 "  --flight MODE  hop (each bird at random, the default) or flock (the birds\n"
                 "                 fly together); wins over Flight in the settings.\n"
                 "  --help         print this text.\n"
                 "  --version      print the program's build and the library's.\n");
}

void PrintVersion() {
    std::printf("Skyflit Build %d\n%s\n", BUILD_NUMBER, wl_build_string());
}

int Refuse(const std::string& what) {
    std::fprintf(stderr, "skyflit: %s\n", what.c_str());
    PrintUsage(stderr);
    return EXIT_USAGE;
}

struct CommandLine {
    bool headless = false;
    std::string settingsFile;
    std::optional<FlightMode> flightMode;
};

// Above every character, so that getopt's optopt tells an unknown short
// option from a long one.
enum Option { OPTION_HELP = 256, OPTION_VERSION, OPTION_HEADLESS, OPTION_CONFIG, OPTION_FLIGHT };

// The command line, or the exit status when the program ends here: 0 after
// --help or --version, EXIT_USAGE for anything it does not take.
std::optional<int> ParseCommandLine(int argc, char** argv, CommandLine& line) {
    const option options[] = {
        {"help", no_argument, nullptr, OPTION_HELP},
        {"version", no_argument, nullptr, OPTION_VERSION},
        {"headless", no_argument, nullptr, OPTION_HEADLESS},
        {"config", required_argument, nullptr, OPTION_CONFIG},
        {"flight", required_argument, nullptr, OPTION_FLIGHT},
        {nullptr, 0, nullptr, 0},
    };
    // The words of a refusal are the program's own, not getopt's.
    opterr = 0;
    for (;;) {
        switch (getopt_long(argc, argv, ":", options, nullptr)) {
        case -1:
            if (optind < argc) {
                return Refuse(std::string("unexpected argument '") + argv[optind] + "'");
            }
            return std::nullopt;
        case OPTION_HELP:
            PrintUsage(stdout);
            return 0;
        case OPTION_VERSION:
            PrintVersion();
            return 0;
        case OPTION_HEADLESS:
            line.headless = true;
            break;
        case OPTION_CONFIG:
            if (*optarg == '\0') {
                return Refuse("option '--config' needs a value");
            }
            line.settingsFile = optarg;
            break;
        case OPTION_FLIGHT:
            line.flightMode = ParseFlightMode(optarg);
            if (!line.flightMode) {
                return Refuse(std::string("unknown flight '") + optarg + "' (" + FLIGHT_MODES + ")");
            }
            break;
        case ':':
            // Some C libraries report a value given to an option that takes
            // none ("--headless=yes") this way too.
            if (std::strchr(argv[optind - 1], '=') != nullptr) {
                return Refuse(std::string("unknown option '") + argv[optind - 1] + "'");
            }
            return Refuse(std::string("option '") + argv[optind - 1] + "' needs a value");
        default:
            if (optopt > 0 && optopt < OPTION_HELP) {
                return Refuse(std::string("unknown option '-") + static_cast<char>(optopt) + "'");
            }
            return Refuse(std::string("unknown option '") + argv[optind - 1] + "'");
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    CommandLine line;
    if (std::optional<int> status = ParseCommandLine(argc, argv, line)) {
        return *status;
    }
    FlockApp app;
    app.settingsFile = line.settingsFile;
    app.flightMode = line.flightMode;
    if (line.headless) {
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
