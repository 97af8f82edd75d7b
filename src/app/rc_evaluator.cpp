#include "app/rc_evaluator.hpp"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <utility>

namespace {

constexpr int end_of_text = -1;
constexpr std::string_view dev_null = "/dev/null";

bool name_start(int c) {
    return c == '_' || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool is_digit(int c) {
    return c >= '0' && c <= '9';
}

bool name_char(int c) {
    return name_start(c) || is_digit(c);
}

bool is_directory(const std::string& path) {
    struct stat status {};
    return !path.empty() && ::stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

std::string host_name() {
    std::array<char, 256> name{};
    if (::gethostname(name.data(), name.size() - 1) != 0) {
        return {};
    }
    return name.data();
}

std::string join(const std::string& directory, std::string_view name) {
    if (name.starts_with('/')) {
        return std::string(name);
    }
    while (name.starts_with("./")) {
        name.remove_prefix(2);
    }
    return directory + (directory.ends_with('/') ? "" : "/") + std::string(name);
}

}  // namespace

std::string RcUnknown::message() const {
    std::string text = file + " line " + std::to_string(line) + ": " + needed_by;
    text += variable == needed_by ? std::string(" needs ") : " depends on " + variable + ", ";
    return text + source + "; give the log as an argument";
}

// The text of one rc file, read a byte at a time as Procmail reads it, with
// the line of the byte last read.
class RcEvaluator::Cursor {
public:
    explicit Cursor(std::string_view text) : text_(text) {}

    int get() {
        if (at_ >= text_.size()) {
            return end_of_text;
        }
        const char c = text_[at_++];
        if (c == '\n') {
            ++line_;
        }
        return static_cast<unsigned char>(c);
    }
    // Gives back the byte just read.
    void unget(int c) {
        if (c == end_of_text) {
            return;
        }
        --at_;
        if (c == '\n') {
            --line_;
        }
    }
    bool take(int wanted) {
        const int c = get();
        if (c == wanted) {
            return true;
        }
        unget(c);
        return false;
    }
    void skip_blanks() {
        while (take(' ') || take('\t')) {
        }
    }
    void skip_line() {
        for (int c = get(); c != '\n' && c != end_of_text; c = get()) {
        }
    }
    // A line and those a trailing backslash joins to it, as a recipe's
    // condition or command is read.
    void skip_continued_line() {
        bool joined = false;  // the line so far ends in a backslash
        for (int c = get(); c != end_of_text; c = get()) {
            if (c == '\n' && !joined) {
                return;
            }
            joined = c == '\\';
        }
    }
    // A variable name as Procmail takes one at the start of a statement: a
    // letter or '_', then letters, digits and '_'. `valid` when a blank, a
    // newline or '=' follows it.
    std::string name(bool& valid) {
        std::string name;
        int c = get();
        if (name_start(c)) {
            do {
                name.push_back(static_cast<char>(c));
                c = get();
            } while (name_char(c));
        }
        unget(c);
        valid = !name.empty() && (c == ' ' || c == '\t' || c == '\n' || c == '=');
        return name;
    }
    int line() const { return line_; }
    bool at_end() const { return at_ >= text_.size(); }

private:
    std::string_view text_;
    std::size_t at_ = 0;
    int line_ = 1;
};

RcEvaluator::RcEvaluator(std::string home, ReadFile read_file)
    : home_(std::move(home)), read_file_(std::move(read_file)) {
    // Procmail starts in the directory of the rc file, the home directory,
    // and names it in MAILDIR.
    directory_.text = home_.empty() ? "/" : home_;
    variables_["HOME"] = RcValue{home_, {}};
    variables_["MAILDIR"] = directory_;
    variables_["HOST"] = RcValue{host_name(), {}};
}

void RcEvaluator::evaluate(const std::string& path, const Source& source) {
    open_files_.clear();
    stopped_ = false;
    run_file(path, source, path, 0);
}

std::optional<RcValue> RcEvaluator::lookup(const std::string& name) const {
    if (const auto found = variables_.find(name); found != variables_.end()) {
        return found->second;
    }
    if (const char* value = std::getenv(name.c_str())) {
        return RcValue{value, {}};
    }
    if (name == "LOGNAME" || name == "USER" || name == "SHELL") {
        if (const passwd* entry = ::getpwuid(::getuid())) {
            const char* value = name == "SHELL" ? entry->pw_shell : entry->pw_name;
            if (value != nullptr && *value != '\0') {
                return RcValue{value, {}};
            }
        }
        return name == "SHELL" ? std::optional<RcValue>(RcValue{"/bin/sh", {}}) : std::nullopt;
    }
    return std::nullopt;
}

// One value as Procmail's parser reads it, a byte at a time: the state of
// its quoting, the ${...} open, and the alternative being passed over.
class RcEvaluator::ValueReader {
public:
    ValueReader(RcEvaluator& rc, Cursor& in, Mode mode, bool evaluate, const std::string& variable)
        : rc_(rc), in_(in), mode_(mode), skipping_(evaluate ? 0 : 1), variable_(variable) {}

    std::optional<RcValue> read() {
        int c = in_.get();
        while (step(c)) {
            c = next_ >= end_of_text ? next_ : in_.get();
            next_ = no_byte;
        }
        return overflow_ ? std::nullopt : std::optional<RcValue>(result_);
    }

private:
    // Procmail's states: nothing read yet, blanks after a word, a word, and
    // inside double or single quotes.
    enum State { Nothing = -1, Space = 0, Text = 1, Double = 2, Single = 3 };
    static constexpr int no_byte = end_of_text - 1;

    // Takes one byte; false when the value has ended.
    bool step(int c) {
        switch (c) {
            case end_of_text:
                return false;
            case '\\':
                if (got_ == Single) {
                    literal(c);
                } else if (c = in_.get(); c == end_of_text) {
                    return false;
                } else if (c != '\n') {  // a backslash before a newline joins the lines
                    escaped(c);
                }
                return true;
            case '`':
            case '$':
                if (got_ == Single) {
                    literal(c);
                } else if (c == '`') {
                    command();
                } else {
                    substitution();
                }
                return true;
            case '"':
                if (got_ == Double && quote_braces_ >= braces_) {
                    got_ = Text;
                } else if (got_ == Double || got_ == Single) {
                    literal(c);
                } else {
                    quote_braces_ = braces_;
                    got_ = Double;
                }
                return true;
            case '\'':
                if (got_ == Double) {
                    literal(c);
                } else {
                    got_ = got_ == Single ? Text : Single;
                }
                return true;
            case '}':
                if (in_braces()) {
                    close_brace();
                } else {
                    literal(c);
                }
                return true;
            case '#':
                if (got_ <= Space) {  // a comment where a word would begin
                    in_.skip_line();
                    return false;
                }
                literal(c);
                return true;
            case ' ':
            case '\t':
                if (got_ == Text) {
                    if (mode_ == Mode::Assignment) {
                        return false;
                    }
                    got_ = Space;
                    append(" ");
                } else if (got_ > Text) {
                    literal(c);
                }
                return true;
            case '\n':
                if (got_ <= Text) {
                    return false;
                }
                literal(c);
                return true;
            default:
                literal(c);
                return true;
        }
    }

    bool in_braces() const {
        return (got_ <= Text && braces_ > 0) || (got_ == Double && braces_ > quote_braces_);
    }

    void append(std::string_view text) {
        if (result_.text.size() + text.size() > value_limit) {
            overflow_ = true;
        } else {
            result_.text.append(text);
        }
    }

    void literal(int c) {
        append(std::string(1, static_cast<char>(c)));
        if (got_ <= Space) {
            got_ = Text;
        }
    }

    // A byte after a backslash, outside single quotes: inside double quotes
    // the backslash mostly stays.
    void escaped(int c) {
        bool keep_backslash = got_ > Text;
        switch (c) {
            case '#':
                keep_backslash = got_ > Space;
                break;
            case ' ':
            case '\t':
            case '\'':
                keep_backslash = got_ == Double;
                break;
            case '"':
            case '\\':
            case '$':
            case '`':
                keep_backslash = false;
                break;
            case '}':
                keep_backslash = keep_backslash && !in_braces();
                break;
            default:
                break;
        }
        if (keep_backslash) {
            append("\\");
        }
        literal(c);
    }

    void unknown(RcUnknown unknown) {
        if (skipping_ == 0 && !result_.unknown) {
            result_.unknown = std::move(unknown);
        }
    }

    void unknown(std::string source) {
        unknown(RcUnknown{rc_.file_, in_.line(), variable_, std::move(source), {}});
    }

    void insert(const std::optional<RcValue>& value) {
        if (value) {
            append(value->text);
            if (value->unknown) {
                unknown(*value->unknown);
            }
        }
        if (got_ <= Space) {
            got_ = Text;
        }
    }

    // A variable's value; Procmail's arguments are unknown.
    std::optional<RcValue> value_of(const std::string& name) {
        if (skipping_ > 0) {
            return std::nullopt;
        }
        if (!name.empty() && is_digit(name[0])) {
            unknown("an argument Procmail is started with ($" + name +
                    "), which only Procmail knows");
            return std::nullopt;
        }
        return rc_.lookup(name);
    }

    // `command`, which is never run: the value is unknown.
    void command() {
        const int line = in_.line();
        std::string text;
        int c = in_.get();
        for (; c != end_of_text && c != '`' && !(c == '"' && got_ == Double); c = in_.get()) {
            if (c == '\\') {
                c = in_.get();
                if (c == end_of_text) {
                    break;
                }
                if (c == '\n') {
                    continue;
                }
                if (c != '\\' && c != '$' && c != '`' && !(c == '"' && got_ == Double)) {
                    text.push_back('\\');
                }
            }
            text.push_back(static_cast<char>(c));
        }
        unknown(RcUnknown{rc_.file_,
                          line,
                          variable_,
                          "the output of `" + text + "`, which Lurko does not run",
                          {}});
        if (got_ != Double || c == '"') {  // a double quote ends the command and the quotes
            got_ = Text;
        }
    }

    // After a '$'.
    void substitution() {
        int c = in_.get();
        switch (c) {
            case '{':
                braced();
                return;
            case end_of_text:
                literal('$');
                next_ = c;
                return;
            case '@':  // no arguments; outside double quotes the '@' stays
                if (got_ != Double) {
                    next_ = c;
                }
                return;
            case '$':
                unknown("Procmail's process id ($$), which only Procmail knows");
                insert(std::nullopt);
                return;
            case '?':  // no program has run, no arguments, no score
            case '#':
            case '=':
                insert(RcValue{"0", {}});
                return;
            case '_':
                insert(RcValue{rc_.underscore_, {}});
                return;
            case '-':
                insert(value_of("LASTFOLDER"));
                return;
            default:
                break;
        }
        if (is_digit(c)) {
            insert(value_of(std::string(1, static_cast<char>(c))));
            return;
        }
        const bool quoted = c == '\\';
        if (quoted) {
            c = in_.get();
        }
        if (!name_char(c)) {
            literal('$');
            if (quoted && c != end_of_text) {
                if (c != '\n') {
                    escaped(c);
                }
            } else {
                next_ = c;
            }
            return;
        }
        std::string name;
        for (; name_char(c); c = in_.get()) {
            name.push_back(static_cast<char>(c));
        }
        next_ = c;
        std::optional<RcValue> value = value_of(name);
        if (quoted) {
            // $\name: the value as a regular expression that matches it
            // literally, behind an empty group.
            std::string pattern = "()";
            for (const char special : value.value_or(RcValue{}).text) {
                if (std::string_view("(|)*?+.^$[\\").find(special) != std::string_view::npos) {
                    pattern.push_back('\\');
                }
                pattern.push_back(special);
            }
            value = RcValue{std::move(pattern), value ? value->unknown : std::nullopt};
        }
        insert(value);
    }

    // After "${": ${name}, or ${name:-word} and the like, whose word is read
    // when it is taken, and otherwise passed over and replaced by the value.
    void braced() {
        std::string name;
        int c = in_.get();
        for (; name_char(c); c = in_.get()) {
            name.push_back(static_cast<char>(c));
        }
        if (!name.empty() && is_digit(name[0]) && name.size() > 1) {
            return;  // a bad substitution: it and the byte after it are dropped
        }
        std::optional<RcValue> value = value_of(name);
        const bool set = value.has_value();
        const bool filled = set && (!value->text.empty() || value->unknown);
        bool take_word = false;
        if (c == '}') {
            insert(value);
            return;
        }
        if (c == ':') {
            c = in_.get();
            if (c != '-' && c != '+') {
                return;
            }
            take_word = c == '-' ? !filled : filled;
            if (!filled) {
                value.reset();
            }
        } else if (c == '-' || c == '+') {
            take_word = c == '-' ? !set : set;
        } else {
            return;
        }
        if (value && value->unknown) {
            unknown(*value->unknown);
        }
        if (!take_word && skipping_ == 0) {
            ++skipping_;
            skip_back_ = SkipBack{result_.text.size(), braces_, value.value_or(RcValue{}), got_};
        }
        ++braces_;
    }

    void close_brace() {
        --braces_;
        if (skip_back_ && braces_ == skip_back_->braces) {
            --skipping_;
            result_.text.resize(skip_back_->at);
            got_ = skip_back_->got;
            insert(skip_back_->value);
            skip_back_.reset();
        }
    }

    struct SkipBack {
        std::size_t at;  // where the passed-over word began
        int braces;
        RcValue value;
        int got;
    };

    RcEvaluator& rc_;
    Cursor& in_;
    Mode mode_;
    int skipping_;  // above 0: nothing is looked up or marked unknown
    const std::string& variable_;
    int got_ = Nothing;
    int braces_ = 0;        // ${name...} open
    int quote_braces_ = 0;  // of them, those opened before the double quote
    std::optional<SkipBack> skip_back_;
    RcValue result_;
    bool overflow_ = false;
    int next_ = no_byte;  // a byte already read, to take next
};

std::optional<RcValue> RcEvaluator::read_value(Cursor& in, Mode mode, bool evaluate,
                                               const std::string& variable) {
    return ValueReader(*this, in, mode, evaluate, variable).read();
}

void RcEvaluator::run_file(const std::string& path, const Source& source,
                           const std::string& underscore, std::size_t depth) {
    const std::string outer_file = std::exchange(file_, path);
    const std::string outer_underscore = std::exchange(underscore_, underscore);
    open_files_.push_back(source.identity);
    Cursor in(source.text);
    int blocks = 0;  // braces open of recipes that did not match
    while (!stopped_) {
        for (;;) {
            in.skip_blanks();
            if (in.take('\n')) {
                continue;
            }
            if (in.take('#')) {
                in.skip_line();
                continue;
            }
            break;
        }
        const int c = in.get();
        if (c == end_of_text) {
            break;
        }
        if (c == ':') {
            skip_recipe(in, blocks);
            continue;
        }
        if (c == '}') {
            blocks = std::max(blocks - 1, 0);
            continue;
        }
        in.unget(c);
        bool valid = false;
        const std::string name = in.name(valid);
        if (!valid) {
            if (name.empty()) {
                in.skip_line();
            }
            continue;
        }
        in.skip_blanks();
        std::optional<RcValue> value;  // nullopt: the name alone unsets it
        if (in.take('=')) {
            value = read_value(in, Mode::Assignment, blocks == 0, name);
            if (!value) {
                continue;
            }
        }
        if (blocks == 0 && assign(name, value, depth) == Next::EndFile) {
            break;
        }
    }
    open_files_.pop_back();
    file_ = outer_file;
    underscore_ = outer_underscore;
}

void RcEvaluator::skip_recipe(Cursor& in, int& blocks) {
    for (;;) {
        // The flags line: the number of conditions, then letters.
        const std::string flags = read_value(in, Mode::Words, false, {}).value_or(RcValue{}).text;
        char* after = nullptr;
        // Procmail keeps the number in an int.
        int conditions = static_cast<int>(std::strtol(flags.c_str(), &after, 10));
        if (after == flags.c_str()) {
            const std::string_view letters = std::string_view(flags).substr(0, flags.find(':'));
            conditions = letters.find_first_of("AaEe") == std::string_view::npos ? 1 : 0;
        }
        bool skipped_empty = false;
        bool again = false;
        for (;;) {
            in.skip_blanks();
            --conditions;
            if (!in.take('*') && conditions < 0) {
                if (in.take('#')) {
                    in.skip_line();
                    continue;
                }
                if (in.take('\n')) {
                    skipped_empty = true;
                    continue;
                }
                again = skipped_empty && in.take(':');  // an action is missing
                break;
            }
            if (in.at_end()) {
                break;
            }
            in.skip_blanks();
            in.skip_continued_line();
        }
        if (!again) {
            break;
        }
    }
    // The action.
    in.skip_blanks();
    const int c = in.get();
    if (c == '|') {
        in.skip_continued_line();
        return;
    }
    if (c == end_of_text || c == '!') {
        if (c == '!') {
            read_value(in, Mode::Words, false, {});
        }
        return;
    }
    in.unget(c);
    bool valid = false;
    const std::string name = in.name(valid);
    if (valid) {
        in.skip_blanks();
        if (in.take('=')) {
            in.skip_blanks();
            if (in.take('|')) {  // VAR=|command takes its output
                in.skip_continued_line();
                return;
            }
            in.take('!');
        }
    } else if (name.empty() && in.take('{')) {
        if (in.take(' ') || in.take('\t') || in.take('\n')) {
            ++blocks;
            return;
        }
    }
    read_value(in, Mode::Words, false, {});
}

RcValue RcEvaluator::resolve(const RcValue& value) const {
    if (value.unknown || value.text.starts_with('/')) {
        return value;
    }
    if (directory_.unknown) {
        return directory_;
    }
    return RcValue{join(directory_.text, value.text), {}};
}

void RcEvaluator::stop_unknown(RcUnknown unknown, const std::string& needed_by) {
    unknown.needed_by = needed_by;
    logfile = RcValue{{}, unknown};
    mail_dir = logfile;
    stopped_ = true;
}

RcEvaluator::Next RcEvaluator::assign(const std::string& name, const std::optional<RcValue>& value,
                                      std::size_t depth) {
    variables_[name] = value;
    const RcValue text = value.value_or(RcValue{});
    if (name == "MAILDIR") {
        const RcValue target = resolve(text);
        if (target.unknown || (!text.text.empty() && is_directory(target.text))) {
            directory_ = target;
        } else {
            variables_[name] = RcValue{".", {}};  // a failed chdir leaves the directory
        }
        mail_dir = directory_;
    } else if (name == "LOGFILE") {
        logfile = text.text.empty() && !text.unknown ? text : resolve(text);
        if (logfile.unknown) {
            logfile.unknown->needed_by = name;
        }
    } else if (name == "INCLUDERC" || name == "SWITCHRC") {
        return read_rc(name, text, name == "SWITCHRC", depth);
    } else if (name == "HOST" && !text.unknown && text.text != host_name()) {
        stopped_ = true;  // Procmail stops reading rc files on another host
    }
    return Next::Continue;
}

RcEvaluator::Next RcEvaluator::read_rc(const std::string& name, const RcValue& value,
                                       bool switching, std::size_t depth) {
    if (value.text.empty() || value.text == dev_null) {
        // INCLUDERC reads nothing; SWITCHRC leaves the file being read.
        return value.unknown ? (stop_unknown(*value.unknown, name), Next::EndFile)
                             : (switching ? Next::EndFile : Next::Continue);
    }
    const RcValue path = resolve(value);
    if (path.unknown) {
        stop_unknown(*path.unknown, name);
        return Next::EndFile;
    }
    const std::optional<Source> source = read_file_(path.text);
    if (!source) {
        return Next::Continue;  // Procmail says it could not read it, and goes on
    }
    const bool open =
        std::find(open_files_.begin(), open_files_.end(), source->identity) != open_files_.end();
    if (!open && depth + 1 < include_depth && !source->text.empty()) {
        // $_ names an included file with MAILDIR in front of a relative name.
        const std::optional<RcValue> maildir = lookup("MAILDIR");
        std::string underscore = value.text;
        if (!value.text.starts_with('/') && maildir && maildir->text.starts_with('/')) {
            underscore = join(maildir->text, value.text);
        }
        run_file(path.text, *source, underscore, depth + 1);
    }
    return switching ? Next::EndFile : Next::Continue;
}
