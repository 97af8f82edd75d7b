// Measures the interactive monitor on a large log: how long the first screen
// takes, the CPU time each new delivery costs, how long a delivery takes to
// show, the memory the deliveries add, how often the idle monitor wakes and
// the CPU it uses then, and a burst of deliveries.
//
//   monitor_bench LURKO LOG [DELIVERIES [PER_SECOND [IDLE_SECONDS [BURST_RATE BURST_SECONDS]]]]
//   monitor_bench --first-screen RUNS LURKO LOG
//
// The second form only starts the monitor RUNS times and prints the median,
// fastest and slowest time to its first screen, and the CPU time it took.
//
// The monitor runs in a pseudo-terminal read back through a terminal
// emulator; deliveries are appended to LOG in Procmail's form, one write
// each, at random moments (exponential gaps averaging 1/PER_SECOND, so in
// step with no timer), and each counts as shown when the top bar's total
// includes it. CPU time, wake-ups (context switches) and memory come from
// /proc/PID/schedstat and /proc/PID/status. Then, with BURST_RATE,
// deliveries come at that steady rate for BURST_SECONDS. It prints figures
// and asserts nothing.

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "process_figures.hpp"
#include "terminal_harness.hpp"

namespace {

using bench::Clock;
using bench::cpu_seconds;
using bench::resident_kib;
using bench::seconds_since;
using bench::shown_total;
using bench::wakeups;

// One delivery as Procmail logs it.
std::string delivery(int number) {
    static const char* const folders[] = {"inbox", "lists.dev/new/1796763858.%d_1.mailhost",
                                          "friends", "/home/user/Mail/bank", "/dev/null"};
    char folder[96];
    std::snprintf(folder, sizeof folder, folders[number % 5], number);
    char entry[512];
    const int length = std::snprintf(entry, sizeof entry,
                                     "From sender%d@example.org  Tue Dec  8 21:00:00 2026\n"
                                     " Subject: Benchmark delivery number %d\n"
                                     "  Folder: %s\t\t\t\t    %d\n",
                                     number, number, folder, 1000 + number);
    return std::string(entry, static_cast<std::size_t>(length));
}

double percentile(std::vector<double> values, double share) {
    if (values.empty()) {
        return 0;
    }
    std::sort(values.begin(), values.end());
    const auto at = static_cast<std::size_t>(share * static_cast<double>(values.size() - 1));
    return values[at];
}

// Starts the monitor `runs` times, each time until its first screen shows a
// total, and prints the times as "first-screen RUNS MEDIAN MIN MAX CPU" (in
// seconds; CPU is the median of the monitor's own CPU time until then).
int time_first_screens(const std::string& lurko, const std::string& log, int runs) {
    std::vector<double> walls;
    std::vector<double> cpus;
    for (int run = 0; run < runs; ++run) {
        const Clock::time_point started = Clock::now();
        test::TerminalOptions options;
        options.cols = 100;
        test::Terminal term({lurko, log}, options);
        if (!term.wait_until([&] { return shown_total(term) >= 0; }, std::chrono::minutes(2))) {
            std::fprintf(stderr, "the monitor showed no first screen:\n%s\n",
                         term.screen().c_str());
            return 1;
        }
        walls.push_back(seconds_since(started));
        cpus.push_back(cpu_seconds(term.pid()));
        term.type("q");
        term.wait_exit();
    }
    std::printf("first-screen %d %.6f %.6f %.6f %.6f\n", runs, percentile(walls, 0.5),
                percentile(walls, 0), percentile(walls, 1), percentile(cpus, 0.5));
    return 0;
}

}  // namespace

int main(int argc, char* argv[]) {
    if (argc == 5 && std::string(argv[1]) == "--first-screen") {
        return time_first_screens(argv[3], argv[4], std::atoi(argv[2]));
    }
    if (argc < 3) {
        std::fprintf(stderr,
                     "usage: %s LURKO LOG [DELIVERIES [PER_SECOND [IDLE_SECONDS]]]\n"
                     "       %s --first-screen RUNS LURKO LOG\n",
                     argv[0], argv[0]);
        return 2;
    }
    const std::string lurko = argv[1];
    const std::string log = argv[2];
    const int deliveries = argc > 3 ? std::atoi(argv[3]) : 1000;
    const double per_second = argc > 4 ? std::atof(argv[4]) : 20;
    const int idle_seconds = argc > 5 ? std::atoi(argv[5]) : 60;
    const double burst_rate = argc > 7 ? std::atof(argv[6]) : 0;
    const double burst_seconds = argc > 7 ? std::atof(argv[7]) : 0;

    const Clock::time_point started = Clock::now();
    test::TerminalOptions options;
    options.cols = 100;
    test::Terminal term({lurko, log}, options);
    if (!term.wait_until([&] { return shown_total(term) >= 0; }, std::chrono::minutes(2))) {
        std::fprintf(stderr, "the monitor showed no first screen:\n%s\n", term.screen().c_str());
        return 1;
    }
    const double first_screen = seconds_since(started);
    const long base_total = shown_total(term);
    term.settle();

    const pid_t pid = term.pid();
    const double cpu_before = cpu_seconds(pid);
    const long rss_before = resident_kib(pid);

    const int fd = ::open(log.c_str(), O_WRONLY | O_APPEND);
    if (fd < 0) {
        std::perror(log.c_str());
        return 1;
    }
    std::vector<Clock::time_point> appended;
    std::vector<double> delays;
    std::size_t bytes_appended = 0;
    std::mt19937 random(1);
    std::exponential_distribution<double> gap(per_second);
    Clock::time_point due = Clock::now();
    while (delays.size() < static_cast<std::size_t>(deliveries)) {
        if (appended.size() < static_cast<std::size_t>(deliveries)) {
            if (Clock::now() >= due) {
                due += std::chrono::duration_cast<Clock::duration>(
                    std::chrono::duration<double>(gap(random)));
                const std::string entry = delivery(static_cast<int>(appended.size()));
                if (::write(fd, entry.data(), entry.size()) != static_cast<ssize_t>(entry.size())) {
                    std::perror("append");
                    return 1;
                }
                bytes_appended += entry.size();
                appended.push_back(Clock::now());
                continue;
            }
        }
        const std::size_t waiting_for = delays.size();
        if (waiting_for >= appended.size()) {
            term.pump(std::chrono::milliseconds(2));
            continue;
        }
        const bool seen = term.wait_until(
            [&] { return shown_total(term) >= base_total + static_cast<long>(waiting_for) + 1; },
            std::chrono::milliseconds(5));
        if (seen) {
            const long shown = shown_total(term) - base_total;
            const Clock::time_point now = Clock::now();
            while (delays.size() < static_cast<std::size_t>(shown) &&
                   delays.size() < appended.size()) {
                delays.push_back(
                    std::chrono::duration<double>(now - appended[delays.size()]).count());
            }
        } else if (seconds_since(appended[waiting_for]) > 10) {
            std::fprintf(stderr, "delivery %zu did not show within 10 s:\n%s\n", waiting_for,
                         term.screen().c_str());
            return 1;
        }
    }
    term.settle();
    const double cpu_after = cpu_seconds(pid);
    const long rss_after = resident_kib(pid);

    const long wakeups_before = wakeups(pid);
    term.pump(std::chrono::seconds(idle_seconds));
    const double cpu_idle = cpu_seconds(pid) - cpu_after;
    const long idle_wakeups = wakeups(pid) - wakeups_before;

    // The burst: deliveries at a steady rate, each one write, as fast as
    // several Procmails at once.
    const long burst_count = static_cast<long>(burst_rate * burst_seconds);
    const long total_before_burst = shown_total(term);
    const double cpu_before_burst = cpu_seconds(pid);
    const Clock::time_point burst_start = Clock::now();
    for (long sent = 0; sent < burst_count;) {
        const auto burst_due =
            burst_start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(
                              static_cast<double>(sent) / burst_rate));
        if (Clock::now() < burst_due) {
            term.pump(std::chrono::milliseconds(1));
            continue;
        }
        const std::string entry = delivery(static_cast<int>(sent));
        if (::write(fd, entry.data(), entry.size()) != static_cast<ssize_t>(entry.size())) {
            std::perror("append");
            return 1;
        }
        ++sent;
    }
    const Clock::time_point burst_written = Clock::now();
    const bool burst_shown =
        term.wait_until([&] { return shown_total(term) >= total_before_burst + burst_count; },
                        std::chrono::seconds(60));
    const double burst_lag = seconds_since(burst_written);
    const double burst_cpu = cpu_seconds(pid) - cpu_before_burst;
    ::close(fd);
    term.type("q");
    term.wait_exit();

    std::printf("log                      %s\n", log.c_str());
    std::printf("first screen             %.3f s\n", first_screen);
    std::printf("deliveries               %d at %.0f per second (%zu bytes)\n", deliveries,
                per_second, bytes_appended);
    std::printf("CPU per delivery         %.3f ms\n",
                (cpu_after - cpu_before) * 1000.0 / deliveries);
    std::printf("delay until shown        median %.1f ms, 95%% %.1f ms, max %.1f ms\n",
                percentile(delays, 0.5) * 1000, percentile(delays, 0.95) * 1000,
                percentile(delays, 1.0) * 1000);
    std::printf(
        "resident memory          %ld KiB before, %ld KiB after (+%ld KiB for %zu KiB "
        "appended)\n",
        rss_before, rss_after, rss_after - rss_before, bytes_appended / 1024);
    std::printf("CPU while idle           %.3f s in %d s\n", cpu_idle, idle_seconds);
    std::printf("wake-ups while idle      %ld in %d s (%.1f a minute)\n", idle_wakeups,
                idle_seconds, idle_seconds > 0 ? idle_wakeups * 60.0 / idle_seconds : 0.0);
    if (burst_count > 0) {
        std::printf(
            "burst                    %ld deliveries at %.0f a second: %.4f ms CPU per "
            "delivery, all shown %.0f ms after the last write%s\n",
            burst_count, burst_rate, burst_cpu * 1000.0 / static_cast<double>(burst_count),
            burst_lag * 1000, burst_shown ? "" : " (NOT all shown)");
    }
    return 0;
}
