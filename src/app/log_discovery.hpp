#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "app/rc_evaluator.hpp"
#include "log/line_scanner.hpp"

// True when stat succeeds on the path: any kind of entry, a directory too;
// a broken symbolic link does not count.
bool file_exists(const std::string& path);

// The home directory: HOME when it is set, else the home of the current
// user's password entry, else the empty text.
std::string home_directory();

// Reads ~/.procmailrc, and the rc files it includes, and evaluates them as
// Procmail does for a mail that matches no recipe (see RcEvaluator): the log
// Procmail writes and the directory its folders are in. Construction does
// the whole search; with IfMissing::Fail a missing rc file ends the process
// through fatal_error.
//
// The files are read line by line, every line: a line cut at a NUL byte, and
// one of more than line_limit bytes left out whole (a path cut short would
// name another file).
class RcScanner : public LineScanner {
public:
    enum class IfMissing { Fail, Ignore };

    explicit RcScanner(IfMissing if_missing = IfMissing::Fail);

    // Reads one rc file: nullopt when it is not a regular file or cannot be
    // opened.
    std::optional<RcEvaluator::Source> read(const std::string& path);

    std::string home;
    std::string found_logfile;  // the log's path; empty when the rc names none
    // Set when the log's path needs what only Procmail knows (found_logfile
    // is empty then).
    std::optional<RcUnknown> unknown_logfile;
    // The directory of the folders, when the rc sets MAILDIR and it is known.
    std::optional<std::string> mail_dir;

protected:
    void on_match(std::string_view line, int index) override;

private:
    std::string text_;  // of the file being read
};
