#pragma once
// How results look: the number format of table entries, the printed form of
// an exponomial, the summary of a distribution, evaluation tables over a time
// (or reward) range, and the headers the result statements print before their
// output. Which statement computes what is decided elsewhere; everything here
// only lays out what it is given. Every routine takes the output channel, the
// settings and, where it reports, the error reporter explicitly.

#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "expo/exponomial.h"
#include "symbols/errors.h"
#include "symbols/output.h"
#include "symbols/settings.h"

namespace corvel {

// ---------------------------------------------------------------------------
// Numbers

// One table entry: " %*.*le " with the current width and precision and one
// blank inserted before the "e" of the exponent, so 1 prints as
// " 1.0000 e+00 " at the default settings (width + 3 characters). Values of
// magnitude below results_epsilon print as +0.
std::string format_entry(const Settings& settings, double value);

// ---------------------------------------------------------------------------
// Exponomials

// Prints F one term per line, the variable letter being t (time) or r
// (reward). A null F prints "empty"; an empty one prints a single 0.
// Without imag_on, complex terms are printed once per conjugate pair as the
// real cosine and sine terms of the pair's sum; with imag_on every term is
// printed with its imaginary parts. The output is flushed.
void expo_print(Output& out, const Settings& settings, const Exponomial* F, char variable);
inline void expo_print(Output& out, const Settings& settings, const Exponomial& F, char variable) {
    expo_print(out, settings, &F, variable);
}

// The same printer in the shape the convolution trace wants; it reads
// `settings` when called, so they must outlive it.
std::function<void(Output&, const Exponomial&)> expo_printer(const Settings& settings,
                                                              char variable = 't');

// Masses at zero and at infinity, the continuous mass, the terms, and the mean
// and variance of the continuous part of the distribution F. Negative moments
// are consistency reports 124 and 125; the summary is printed all the same.
// A solver with a stable route can replace the closed-form moments
// (`moments` receives them and may change them) and print lines right after
// the term listing (`after_terms`, e.g. the cancellation warning).
struct SummaryGuard {
    std::function<void(double& mean, double& variance)> moments;
    std::function<void()> after_terms;
};
void print_distribution_info(Output& out, const Settings& settings, ErrorReporter& errors,
                             const Exponomial& F, char variable, const SummaryGuard* guard = nullptr);

// ---------------------------------------------------------------------------
// Evaluation tables

// The largest number of rows a table can have (0..100 increments).
constexpr int kMaxTableRows = 101;

// Checks the range of an evaluation table: from > to is warning 53,
// to − from > 100·increment warning 55 (level 1, with location). Returns 0
// when the range is accepted and -1 after a warning.
int check_eval_range(ErrorReporter& errors, double from, double to, double increment);

// The points of a table: from + k·increment for k = 0, 1, ... while the point
// is not above `to` by more than 1e-9·|increment|. A zero or negative
// increment gives the single point `from` (when from <= to); never more than
// kMaxTableRows points.
std::vector<double> eval_points(double from, double to, double increment);

// While the output channel records a table (Output::table_record), the
// header and row printers below also hand it every column title and every
// value they print, as printed (magnitudes below results_epsilon as 0) but
// at full precision.

// Columns of an evaluation table. For a system with n > 0 separate paths,
// columns 1..n are the paths and column n + 1 the overall distribution; a
// system without separate paths (n = 0) has the single column 1, "F(t)".
// Prints the header of the block of columns that starts at `first_column`
// and returns the first column of the next block, or 0 when this block
// reaches the last column.
int print_eval_header(Output& out, const Settings& settings, int first_column, int num_paths,
                      char variable);

// Header of a two-column table: the variable "t" and the label.
void print_r_header(Output& out, const Settings& settings, std::string_view label);

// The rows of one block of an evaluation table: each point t formatted, then
// every column's exponomial evaluated at t, one line per point. A value below
// −epsilon or above 1 + epsilon is consistency report 123 with ":%e" of the
// value, printed after its row.
// `value_of(column, t)`, when given, supplies the values instead of
// evaluating the columns' exponomials (a solver's guarded values).
using ColumnValue = std::function<double(std::size_t column, double t)>;
void print_eval_rows(Output& out, const Settings& settings, ErrorReporter& errors, double from,
                     double to, double increment, std::span<const Exponomial* const> columns,
                     const ColumnValue& value_of = {}, std::size_t first_column = 0);

// A whole evaluation table of a system: blocks of columns, each with its own
// header, its rows and a blank line. `paths` is empty for a system without
// separate paths; `overall` is then the system's distribution. The range is
// assumed to have passed check_eval_range.
void print_eval_table(Output& out, const Settings& settings, ErrorReporter& errors, double from,
                      double to, double increment, std::span<const Exponomial* const> paths,
                      const Exponomial& overall, char variable, const ColumnValue& value_of = {});

// Time-dependent measures of a net or a reward model, printed as a two-column
// table under print_r_header.
enum class TimeMeasure {
    Reward,               // expected reward at t
    CumulativeReward,     // expected cumulative reward at t
    Tokens,               // expected number of tokens at t
    PlaceEmpty,           // probability of place being empty at t
    Throughput,           // expected throughput of transition at t
    Utilization,          // expected utilization of transition at t
    TimeAverageTokens,    // time average of number of tokens at t
    TimeAverageThroughput // time average throughput of transition at t
};
const char* time_measure_label(TimeMeasure measure);

// "       place %s\n" or "  transition %s\n": the element a measure table is about.
void print_measured_element(Output& out, bool is_place, std::string_view name);

// The rows of a measure table: the formatted t, eight blanks, the formatted
// value. Points as for eval_points.
void print_measure_rows(Output& out, const Settings& settings, double from, double to,
                        double increment, const std::function<double(double)>& value_at);

// ---------------------------------------------------------------------------
// Result headers and texts

// The line that separates consecutive results.
void print_result_separator(Output& out);

enum class SystemResult {
    Pqcdf,     // "\nPQCDF for system %s:\n\n"
    Mincuts,   // "\nMincuts for system %s:\n\n"
    Minpaths,  // "\nMinpaths for system %s:\n\n"
    Cdf,       // "\nCDF for system %s:\n\n"
    RewardCdf  // "\nreward cdf for chain %s:\n\n"
};
void print_system_result_header(Output& out, SystemResult kind, std::string_view system);

// The block printed before the distribution of one path of a system with
// several paths: separator, path number, node names, the product of the
// nodes' probabilities and the "CDF:" label.
void print_path_header(Output& out, const Settings& settings, int path_number,
                       std::span<const std::string> nodes, double probability);

// One state of a state-space system.
void print_state_header(Output& out, std::string_view system, std::string_view node);
void print_transient_state_label(Output& out);
// "probability of entering node" and, when the probability is not 0, the label
// of the conditional distribution that follows (time of reaching the state, or
// of leaving it for a semi-Markov chain).
void print_absorbing_state(Output& out, const Settings& settings, double probability,
                           bool semi_markov);

enum class NetMeasure { PlaceEmpty, AverageTokens, Throughput, Utilization };
void print_net_measure_header(Output& out, NetMeasure kind, std::string_view system,
                              std::string_view element);

// "      system %s\n" and, when a node is named, "        node %s\n".
void print_eval_title(Output& out, std::string_view system, std::optional<std::string_view> node);

// One value of an expression statement, "%s:   %*.*e\n", with `indent`
// blanks in front (loop and while bodies). Magnitudes below results_epsilon
// print as +0.
void print_expression_value(Output& out, const Settings& settings, std::string_view text,
                            double value, int indent = 0);

// The text of error 21 for a request the system cannot answer: "eval (%s) cdf"
// for an evaluation table, "%s (%s)" (keyword, system) otherwise.
std::string inappropriate_request_text(std::string_view keyword, std::string_view system,
                                       bool eval_cdf);

// The expression code and keyword text that the system-argument reader expects
// for a result statement keyword ("cdf" → 66, ..., "minpaths" → 86); nullopt
// for a keyword that is not a result statement.
struct ResultKeyword {
    int code;
    const char* text;
};
std::optional<ResultKeyword> result_keyword(std::string_view keyword);

}  // namespace corvel
