#pragma once

#include <string>
#include <string_view>

// Empties the log, creating it when it is missing. A log that cannot be
// opened is left as it was, silently: the caller has nothing to add.
void truncate_log(const std::string& path);

// The log without the entries of the folder `folder_name`. An entry is the run
// of lines after the previous "  Folder: " line (or the start) up to and
// including its own "  Folder: " line, and it goes exactly when that line names
// the folder as the mail log scanner reads it. A last line without its newline
// ends no entry (it may still be being written). Every other byte stays, in order.
std::string filter_log(std::string_view log, std::string_view folder_name);

// What rewrite_log did. The program ignores it (failures are silent there);
// it tells tests which path was taken.
enum class RewriteOutcome {
    Rewritten,  // entries were removed from the log
    Unchanged,  // no entry names the folder: the log was not written at all
    Failed,     // the log could not be opened, read or written; see rewrite_log
};

// Removes the entries of `folder_name` from the log file in place, keeping its
// inode, owner, permissions, links and every other byte, plus whatever was
// appended meanwhile. A log that cannot be opened or read is not written.
RewriteOutcome rewrite_log(const std::string& path, std::string_view folder_name);
