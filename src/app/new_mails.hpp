#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "app/settings.hpp"
#include "log/mail_observer.hpp"

// One new mail, its texts as logged.
struct NewMail {
    std::string folder;
    std::string from;
    std::string subject;
};

// The new mails of one read that announce themselves (not in an --ignore
// folder, not in a hidden /dev/null).
struct NewMailBatch {
    std::uint64_t count = 0;
    // New mails outside the --ignore folders, a hidden /dev/null included:
    // what rings the bell.
    std::uint64_t ringing = 0;
    // The first of them, at most max_kept: what the hook is run for.
    std::vector<NewMail> mails;
    // Their folders in order of first mail, with how many each received.
    std::vector<std::pair<std::string, std::uint64_t>> by_folder;

    static constexpr std::size_t max_kept = 64;
};

// Whether a folder is one of the --ignore globs: the glob is matched against
// the folder's name and against its last path component.
bool is_ignored(const Settings& settings, std::string_view folder);

// Picks the new mails out of what a MailLogScanner records, and for the
// follow stream writes each as a line (or a JSON object) into `output`.
//
// Which mails are new: those of a read of appended bytes; after the log was
// read whole, under Rule::Tail (the follow stream, as tail -F) every mail of
// a file that was replaced or got shorter, and the mails past the count read
// before of one that only grew; under Rule::Count (the monitor) the mails
// past the count read before.
class NewMails : public MailObserver {
public:
    enum class Rule : unsigned char { Tail, Count };
    enum class Format : unsigned char { None, Text, Json };

    // The lines go to `out_fd` (-1: none) when flush is called, and during a
    // whole read of a large log as they pile up.
    NewMails(const Settings& settings, Rule rule, Format format, int out_fd = -1)
        : settings_(settings), rule_(rule), format_(format), out_fd_(out_fd) {}

    void on_read(Read read, std::uint64_t mails_before) override;
    void on_mail(std::string_view folder, std::string_view from, std::string_view subject) override;

    // Writes out the lines of the update; false when they could not be
    // written (the reader went away), then and ever after.
    bool flush();

    // The new mails since the last call.
    NewMailBatch take() { return std::exchange(batch_, {}); }

private:
    const Settings& settings_;
    Rule rule_;
    Format format_;
    int out_fd_;
    bool written_ = true;
    Read read_ = Read::Appended;
    std::uint64_t skip_ = 0;  // mails of this read that are not new
    std::string output_;
    NewMailBatch batch_;
};
