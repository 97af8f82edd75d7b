// Real Procmail under load while the monitor runs: several workers deliver
// messages as fast as Procmail takes them into mbox folders, a maildir, an
// absolute path, /dev/null and the default mailbox. Afterwards the monitor's
// top bar and every folder row must agree with the log, with lurko -o, and
// with what actually landed in the folders. Then the same with a folder
// removed (d) and with the log cleared (r) in the middle of the burst.
//
// LURKO_LOAD_DELIVERIES (default 2000) and LURKO_LOAD_WORKERS (default 6)
// set the size of the burst; bench/load.sh runs it larger.

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <set>
#include <sstream>

#include "monitor_support.hpp"
#include "procmail_support.hpp"

namespace monitor_test {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

std::size_t setting(const char* name, std::size_t fallback) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0' ? std::stoul(value) : fallback;
}

// Where a message goes; friends takes the most, so that it is the first row
// of the monitor once a few dozen have come.
using procmail::Route;
constexpr Route route_plan[20] = {
    Route::Friends, Route::Maildir,  Route::Friends, Route::Default, Route::Absolute,
    Route::Friends, Route::DevNull,  Route::Maildir, Route::Friends, Route::Default,
    Route::Friends, Route::Absolute, Route::Maildir, Route::Friends, Route::Default,
    Route::Friends, Route::DevNull,  Route::Maildir, Route::Friends, Route::Absolute,
};

// Worker N of STEP delivers messages N, N + STEP, ... below COUNT, one
// Procmail after the other, and notes each one done.
const std::string worker_text =
    "#!/bin/sh\n"
    "# worker.sh HOME FIRST STEP COUNT\n"
    "deliver() { " +
    procmail::deliver_command +
    "; }\n"
    "i=$2\n"
    "while [ \"$i\" -lt \"$4\" ]; do\n"
    "    deliver \"$1\" \"$1/messages/$i\" || echo \"$i\" >> \"$1/failed\"\n"
    "    echo \"$i\" >> \"$1/done.$2\"\n"
    "    i=$((i + $3))\n"
    "done\n";

std::string message_text(std::size_t seq) {
    const Route route = route_plan[seq % 20];
    const std::string sender = "sender" + std::to_string(seq % 13) + "@example.org";
    return "From " + sender + "  Mon Dec  8 07:19:03 2025\nFrom: " + sender +
           "\nTo: user@example.org\nSubject: load " + std::to_string(seq) +
           "\nX-Route: " + procmail::route_header(route) + "\nX-Seq: " + std::to_string(seq) +
           "\n\nMessage number " + std::to_string(seq) + ".\n";
}

// The "  Folder: " lines of a log, counted by folder as lurko names them:
// the path up to the tabs before the size, cut before "/new/" (the plan
// sends nothing to MH or directory folders).
std::map<std::string, std::size_t> folder_lines(const std::string& log) {
    std::map<std::string, std::size_t> counts;
    std::istringstream lines(test::read_file(log));
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("  Folder: ", 0) != 0) {
            continue;
        }
        std::string name = line.substr(10, line.find('\t', 10) - 10);
        if (const std::size_t cut = name.find("/new/"); cut != std::string::npos) {
            name.erase(cut);
        }
        ++counts[name];
    }
    return counts;
}

using procmail::messages_in;

// lurko -o of the log, as a map.
std::map<std::string, std::size_t> report_of(const std::string& log) {
    const test::RunResult report = test::run_lurko({"-o", log});
    EXPECT_EQ(report.status, 0) << report.err;
    std::map<std::string, std::size_t> counts;
    std::istringstream lines(report.out);
    for (std::string line; std::getline(lines, line);) {
        counts[line.substr(6)] = std::stoul(line.substr(0, 5));
    }
    return counts;
}

// The folder rows the monitor shows, as a map: "  count  [N] name".
std::map<std::string, std::size_t> rows_shown(const Terminal& term) {
    std::map<std::string, std::size_t> counts;
    for (int row = 1; row < term.rows() - 2; ++row) {
        const std::string text = term.row_text(row);
        if (text.size() < 12) {
            continue;
        }
        std::istringstream words(text.substr(2));
        std::size_t count = 0;
        std::string name;
        words >> count >> name;
        if (name == "N" && words >> name) {
            // the new-mail mark stood before the name
        }
        counts[name] = count;
    }
    return counts;
}

// The total of the top bar, "Lurko -- New mail: T in F folders".
std::optional<std::size_t> total_shown(const Terminal& term) {
    const std::string bar = term.row_text(0);
    const std::string prefix = "Lurko -- New mail: ";
    std::size_t total = 0;
    if (bar.rfind(prefix, 0) != 0 ||
        std::from_chars(bar.data() + prefix.size(), bar.data() + bar.size(), total).ec !=
            std::errc()) {
        return std::nullopt;  // not drawn yet, or drawn only in part
    }
    return total;
}

// What to do in the middle of the burst.
enum class During { Nothing, RemoveFolder, ClearLog };

struct Burst {
    std::size_t deliveries = 0;
    std::size_t workers = 0;
    Milliseconds wall{0};
    Milliseconds monitor_cpu{0};
    std::size_t done_when_cleared = 0;  // deliveries finished when the clear showed
    std::string removed;                // the folder under the arrow when d was pressed
};

class Load : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(fs::exists(procmail::binary))
            << procmail::binary << " is missing: the set-up installs procmail";
        test::write_file(home / ".procmailrc", procmail::rc_text);
        test::write_file(home / "worker.sh", worker_text);
        fs::create_directory(home / "Mail");
        fs::create_directory(home / "messages");
        for (std::size_t seq = 0; seq < deliveries; ++seq) {
            test::write_file(home / ("messages/" + std::to_string(seq)), message_text(seq));
            ++expected[folder_of(route_plan[seq % 20])];
        }
        // An existing log, so that lurko has one to start on.
        test::write_file(log, "");
    }

    std::string folder_of(Route route) const {
        switch (route) {
            case Route::Friends:
                return "friends";
            case Route::Maildir:
                return "lists.dev";
            case Route::Absolute:
                return home / "Mail/bank";
            case Route::DevNull:
                return "/dev/null";
            case Route::Default:
                return home / "Mail/inbox";
            case Route::Blank:
                return "family and friends";
            case Route::Mh:
                return "work";
            case Route::Directory:
                return "reports";
        }
        return "";
    }

    // How many deliveries the workers have finished.
    std::size_t finished() const {
        std::size_t count = 0;
        for (std::size_t w = 0; w < workers; ++w) {
            const fs::path done = home / ("done." + std::to_string(w));
            if (fs::exists(done)) {
                const std::string text = test::read_file(done);
                count += static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
            }
        }
        return count;
    }

    // Runs the burst while the monitor runs, doing `during` once half of the
    // deliveries show; waits until the monitor shows the final log.
    Burst run_burst(Terminal& term, During during) {
        Burst burst{deliveries, workers, {}, {}, 0, {}};
        std::vector<pid_t> running;
        const auto started = Clock::now();
        for (std::size_t w = 0; w < workers; ++w) {
            const pid_t pid = ::fork();
            if (pid == 0) {
                ::execl("/bin/sh", "sh", (home / "worker.sh").c_str(), home.path().c_str(),
                        std::to_string(w).c_str(), std::to_string(workers).c_str(),
                        std::to_string(deliveries).c_str(), static_cast<char*>(nullptr));
                ::_exit(127);
            }
            EXPECT_GT(pid, 0);
            running.push_back(pid);
        }
        bool done_during = during == During::Nothing;
        const auto deadline = Clock::now() + std::chrono::seconds(600);
        while (!running.empty() && Clock::now() < deadline) {
            term.pump(Milliseconds(50));
            if (!done_during && total_shown(term).value_or(0) >= deliveries / 2) {
                // The arrow stays on its folder however the list re-sorts.
                // While a re-sort is being drawn it may be on no row for a
                // moment: then the next look finds it.
                for (int row = 1; row < term.rows() - 2; ++row) {
                    if (term.row_text(row).starts_with("->")) {
                        burst.removed = term.row_text(row).substr(11);
                    }
                }
                if (burst.removed.empty()) {
                    continue;
                }
                term.type(during == During::RemoveFolder ? "d" : "r");
                done_during = true;
                if (during == During::ClearLog) {
                    // The clear has happened once the log is shorter than the
                    // deliveries finished so far.
                    const std::size_t before_clear = finished();
                    EXPECT_TRUE(term.wait_until(
                        [&] {
                            const auto counted = folder_lines(log);
                            std::size_t lines = 0;
                            for (const auto& [name, count] : counted) {
                                lines += count;
                            }
                            return lines < before_clear;
                        },
                        change_wait));
                    burst.done_when_cleared = finished();
                }
            }
            std::erase_if(running,
                          [](pid_t pid) { return ::waitpid(pid, nullptr, WNOHANG) == pid; });
        }
        burst.wall = std::chrono::duration_cast<Milliseconds>(Clock::now() - started);
        EXPECT_TRUE(running.empty()) << "the workers did not finish in time";
        for (const pid_t pid : running) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
        }
        EXPECT_TRUE(done_during) << "half of the deliveries never showed";
        EXPECT_FALSE(fs::exists(home / "failed")) << test::read_file(home / "failed");
        EXPECT_EQ(finished(), deliveries);

        // The monitor catches up with the final log.
        const std::string final_status = status_of_log();
        EXPECT_TRUE(shows_status(term, final_status, Milliseconds(60000)));
        burst.monitor_cpu = cpu_time(term.pid());
        return burst;
    }

    // The top bar for the log as it is, from lurko -o.
    std::string status_of_log() const {
        std::size_t mails = 0;
        const std::map<std::string, std::size_t> report = report_of(log);
        for (const auto& [name, count] : report) {
            mails += count;
        }
        return status_line(mails, report.size());
    }

    // Every delivery landed in its folder, once.
    void expect_folders_hold_every_delivery() {
        std::set<std::size_t> seen;
        std::size_t in_folders = 0;
        for (const auto& [name, count] : expected) {
            if (name == "/dev/null") {
                continue;
            }
            const fs::path path =
                name.front() == '/' ? fs::path(name) : fs::path(home / ("Mail/" + name));
            const std::vector<std::size_t> found = messages_in(path);
            EXPECT_EQ(found.size(), count) << name;
            for (const std::size_t seq : found) {
                EXPECT_TRUE(seen.insert(seq).second) << "message " << seq << " twice";
                EXPECT_EQ(folder_of(route_plan[seq % 20]), name) << "message " << seq;
            }
            in_folders += found.size();
        }
        EXPECT_EQ(in_folders + expected["/dev/null"], deliveries);
    }

    // The monitor's rows and lurko -o agree with the Folder lines of the log.
    void expect_monitor_agrees_with_log(const Terminal& term) {
        const std::map<std::string, std::size_t> in_log = folder_lines(log);
        EXPECT_EQ(report_of(log), in_log);
        // Every folder fits on the screen: the rows are the whole list.
        EXPECT_EQ(rows_shown(term), in_log) << term.screen();
    }

    static void print(const char* what, const Burst& burst, std::size_t lost) {
        std::printf(
            "[ figures  ] %s: %zu deliveries by %zu workers in %lld ms (%.0f/s); monitor "
            "CPU %lld ms in 10 ms ticks (%.3f ms per delivery); lost %zu\n",
            what, burst.deliveries, burst.workers, static_cast<long long>(burst.wall.count()),
            static_cast<double>(burst.deliveries) * 1000.0 /
                static_cast<double>(std::max<long long>(burst.wall.count(), 1)),
            static_cast<long long>(burst.monitor_cpu.count()),
            static_cast<double>(burst.monitor_cpu.count()) / static_cast<double>(burst.deliveries),
            lost);
    }

    std::unique_ptr<Terminal> start_monitor() {
        std::unique_ptr<Terminal> term = start_lurko({{log}, home.path(), 24, 100});
        EXPECT_TRUE(shows_status(*term, status_line(0, 0)));
        return term;
    }

    test::TempDir home;
    std::string log = home / "procmail.log";
    std::size_t deliveries = setting("LURKO_LOAD_DELIVERIES", 2000);
    std::size_t workers = std::max<std::size_t>(setting("LURKO_LOAD_WORKERS", 6), 1);
    std::map<std::string, std::size_t> expected;  // deliveries by folder name
    termios before = fresh_modes();
};

TEST_F(Load, EveryDeliveryIsCountedOnce) {
    std::unique_ptr<Terminal> term = start_monitor();
    const Burst burst = run_burst(*term, During::Nothing);
    expect_folders_hold_every_delivery();
    EXPECT_EQ(folder_lines(log), expected);
    EXPECT_EQ(total_shown(*term), deliveries);
    ASSERT_TRUE(shows_status(*term, status_line(deliveries, expected.size())));
    expect_monitor_agrees_with_log(*term);
    std::size_t logged = 0;
    for (const auto& [name, count] : folder_lines(log)) {
        logged += count;
    }
    print("deliveries", burst, deliveries - logged);
    quit_cleanly(*term, before);
}

TEST_F(Load, RemovingAFolderLosesNothingElse) {
    std::unique_ptr<Terminal> term = start_monitor();
    const Burst burst = run_burst(*term, During::RemoveFolder);
    expect_folders_hold_every_delivery();
    // The folder under the arrow went from the log; every other folder keeps
    // every delivery; what it received after the removal is there.
    const std::map<std::string, std::size_t> in_log = folder_lines(log);
    std::size_t lost = 0;
    for (const auto& [name, count] : expected) {
        const std::size_t logged = in_log.count(name) != 0 ? in_log.at(name) : 0;
        if (name == burst.removed) {
            EXPECT_LT(logged, count) << "the removal did not reach the log";
        } else {
            EXPECT_EQ(logged, count) << name << " (removed: " << burst.removed << ")";
            lost += count - std::min(logged, count);
        }
    }
    EXPECT_EQ(in_log.size(), expected.size() - (in_log.count(burst.removed) != 0 ? 0 : 1));
    expect_monitor_agrees_with_log(*term);
    print("with d", burst, lost);
    quit_cleanly(*term, before);
}

TEST_F(Load, EveryDeliveryAfterAClearIsCounted) {
    std::unique_ptr<Terminal> term = start_monitor();
    const Burst burst = run_burst(*term, During::ClearLog);
    expect_folders_hold_every_delivery();
    const std::map<std::string, std::size_t> in_log = folder_lines(log);
    std::size_t logged = 0;
    for (const auto& [name, count] : in_log) {
        logged += count;
    }
    // The log was emptied, and every delivery finished after the clear
    // showed is in it, but for at most one per worker that had logged its
    // mail before the clear and finished after it.
    EXPECT_LT(logged, deliveries);
    EXPECT_GE(logged + burst.workers, deliveries - burst.done_when_cleared);
    EXPECT_EQ(total_shown(*term), logged);
    expect_monitor_agrees_with_log(*term);
    std::printf(
        "[ figures  ] with r: %zu deliveries finished when the clear showed, %zu logged "
        "after it\n",
        burst.done_when_cleared, logged);
    print("with r", burst, 0);
    quit_cleanly(*term, before);
}

}  // namespace
}  // namespace monitor_test
