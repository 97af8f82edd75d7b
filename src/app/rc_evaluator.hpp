#pragma once

#include <cstddef>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Where a value comes from that only the running Procmail could give: the
// output of a command in backquotes, its process id or its arguments.
struct RcUnknown {
    std::string file;       // the rc file
    int line = 0;           // the line, counted from 1
    std::string variable;   // the variable assigned on that line
    std::string source;     // "the output of `date`, which Lurko does not run"
    std::string needed_by;  // what could not be known without it: LOGFILE, INCLUDERC...

    // "<file> line <n>: LOGFILE needs <source>; give the log as an argument",
    // or "LOGFILE depends on PMDIR, <source>" when it came through another
    // variable.
    std::string message() const;
};

// A value as Procmail has it, or, with `unknown`, where it would come from.
struct RcValue {
    std::string text;
    std::optional<RcUnknown> unknown;
};

// Evaluates Procmail rc files as Procmail does for a mail that matches no
// recipe, without running anything: the assignments outside recipes and
// braces, in file order, with Procmail's quoting and substitutions; MAILDIR
// moves the directory that relative names are taken from, as Procmail's
// chdir does; INCLUDERC and SWITCHRC read other rc files. A value that needs
// a command is never computed: it is marked unknown, and so is everything
// that depends on it.
class RcEvaluator {
public:
    // One rc file read whole, and what tells it from others (its device and
    // inode), to keep an include from reading itself.
    struct Source {
        std::string text;
        std::string identity;
    };
    // Reads the rc file at a path: nullopt when it is not a regular file or
    // cannot be opened.
    using ReadFile = std::function<std::optional<Source>(const std::string& path)>;

    // Includes nested deeper than this are not read.
    static constexpr std::size_t include_depth = 16;
    // A longer value overflows Procmail's line buffer (LINEBUF): Procmail
    // drops the assignment.
    static constexpr std::size_t value_limit = 2048;

    RcEvaluator(std::string home, ReadFile read_file);

    // Evaluates the rc file `path`, already read as `source`.
    void evaluate(const std::string& path, const Source& source);

    // The log of the last LOGFILE assignment, a relative name joined to the
    // directory of its moment; empty text when there is none.
    RcValue logfile;
    // The directory after the rc, where Procmail takes relative folder names
    // from; set only when the rc assigns MAILDIR.
    std::optional<RcValue> mail_dir;

private:
    class Cursor;
    class ValueReader;
    enum class Mode { Assignment, Words };
    enum class Next { Continue, EndFile };

    // One value as Procmail's parser reads it: up to the first blank outside
    // quotes for an assignment, or to the end of the line for the words of a
    // recipe. Substitutions and commands are only looked at when `evaluate`.
    // nullopt when the value overflows.
    std::optional<RcValue> read_value(Cursor& in, Mode mode, bool evaluate,
                                      const std::string& variable);
    std::optional<RcValue> lookup(const std::string& name) const;
    void run_file(const std::string& path, const Source& source, const std::string& underscore,
                  std::size_t depth);
    void skip_recipe(Cursor& in, int& blocks);
    Next assign(const std::string& name, const std::optional<RcValue>& value, std::size_t depth);
    Next read_rc(const std::string& name, const RcValue& value, bool switching, std::size_t depth);
    // A relative name joined to the current directory; unknown with it.
    RcValue resolve(const RcValue& value) const;
    void stop_unknown(RcUnknown unknown, const std::string& needed_by);

    std::string home_;
    ReadFile read_file_;
    RcValue directory_;                                        // Procmail's current directory
    std::map<std::string, std::optional<RcValue>> variables_;  // nullopt: unset
    std::vector<std::string> open_files_;                      // identities, outermost first
    std::string file_;        // the rc file being read, for messages
    std::string underscore_;  // its name as $_ gives it
    bool stopped_ = false;    // HOST did not match, or an rc file to read is unknown
};
