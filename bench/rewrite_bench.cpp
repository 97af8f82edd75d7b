// How long removing a folder from a large log takes (what d does), beside
// the time to read the log once, and the memory it takes.
//
//   rewrite_bench LOG FOLDER
//
// LOG is rewritten in place without FOLDER's entries: work on a copy. The
// page cache holds the log for both timings (it is read once beforehand).
// Prints figures.

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <string>

#include "log/log_maintenance.hpp"

namespace {

using Clock = std::chrono::steady_clock;

// Seconds to read the whole file once through a block.
double read_seconds(const std::string& path) {
    const Clock::time_point start = Clock::now();
    const int fd = ::open(path.c_str(), O_RDONLY);
    const auto block = std::make_unique<char[]>(std::size_t{1} << 20);
    while (::read(fd, block.get(), std::size_t{1} << 20) > 0) {
    }
    ::close(fd);
    return std::chrono::duration<double>(Clock::now() - start).count();
}

}  // namespace

int main(int argc, char* argv[]) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s LOG FOLDER\n", argv[0]);
        return 2;
    }
    read_seconds(argv[1]);  // into the page cache
    const double reading = read_seconds(argv[1]);
    rusage before{};
    ::getrusage(RUSAGE_SELF, &before);
    const Clock::time_point start = Clock::now();
    const RewriteOutcome outcome = rewrite_log(argv[1], argv[2]);
    const double rewriting = std::chrono::duration<double>(Clock::now() - start).count();
    rusage after{};
    ::getrusage(RUSAGE_SELF, &after);
    std::printf(
        "removing %s: %.2f s (%s), reading the log once: %.2f s, peak memory %ld MB "
        "(%ld MB before)\n",
        argv[2], rewriting, outcome == RewriteOutcome::Rewritten ? "rewritten" : "NOT rewritten",
        reading, after.ru_maxrss / 1024, before.ru_maxrss / 1024);
    return outcome == RewriteOutcome::Rewritten ? 0 : 1;
}
