// The monitor removing a folder from a log that several writers flood.
// Two writers append numbered entries for the folder "keep", a third writes
// entries for the folder "drop", and the monitor removes "drop" (d) about
// once a second. Afterwards every numbered entry of "keep" must be in the log
// exactly once and whole, and the screen must have been redrawn at least
// every half second while the log changed.
//
//   stress_bench LURKO DIR [SECONDS [RATE [procmail]]]
//
// The writers append as Procmail does, opening the log, writing an entry in
// one write and closing it, RATE times a second each (default 1500); with
// "procmail", they are real Procmail processes delivering one message after
// another through DIR/procmailrc, as fast as Procmail takes them. DIR is a
// scratch directory. It prints figures and exits 1 when an entry was lost,
// doubled or torn, or a change of the log waited longer than half a second
// for the screen.

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "terminal_harness.hpp"

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

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

// Writes entries (or delivers messages) until `stop` exists; the number
// written goes to `count_file`.
[[noreturn]] void write_until_stopped(const std::string& writer, const std::string& folder,
                                      const std::string& log, const std::string& dir, double rate,
                                      bool procmail) {
    const std::string stop = dir + "/stop";
    const Clock::time_point start = Clock::now();
    long written = 0;
    for (; ::access(stop.c_str(), F_OK) != 0; ++written) {
        if (procmail) {
            const std::string file = dir + "/message-" + writer;
            std::ofstream(file) << message(writer, written, folder);
            const std::string command = "/usr/bin/procmail -m HOME=" + dir + " ORGMAIL=" + dir +
                                        "/orgmail " + dir + "/procmailrc < " + file;
            if (std::system(command.c_str()) != 0) {
                break;
            }
            continue;
        }
        const auto due = start + std::chrono::duration_cast<Clock::duration>(
                                     std::chrono::duration<double>(written / rate));
        std::this_thread::sleep_until(due);
        const std::string text = entry(writer, written, dir + "/" + folder);
        const int fd = ::open(log.c_str(), O_WRONLY | O_APPEND);
        if (fd < 0 || ::write(fd, text.data(), text.size()) != static_cast<ssize_t>(text.size())) {
            break;
        }
        ::close(fd);
    }
    std::ofstream(dir + "/count-" + writer) << written;
    ::_exit(0);
}

long count_of(const std::string& dir, const std::string& writer) {
    long count = -1;
    std::ifstream(dir + "/count-" + writer) >> count;
    return count;
}

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
    // A head start for "keep", so that it stays the first row and "drop",
    // removed every second, the second.
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

    // Remove "drop" about once a second, each time it is back on the screen,
    // and note the longest time a change of the log waited for the screen to
    // be redrawn. (Real Procmail sometimes writes nothing for a second, while
    // its deliveries wait for a folder's lock: the screen has nothing to show
    // then.)
    const Clock::time_point start = Clock::now();
    std::size_t output_seen = term.output_size();
    struct stat status {};
    off_t log_size = ::stat(log.c_str(), &status) == 0 ? status.st_size : 0;
    std::optional<Clock::time_point> changed_since;  // the log changed; not drawn yet
    double longest_pause = 0;
    int removals = 0;
    Clock::time_point next_removal = start + std::chrono::seconds(1);
    while (Clock::now() - start < std::chrono::seconds(seconds)) {
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
        if (now >= next_removal && term.row_text(2).ends_with("drop")) {
            term.type("=jd");  // the second row, "drop", and away with it
            ++removals;
            next_removal = now + std::chrono::seconds(1);
        }
    }
    std::ofstream(dir + "/stop") << "";
    for (const pid_t pid : writers) {
        ::waitpid(pid, nullptr, 0);
    }
    term.settle(milliseconds(1000));
    term.type("q");
    term.wait_exit();

    // Every numbered entry of "keep" exactly once: its From and Subject line
    // each once (real Procmail may interleave the lines of deliveries that
    // end at the same time), and no line torn or glued to another.
    std::map<std::string, int> froms;
    std::map<std::string, int> subjects;
    long torn = 0;
    std::ifstream in(log);
    for (std::string line; std::getline(in, line);) {
        if (line.starts_with("From ") && line.find("@example.org  ") != std::string::npos) {
            ++froms[line.substr(5, line.find('@') - 5)];
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
    long written = 0;
    for (const std::string writer : {"s", "k1", "k2"}) {
        const long total = writer == "s" ? head_start : count_of(dir, writer);
        written += writer == "s" ? 0 : total;
        for (long n = 0; n < total; ++n) {
            const std::string id = writer + "-" + std::to_string(n);
            const int times = std::min(count(froms, id), count(subjects, id));
            lost += times == 0 ? 1 : 0;
            doubled += std::max(count(froms, id), count(subjects, id)) > 1 ? 1 : 0;
        }
    }
    std::printf("writers            %s, %d s\n",
                procmail ? "real Procmail, as fast as it goes" : "open, one write, close", seconds);
    std::printf("entries written    %ld for keep (%.0f a second), %ld for drop\n", written,
                static_cast<double>(written) / seconds, count_of(dir, "d"));
    std::printf("removals of drop   %d\n", removals);
    std::printf("lost %ld, doubled %ld, torn %ld\n", lost, doubled, torn);
    std::printf("longest a change of the log waited for the screen: %.0f ms\n",
                longest_pause * 1000);
    return lost == 0 && doubled == 0 && torn == 0 && longest_pause <= 0.5 ? 0 : 1;
}
