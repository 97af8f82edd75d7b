// Measures how the monitor follows its log through what happens in the log's
// directory:
//   - a busy directory: other files created and deleted next to the log at
//     RATE a second (default 30,000) for SECONDS; the monitor's CPU share and
//     wake-ups a second, and the rate the generator reached;
//   - rotations: the log renamed away and a new one created (at once, or 30
//     or 60 ms later) with a delivery in it, ROTATIONS times; the time from
//     the creation until the screen shows the new log; and the same with an
//     empty log created and a delivery appended, timed from the append;
//   - the log's directory removed and made again with a new log in it; the
//     time until the screen shows that log ("never" after 5 seconds).
//
//   watch_bench LURKO DIR [RATE [SECONDS [ROTATIONS]]]
//
// The monitor runs in a pseudo-terminal read back through a terminal
// emulator; DIR is a scratch directory. CPU time comes from
// /proc/PID/schedstat. It prints figures and asserts nothing.

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "process_figures.hpp"
#include "terminal_harness.hpp"

namespace {

using bench::Clock;
using bench::cpu_seconds;
using bench::seconds_since;
using bench::shown_total;
using bench::wakeups;

std::string deliveries(int count) {
    std::string text;
    for (int i = 0; i < count; ++i) {
        text += "From sender" + std::to_string(i) +
                "@example.org  Tue Dec  8 21:00:00 2026\n Subject: number " + std::to_string(i) +
                "\n  Folder: inbox\t\t\t    1234\n";
    }
    return text;
}

void write_file(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

// Creates and deletes files in `dir` at `rate` a second until killed; writes
// how many it made to `count_path` every tenth of a second.
[[noreturn]] void churn(const std::string& dir, double rate, const std::string& count_path) {
    const Clock::time_point start = Clock::now();
    long made = 0;
    Clock::time_point reported = start;
    for (;;) {
        const auto due = static_cast<long>(seconds_since(start) * rate);
        if (made >= due) {
            ::usleep(200);
            continue;
        }
        for (int i = 0; i < 64 && made < due; ++i, ++made) {
            const std::string path = dir + "/other." + std::to_string(made % 256);
            const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT, 0600);
            if (fd >= 0) {
                ::close(fd);
            }
            ::unlink(path.c_str());
        }
        if (Clock::now() - reported > std::chrono::milliseconds(100)) {
            reported = Clock::now();
            write_file(count_path, std::to_string(made));
        }
    }
}

// Waits until the screen's total is `total`; the seconds it took, or -1.
double time_until_total(test::Terminal& term, long total, Clock::time_point since,
                        std::chrono::milliseconds limit) {
    if (!term.wait_until([&] { return shown_total(term) == total; }, limit)) {
        return -1;
    }
    return seconds_since(since);
}

void print_delays(const char* what, std::vector<double> delays) {
    std::sort(delays.begin(), delays.end());
    const auto missed = std::count(delays.begin(), delays.end(), -1.0);
    std::printf("%s:", what);
    for (const double delay : delays) {
        if (delay < 0) {
            std::printf(" never");
        } else {
            std::printf(" %.0f", delay * 1000);
        }
    }
    std::printf(" ms");
    if (static_cast<std::size_t>(missed) < delays.size()) {
        std::printf(" (median %.0f ms)", delays[missed + (delays.size() - missed) / 2] * 1000);
    }
    std::printf("\n");
}

}  // namespace

int main(int argc, char* argv[]) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s LURKO DIR [RATE [SECONDS [ROTATIONS]]]\n", argv[0]);
        return 2;
    }
    const std::string lurko = argv[1];
    const std::string scratch = argv[2];
    const double rate = argc > 3 ? std::atof(argv[3]) : 30000;
    const double seconds = argc > 4 ? std::atof(argv[4]) : 10;
    const int rotations = argc > 5 ? std::atoi(argv[5]) : 10;
    const std::string dir = scratch + "/rd";
    const std::string log = dir + "/log";
    std::filesystem::remove_all(scratch);
    std::filesystem::create_directories(dir);
    write_file(log, deliveries(1));

    test::Terminal term({lurko, log});
    if (!term.wait_until([&] { return shown_total(term) == 1; }, std::chrono::seconds(20))) {
        std::fprintf(stderr, "no first screen:\n%s\n", term.screen().c_str());
        return 1;
    }
    term.settle();
    const pid_t pid = term.pid();

    // The busy directory.
    const std::string count_path = scratch + "/churned";
    const pid_t churner = ::fork();
    if (churner == 0) {
        churn(dir, rate, count_path);
    }
    const double cpu_before = cpu_seconds(pid);
    const long wakes_before = wakeups(pid);
    const Clock::time_point start = Clock::now();
    term.pump(std::chrono::milliseconds(static_cast<long>(seconds * 1000)));
    const double elapsed = seconds_since(start);
    const double cpu = cpu_seconds(pid) - cpu_before;
    const long wakes = wakeups(pid) - wakes_before;
    ::kill(churner, SIGKILL);
    ::waitpid(churner, nullptr, 0);
    long churned = 0;
    std::ifstream(count_path) >> churned;
    std::printf(
        "busy directory: %.0f creates+deletes/s for %.1f s: monitor CPU %.1f%% of a core, "
        "%.0f wake-ups/s\n",
        static_cast<double>(churned) / elapsed, elapsed, 100 * cpu / elapsed,
        static_cast<double>(wakes) / elapsed);
    term.settle();

    // Rotations: renamed away, a new log made with one more delivery each time.
    std::vector<double> delays;
    for (int rotation = 0; rotation < rotations; ++rotation) {
        const std::string text = deliveries(rotation + 2);
        std::filesystem::rename(log, log + ".1");
        // At once, or a moment later: the look in between finds no log.
        ::usleep(static_cast<useconds_t>(30000 * (rotation % 3)));
        const Clock::time_point since = Clock::now();
        write_file(log, text);
        delays.push_back(time_until_total(term, rotation + 2, since, std::chrono::seconds(5)));
        term.settle(std::chrono::milliseconds(100));
        ::usleep(static_cast<useconds_t>(50000 + 37000 * (rotation % 7)));  // off any timer
    }
    print_delays("rotation (rename away, create) to screen", delays);

    // As logrotate does it: renamed away, an empty log created, then a
    // delivery appended to it.
    delays.clear();
    for (int rotation = 0; rotation < rotations; ++rotation) {
        std::filesystem::rename(log, log + ".1");
        write_file(log, "");
        ::usleep(static_cast<useconds_t>(1000 * (rotation % 5)));
        const Clock::time_point since = Clock::now();
        std::ofstream(log, std::ios::app) << deliveries(rotation + 1);
        delays.push_back(time_until_total(term, rotation + 1, since, std::chrono::seconds(5)));
        term.settle(std::chrono::milliseconds(100));
        ::usleep(static_cast<useconds_t>(50000 + 37000 * (rotation % 7)));
    }
    print_delays("rotation (rename away, create empty, append) to screen", delays);

    // The directory removed and made again, twice.
    delays.clear();
    for (int round = 0; round < 3; ++round) {
        const std::string text = deliveries(20 + round);
        std::filesystem::remove_all(dir);
        ::usleep(100000);
        const Clock::time_point since = Clock::now();
        std::filesystem::create_directory(dir);
        write_file(log, text);
        delays.push_back(time_until_total(term, 20 + round, since, std::chrono::seconds(5)));
        ::usleep(100000);
        // A delivery appended afterwards must show too.
        const Clock::time_point appended = Clock::now();
        std::ofstream(log, std::ios::app) << deliveries(1);
        delays.push_back(time_until_total(term, 21 + round, appended, std::chrono::seconds(5)));
    }
    print_delays("directory removed and made again, then an append, to screen", delays);
    term.type("q");
    term.wait_exit();
    return 0;
}
