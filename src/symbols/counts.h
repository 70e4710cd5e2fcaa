#pragma once
// Counts taken from expressions: k and n of k-of-n gates, customers, servers,
// tokens, arc multiplicities, loop passes, settings. The value of an
// expression is a double; before it becomes an integer, and before anything
// is sized by it, it must be finite and small enough to count through.

#include <climits>
#include <string>
#include <string_view>

#include "symbols/errors.h"

namespace corvel {

// How a real value becomes an integer count.
enum class CountRounding {
    Truncate,  // toward zero
    Nearest,   // floor(x + 0.5)
};

// The largest count a model element may hold: every count sizes or indexes a
// table (states, products, copies, tokens) held in memory.
constexpr long long kMaxCount = INT_MAX;
// The largest count a double holds exactly; callers with a limit of their own
// (and a message for it) check against that after this one.
constexpr long long kMaxExactCount = 1LL << 53;

// What becomes of a finite value beyond `limit`.
enum class CountBeyond {
    Refuse,  // error 169
    Clamp,   // comes back as limit + 1, for a caller with a message of its own
};

// Checks `value` and returns it as an integer after `how`. A value that is not
// a number or is infinite is reported as error 116, one that after rounding
// exceeds `limit` as error 169 (unless clamped), both at `level` with the text
// ": <place> is <value>", before any cast. Values down to -limit come back as
// they are, lower ones as -limit - 1, so the caller's own checks for values
// below its range (which carry their own messages) still see them.
long long checked_count(ErrorReporter& err, double value, CountRounding how, std::string_view place, int level,
                        long long limit = kMaxCount, CountBeyond beyond = CountBeyond::Refuse);

// How many index values low, low + step, ... up to high (within a small
// allowance) the loop named `place` runs through; refused like a count when
// the bounds or the step are not finite ("bound of <place>") or the passes
// exceed `limit` ("passes of <place>"). Zero when high < low.
long long checked_loop_passes(ErrorReporter& err, double low, double high, double step, std::string_view place,
                              int level, long long limit);

// A value that must be a number (a probability, a rate, a guard): error 116
// with the text ": <place> is <value>" (and `suffix`) at `level` when it is not
// finite. True when it is.
bool check_finite(ErrorReporter& err, double value, std::string_view place, int level,
                  std::string_view suffix = "");

// The text of an index substitution ("$" expr) of value v: its integer part,
// refused like a count (level 2) when it is not one.
std::string substitution_text(ErrorReporter& err, double v);

// The text of the reports above.
std::string count_fault_text(std::string_view place, double value);

}  // namespace corvel
