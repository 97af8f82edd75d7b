#include "log/journal.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>

#include "log/fd_io.hpp"

namespace {

constexpr std::uint32_t record_magic = 0x4c4b4a31;  // "LKJ1"
constexpr std::size_t header_size = 24;             // magic, type, length, hash
// A record longer than this is damage, not data: writers cut theirs smaller.
constexpr std::uint64_t max_payload = std::uint64_t{64} << 20;

// Numbers least significant byte first, whatever the machine's order.
template <class Number>
void put_number(std::string& out, Number value) {
    for (std::size_t byte = 0; byte < sizeof(Number); ++byte) {
        out.push_back(static_cast<char>((value >> (8 * byte)) & 0xff));
    }
}

template <class Number>
Number get_number(std::string_view in, std::size_t at) {
    Number value = 0;
    for (std::size_t byte = sizeof(Number); byte-- > 0;) {
        value = static_cast<Number>((value << 8) | static_cast<unsigned char>(in[at + byte]));
    }
    return value;
}

void put_u32(std::string& out, std::uint32_t value) {
    put_number(out, value);
}

std::uint32_t get_u32(std::string_view in, std::size_t at) {
    return get_number<std::uint32_t>(in, at);
}

std::uint64_t record_hash(std::uint32_t type, std::string_view payload) {
    std::string head;
    put_u32(head, type);
    put_u64(head, payload.size());
    return hash_bytes(payload, hash_bytes(head));
}

// Makes `dir` and its missing parents, 0700.
bool make_dirs(const std::string& dir) {
    if (::mkdir(dir.c_str(), 0700) == 0 || errno == EEXIST) {
        return true;
    }
    const std::size_t slash = dir.find_last_of('/');
    if (errno != ENOENT || slash == 0 || slash == std::string::npos) {
        return false;
    }
    return make_dirs(dir.substr(0, slash)) && (::mkdir(dir.c_str(), 0700) == 0 || errno == EEXIST);
}

}  // namespace

void put_u64(std::string& out, std::uint64_t value) {
    put_number(out, value);
}

std::uint64_t get_u64(std::string_view in, std::size_t at) {
    return get_number<std::uint64_t>(in, at);
}

std::uint64_t hash_bytes(std::string_view bytes, std::uint64_t hash) {
    // FNV-1a over eight bytes at a time (as the machine orders them: the
    // files are read where they were written), folded so that high bits
    // reach the low ones, then over the bytes left.
    constexpr std::uint64_t prime = 1099511628211ULL;
    std::size_t at = 0;
    for (; at + 8 <= bytes.size(); at += 8) {
        std::uint64_t word = 0;
        std::memcpy(&word, bytes.data() + at, sizeof word);
        hash = (hash ^ word) * prime;
        hash ^= hash >> 29;
    }
    for (; at < bytes.size(); ++at) {
        hash = (hash ^ static_cast<unsigned char>(bytes[at])) * prime;
    }
    return hash;
}

std::optional<JournalFiles> journal_files(const std::string& log_path) {
    std::string dir;
    if (const char* state = std::getenv("XDG_STATE_HOME"); state != nullptr && *state == '/') {
        dir = state;
    } else if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') {
        dir = std::string(home) + "/.local/state";
    } else {
        return std::nullopt;
    }
    dir += "/lurko";
    // The real path, so that every name of one log finds one journal; a log
    // not yet there by the path it will have.
    std::string real = log_path;
    if (char* resolved = ::realpath(log_path.c_str(), nullptr); resolved != nullptr) {
        real = resolved;
        std::free(resolved);  // NOLINT(cppcoreguidelines-no-malloc): realpath's own
    }
    std::array<char, 17> name{};
    std::snprintf(name.data(), name.size(), "%016llx",
                  static_cast<unsigned long long>(hash_bytes(real)));
    const std::string base = dir + "/" + name.data();
    make_dirs(dir);  // a failure shows when the files are opened
    return JournalFiles{dir, base + ".journal", base + ".redo", base + ".lock"};
}

bool RecordWriter::append(RecordType type, std::string_view payload) {
    std::string record;
    record.reserve(header_size + payload.size());
    put_u32(record, record_magic);
    put_u32(record, static_cast<std::uint32_t>(type));
    put_u64(record, payload.size());
    put_u64(record, record_hash(static_cast<std::uint32_t>(type), payload));
    record.append(payload);
    return write_all(fd_.get(), record);
}

bool RecordWriter::sync() const {
    return ::fdatasync(fd_.get()) == 0;
}

std::optional<Record> RecordReader::next(RecordType skip) {
    std::array<char, header_size> header{};
    if (read_fully_at(fd_, header.data(), header.size(), offset_) !=
        static_cast<ssize_t>(header.size())) {
        return std::nullopt;
    }
    const std::string_view head(header.data(), header.size());
    const std::uint64_t length = get_u64(head, 8);
    if (get_u32(head, 0) != record_magic || length > max_payload) {
        return std::nullopt;
    }
    if (skip != RecordType{} && static_cast<RecordType>(get_u32(head, 4)) == skip) {
        offset_ += static_cast<off_t>(header_size + length);
        return Record{skip, {}};
    }
    Record record{static_cast<RecordType>(get_u32(head, 4)), std::string(length, '\0')};
    if (read_fully_at(fd_, record.payload.data(), length,
                      offset_ + static_cast<off_t>(header_size)) != static_cast<ssize_t>(length) ||
        record_hash(get_u32(head, 4), record.payload) != get_u64(head, 16)) {
        return std::nullopt;
    }
    offset_ += static_cast<off_t>(header_size + length);
    return record;
}

FaultPoint::FaultPoint() {
    const char* fault = std::getenv("LURKO_FAULT");
    if (fault == nullptr) {
        return;
    }
    const std::string_view what(fault);
    if (what.starts_with("crash:")) {
        crash_at_ = std::strtol(fault + 6, nullptr, 10);
    } else if (what.starts_with("fail:")) {
        fail_at_ = std::strtol(fault + 5, nullptr, 10);
    } else if (what.starts_with("cut:")) {
        cut_at_ = std::strtol(fault + 4, nullptr, 10);
    }
}

bool FaultPoint::step() {
    ++steps_;
    if (steps_ == crash_at_) {
        ::kill(::getpid(), SIGKILL);
    }
    if (steps_ == fail_at_) {
        errno = EIO;
        return false;
    }
    return true;
}
