#include "log/log_maintenance.hpp"

#include <cstring>

#include "log/line_scanner.hpp"
#include "log/mail_log_scanner.hpp"

void LogFilter::hold(std::string_view part) {
    if (too_long_) {
        return;
    }
    if (held_.size() + part.size() > LineScanner::line_limit) {
        too_long_ = true;  // judged by its first bytes, as the scanner cuts it
        part = part.substr(0, LineScanner::line_limit - held_.size());
    }
    held_.append(part);
}

void LogFilter::end_line(std::string_view line, std::uint64_t line_begin, std::uint64_t line_end,
                         std::vector<Run>& keep) {
    // (A NUL in a keyword's place would not match either, so the lines are
    // cut at a NUL only once they match.)
    const bool from = line.starts_with(MailLogScanner::from_keyword);
    if (from || line.starts_with(MailLogScanner::subject_keyword)) {
        ++(from ? froms_ : subjects_);
        if (tracked_.size() < max_tracked) {
            tracked_.push_back({line_begin, line_end});
        }
        return;
    }
    if (!line.starts_with(MailLogScanner::folder_keyword)) {
        return;
    }
    line = line.substr(0, line.find('\0'));
    if (folder_name_of(line) == folder_) {
        if (entry_start_ > kept_to_) {
            keep.push_back({kept_to_, entry_start_});
        }
        if (froms_ > 1 || subjects_ > 1) {
            keep.insert(keep.end(), tracked_.begin(), tracked_.end());  // interleaved
        }
        kept_to_ = line_end;
        dropped_ = true;
    }
    entry_start_ = line_end;
    tracked_.clear();
    froms_ = 0;
    subjects_ = 0;
}

void LogFilter::feed(std::string_view bytes, std::vector<Run>& keep) {
    const char* const base = bytes.data();
    const char* at = base;
    const char* const end = base + bytes.size();
    while (at < end) {
        const auto* newline = static_cast<const char*>(std::memchr(at, '\n', end - at));
        if (newline == nullptr) {
            hold(std::string_view(at, end - at));
            break;
        }
        std::string_view line(at, newline - at);
        if (!held_.empty() || too_long_) {
            hold(line);
            line = held_;
        }
        const std::uint64_t line_end = fed_ + static_cast<std::uint64_t>(newline + 1 - base);
        end_line(line.substr(0, LineScanner::line_limit), line_begin_, line_end, keep);
        line_begin_ = line_end;
        held_.clear();
        too_long_ = false;
        at = newline + 1;
    }
    fed_ += bytes.size();
    if (entry_start_ > kept_to_) {
        keep.push_back({kept_to_, entry_start_});
        kept_to_ = entry_start_;
    }
}

void LogFilter::finish(std::vector<Run>& keep) {
    if (fed_ > kept_to_) {
        keep.push_back({kept_to_, fed_});
        kept_to_ = fed_;
    }
}

std::string filter_log(std::string_view log, std::string_view folder_name) {
    LogFilter filter(folder_name);
    std::vector<LogFilter::Run> keep;
    filter.feed(log, keep);
    filter.finish(keep);
    std::string kept;
    kept.reserve(log.size());
    for (const LogFilter::Run& run : keep) {
        kept.append(log.substr(run.begin, run.end - run.begin));
    }
    return kept;
}
