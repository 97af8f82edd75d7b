#include "app/new_mails.hpp"

#include <fnmatch.h>

#include <algorithm>

#include "app/inert_text.hpp"
#include "app/json.hpp"
#include "log/encoded_words.hpp"
#include "log/fd_io.hpp"
#include "log/folder.hpp"

bool is_ignored(const Settings& settings, std::string_view folder) {
    if (settings.ignore.empty()) {
        return false;
    }
    const std::string name(folder);
    const std::size_t slash = name.find_last_of('/', name.size() > 1 ? name.size() - 2 : 0);
    std::string last = slash == std::string::npos ? name : name.substr(slash + 1);
    if (last.size() > 1 && last.back() == '/') {
        last.pop_back();
    }
    return std::any_of(settings.ignore.begin(), settings.ignore.end(),
                       [&](const std::string& glob) {
                           return ::fnmatch(glob.c_str(), name.c_str(), 0) == 0 ||
                                  ::fnmatch(glob.c_str(), last.c_str(), 0) == 0;
                       });
}

void NewMails::on_read(Read read, std::uint64_t mails_before) {
    read_ = read;
    if (read == Read::Appended) {
        skip_ = 0;
    } else {
        skip_ = rule_ == Rule::Tail && read == Read::Replaced ? 0 : mails_before;
    }
    // What a read that is started over handed out is void.
    output_.clear();
    batch_ = {};
}

void NewMails::on_mail(std::string_view folder, std::string_view from, std::string_view subject) {
    if (skip_ > 0) {
        --skip_;
        return;
    }
    const bool ignored = is_ignored(settings_, folder);
    batch_.ringing += ignored ? 0 : 1;
    if (settings_.hide_devnull && folder == devnull_folder) {
        return;
    }
    if (format_ == Format::Text) {
        append_text(output_, folder, ControlBytes::Caret);
        output_.push_back('\t');
        append_text(output_, from, ControlBytes::Caret);
        output_.push_back('\t');
        append_text(output_, decode_encoded_words(subject), ControlBytes::Caret);
        output_.push_back('\n');
    } else if (format_ == Format::Json) {
        append_json_mail(output_, folder, from, subject);
        output_.push_back('\n');
    }
    // A read of appended bytes may still be started over, so its lines wait
    // for the end of the update; those of a whole read are written as they
    // pile up.
    constexpr std::size_t piece = std::size_t{1} << 16;
    if (read_ != Read::Appended && output_.size() >= piece) {
        flush();
    }
    if (ignored) {
        return;
    }
    ++batch_.count;
    if (batch_.mails.size() < NewMailBatch::max_kept) {
        batch_.mails.push_back({std::string(folder), std::string(from), std::string(subject)});
    }
    auto& by_folder = batch_.by_folder;
    const auto found = std::find_if(by_folder.begin(), by_folder.end(),
                                    [&](const auto& entry) { return entry.first == folder; });
    if (found != by_folder.end()) {
        ++found->second;
    } else if (by_folder.size() < NewMailBatch::max_kept) {
        by_folder.emplace_back(folder, 1);
    }
}

bool NewMails::flush() {
    if (out_fd_ >= 0 && written_ && !output_.empty()) {
        written_ = write_all(out_fd_, output_);
    }
    output_.clear();
    return written_;
}
