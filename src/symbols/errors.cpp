#include "symbols/errors.h"

#include <cstdio>

namespace corvel {

std::string make_msg(std::string_view first, std::string_view second) {
    if (first.empty()) return {};
    if (!second.empty()) return ": edge " + std::string(first) + " to " + std::string(second);
    return ": node " + std::string(first);
}

std::string ErrorReporter::location_suffix(bool with_location) const {
    if (!with_location || interactive || !location_source) return {};
    SourceLocation where = location_source();
    return format_string(" (%s: line %4d)", where.file.c_str(), where.line);
}

void ErrorReporter::exit_program(int status) {
    out_.flush();
    throw ProgramExit{status};
}

void ErrorReporter::error(int number, int level, std::string_view text_view, bool with_location) {
    if (level < kWarning || level > kConsistency) return;
    if (statement_locations && (level == kWarning || level == kFatal || level == kConsistency) &&
        !(number >= 81 && number <= 85) && number != 116)
        with_location = true;
    std::string suffix = location_suffix(with_location);
    if (number < 0 || number > max_error_index) {
        out_.printf("unknown error number: %d\n", number);
        number = unknown_error_index;
    }
    const char* message = brisk_errlist[number];
    std::string text(text_view);
    switch (level) {
        case kWarning:
            out_.printf("warning: %s%s%s.\n", message, text.c_str(), suffix.c_str());
            return;
        case kFatal:
            out_.printf("error: %s%s%s.", message, text.c_str(), suffix.c_str());
            out_.write("\n");
            exit_program(kExitFailure);
        case kInputError:
            out_.printf("error: %s%s%s.", message, text.c_str(), suffix.c_str());
            if (interactive) {
                out_.write("  Try again.\n");
                out_.flush();
                throw CommandAbandoned{};
            }
            out_.write("\n");
            exit_program(kExitFailure);
        case kInternal:
            out_.printf("internal error: %s%s\n", message, text.c_str());
            exit_program(kExitFailure);
        case kConsistency:
            out_.printf("**** internal consistency check failed:\n    %s%s%s.\n", message, text.c_str(),
                        suffix.c_str());
            return;
        default:
            return;
    }
}

void ErrorReporter::ERR(int number, int level, std::string_view first, std::string_view second) {
    error(number, level, make_msg(first, second), level != kInputError);
}

void ErrorReporter::InternalAssert(bool condition, std::string_view text) {
    if (condition) return;
    out_.flush();
    std::fprintf(stderr, "ERROR: %.*s\n", static_cast<int>(text.size()), text.data());
    std::fprintf(stderr, "Internal error, please contact the developers.\n");
    std::fflush(stderr);
    throw ProgramExit{kExitAssert};
}

}  // namespace corvel
