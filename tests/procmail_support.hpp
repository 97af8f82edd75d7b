#pragma once

// Real Procmail for the tests: an rc file whose rules route each message by
// its X-Route header, and what landed in the folders afterwards.

#include <algorithm>
#include <cstddef>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "test_support.hpp"

namespace procmail {

inline constexpr const char* binary = "/usr/bin/procmail";

// Where a message goes, by the X-Route header the rc file's rules look at.
enum class Route { Friends, Maildir, Absolute, DevNull, Default, Blank, Mh, Directory };

inline const char* route_header(Route route) {
    switch (route) {
        case Route::Friends:
            return "friends";
        case Route::Maildir:
            return "maildir";
        case Route::Absolute:
            return "absolute";
        case Route::DevNull:
            return "spam";
        case Route::Default:
            return "none";
        case Route::Blank:
            return "blank";
        case Route::Mh:
            return "mh";
        case Route::Directory:
            return "directory";
    }
    return "";
}

// ~/.procmailrc: the log in $HOME/procmail.log, mbox folders "friends",
// "family and friends" and $MAILDIR/bank, the maildir "lists.dev", the MH
// folder "work", the directory folder "reports", /dev/null, and
// $MAILDIR/inbox for the rest.
inline const std::string rc_text =
    "SHELL=/bin/sh\n"
    "PATH=/usr/bin:/bin\n"
    "MAILDIR=$HOME/Mail\n"
    "DEFAULT=$MAILDIR/inbox\n"
    "LOGFILE=$HOME/procmail.log\n"
    "LOCKEXT=.lock\n"
    // A busy lock file is tried again after LOCKSLEEP seconds, 8 unless set:
    // with several deliveries at once a burst would mostly wait.
    "LOCKSLEEP=1\n"
    "\n"
    ":0\n"
    "* ^X-Route: spam\n"
    "/dev/null\n"
    "\n"
    ":0\n"
    "* ^X-Route: maildir\n"
    "lists.dev/\n"
    "\n"
    ":0:\n"
    "* ^X-Route: friends\n"
    "friends\n"
    "\n"
    ":0:\n"
    "* ^X-Route: absolute\n"
    "$MAILDIR/bank\n"
    "\n:0:\n* ^X-Route: blank\nfamily and friends\n"
    "\n:0\n* ^X-Route: mh\nwork/.\n"
    "\n:0\n* ^X-Route: directory\nreports\n";

// The shell command that delivers the message in the file "$2" with the rc
// file of the home directory "$1". As a general mail filter (-m) procmail
// never falls back to the system mailbox; HOME and ORGMAIL keep every
// delivery in the home directory.
inline const std::string deliver_command =
    std::string(binary) + " -m \"HOME=$1\" \"ORGMAIL=$1/Mail/orgmail\" \"$1/.procmailrc\" < \"$2\"";

// The X-Seq numbers of the messages in a folder as a mail client finds them
// (an mbox file, the new/ directory of a maildir, the files of an MH or
// directory folder), in order.
inline std::vector<std::size_t> messages_in(const std::filesystem::path& folder) {
    namespace fs = std::filesystem;
    std::vector<std::size_t> numbers;
    const auto scan = [&](const fs::path& file) {
        std::istringstream lines(test::read_file(file));
        for (std::string line; std::getline(lines, line);) {
            if (line.starts_with("X-Seq: ")) {
                numbers.push_back(std::stoul(line.substr(7)));
            }
        }
    };
    if (fs::is_directory(folder)) {
        const bool maildir = fs::is_directory(folder / "new");
        for (const fs::directory_entry& file :
             fs::directory_iterator(maildir ? folder / "new" : folder)) {
            if (file.is_regular_file()) {
                scan(file.path());
            }
        }
    } else if (fs::exists(folder)) {
        scan(folder);
    }
    std::sort(numbers.begin(), numbers.end());
    return numbers;
}

}  // namespace procmail
