#include "log/mail_log_scanner.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cstring>
#include <utility>

#include "log/unique_fd.hpp"

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace {

enum Keyword : int { FromLine = 0, SubjectLine = 1, FolderLine = 2 };

constexpr std::string_view maildir_new = "/new/";

// Marks the bytes of `word` that equal `byte` with their high bit. Exact for
// the lowest marked byte (bits above a true match may be set falsely), which
// is all blank_offset needs.
constexpr std::uint64_t mark_byte(std::uint64_t word, unsigned char byte) {
    constexpr std::uint64_t ones = 0x0101010101010101;
    constexpr std::uint64_t highs = 0x8080808080808080;
    const std::uint64_t x = word ^ (ones * byte);
    return (x - ones) & ~x & highs;
}

// Up to eight bytes as a word whose lowest byte is the first of them, on a
// machine of either byte order: mark_byte is exact only for the lowest match.
// Missing bytes are 'A', which is no blank.
std::uint64_t low_first_word(const char* bytes, std::size_t count) {
    static_assert(std::endian::native == std::endian::little ||
                  std::endian::native == std::endian::big);
    std::uint64_t word = 0x4141414141414141;
    std::memcpy(&word, bytes, count);
    if constexpr (std::endian::native == std::endian::big) {
        word = __builtin_bswap64(word);
    }
    return word;
}

// Offset of the first blank or tab in `text`, or its size when it has none.
// Senders and folder paths are long enough for this to show in the time of a
// large log, so whole blocks of bytes are tested at once.
std::size_t blank_offset(std::string_view text) {
    std::size_t at = 0;
#ifdef __SSE2__
    for (; at + 16 <= text.size(); at += 16) {
        const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text.data() + at));
        const __m128i blanks = _mm_or_si128(_mm_cmpeq_epi8(block, _mm_set1_epi8(' ')),
                                            _mm_cmpeq_epi8(block, _mm_set1_epi8('\t')));
        if (const auto mask = static_cast<unsigned>(_mm_movemask_epi8(blanks)); mask != 0) {
            return at + static_cast<std::size_t>(std::countr_zero(mask));
        }
    }
#endif
    for (; at < text.size(); at += 8) {
        const std::size_t count = std::min<std::size_t>(8, text.size() - at);
        const std::uint64_t word = low_first_word(text.data() + at, count);
        const std::uint64_t marks = mark_byte(word, ' ') | mark_byte(word, '\t');
        if (marks != 0) {
            return at + static_cast<std::size_t>(std::countr_zero(marks)) / 8;
        }
    }
    return text.size();
}

// Offset of the first "/new/" in `word`, or its size when it has none. Paths
// hold many slashes: they are found sixteen bytes at a time.
std::size_t maildir_new_offset(std::string_view word) {
    std::size_t at = 0;
#ifdef __SSE2__
    for (; at + 16 <= word.size(); at += 16) {
        const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(word.data() + at));
        auto slashes =
            static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(block, _mm_set1_epi8('/'))));
        for (; slashes != 0; slashes &= slashes - 1) {
            const std::size_t slash = at + static_cast<std::size_t>(std::countr_zero(slashes));
            if (word.substr(slash, maildir_new.size()) == maildir_new) {
                return slash;
            }
        }
    }
#endif
    return std::min(word.find(maildir_new, at), word.size());
}

// The `count` bytes at `offset`, or fewer where the log ends; false when
// they cannot be read.
bool bytes_at(const LogBytes& log, std::uint64_t offset, std::string& out, std::size_t count) {
    out.resize(count);
    const ssize_t got = log.read_at(out.data(), count, offset);
    out.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
    return got >= 0;
}

bool same_time(const timespec& a, const timespec& b) {
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

// A file that Procmail names inside a folder that is a directory: an MH
// message ("1", "2", ...) or the unique name it gives a file in a plain
// directory folder ("msg.AbC").
bool is_message_file(std::string_view name) {
    const auto all_of = [](std::string_view text, auto&& allowed) {
        return !text.empty() && std::all_of(text.begin(), text.end(), allowed);
    };
    const auto digit = [](char c) { return c >= '0' && c <= '9'; };
    if (all_of(name, digit)) {
        return true;
    }
    constexpr std::string_view unique_prefix = "msg.";
    return name.starts_with(unique_prefix) &&
           all_of(name.substr(unique_prefix.size()), [&](char c) {
               return digit(c) || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '-' ||
                      c == '_';
           });
}

// The sum of the mail counts of `folders`.
std::uint64_t mail_count(const std::vector<const Folder*>& folders) {
    std::uint64_t count = 0;
    for (const Folder* folder : folders) {
        count += folder->count;
    }
    return count;
}

}  // namespace

std::string_view word_after_keyword(std::string_view line, std::string_view keyword) {
    const std::string_view rest = line.substr(std::min(keyword.size(), line.size()));
    return rest.substr(0, blank_offset(rest));
}

std::string_view folder_name_of(std::string_view folder_line) {
    const std::string_view keyword = MailLogScanner::folder_keyword;
    const std::string_view rest = folder_line.substr(std::min(keyword.size(), folder_line.size()));
    std::string_view name;
    if (const std::size_t tab = rest.find('\t'); tab != std::string_view::npos) {
        name = rest.substr(0, tab);
        name.remove_prefix(std::min(name.find_first_not_of(' '), name.size()));
        name.remove_suffix(name.size() - (name.find_last_not_of(' ') + 1));
    } else {
        name = word_after_keyword(folder_line, keyword);  // not written by Procmail
    }
    if (const std::size_t cut = maildir_new_offset(name); cut != name.size()) {
        return name.substr(0, cut);
    }
    const std::size_t slash = name.rfind('/');
    if (slash != std::string_view::npos && slash > 0 && is_message_file(name.substr(slash + 1))) {
        return name.substr(0, slash);
    }
    return name;
}

MailLogScanner::MailLogScanner(Keep keep) : keep_(keep) {
    keywords.emplace_back(from_keyword);
    keywords.emplace_back(subject_keyword);
    keywords.emplace_back(folder_keyword);
}

void MailLogScanner::on_match(std::string_view line, int index) {
    if (keep_ == Keep::Counts && observer_ == nullptr && index != FolderLine) {
        return;  // senders and subjects are not kept
    }
    switch (index) {
        case FromLine:
            pending_from_ = word_after_keyword(line, from_keyword);
            break;
        case SubjectLine:
            pending_subject_ = line.substr(subject_keyword.size());
            break;
        case FolderLine:
            record_mail(folder_name_of(line));
            break;
        default:
            break;
    }
}

void MailLogScanner::on_lines_expire() {
    const auto keep = [](std::string_view& pending, std::string& kept) {
        if (pending.data() != kept.data()) {
            kept.assign(pending);
            pending = kept;
        }
    };
    keep(pending_from_, kept_from_);
    keep(pending_subject_, kept_subject_);
}

void MailLogScanner::record_mail(std::string_view folder_name) {
    Folder* folder = by_name_.find(folder_name);
    if (folder == nullptr) {
        // A deque never moves its elements, so the index can point at them.
        folder = &read_folders_.emplace_back(Folder{std::string(folder_name), 0, {}});
        by_name_.insert(folder);
    }
    ++folder->count;
    if (observer_ != nullptr) {
        observer_->on_mail(folder->name, pending_from_, pending_subject_);
    }
    if (keep_ == Keep::Mails || observer_ != nullptr) {
        if (keep_ == Keep::Mails) {
            mails_.append(folder->mails, pending_from_, pending_subject_);
        }
        pending_from_ = {};
        pending_subject_ = {};
    }
    ++read_total_;
    last_read_ = folder;
}

// Scans the log from `start` and names the folder of its last Folder line,
// if it has one, as the last folder: once per scan rather than per mail.
ScanResult MailLogScanner::scan_from(const LogBytes& log, std::uint64_t start) {
    last_read_ = nullptr;
    const ScanResult result = log.scan_from(*this, start);
    if (last_read_ != nullptr) {
        last_folder_ = last_read_->name;
    }
    return result;
}

void MailLogScanner::clear_read() {
    by_name_.clear();
    read_folders_.clear();
    folders_.clear();
    mails_.clear();
    last_read_ = nullptr;
    read_total_ = 0;
}

void MailLogScanner::reload(const std::string& path) {
    const UniqueFd fd = open_to_read(path);
    read_whole(LogBytes::file(fd.get()));  // a log that could not be opened reads as empty
    show_everything_read();
}

void MailLogScanner::update(const std::string& path) {
    const UniqueFd fd = open_to_read(path);
    update(LogBytes::file(fd.get()));
}

void MailLogScanner::update(const LogBytes& log) {
    std::vector<std::string> removed;
    if (std::exchange(keep_removals_, false)) {
        std::vector<const Folder*> listed = folders_;
        std::sort(listed.begin(), listed.end());
        for (const Folder& folder : read_folders_) {
            if (!std::binary_search(listed.begin(), listed.end(), &folder)) {
                removed.push_back(folder.name);
            }
        }
    }
    const std::uint64_t mails_before = read_total_;
    LogStatus status;
    const bool known = log.status(status);
    if (!known || !read_appended(log, status)) {
        // The same file read again whole (its first bytes kept, but rewritten
        // further on) or another one (replaced, truncated and written anew):
        // an observer that follows the log like tail -F tells them apart.
        std::string head;
        const bool same_file = known && position_.inode != 0 && status.device == position_.device &&
                               status.inode == position_.inode && status.size >= position_.end &&
                               bytes_at(log, 0, head, position_.head.size()) &&
                               head == position_.head;
        read_whole(log, same_file ? MailObserver::Read::Continued : MailObserver::Read::Replaced,
                   mails_before);
    }
    show_everything_read();
    for (std::string& name : removed) {
        remove_folder(std::move(name));
    }
}

void MailLogScanner::read_whole(const LogBytes& log, MailObserver::Read read,
                                std::uint64_t mails_before) {
    if (observer_ != nullptr) {
        observer_->on_read(read, mails_before);
    }
    clear_read();
    // An entry left half-written by the last read must not lend its sender or
    // subject to the first mail of this one.
    pending_from_ = {};
    pending_subject_ = {};
    position_ = ReadPosition{};
    LogStatus status;
    if (log.status(status)) {
        remember_position(log, status, 0, scan_from(log, 0));
    }
}

// Reads what was appended since the last read and returns true, or returns
// false when the log cannot be continued and must be read whole: it is
// another file, it got shorter, it kept its size but was written to, its
// first bytes, the bytes before the point reached or those of a partial last
// line differ, or a partial Folder line that already counted a mail has
// grown.
//
// What this cannot see: an edit in place that keeps those bytes and the size
// order, changing only bytes in between and growing the file (an editor that
// writes the file over, then a delivery). Redraw reads the log whole.
bool MailLogScanner::read_appended(const LogBytes& log, const LogStatus& status) {
    if (!position_.valid || status.device != position_.device || status.inode != position_.inode ||
        status.size < position_.end) {
        return false;
    }
    if (status.size == position_.end) {
        // Nothing new after a change of owner or mode; but bytes rewritten in
        // place (an edit, a truncation and a rewrite of the same length) move
        // the modification time.
        return same_time(status.modified, position_.modified);
    }
    if (position_.partial_recorded) {
        return false;
    }
    std::string seen;
    if (!bytes_at(log, position_.tail_start, seen, position_.tail.size()) ||
        seen != position_.tail || !bytes_at(log, 0, seen, position_.head.size()) ||
        seen != position_.head) {
        return false;
    }
    // The partial last line, if any, is read again from its start: a From or
    // Subject line sets its field again, whole this time.
    const std::uint64_t start = position_.complete;
    if (observer_ != nullptr) {
        observer_->on_read(MailObserver::Read::Appended, read_total_);
    }
    // Read again, a partial From or Subject line sets its field again, as
    // far as it has grown (up to the line limit).
    remember_position(log, status, start, scan_from(log, start));
    return true;
}

void MailLogScanner::remember_position(const LogBytes& log, const LogStatus& status,
                                       std::uint64_t start, const ScanResult& result) {
    constexpr std::size_t compared = 64;  // bytes of the head and of the tail
    position_.valid = true;
    position_.device = status.device;
    position_.inode = status.inode;
    position_.complete = start + result.complete_bytes;
    position_.end = start + result.bytes_read;

    const std::uint64_t partial = position_.end - position_.complete;
    position_.partial_recorded = false;
    std::string line;
    if (partial > 0 && bytes_at(log, position_.complete, line, folder_keyword.size())) {
        position_.partial_recorded = matches(folder_keyword, line);
    }

    // The tail runs on over a partial last line, as far as the scan keeps of
    // it, which must only grow: a partial From or Subject line edited so that
    // it sets its field no more must be read whole.
    const auto kept =
        static_cast<std::size_t>(std::min<std::uint64_t>(compared, position_.complete));
    const std::uint64_t tail_end = std::min(position_.end, position_.complete + line_limit);
    position_.tail_start = position_.complete - kept;
    const auto tail_size = static_cast<std::size_t>(tail_end - position_.tail_start);
    if (!bytes_at(log, position_.tail_start, position_.tail, tail_size) ||
        position_.tail.size() != tail_size || !bytes_at(log, 0, position_.head, kept) ||
        position_.head.size() != kept) {
        position_.valid = false;  // the next change reads the log whole
    }
    // Taken after the scan, and kept only when the file holds exactly what
    // was read; otherwise unknown, and a later change that leaves the size
    // at `end` reads the log whole.
    LogStatus after;
    position_.modified =
        log.status(after) && after.size == position_.end ? after.modified : timespec{};
}

void MailLogScanner::show_everything_read() {
    folders_.clear();
    folders_.reserve(read_folders_.size());
    for (const Folder& folder : read_folders_) {
        folders_.push_back(&folder);
    }
    sort_folders();
    total_ = mail_count(folders_);
}

void MailLogScanner::sort_folders() {
    std::sort(folders_.begin(), folders_.end(),
              [](const Folder* a, const Folder* b) { return folder_less(*b, *a); });
}

void MailLogScanner::remove_folder(std::string name) {
    const auto found = std::find_if(folders_.begin(), folders_.end(),
                                    [&name](const Folder* folder) { return folder->name == name; });
    if (found != folders_.end()) {
        folders_.erase(found);  // keeps the display order of the others
    }
    total_ = mail_count(folders_);
}
