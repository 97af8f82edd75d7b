#include "app/log_discovery.hpp"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <istream>
#include <utility>

#include "app/command_line.hpp"
#include "app/fatal.hpp"
#include "log/fd_streambuf.hpp"
#include "log/unique_fd.hpp"
#include "ui/commands.hpp"

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

RcScanner::RcScanner(IfMissing if_missing) : LineScanner(LongLines::Skip), home(home_directory()) {
    keywords.emplace_back();  // the empty keyword: every line
    const std::string rc_path = home + "/.procmailrc";
    if (!file_exists(rc_path)) {
        if (if_missing == IfMissing::Fail) {
            fatal_error("Could not find Procmail config file '" + rc_path + "'");
        }
        return;
    }
    RcEvaluator rc(home, [this](const std::string& path) { return read(path); });
    // An rc file that cannot be read (a directory, say) names no log, and so
    // gives an empty log path, which the caller reports.
    if (const std::optional<RcEvaluator::Source> source = read(rc_path)) {
        rc.evaluate(rc_path, *source);
    }
    unknown_logfile = rc.logfile.unknown;
    if (!unknown_logfile) {
        found_logfile = rc.logfile.text;
    }
    if (rc.mail_dir && !rc.mail_dir->unknown) {
        mail_dir = rc.mail_dir->text;
    }
}

std::optional<RcEvaluator::Source> RcScanner::read(const std::string& path) {
    const UniqueFd rc = open_to_read(path);
    struct stat status {};
    if (!rc || ::fstat(rc.get(), &status) != 0 || !S_ISREG(status.st_mode)) {
        return std::nullopt;
    }
    text_.clear();
    FdStreamBuf buffer(rc.get());
    std::istream in(&buffer);
    scan(in);
    return RcEvaluator::Source{std::exchange(text_, {}),
                               std::to_string(status.st_dev) + ":" + std::to_string(status.st_ino)};
}

void RcScanner::on_match(std::string_view line, int /*index*/) {
    text_.append(line).push_back('\n');
}

void CommandLine::find_logfile() {
    // The rc's MAILDIR is where the folders are unless -M says otherwise; it
    // matters to the monitor alone, and without a log argument the rc is
    // read anyway.
    const bool want_mail_dir = !settings.mail_dir_given && settings.loop && !settings.clear_log;
    if (settings.logfile.empty() || want_mail_dir) {
        const RcScanner rc(settings.logfile.empty() ? RcScanner::IfMissing::Fail
                                                    : RcScanner::IfMissing::Ignore);
        if (settings.logfile.empty()) {
            if (rc.unknown_logfile) {
                fatal_error(rc.unknown_logfile->message());
            }
            settings.logfile = rc.found_logfile;
        }
        if (want_mail_dir && rc.mail_dir) {
            // A literal path, in the shell command line that opens a folder.
            settings.mail_dir = shell_quoted(*rc.mail_dir);
        }
    }
    if (!file_exists(settings.logfile)) {
        fatal_error("Could not find Procmail logfile '" + settings.logfile + "'");
    }
}
