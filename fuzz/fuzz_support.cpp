#include "fuzz_support.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iterator>
#include <set>

#include "log/line_scanner.hpp"
#include "log/mail_log_scanner.hpp"

namespace fuzz {

namespace {

constexpr std::string_view from_keyword = "From ";
constexpr std::string_view subject_keyword = " Subject: ";
constexpr std::string_view folder_keyword = "  Folder: ";
constexpr std::string_view maildir_new = "/new/";

// Where scratch directories go: LURKO_FUZZ_TMPDIR when set, else /dev/shm when
// it is there (files in memory keep the targets fast; a disk file system may
// write a truncated and rewritten file out at once), else TMPDIR or /tmp.
std::string base_dir() {
    if (const char* chosen = std::getenv("LURKO_FUZZ_TMPDIR"); chosen != nullptr && *chosen) {
        return chosen;
    }
    if (::access("/dev/shm", W_OK | X_OK) == 0) {
        return "/dev/shm";
    }
    if (const char* tmp = std::getenv("TMPDIR"); tmp != nullptr && *tmp) {
        return tmp;
    }
    return "/tmp";
}

// Owns the scratch directory; the destructor runs when libFuzzer exits.
class ScratchDir {
public:
    ScratchDir() {
        std::string pattern = base_dir() + "/lurko-fuzz-XXXXXX";
        if (::mkdtemp(pattern.data()) == nullptr) {
            fail("cannot make the scratch directory", pattern + ": " + std::strerror(errno));
        }
        path_ = pattern;
    }
    ~ScratchDir() {
        std::error_code ignored;  // a directory left behind is harmless
        std::filesystem::remove_all(path_, ignored);
    }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    const std::string& path() const { return path_; }

private:
    std::string path_;
};

void write_with_flags(const std::string& path, std::string_view bytes, int flags) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | flags, 0600);
    if (fd < 0) {
        fail("cannot open a scratch file", path + ": " + std::strerror(errno));
    }
    while (!bytes.empty()) {
        const ssize_t put = ::write(fd, bytes.data(), bytes.size());
        if (put < 0 && errno == EINTR) {
            continue;
        }
        if (put <= 0) {
            ::close(fd);
            fail("cannot write a scratch file", path + ": " + std::strerror(errno));
        }
        bytes.remove_prefix(static_cast<std::size_t>(put));
    }
    if (::close(fd) != 0) {
        fail("cannot close a scratch file", path + ": " + std::strerror(errno));
    }
}

// The text with every byte outside printable ASCII written as \xHH.
std::string visible(std::string_view text) {
    std::string out;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x20 && byte < 0x7f && byte != '\\') {
            out += c;
        } else {
            char code[8];
            std::snprintf(code, sizeof code, "\\x%02x", byte);
            out += code;
        }
    }
    return out;
}

std::string describe(const std::vector<ModelFolder>& folders) {
    constexpr std::size_t limit = 8000;
    std::string out;
    for (const ModelFolder& folder : folders) {
        out += "  " + std::to_string(folder.mails.size()) + " [" + visible(folder.name) + "]\n";
        for (const ModelMail& mail : folder.mails) {
            out += "    [" + visible(mail.from) + "] [" + visible(mail.subject) + "]\n";
        }
        if (out.size() > limit) {
            return out + "  ...\n";
        }
    }
    return out;
}

// The first word of `rest`: empty when it starts with a blank or tab.
std::string_view first_word(std::string_view rest) {
    return rest.substr(0, rest.find_first_of(" \t"));
}

// The folder a Folder line names, from the text after the keyword: up to
// the first tab with blanks trimmed (without a tab, the first word), then
// cut before "/new/", or else without a last path component that is all
// digits or "msg." and letters, digits, '-' and '_' (after a slash that is
// not the first byte).
std::string_view folder_name(std::string_view rest) {
    std::string_view name = first_word(rest);
    if (const std::size_t tab = rest.find('\t'); tab != std::string_view::npos) {
        name = rest.substr(0, tab);
        while (!name.empty() && name.front() == ' ') {
            name.remove_prefix(1);
        }
        while (!name.empty() && name.back() == ' ') {
            name.remove_suffix(1);
        }
    }
    if (const std::size_t cut = name.find(maildir_new); cut != std::string_view::npos) {
        return name.substr(0, cut);
    }
    const std::size_t slash = name.rfind('/');
    if (slash == std::string_view::npos || slash == 0) {
        return name;
    }
    std::string_view last = name.substr(slash + 1);
    if (last.starts_with("msg.")) {
        last.remove_prefix(4);
        if (!last.empty() &&
            last.find_first_not_of("0123456789abcdefghijklmnopqrstuvwxyz"
                                   "ABCDEFGHIJKLMNOPQRSTUVWXYZ-_") == std::string_view::npos) {
            return name.substr(0, slash);
        }
    } else if (!last.empty() && last.find_first_not_of("0123456789") == std::string_view::npos) {
        return name.substr(0, slash);
    }
    return name;
}

// True when `a` comes after `b` in unsigned byte order (a prefix comes first).
bool name_greater(std::string_view a, std::string_view b) {
    const std::size_t common = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < common; ++i) {
        const auto x = static_cast<unsigned char>(a[i]);
        const auto y = static_cast<unsigned char>(b[i]);
        if (x != y) {
            return x > y;
        }
    }
    return a.size() > b.size();
}

bool has_any(std::string_view text, std::string_view bytes) {
    return text.find_first_of(bytes) != std::string_view::npos;
}

}  // namespace

void fail(const char* what, const std::string& detail) {
    std::fprintf(stderr, "\n*** fuzz invariant broken: %s\n%s\n", what, detail.c_str());
    std::fflush(stderr);
    std::abort();
}

const std::string& scratch_dir() {
    static const ScratchDir dir;
    return dir.path();
}

std::string scratch_path(std::string_view name) {
    return scratch_dir() + "/" + std::string(name);
}

void write_file(const std::string& path, std::string_view bytes) {
    write_with_flags(path, bytes, O_TRUNC);
}

void append_file(const std::string& path, std::string_view bytes) {
    write_with_flags(path, bytes, O_APPEND);
}

std::string read_file(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        fail("cannot open a scratch file for reading", path + ": " + std::strerror(errno));
    }
    std::string bytes;
    char block[65536];
    for (;;) {
        const ssize_t got = ::read(fd, block, sizeof block);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            ::close(fd);
            fail("cannot read a scratch file", path + ": " + std::strerror(errno));
        }
        if (got == 0) {
            break;
        }
        bytes.append(block, static_cast<std::size_t>(got));
    }
    ::close(fd);
    return bytes;
}

std::uint64_t hash_of(std::string_view bytes) {
    std::uint64_t hash = 0xcbf29ce484222325;  // FNV-1a
    for (const char c : bytes) {
        hash = (hash ^ static_cast<unsigned char>(c)) * 0x100000001b3;
    }
    return hash ^ bytes.size();
}

std::uint64_t Choices::next() {
    std::uint64_t z = (state_ += 0x9e3779b97f4a7c15);  // splitmix64
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9;
    z = (z ^ (z >> 27)) * 0x94d049bb133111eb;
    return z ^ (z >> 31);
}

PieceStreamBuf::PieceStreamBuf(std::string_view bytes, std::uint64_t seed, std::size_t max_piece)
    : bytes_(bytes), choices_(seed), max_piece_(std::max<std::size_t>(1, max_piece)) {}

std::size_t PieceStreamBuf::piece() {
    return 1 + choices_.below(max_piece_);
}

std::streamsize PieceStreamBuf::xsgetn(char* buffer, std::streamsize count) {
    if (gptr() < egptr()) {  // what underflow made available comes first
        const auto taken = std::min<std::streamsize>(count, egptr() - gptr());
        std::memcpy(buffer, gptr(), static_cast<std::size_t>(taken));
        gbump(static_cast<int>(taken));
        return taken;
    }
    const std::size_t size =
        std::min({static_cast<std::size_t>(count), piece(), bytes_.size() - at_});
    std::memcpy(buffer, bytes_.data() + at_, size);
    at_ += size;
    return static_cast<std::streamsize>(size);
}

PieceStreamBuf::int_type PieceStreamBuf::underflow() {
    if (gptr() < egptr()) {
        return traits_type::to_int_type(*gptr());
    }
    if (at_ == bytes_.size()) {
        return traits_type::eof();
    }
    // The get area points into the caller's bytes, which are never written.
    char* start = const_cast<char*>(bytes_.data() + at_);
    const std::size_t size = std::min(piece(), bytes_.size() - at_);
    at_ += size;
    setg(start, start, start + size);
    return traits_type::to_int_type(*gptr());
}

std::vector<std::string_view> scanned_lines(std::string_view text) {
    std::vector<std::string_view> lines;
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t newline = text.find('\n', at);
        const std::size_t end = newline == std::string_view::npos ? text.size() : newline;
        const std::string_view line = text.substr(at, end - at);
        const std::string_view kept = line.substr(0, LineScanner::line_limit);
        lines.push_back(kept.substr(0, kept.find('\0')));
        at = end + 1;
    }
    return lines;
}

LogModel model_of(std::string_view log) {
    LogModel model;
    std::string from;
    std::string subject;
    const std::vector<std::string_view> lines = scanned_lines(log);
    for (const std::string_view line : lines) {
        if (line.starts_with(from_keyword)) {
            from = first_word(line.substr(from_keyword.size()));
        } else if (line.starts_with(subject_keyword)) {
            subject = line.substr(subject_keyword.size());
        } else if (line.starts_with(folder_keyword)) {
            const std::string_view name = folder_name(line.substr(folder_keyword.size()));
            auto folder =
                std::find_if(model.folders.begin(), model.folders.end(),
                             [name](const ModelFolder& known) { return known.name == name; });
            if (folder == model.folders.end()) {
                model.folders.push_back(ModelFolder{std::string(name), {}});
                folder = std::prev(model.folders.end());
            }
            folder->mails.push_back({from, subject});
            from.clear();
            subject.clear();
            model.last_folder = name;
        }
    }
    // The last line the scanner saw is the text's unended last line exactly
    // when the text does not end with a newline and that line is short enough.
    const std::size_t last_start = log.rfind('\n') + 1;  // 0 when there is none
    if (!log.empty() && log.back() != '\n' && !lines.empty() &&
        lines.back().data() == log.data() + last_start &&
        lines.back().starts_with(folder_keyword)) {
        model.unended_folder = model.last_folder;
    }
    sort_for_display(model.folders);
    return model;
}

void sort_for_display(std::vector<ModelFolder>& folders) {
    std::stable_sort(folders.begin(), folders.end(),
                     [](const ModelFolder& a, const ModelFolder& b) {
                         if (a.mails.size() != b.mails.size()) {
                             return a.mails.size() > b.mails.size();
                         }
                         return name_greater(a.name, b.name);
                     });
}

bool same_list(const MailLogScanner& a, const MailLogScanner& b) {
    if (a.total() != b.total() || a.read_total() != b.read_total() ||
        a.folders().size() != b.folders().size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.folders().size(); ++i) {
        const Folder& x = *a.folders()[i];
        const Folder& y = *b.folders()[i];
        if (x.name != y.name || x.count != y.count || x.mails.size() != y.mails.size() ||
            !std::equal(x.mails.begin(), x.mails.end(), y.mails.begin(),
                        [](const MailEntry& m, const MailEntry& n) {
                            return m.from() == n.from() && m.subject() == n.subject();
                        })) {
            return false;
        }
    }
    return true;
}

std::vector<std::pair<std::string, std::uint64_t>> counts_of(const MailLogScanner& log) {
    std::vector<std::pair<std::string, std::uint64_t>> counts;
    for (const Folder* folder : log.folders()) {
        counts.emplace_back(folder->name, folder->count);
    }
    return counts;
}

std::vector<ModelFolder> folders_of(const MailLogScanner& log) {
    std::vector<ModelFolder> folders;
    for (const Folder* folder : log.folders()) {
        ModelFolder& shown = folders.emplace_back(ModelFolder{folder->name, {}});
        for (const MailEntry& mail : folder->mails) {
            shown.mails.push_back({std::string(mail.from()), std::string(mail.subject())});
        }
    }
    return folders;
}

void expect_same(const std::vector<ModelFolder>& got, const std::vector<ModelFolder>& want,
                 const char* what) {
    if (got != want) {
        fail(what, "got:\n" + describe(got) + "want:\n" + describe(want));
    }
}

void check_folder_list(const MailLogScanner& log) {
    const std::vector<const Folder*>& folders = log.folders();
    std::set<std::string_view> names;
    std::uint64_t sum = 0;
    for (std::size_t i = 0; i < folders.size(); ++i) {
        const Folder& folder = *folders[i];
        check(names.insert(folder.name).second, "folder names are unique");
        check(folder.count > 0, "every folder has a mail");
        check(folder.mails.empty() || folder.mails.size() == folder.count,
              "a folder lists all of its mails or, counted only, none");
        check(folder.name.find(maildir_new) == std::string::npos, "no folder name holds /new/");
        check(!has_any(folder.name, std::string_view("\t\n\0", 3)),
              "no folder name holds a tab, newline or NUL");
        check(folder.name.size() <= LineScanner::line_limit, "folder names fit in a line");
        for (const MailEntry& mail : folder.mails) {
            check(!has_any(mail.from(), std::string_view(" \t\n\0", 4)),
                  "no sender holds a blank, tab, newline or NUL");
            check(!has_any(mail.subject(), std::string_view("\n\0", 2)),
                  "no subject holds a newline or NUL");
        }
        if (i > 0) {
            check(folder_less(folder, *folders[i - 1]) && !folder_less(*folders[i - 1], folder),
                  "folders are in display order");
        }
        sum += folder.count;
    }
    check(log.total() == sum, "total() is the sum of the mail counts");
    check(log.read_total() >= log.total(), "read_total() is at least total()");
}

}  // namespace fuzz
