// A user's C++ program: it logs a bot into a world and leaves, with globals
// named like the library's internals beside it.
#include <worldlink/worldlink.h>

#include <cstdlib>
#include <iostream>
#include <string>

int library;
int tick_now;
int tcp_create;

namespace {

int fail(const std::string& step, int reason) {
    std::cerr << "bot: " << step << " failed (" << wl_reason_words(reason) << ")\n";
    wl_term();
    return EXIT_FAILURE;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::cerr << "usage: bot HOST PORT WORLD\n";
        return EXIT_FAILURE;
    }
    library = tick_now = tcp_create = 1;
    if (int reason = wl_init(LIBRARY_BUILD); reason != 0) return fail("start", reason);
    Instance* bot = nullptr;
    if (int reason = wl_create(argv[1], std::atoi(argv[2]), &bot); reason != 0) return fail("connect", reason);
    wl_string_set(ATTR_LOGIN_NAME, "ConsumerBotCxx");
    wl_int_set(ATTR_LOGIN_OWNER, 1);
    wl_string_set(ATTR_LOGIN_PASSWORD, "secret");
    if (int reason = wl_login(); reason != 0) return fail("login", reason);
    wl_instance_set(bot);
    if (int reason = wl_enter(argv[3]); reason != 0) return fail("enter", reason);
    std::cout << wl_build_string() << ": in " << argv[3] << "\n";
    wl_term();
    return EXIT_SUCCESS;
}
