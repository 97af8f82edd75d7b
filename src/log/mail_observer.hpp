#pragma once

#include <cstdint>
#include <string_view>

// Told of every mail a MailLogScanner records, in log order, for those who
// act on new mail as it comes (the follow stream, notifications, the hook).
// A scanner without an observer pays nothing for it.
class MailObserver {
public:
    // How a scan of the log begins.
    enum class Read {
        Appended,   // only the bytes added since the last scan
        Continued,  // the whole log, which is the file read before and no shorter
        Replaced,   // the whole log, which is another file, or shorter than before
    };

    // A scan begins; `mails_before` mails had been read from the log before
    // this update. A scan that was begun and is then started over (the log
    // turned out not to have only grown) is told again: what it handed out
    // since the last call is void.
    virtual void on_read(Read read, std::uint64_t mails_before) = 0;

    // One recorded mail: the views are valid during the call only.
    virtual void on_mail(std::string_view folder, std::string_view from,
                         std::string_view subject) = 0;

protected:
    MailObserver() = default;
    MailObserver(const MailObserver&) = default;
    MailObserver& operator=(const MailObserver&) = default;
    ~MailObserver() = default;
};
