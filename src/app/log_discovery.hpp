#pragma once

#include <string>
#include <string_view>

#include "log/line_scanner.hpp"

// True when stat succeeds on the path: any kind of entry, a directory too;
// a broken symbolic link does not count.
bool file_exists(const std::string& path);

// The home directory: HOME when it is set, else the home of the current
// user's password entry, else the empty text.
std::string home_directory();

// Reads the LOGFILE= line of ~/.procmailrc. Construction does the whole
// search and ends the process through fatal_error when there is no rc file.
//
// The last LOGFILE= line at the very start of a line wins; its value is taken
// as written (quotes, blanks and comments included) except that the first
// "$HOME" in it is replaced by the home directory.
class RcScanner : public LineScanner {
public:
    static constexpr std::string_view logfile_keyword = "LOGFILE=";

    RcScanner();

    std::string home;
    std::string found_logfile;

protected:
    void on_match(std::string_view line, int index) override;
};
