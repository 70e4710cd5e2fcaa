#pragma once
// Numbered diagnostics. Every report names an entry of the message table, a
// severity level chosen by the caller and an optional text printed right after
// the message. Levels that end the run unwind with ProgramExit, caught in main;
// an input error in interactive use unwinds with CommandAbandoned, caught by the
// statement loop, which then goes on with the next command.

#include <functional>
#include <string>
#include <string_view>

#include "symbols/output.h"

namespace corvel {

constexpr int max_error_index = 226;
// The entry printed for a number outside the table.
constexpr int unknown_error_index = 223;
extern const char* const brisk_errlist[max_error_index + 1];

// Process exit statuses.
constexpr int kExitFailure = 255;    // "-1" of the message levels
constexpr int kExitAssert = 2;       // failed solver assertion
constexpr int kExitBddFailure = 1;   // BDD package and its record allocator

// Thrown to end the run; main flushes the output and exits with `status`.
struct ProgramExit {
    int status;
};

// Thrown after an input error in interactive use: the current command is
// abandoned and the statement loop reads the next one.
struct CommandAbandoned {};

enum ErrorLevel {
    kWarning = 1,
    kFatal = 2,
    kInputError = 3,
    kInternal = 4,
    kConsistency = 5,
};

struct SourceLocation {
    std::string file;
    int line = 0;
};

class ErrorReporter {
public:
    explicit ErrorReporter(Output& out) : out_(out) {}

    // True when statements come from the console (also in data-file mode): no
    // location is printed and input errors let the session go on.
    bool interactive = true;
    // Supplies the current input file and line for the location suffix.
    std::function<SourceLocation()> location_source;
    // Set while batch statements are read and run: every warning, fatal error
    // and consistency report then names the input line, whatever the caller
    // asked, except the start-up errors about the command line and its files
    // (81 to 85) and the floating-point trap (116).
    bool statement_locations = false;

    // The reporter. Returns for levels 1, 5, out-of-range levels; throws for the
    // others (level 3 in interactive use throws CommandAbandoned).
    void error(int number, int level, std::string_view text, bool with_location);

    // A model element is at fault: the text names the node or the edge, and the
    // location is requested for every level except 3.
    void ERR(int number, int level, std::string_view first, std::string_view second);

    // Flushes the output and ends the run with the given status.
    [[noreturn]] void exit_program(int status);

    // A failed solver assertion: prints the two lines to standard error and
    // ends the run with status 2.
    void InternalAssert(bool condition, std::string_view text);

    Output& out() { return out_; }

private:
    std::string location_suffix(bool with_location) const;
    Output& out_;
};

// ": edge A to B", ": node A" or "" for the ERR reports.
std::string make_msg(std::string_view first, std::string_view second);

}  // namespace corvel
