#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

#include "log/folder.hpp"
#include "log/folder_index.hpp"
#include "log/line_scanner.hpp"
#include "log/log_bytes.hpp"
#include "log/mail_list.hpp"
#include "log/mail_observer.hpp"

// The first word after `keyword` at the front of `line`: empty when the rest
// is empty or starts with a blank or tab, else cut at the first blank or tab.
std::string_view word_after_keyword(std::string_view line, std::string_view keyword);

// The folder a "  Folder: " line names, as Procmail names it. Procmail pads
// the path with tabs before the size, so the name is the text up to the
// first tab, blanks trimmed at both ends (a line without a tab, which
// Procmail did not write, gives its first word). A file delivered into a
// maildir ("DIR/new/FILE"), an MH folder ("DIR/12") or a directory folder
// ("DIR/msg.AbC") counts for its folder DIR: the name is cut before the
// first "/new/", or else loses such a last component.
std::string_view folder_name_of(std::string_view folder_line);

// Reads the Procmail log into the list of folders that received mail, sorted
// most mails first. A mail is recorded when its "  Folder: " line is read,
// with the sender and subject of the "From " and " Subject: " lines that came
// since the previous one.
class MailLogScanner : public LineScanner {
public:
    static constexpr std::string_view from_keyword = "From ";
    static constexpr std::string_view subject_keyword = " Subject: ";
    static constexpr std::string_view folder_keyword = "  Folder: ";

    // What a read keeps of each mail.
    enum class Keep {
        Counts,  // only its folder's count: the folders' mail lists stay empty
        Mails,   // its sender and subject too, in its folder's mail list
    };

    explicit MailLogScanner(Keep keep = Keep::Mails);
    MailLogScanner(const MailLogScanner&) = delete;
    MailLogScanner& operator=(const MailLogScanner&) = delete;

    // Reads the whole log again and rebuilds the sorted folder list. A log
    // that cannot be opened gives an empty list.
    void reload(const std::string& path);

    // Brings the list up to date after the log changed. When the log is the
    // file read before and has only grown, only the new bytes are read;
    // otherwise (replaced, truncated, rewritten) it is read whole, as by
    // reload. Either way the list is rebuilt from everything read, so
    // folders removed from it come back, and it equals what reload gives.
    void update(const std::string& path);
    // The same for a log given as LogBytes (a file, or bytes in memory).
    void update(const LogBytes& log);

    // Makes the next update read the log whole: for after the program itself
    // rewrote or emptied it.
    void forget_read_position() { position_.valid = false; }

    // Makes the next update read the log whole, and keep out of the list the
    // folders removed from it since the last read: for a redraw the user
    // asked for, which shows the log as it is, marks as read kept.
    void reread_next_update() {
        position_.valid = false;
        keep_removals_ = true;
    }
    // Whether such a reread was asked for and has not happened yet: the
    // caller then updates whether or not the log changed.
    bool reread_pending() const { return keep_removals_; }

    // Drops the folder of that name from the list, if it is there; the others
    // keep their order. The log itself is not touched.
    void remove_folder(std::string name);

    // Tells `observer` (none: nullptr) of every mail the following updates
    // record. With Keep::Counts the senders and subjects are then read too.
    void set_observer(MailObserver* observer) { observer_ = observer; }

    // The folder list in display order.
    const std::vector<const Folder*>& folders() const { return folders_; }
    // Mails in the list, as of the last reload or removal.
    std::uint64_t total() const { return total_; }
    // Mails read from the log, before anything was removed from the list.
    std::uint64_t read_total() const { return read_total_; }
    // The folder named by the most recently read "  Folder: " line.
    const std::string& last_folder() const { return last_folder_; }

protected:
    void on_match(std::string_view line, int index) override;
    void on_lines_expire() override;

private:
    // How far the log has been read, to tell whether it only grew since.
    struct ReadPosition {
        bool valid = false;
        dev_t device = 0;
        ino_t inode = 0;
        std::uint64_t complete = 0;     // end of the last complete line read
        std::uint64_t end = 0;          // end of everything read, a last partial line included
        bool partial_recorded = false;  // that partial line was a Folder line
        std::string head;               // the first bytes of the log, up to `complete`
        std::string tail;              // the bytes just before `complete`, and after it up to `end`
        std::uint64_t tail_start = 0;  // where they begin
        timespec modified{};           // modification time at `end` bytes; zero when unknown
    };

    void record_mail(std::string_view folder_name);
    ScanResult scan_from(const LogBytes& log, std::uint64_t start);
    void clear_read();
    void read_whole(const LogBytes& log, MailObserver::Read read = MailObserver::Read::Replaced,
                    std::uint64_t mails_before = 0);
    bool read_appended(const LogBytes& log, const LogStatus& status);
    void remember_position(const LogBytes& log, const LogStatus& status, std::uint64_t start,
                           const ScanResult& result);
    void show_everything_read();
    void sort_folders();

    Keep keep_;
    MailObserver* observer_ = nullptr;
    ReadPosition position_;
    bool keep_removals_ = false;

    std::deque<Folder> read_folders_;  // every folder read, in order of first mail
    FolderIndex by_name_;
    std::vector<const Folder*> folders_;  // the list shown, in display order
    MailStore mails_;
    const Folder* last_read_ = nullptr;  // the folder of the last Folder line of this scan

    // The sender and subject for the next mail: views of the scanned lines,
    // copied into the strings below only when those lines expire.
    std::string_view pending_subject_;
    std::string_view pending_from_;
    std::string kept_subject_;
    std::string kept_from_;
    std::string last_folder_;
    std::uint64_t total_ = 0;
    std::uint64_t read_total_ = 0;
};
