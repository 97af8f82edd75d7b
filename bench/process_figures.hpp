#pragma once

// What the benchmarks read off a running Lurko: the time since a moment, the
// CPU and memory a process used and how often it woke (from /proc), and the
// total its top bar shows.

#include <sys/types.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <string>

#include "terminal_harness.hpp"

namespace bench {

using Clock = std::chrono::steady_clock;

inline double seconds_since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// CPU seconds a process has used, from /proc/PID/schedstat: nanoseconds on
// a CPU, where /proc/PID/stat counts whole clock ticks (10 ms), too coarse
// for the fraction of a millisecond a delivery costs.
inline double cpu_seconds(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/schedstat");
    double nanoseconds = 0;
    in >> nanoseconds;
    return nanoseconds / 1e9;
}

// A field of /proc/PID/status ("VmRSS" in KiB, "voluntary_ctxt_switches"...).
inline long status_field(pid_t pid, const std::string& name) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(in, line);) {
        if (line.rfind(name + ":", 0) == 0) {
            return std::stol(line.substr(name.size() + 1));
        }
    }
    return -1;
}

inline long resident_kib(pid_t pid) {
    return status_field(pid, "VmRSS");
}

// How often the process was woken so far: its context switches.
inline long wakeups(pid_t pid) {
    return status_field(pid, "voluntary_ctxt_switches") +
           status_field(pid, "nonvoluntary_ctxt_switches");
}

// The total in the top bar ("Lurko -- New mail: N in ..."), or -1.
inline long shown_total(const test::Terminal& term) {
    const std::string bar = term.row_text(0);
    const std::string label = "New mail: ";
    const auto at = bar.find(label);
    return at == std::string::npos ? -1 : std::strtol(bar.c_str() + at + label.size(), nullptr, 10);
}

}  // namespace bench
