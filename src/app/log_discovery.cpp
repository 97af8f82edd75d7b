#include "app/log_discovery.hpp"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <istream>

#include "app/command_line.hpp"
#include "app/fatal.hpp"
#include "log/fd_streambuf.hpp"
#include "log/unique_fd.hpp"

bool file_exists(const std::string& path) {
    struct stat status {};
    return ::stat(path.c_str(), &status) == 0;
}

std::string home_directory() {
    if (const char* home = std::getenv("HOME")) {
        return home;
    }
    if (const passwd* entry = ::getpwuid(::getuid()); entry && entry->pw_dir) {
        return entry->pw_dir;
    }
    return {};
}

RcScanner::RcScanner() : home(home_directory()) {
    keywords.emplace_back(logfile_keyword);
    const std::string rc_path = home + "/.procmailrc";
    if (!file_exists(rc_path)) {
        fatal_error("Could not find Procmail config file '" + rc_path + "'");
    }
    // An rc file that cannot be opened or read (a directory, say) gives no
    // LOGFILE= line, and so an empty log path, which the caller reports.
    const UniqueFd rc = open_to_read(rc_path);
    if (rc) {
        FdStreamBuf buffer(rc.get());
        std::istream in(&buffer);
        scan(in);
    }
}

void RcScanner::on_match(std::string_view line, int index) {
    if (index != 0) {
        return;
    }
    found_logfile.assign(line.substr(std::min(logfile_keyword.size(), line.size())));
    constexpr std::string_view variable = "$HOME";
    if (const auto at = found_logfile.find(variable); at != std::string::npos) {
        found_logfile.replace(at, variable.size(), home);
    }
}

void CommandLine::find_logfile() {
    if (settings.logfile.empty()) {
        settings.logfile = RcScanner().found_logfile;
    }
    if (!file_exists(settings.logfile)) {
        fatal_error("Could not find Procmail logfile '" + settings.logfile + "'");
    }
}
