// The monitor removing a folder from a log that several writers flood, and
// taking the removal back. Two writers append numbered entries for the
// folder "keep", a third writes entries for the folder "drop", and the
// monitor removes "drop" (d) and undoes that (u), one key about every
// second, each when the one before has finished. The run ends on an undo,
// so every entry ever delivered belongs in the log: afterwards each one must
// be there exactly once and whole, no other line may be there, and the
// entries must stand in the order they were delivered (an entry whose
// delivery ended before another's began stands before it). The screen must
// have been redrawn at least every half second while the log changed.
//
//   stress_bench LURKO DIR [SECONDS [RATE [procmail]]]
//
// The writers append as Procmail does, opening the log, writing an entry in
// one write and closing it, RATE times a second each (default 1500); with
// "procmail", they are real Procmail processes delivering one message after
// another through DIR/procmailrc, as fast as Procmail takes them. DIR is a
// scratch directory; the journal goes to DIR/state (XDG_STATE_HOME). It
// prints figures and exits 1 when an entry was lost, doubled, torn or out of
// order, a removal could not be undone, or a change of the log waited longer
// than half a second for the screen.

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "terminal_harness.hpp"

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// When a delivery began and ended, in nanoseconds of the steady clock (the
// same in every process).
struct Span {
    std::int64_t begin = 0;
    std::int64_t end = 0;
};

std::int64_t now_ns() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch())
        .count();
}

// The entry of message `number` of writer `writer` ("k1", "k2", "d") to
// `folder`, as Procmail logs it.
std::string entry(const std::string& writer, long number, const std::string& folder) {
    const std::string id = writer + "-" + std::to_string(number);
    return "From " + id + "@example.org  Tue Dec  8 21:00:00 2026\n Subject: " + id +
           "\n  Folder: " + folder + "\t\t\t\t\t\t\t   1000\n";
}

// The message itself, for Procmail to deliver and log.
std::string message(const std::string& writer, long number, const std::string& folder) {
    const std::string id = writer + "-" + std::to_string(number);
    return "From " + id + "@example.org  Tue Dec  8 21:00:00 2026\nFrom: " + id +
           "@example.org\nSubject: " + id + "\nX-Route: " + folder + "\n\nNumber " + id + ".\n";
}

// Writes entries (or delivers messages) until `stop` exists; when each
// delivery began and ended goes to `times-WRITER`, one line each.
[[noreturn]] void write_until_stopped(const std::string& writer, const std::string& folder,
                                      const std::string& log, const std::string& dir, double rate,
                                      bool procmail) {
    const std::string stop = dir + "/stop";
    const Clock::time_point start = Clock::now();
    std::vector<Span> spans;
    for (long written = 0; ::access(stop.c_str(), F_OK) != 0; ++written) {
        Span span;
        if (procmail) {
            const std::string file = dir + "/message-" + writer;
            std::ofstream(file) << message(writer, written, folder);
            const std::string command = "/usr/bin/procmail -m HOME=" + dir + " ORGMAIL=" + dir +
                                        "/orgmail " + dir + "/procmailrc < " + file;
            span.begin = now_ns();
            if (std::system(command.c_str()) != 0) {
                break;
            }
            span.end = now_ns();
            spans.push_back(span);
            continue;
        }
        const auto due = start + std::chrono::duration_cast<Clock::duration>(
                                     std::chrono::duration<double>(written / rate));
        std::this_thread::sleep_until(due);
        const std::string text = entry(writer, written, dir + "/" + folder);
        span.begin = now_ns();
        const int fd = ::open(log.c_str(), O_WRONLY | O_APPEND);
        if (fd < 0 || ::write(fd, text.data(), text.size()) != static_cast<ssize_t>(text.size())) {
            break;
        }
        ::close(fd);
        span.end = now_ns();
        spans.push_back(span);
    }
    {
        std::ofstream times(dir + "/times-" + writer);
        for (const Span& span : spans) {
            times << span.begin << ' ' << span.end << '\n';
        }
    }
    ::_exit(0);
}

std::vector<Span> spans_of(const std::string& dir, const std::string& writer) {
    std::vector<Span> spans;
    std::ifstream in(dir + "/times-" + writer);
    for (Span span; in >> span.begin >> span.end;) {
        spans.push_back(span);
    }
    return spans;
}

// Durations of one kind of change, from the key to its message.
struct Timings {
    std::vector<double> seconds;
    void add(Clock::duration taken) {
        seconds.push_back(std::chrono::duration<double>(taken).count());
    }
    std::string text() {
        if (seconds.empty()) {
            return "none";
        }
        std::sort(seconds.begin(), seconds.end());
        char out[80];
        std::snprintf(out, sizeof out, "median %.0f ms, longest %.0f ms",
                      seconds[seconds.size() / 2] * 1000, seconds.back() * 1000);
        return out;
    }
};

}  // namespace

int main(int argc, char* argv[]) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s LURKO DIR [SECONDS [RATE [procmail]]]\n", argv[0]);
        return 2;
    }
    const std::string lurko = argv[1];
    const std::string dir = argv[2];
    const int seconds = argc > 3 ? std::atoi(argv[3]) : 60;
    const double rate = argc > 4 ? std::atof(argv[4]) : 1500;
    const bool procmail = argc > 5 && std::string(argv[5]) == "procmail";
    const std::string log = dir + "/procmail.log";
    ::mkdir((dir + "/state").c_str(), 0700);
    ::setenv("XDG_STATE_HOME", (dir + "/state").c_str(), 1);
    // A head start for "keep", so that it stays the first row and "drop",
    // removed every other second, the second.
    constexpr long head_start = 20000;
    {
        std::ofstream start(log, std::ios::trunc);
        for (long n = 0; n < head_start; ++n) {
            start << entry("s", n, dir + "/keep");
        }
        start << entry("d", -1, dir + "/drop");
    }
    std::remove((dir + "/stop").c_str());
    std::ofstream(dir + "/procmailrc")
        << "SHELL=/bin/sh\nLOGFILE=" << log << "\nLOCKSLEEP=1\n\n:0:\n* ^X-Route: keep\n"
        << dir << "/keep\n\n:0:\n"
        << dir << "/drop\n";

    test::TerminalOptions options;
    options.cols = 100;
    test::Terminal term({lurko, log}, options);
    const int bar = term.rows() - 2;  // the bottom bar, where a change says how it went
    if (!term.wait_until([&] { return term.row_text(2).ends_with("drop"); }, milliseconds(10000))) {
        std::fprintf(stderr, "no first screen:\n%s\n", term.screen().c_str());
        return 1;
    }

    std::vector<pid_t> writers;
    for (const char* writer : {"k1", "k2", "d"}) {
        const pid_t pid = ::fork();
        if (pid == 0) {
            // Folder names as Procmail logs them: MAILDIR and the name.
            write_until_stopped(writer, writer[0] == 'k' ? "keep" : "drop", log, dir, rate,
                                procmail);
        }
        writers.push_back(pid);
    }

    // d and u by turns, a second apart, each once the one before has said
    // how it went; and the longest time a change of the log waited for the
    // screen to be redrawn. (Real Procmail sometimes writes nothing for a
    // second, while its deliveries wait for a folder's lock: the screen has
    // nothing to show then.)
    enum class State { Kept, Removing, Removed, Undoing };
    State state = State::Kept;
    const Clock::time_point start = Clock::now();
    std::size_t output_seen = term.output_size();
    struct stat status {};
    off_t log_size = ::stat(log.c_str(), &status) == 0 ? status.st_size : 0;
    std::optional<Clock::time_point> changed_since;  // the log changed; not drawn yet
    double longest_pause = 0;
    int removals = 0;
    int undos = 0;
    std::map<std::string, int> failures;  // what the bar said of a change that failed
    int not_undone = 0;                   // removals that could not be taken back
    Timings removing;
    Timings undoing;
    Clock::time_point typed{};
    Clock::time_point next_key = start + std::chrono::seconds(1);
    bool stopped = false;
    const auto stop_writers = [&] {
        std::ofstream(dir + "/stop") << "";
        for (const pid_t pid : writers) {
            ::waitpid(pid, nullptr, 0);
        }
        stopped = true;
    };
    for (;;) {
        term.pump(milliseconds(5));
        const Clock::time_point now = Clock::now();
        if (::stat(log.c_str(), &status) == 0 && status.st_size != log_size) {
            log_size = status.st_size;
            changed_since = changed_since.value_or(now);
        }
        if (term.output_size() != output_seen) {
            output_seen = term.output_size();
            changed_since.reset();
        }
        if (changed_since) {
            longest_pause = std::max(longest_pause,
                                     std::chrono::duration<double>(now - *changed_since).count());
        }
        const std::string said = term.row_text(bar);
        if (state == State::Removing || state == State::Undoing) {
            const bool removing_now = state == State::Removing;
            if (said.starts_with("Could not")) {
                ++failures[said];
                state = removing_now ? State::Kept : State::Removed;
                next_key = now + milliseconds(100);  // again, once "=" has cleared the bar
            } else if (removing_now && said.starts_with("Removed ")) {
                removing.add(now - typed);
                ++removals;
                state = State::Removed;
            } else if (!removing_now && said == "Undone") {
                undoing.add(now - typed);
                ++undos;
                state = State::Kept;
            } else if (!removing_now && said.starts_with("Nothing")) {
                ++not_undone;  // those entries of "drop" are gone for good
                std::fprintf(stderr, "u said: %s\n", said.c_str());
                state = State::Kept;
            } else if (now - typed > std::chrono::seconds(60)) {
                std::fprintf(stderr, "no answer to %s:\n%s\n", removing_now ? "d" : "u",
                             term.screen().c_str());
                break;
            }
            continue;
        }
        // Ends on an undo, with the writers stopped first.
        const bool over = now - start >= std::chrono::seconds(seconds);
        if (over && !stopped) {
            stop_writers();
        }
        if (over && state == State::Kept) {
            break;
        }
        if (now < next_key) {
            continue;
        }
        if (said.starts_with("Could not")) {
            term.type("=");  // clears the bar, so that the next answer shows
            next_key = now + milliseconds(100);
        } else if (state == State::Kept && term.row_text(2).ends_with("drop")) {
            term.type("=jd");  // the second row, "drop", and away with it
            state = State::Removing;
            typed = now;
            next_key = now + std::chrono::seconds(1);
        } else if (state == State::Removed) {
            term.type("u");
            state = State::Undoing;
            typed = now;
            next_key = now + std::chrono::seconds(1);
        }
    }
    if (!stopped) {
        stop_writers();
    }
    term.settle(milliseconds(1000));
    term.type("q");
    term.wait_exit();

    // Every delivery exactly once, by its From and Subject line (real
    // Procmail may interleave the lines of deliveries that end at the same
    // time), no line torn or glued to another, and the order of delivery.
    std::map<std::string, Span> delivered;
    for (long n = 0; n < head_start; ++n) {
        delivered["s-" + std::to_string(n)] = {n, n};
    }
    delivered["d--1"] = {head_start, head_start};
    std::map<std::string, long> written;
    for (const std::string writer : {"k1", "k2", "d"}) {
        const std::vector<Span> spans = spans_of(dir, writer);
        written[writer] = static_cast<long>(spans.size());
        for (std::size_t n = 0; n < spans.size(); ++n) {
            delivered[writer + "-" + std::to_string(n)] = spans[n];
        }
    }
    std::map<std::string, int> froms;
    std::map<std::string, int> subjects;
    long torn = 0;
    long out_of_order = 0;
    long unknown = 0;
    std::int64_t latest_begin = 0;  // of the deliveries whose From line came so far
    std::ifstream in(log);
    for (std::string line; std::getline(in, line);) {
        if (line.starts_with("From ") && line.find("@example.org  ") != std::string::npos) {
            const std::string id = line.substr(5, line.find('@') - 5);
            ++froms[id];
            const auto found = delivered.find(id);
            if (found == delivered.end()) {
                ++unknown;
                continue;
            }
            // Before it in the log stands a delivery that began after it ended?
            out_of_order += found->second.end < latest_begin ? 1 : 0;
            latest_begin = std::max(latest_begin, found->second.begin);
        } else if (line.starts_with(" Subject: ")) {
            ++subjects[line.substr(10)];
        } else if (!line.starts_with("  Folder: ") && !line.starts_with("procmail: ")) {
            ++torn;
        }
    }
    const auto count = [](const std::map<std::string, int>& lines, const std::string& id) {
        const auto found = lines.find(id);
        return found == lines.end() ? 0 : found->second;
    };
    long lost = 0;
    long doubled = 0;
    for (const auto& [id, span] : delivered) {
        const int times = std::min(count(froms, id), count(subjects, id));
        lost += times == 0 ? 1 : 0;
        doubled += std::max(count(froms, id), count(subjects, id)) > 1 ? 1 : 0;
    }
    const long keep = written["k1"] + written["k2"];
    std::printf("writers            %s, %d s\n",
                procmail ? "real Procmail, as fast as it goes" : "open, one write, close", seconds);
    std::printf("entries written    %ld for keep (%.0f a second), %ld for drop\n", keep,
                static_cast<double>(keep) / seconds, written["d"]);
    std::printf("log at the end     %.1f MB, %zu entries\n", static_cast<double>(log_size) / 1e6,
                delivered.size());
    std::printf("removals (d)       %d, %s\n", removals, removing.text().c_str());
    std::printf("undos (u)          %d, %s\n", undos, undoing.text().c_str());
    for (const auto& [said, times] : failures) {
        std::printf("failed, retried    %d x \"%s\"\n", times, said.c_str());
    }
    if (not_undone > 0) {
        std::printf("not undone         %d removals\n", not_undone);
    }
    std::printf("lost %ld, doubled %ld, torn %ld, out of order %ld, unknown %ld\n", lost, doubled,
                torn, out_of_order, unknown);
    std::printf("longest a change of the log waited for the screen: %.0f ms%s\n",
                longest_pause * 1000, longest_pause > 0.5 ? " (over the half-second bound)" : "");
    const bool whole = lost == 0 && doubled == 0 && torn == 0 && out_of_order == 0 &&
                       unknown == 0 && not_undone == 0;
    return whole && longest_pause <= 0.5 ? 0 : 1;
}
