// Kills a change to the log (d, r, -c, u) with SIGKILL at random moments
// while a writer keeps appending numbered deliveries, starts Lurko after
// each kill (lurko -o, which first finishes the interrupted change), and
// checks that the log holds the old or the new content, then every delivery,
// each once, whole and in order.
//
//   crash_bench LURKO LOG FOLDER DIR [KILLS [SEED]]
//
// LOG is the log to start from (read only; bench/gen-log writes one), FOLDER
// the folder that d removes, DIR a scratch directory on the same kind of disk
// (the log under test, and the journal: XDG_STATE_HOME is DIR/state). The
// changes take turns: d and r made by this program in a child (what the
// monitor's keys call), -c by LURKO itself, and u of a d made just before.
// Each is first timed once unkilled with the writer running: when its
// journal appears, when the log begins to be written (the journal is
// ready) and when it ends; half the kills fall at a random moment of that
// span, half at a random moment of the writing after the journal was seen
// to be ready. Whether a kill landed mid-change is read from
// the journal it left: begun and not ready (the log untouched), or ready
// and without its last record (the log half written).
//
// Prints figures; exits 1 when a log was neither the old nor the new
// content plus the deliveries, or a delivery was lost, doubled or torn.

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <new>
#include <optional>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "log/journal.hpp"
#include "log/log_maintenance.hpp"
#include "log/unique_fd.hpp"

namespace {

using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

bool write_file(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out.flush());
}

// The writer's delivery `number`.
std::string delivery(long number, const std::string& folder) {
    const std::string id = "w-" + std::to_string(number);
    return "From " + id + "@crash.example  Tue Dec  8 21:00:00 2026\n Subject: " + id +
           "\n  Folder: " + folder + "\t\t\t\t\t\t\t   1000\n";
}

// Shared with the writer: when to stop, and when each delivery began.
struct WriterLog {
    static constexpr long capacity = 1 << 20;
    std::atomic<int> stop{0};
    std::atomic<long> count{0};
    std::array<double, capacity> began{};  // seconds since the trial's start
};

// A writer appending a delivery every two milliseconds, as Procmail does:
// open, one write, close. Under a lease its open waits for the change.
class Writer {
public:
    Writer(const std::string& log, const std::string& folder, Clock::time_point start) {
        void* shared = ::mmap(nullptr, sizeof(WriterLog), PROT_READ | PROT_WRITE,
                              MAP_SHARED | MAP_ANONYMOUS, -1, 0);
        if (shared == MAP_FAILED) {
            std::perror("mmap");
            std::exit(2);
        }
        shared_ = new (shared) WriterLog();
        pid_ = ::fork();
        if (pid_ == 0) {
            for (long n = 0; shared_->stop.load() == 0 && n < WriterLog::capacity; ++n) {
                const std::string text = delivery(n, folder);
                shared_->began[static_cast<std::size_t>(n)] = seconds_since(start);
                const int fd = ::open(log.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
                if (fd < 0 ||
                    ::write(fd, text.data(), text.size()) != static_cast<ssize_t>(text.size())) {
                    std::perror("writer");
                    ::_exit(1);
                }
                ::close(fd);
                shared_->count.store(n + 1);
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
            }
            ::_exit(0);
        }
    }
    ~Writer() {
        stop();
        ::munmap(shared_, sizeof(WriterLog));
    }
    Writer(const Writer&) = delete;
    Writer& operator=(const Writer&) = delete;

    void stop() {
        if (pid_ > 0) {
            shared_->stop.store(1);
            ::waitpid(pid_, nullptr, 0);
            pid_ = -1;
        }
    }
    long count() const { return shared_->count.load(); }
    double began(long n) const { return shared_->began[static_cast<std::size_t>(n)]; }

private:
    WriterLog* shared_ = nullptr;
    pid_t pid_ = -1;
};

enum class Op { Remove, Empty, Clear, Undo };
constexpr std::array<Op, 4> ops = {Op::Remove, Op::Empty, Op::Clear, Op::Undo};

const char* op_name(Op op) {
    switch (op) {
        case Op::Remove:
            return "d";
        case Op::Empty:
            return "r";
        case Op::Clear:
            return "-c";
        case Op::Undo:
            return "u";
    }
    return "?";
}

// Where a change stood when it was killed, read from the files it left.
enum class Landed { Before, Staging, Writing, After };

const char* landed_name(Landed landed) {
    switch (landed) {
        case Landed::Before:
            return "before it began";
        case Landed::Staging:
            return "staging (journal begun, log untouched)";
        case Landed::Writing:
            return "writing (journal ready, unfinished)";
        case Landed::After:
            return "after it ended";
    }
    return "?";
}

struct JournalView {
    bool exists = false;
    std::uint64_t kind = 0;  // 1 removal, 2 emptying, 3 undo
    bool ready = false;
    bool ended = false;  // Done, RolledBack, Abandoned or Undone
};

JournalView view_journal(const std::string& path) {
    JournalView view;
    const UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd) {
        return view;
    }
    view.exists = true;
    RecordReader reader(fd.get());
    while (std::optional<Record> record = reader.next()) {
        switch (record->type) {
            case RecordType::Begin:
                view.kind = record->payload.size() >= 8 ? get_u64(record->payload, 0) : 0;
                break;
            case RecordType::Ready:
                view.ready = true;
                break;
            case RecordType::Done:
            case RecordType::RolledBack:
            case RecordType::Abandoned:
            case RecordType::Undone:
                view.ended = true;
                break;
            default:
                break;
        }
    }
    return view;
}

class Bench {
public:
    Bench(std::string lurko, const std::string& template_log, std::string folder,
          const std::string& dir)
        : lurko_(std::move(lurko)),
          folder_(std::move(folder)),
          log_(dir + "/procmail.log"),
          dir_(dir),
          original_(read_file(template_log)) {
        // Named after the log's real path: the log has to be there first.
        write_file(log_, original_);
        files_ = *journal_files(log_);
        inbox_ = dir + "/inbox";
    }

    // The log after an unkilled d, which is the new content of d and the old
    // one of u.
    bool prepare() {
        reset();
        if (!run_unkilled_remove()) {
            return false;
        }
        removed_ = read_file(log_);
        std::printf("log                %.1f MB; d of %s leaves %.1f MB (%s filter_log)\n",
                    static_cast<double>(original_.size()) / 1e6, folder_.c_str(),
                    static_cast<double>(removed_.size()) / 1e6,
                    removed_ == filter_log(original_, folder_) ? "equal to" : "NOT equal to");
        return removed_ != original_;
    }

    // One change unkilled, with the writer running: when its journal
    // appeared, when it was ready and when it ended, in seconds.
    struct Span {
        double began = 0;
        double ready = 0;
        double ended = 0;
    };
    Span time_op(Op op) {
        set_up(op);
        const Clock::time_point start = Clock::now();
        Writer writer(log_, inbox_, start);
        const pid_t child = start_op(op);
        Span span = follow(child, start, false);
        span.ready = span.ready == 0 ? span.ended : span.ready;
        writer.stop();
        return span;
    }

    // Watches the change in `child` until it ends (its status reaped), or
    // with `until_ready` until its journal is ready: its new journal
    // appears, then takes the old one's place.
    Span follow(pid_t child, Clock::time_point start, bool until_ready) const {
        Span span;
        const std::string fresh = files_.journal + ".new";
        bool seen = false;
        for (int status = 0; ::waitpid(child, &status, WNOHANG) == 0;) {
            const bool there = ::access(fresh.c_str(), F_OK) == 0;
            if (there && !seen) {
                seen = true;
                span.began = seconds_since(start);
            } else if (!there && seen && span.ready == 0) {
                span.ready = seconds_since(start);  // renamed: ready
                if (until_ready) {
                    return span;
                }
            }
            std::this_thread::sleep_for(std::chrono::microseconds(100));
        }
        span.ended = seconds_since(start);
        return span;
    }

    struct Trial {
        Landed landed = Landed::Before;
        std::string said;  // what the start after the kill said on stderr
        bool old_content = false;
        bool new_content = false;
        long lost = 0;
        long doubled = 0;
        long torn = 0;
        long cut = 0;  // deliveries that went with an emptying, as they should
        long deliveries = 0;
    };

    // Kills the change `when` seconds after it started, or with `writing`
    // that long after its journal was ready (the log is being written).
    Trial kill_at(Op op, bool writing, double when, int number) {
        set_up(op);
        Trial trial;
        const Clock::time_point start = Clock::now();
        Writer writer(log_, inbox_, start);
        const pid_t child = start_op(op);
        int status = 0;
        bool finished = false;
        Clock::time_point from = start;
        if (writing) {
            const Span span = follow(child, start, true);
            finished = span.ended > 0;
            from = start + std::chrono::duration_cast<Clock::duration>(
                               std::chrono::duration<double>(span.ready));
        }
        std::this_thread::sleep_until(from + std::chrono::duration_cast<Clock::duration>(
                                                 std::chrono::duration<double>(when)));
        finished = finished || ::waitpid(child, &status, WNOHANG) == child;
        if (!finished) {
            ::kill(child, SIGKILL);
            ::waitpid(child, &status, 0);
        }
        const double killed = seconds_since(start);
        trial.landed = landed(op, finished);
        trial.said = start_lurko();
        // Some deliveries after the start, then the log is looked at.
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        writer.stop();
        check(op, writer, killed, trial);
        if (!(trial.old_content || trial.new_content) || trial.lost + trial.doubled + trial.torn) {
            const std::string kept = dir_ + "/bad-" + std::to_string(number) + ".log";
            ::rename(log_.c_str(), kept.c_str());
            std::printf("  kill %d (%s at %.3f s): log kept as %s\n", number, op_name(op), when,
                        kept.c_str());
        }
        return trial;
    }

private:
    // The log as it was, no journal.
    void reset() {
        ::unlink(files_.journal.c_str());
        ::unlink((files_.journal + ".new").c_str());
        ::unlink(files_.redo.c_str());
        ::unlink(log_.c_str());
        if (!write_file(log_, original_)) {
            std::perror(log_.c_str());
            std::exit(2);
        }
    }

    bool run_unkilled_remove() {
        const pid_t child = start_op(Op::Remove);
        int status = 0;
        ::waitpid(child, &status, 0);
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            std::fprintf(stderr, "d failed on %s\n", log_.c_str());
            return false;
        }
        return true;
    }

    void set_up(Op op) {
        reset();
        if (op == Op::Undo && !run_unkilled_remove()) {
            std::exit(2);
        }
    }

    // The change in a child of its own: d, r and u called as the monitor
    // calls them, -c as the command.
    pid_t start_op(Op op) {
        const pid_t child = ::fork();
        if (child != 0) {
            return child;
        }
        if (op == Op::Clear) {
            const int null = ::open("/dev/null", O_RDWR);
            ::dup2(null, STDOUT_FILENO);
            ::execl(lurko_.c_str(), lurko_.c_str(), "-c", log_.c_str(), nullptr);
            ::_exit(127);
        }
        const MaintenanceResult result = op == Op::Remove  ? rewrite_log(log_, folder_)
                                         : op == Op::Empty ? truncate_log(log_)
                                                           : undo_log(log_);
        if (result.outcome != RewriteOutcome::Rewritten) {
            std::fprintf(stderr, "%s: %s\n", op_name(op), result.reason.c_str());
        }
        ::_exit(result.outcome == RewriteOutcome::Rewritten ? 0 : 1);
    }

    Landed landed(Op op, bool finished) const {
        if (finished) {
            return Landed::After;
        }
        const JournalView fresh = view_journal(files_.journal + ".new");
        const JournalView journal = view_journal(files_.journal);
        const std::uint64_t kind = op == Op::Remove ? 1 : op == Op::Undo ? 3 : 2;
        if (journal.exists && journal.kind == kind) {
            return journal.ready && !journal.ended ? Landed::Writing : Landed::After;
        }
        return fresh.exists ? Landed::Staging : Landed::Before;
    }

    // lurko -o on the log: its first words on standard error.
    std::string start_lurko() {
        const std::string command = "'" + lurko_ + "' -o '" + log_ + "' 2>&1 >/dev/null";
        std::string said;
        if (FILE* pipe = ::popen(command.c_str(), "r")) {
            std::array<char, 4096> line{};
            while (std::fgets(line.data(), line.size(), pipe) != nullptr) {
                said += line.data();
            }
            const int status = ::pclose(pipe);
            if (status != 0) {
                said += "(exit status " + std::to_string(status) + ")";
            }
        }
        while (!said.empty() && said.back() == '\n') {
            said.pop_back();
        }
        return said;
    }

    // The log: old or new content, then the deliveries.
    void check(Op op, const Writer& writer, double killed, Trial& trial) {
        const std::string log = read_file(log_);
        const long count = writer.count();
        trial.deliveries = count;
        const std::string& old_content = op == Op::Undo ? removed_ : original_;
        const std::string empty;
        const std::string& new_content = op == Op::Remove ? removed_
                                         : op == Op::Undo ? original_
                                                          : empty;
        std::size_t rest = 0;
        if (log.size() >= old_content.size() && log.starts_with(old_content)) {
            trial.old_content = true;
            rest = old_content.size();
        } else if (log.size() >= new_content.size() && log.starts_with(new_content)) {
            trial.new_content = true;
            rest = new_content.size();
        }
        if (!trial.old_content && !trial.new_content) {
            return;
        }
        // The rest: deliveries only, in order, each whole.
        std::map<long, int> seen;
        long previous = -1;
        const std::string_view tail = std::string_view(log).substr(rest);
        const std::string_view from = "From w-";
        for (std::size_t at = 0; at < tail.size();) {
            const long n = tail.substr(at).starts_with(from)
                               ? std::strtol(tail.data() + at + from.size(), nullptr, 10)
                               : -1;
            const std::string whole = delivery(n, inbox_);
            if (n >= 0 && tail.substr(at).starts_with(whole)) {
                ++seen[n];
                trial.torn += n > previous && n < count ? 0 : 1;  // out of order, or unknown
                previous = n;
                at += whole.size();
                continue;
            }
            ++trial.torn;  // up to the next delivery's first line
            const std::size_t next = tail.find("\nFrom w-", at);
            at = next == std::string_view::npos ? tail.size() : next + 1;
        }
        // An emptying takes the deliveries before it: a run from the first,
        // none of them begun after the kill.
        long first_kept = 0;
        if (trial.new_content && (op == Op::Empty || op == Op::Clear)) {
            first_kept = seen.empty() ? count : seen.begin()->first;
            while (first_kept > 0 && writer.began(first_kept - 1) > killed) {
                --first_kept;  // begun after the kill: must have stayed
            }
            trial.cut = first_kept;
        }
        for (long n = first_kept; n < count; ++n) {
            const auto found = seen.find(n);
            trial.lost += found == seen.end() ? 1 : 0;
            trial.doubled += found != seen.end() && found->second > 1 ? 1 : 0;
        }
    }

    std::string lurko_;
    std::string folder_;
    std::string log_;
    std::string dir_;
    std::string inbox_;
    JournalFiles files_;
    std::string original_;
    std::string removed_;
};

}  // namespace

int main(int argc, char* argv[]) {
    if (argc < 5) {
        std::fprintf(stderr, "usage: %s LURKO LOG FOLDER DIR [KILLS [SEED]]\n", argv[0]);
        return 2;
    }
    char* real_dir = ::realpath(argv[4], nullptr);
    if (real_dir == nullptr) {
        std::perror(argv[4]);
        return 2;
    }
    const std::string dir = real_dir;
    std::free(real_dir);  // NOLINT(cppcoreguidelines-no-malloc): realpath's own
    const int kills = argc > 5 ? std::atoi(argv[5]) : 50;
    const unsigned seed = argc > 6 ? static_cast<unsigned>(std::atoi(argv[6])) : 1;
    ::mkdir((dir + "/state").c_str(), 0700);
    ::setenv("XDG_STATE_HOME", (dir + "/state").c_str(), 1);
    ::signal(SIGPIPE, SIG_IGN);

    Bench bench(argv[1], argv[2], argv[3], dir);
    if (!bench.prepare()) {
        return 1;
    }
    std::map<Op, Bench::Span> spans;
    for (const Op op : ops) {
        const Bench::Span span = bench.time_op(op);
        spans[op] = span;
        std::printf(
            "%-3s unkilled       journal at %.3f s, log written from %.3f s, done at %.3f s\n",
            op_name(op), span.began, span.ready, span.ended);
    }
    std::fflush(stdout);

    std::mt19937 random(seed);
    std::map<Op, int> per_op;
    std::map<Op, std::map<Landed, int>> landed;
    std::map<std::string, int> said;
    int old_content = 0;
    int new_content = 0;
    int neither = 0;
    long lost = 0;
    long doubled = 0;
    long torn = 0;
    long deliveries = 0;
    long cut = 0;
    for (int k = 0; k < kills; ++k) {
        const Op op = ops[static_cast<std::size_t>(k) % ops.size()];
        const Bench::Span& span = spans[op];
        // Half anywhere in the change, half while the log is written.
        const bool writing = k % 8 >= 4;
        const double when = std::uniform_real_distribution<double>(
            0, writing ? span.ended - span.ready : span.ended)(random);
        const Bench::Trial trial = bench.kill_at(op, writing, when, k);
        ++per_op[op];
        ++landed[op][trial.landed];
        const std::string first_line = trial.said.substr(0, trial.said.find('\n'));
        // The message without the log's name.
        ++said[first_line.empty() ? "(nothing)" : first_line.substr(0, first_line.rfind(" /"))];
        old_content += trial.old_content ? 1 : 0;
        new_content += trial.new_content ? 1 : 0;
        neither += trial.old_content || trial.new_content ? 0 : 1;
        lost += trial.lost;
        doubled += trial.doubled;
        torn += trial.torn;
        deliveries += trial.deliveries;
        cut += trial.cut;
    }
    std::printf("kills              %d (", kills);
    for (const Op op : ops) {
        std::printf("%s %d%s", op_name(op), per_op[op], op == Op::Undo ? ")\n" : ", ");
    }
    for (const Landed where : {Landed::Before, Landed::Staging, Landed::Writing, Landed::After}) {
        int all = 0;
        std::string each;
        for (const Op op : ops) {
            all += landed[op][where];
            each += std::string(each.empty() ? "" : ", ") + op_name(op) + " " +
                    std::to_string(landed[op][where]);
        }
        std::printf("landed             %2d %s (%s)\n", all, landed_name(where), each.c_str());
    }
    for (const auto& [text, times] : said) {
        std::printf("the start said     %2d \"%s\"\n", times, text.c_str());
    }
    std::printf("the log after      %d old content, %d new content, %d neither\n", old_content,
                new_content, neither);
    std::printf("deliveries         %ld, of which %ld went with an emptying made before them\n",
                deliveries, cut);
    std::printf("lost %ld, doubled %ld, torn %ld\n", lost, doubled, torn);
    return neither == 0 && lost == 0 && doubled == 0 && torn == 0 ? 0 : 1;
}
