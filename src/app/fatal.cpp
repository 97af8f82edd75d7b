#include "app/fatal.hpp"

#include <cstdio>
#include <cstdlib>
#include <utility>

namespace {

void (*fatal_cleanup)() = nullptr;

}  // namespace

void set_fatal_cleanup(void (*cleanup)()) {
    fatal_cleanup = cleanup;
}

void fatal_error(std::string_view message) {
    if (auto cleanup = std::exchange(fatal_cleanup, nullptr)) {
        cleanup();
    }
    std::fputs("lurko error: ", stdout);
    std::fwrite(message.data(), 1, message.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
    std::exit(1);
}
