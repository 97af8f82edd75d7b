// How long removing a folder from a large log takes (what d does) and
// undoing that (u), beside the time to read the log once, and the memory
// they take. The journal goes where XDG_STATE_HOME says.
//
//   rewrite_bench LOG FOLDER
//
// LOG is rewritten in place without FOLDER's entries and back: work on a
// copy. The page cache holds the log for both timings (it is read once
// beforehand). Prints figures. For example, on a 1 GB log with the journal
// on the same disk:
//
//   bench/gen-log --size 100M -o /tmp/100m.log
//   for i in $(seq 10); do cat /tmp/100m.log; done > /tmp/1g.log
//   bench/gen-log --report /tmp/1g.log | sort -rn | head -1   # the biggest folder
//   XDG_STATE_HOME=/tmp/state build/bench/rewrite_bench /tmp/1g.log /home/user/Mail/inbox

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
    std::printf("reading the log once: %.2f s\n", reading);
    const auto timed = [&](const char* what, auto change) {
        const Clock::time_point start = Clock::now();
        const MaintenanceResult result = change();
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        rusage usage{};
        ::getrusage(RUSAGE_SELF, &usage);
        std::printf("%s: %.2f s (%s), peak memory so far %ld MB\n", what, seconds,
                    result.outcome == RewriteOutcome::Rewritten ? "done" : result.reason.c_str(),
                    usage.ru_maxrss / 1024);
        return result.outcome == RewriteOutcome::Rewritten;
    };
    const std::string removing = std::string("removing ") + argv[2] + " (d)";
    const bool removed = timed(removing.c_str(), [&] { return rewrite_log(argv[1], argv[2]); });
    const bool undone = timed("undoing it (u)", [&] { return undo_log(argv[1]); });
    return removed && undone ? 0 : 1;
}
