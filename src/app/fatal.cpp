#include "app/fatal.hpp"

#include <cstdio>
#include <cstdlib>

void fatal_error(std::string_view message) {
    std::fputs("lurko error: ", stdout);
    std::fwrite(message.data(), 1, message.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
    std::exit(1);
}
