#include "expo/results.h"

#include <cmath>
#include <cstdlib>

#include "symbols/table_record.h"

namespace corvel {

namespace {

// Magnitudes below results_epsilon print as +0, never as -0.
double shown(const Settings& settings, double value) {
    return std::abs(value) < settings.tol.results_epsilon ? 0.0 : value;
}

// Column widths of the table headers around a name.
struct HeaderWidths {
    int h1, h2;
};
HeaderWidths header_widths(const Settings& settings) {
    return {(settings.width + 3) / 2, (settings.width + 4) / 2};
}

// An imaginary part after its real part: "+%*.*ei" for a positive value (the
// sign takes the place of the blank), "%*.*ei" one wider for a negative one.
void print_imaginary(Output& out, const Settings& settings, double value) {
    if (std::abs(value) < settings.tol.results_epsilon) return;
    if (value > 0)
        out.printf("+%*.*ei", settings.width, settings.precision, value);
    else
        out.printf("%*.*ei", settings.width + 1, settings.precision, value);
}

// y is the conjugate of x: same power, coefficients a and −a', rates b and −c.
bool is_conjugate(const Term& x, const Term& y, double eps) {
    return x.e_xpower == y.e_xpower && std::abs(x.e_a - y.e_a) <= eps &&
           std::abs(x.e_a_complex + y.e_a_complex) <= eps && std::abs(x.e_b - y.e_b) <= eps &&
           std::abs(x.e_b_complex + y.e_b_complex) <= eps;
}

void print_term_with_imaginary(Output& out, const Settings& settings, const char* prefix,
                               const Term& term, char variable) {
    const int w1 = settings.width + 1, p = settings.precision;
    out.printf("%s%*.*e", prefix, w1, p, term.e_a);
    print_imaginary(out, settings, term.e_a_complex);
    out.printf(" %c(%3d) exp(%*.*e", variable, term.e_xpower, w1, p, term.e_b);
    print_imaginary(out, settings, term.e_b_complex);
    out.printf(" %c)\n", variable);
}

// The sum of a conjugate pair, 2a·cos(ct) − 2a'·sin(ct) times t^k·e^(bt), as
// up to two real lines. Returns the prefix for the next line.
const char* print_pair(Output& out, const Settings& settings, const char* prefix, const Term& term,
                       char variable) {
    const int w1 = settings.width + 1, p = settings.precision;
    const double eps = settings.tol.results_epsilon;
    auto line = [&](double coefficient, const char* trig) {
        out.printf("%s%*.*e", prefix, w1, p, coefficient);
        out.printf(" %c(%3d) exp(%*.*e %c)", variable, term.e_xpower, w1, p, term.e_b, variable);
        out.printf(" %s %*.*e %c\n", trig, w1, p, term.e_b_complex, variable);
        prefix = " + ";
    };
    if (std::abs(term.e_a) >= eps) line(2.0 * term.e_a, "cos");
    if (std::abs(term.e_a_complex) >= eps) line(-2.0 * term.e_a_complex, "sin");
    return prefix;
}

}  // namespace

// ---------------------------------------------------------------------------
// Numbers

std::string format_entry(const Settings& settings, double value) {
    std::string text =
        format_string(" %*.*le ", settings.width, settings.precision, shown(settings, value));
    // Infinities and NaNs have no exponent and stay as they are.
    std::size_t e = text.find('e');
    if (e != std::string::npos) text.insert(e, 1, ' ');
    return text;
}

// ---------------------------------------------------------------------------
// Exponomials

void expo_print(Output& out, const Settings& settings, const Exponomial* F, char variable) {
    if (F == nullptr) {
        out.write("empty\n");
        out.flush();
        return;
    }
    if (F->empty()) {
        out.printf("   %*.*e\n", settings.width, settings.precision, 0.0);
        out.flush();
        return;
    }
    const double eps = settings.tol.results_epsilon;
    const std::vector<Term>& terms = F->terms();
    std::vector<bool> skipped(terms.size(), false);
    const char* prefix = "   ";
    for (std::size_t i = 0; i < terms.size(); ++i) {
        if (skipped[i]) continue;
        const Term& term = terms[i];
        const bool real = std::abs(term.e_a_complex) < eps && std::abs(term.e_b_complex) < eps;
        if (settings.imag_on || real) {
            print_term_with_imaginary(out, settings, prefix, term, variable);
            prefix = " + ";
            continue;
        }
        // The second member of the pair is the conjugate found further on;
        // canonical order puts the member with the positive frequency first.
        for (std::size_t j = i + 1; j < terms.size(); ++j) {
            if (!skipped[j] && is_conjugate(term, terms[j], settings.tol.epsilon)) {
                skipped[j] = true;
                break;
            }
        }
        prefix = print_pair(out, settings, prefix, term, variable);
    }
    out.flush();
}

std::function<void(Output&, const Exponomial&)> expo_printer(const Settings& settings,
                                                              char variable) {
    return [&settings, variable](Output& out, const Exponomial& F) {
        expo_print(out, settings, &F, variable);
    };
}

void print_distribution_info(Output& out, const Settings& settings, ErrorReporter& errors,
                             const Exponomial& F, char variable, const SummaryGuard* guard) {
    const Tolerances& tol = settings.tol;
    double pz = 0.0, pi = 0.0, pc = 0.0;
    const int clamped = separate(F, pz, pi, pc, tol.results_epsilon, &out, tol);
    if (clamped != 0 && std::abs(pc) < tol.epsilon) {
        out.write("*** printing unconditional distribution.\n");
        pc = 1.0;
        pz = pi = 0.0;
    }
    double mean = 0.0, variance = 0.0;
    if (pc != 0.0) {
        Exponomial G = F;
        scalar_multiply(G, 1.0 / pc);
        mean = moment_of_expo(G, 1, tol);
        variance = moment_of_expo(G, 2, tol) - mean * mean;
        if (guard && guard->moments) guard->moments(mean, variance);
        if (mean < -tol.epsilon) errors.error(124, kConsistency, "", true);
        if (variance < -tol.epsilon) errors.error(125, kConsistency, "", true);
    }
    const int w = settings.width, p = settings.precision;
    if (pz != 0.0) out.printf("probability at 0:        %*.*e\n", w, p, pz);
    if (pi != 0.0) out.printf("probability at infinity: %*.*e\n", w, p, pi);
    if (pc != 1.0) out.printf("continuous probability:  %*.*e\n\n", w, p, pc);
    if (pc == 0.0) return;
    expo_print(out, settings, &F, variable);
    if (guard && guard->after_terms) guard->after_terms();
    if (pi != 0.0) out.write("\nmean and variance are conditional on finite time\n");
    out.printf("\nmean: %*.*e\n", w - 1, p, mean);
    out.printf("variance: %*.*e\n\n", w - 1, p, variance);
}

// ---------------------------------------------------------------------------
// Evaluation tables

int check_eval_range(ErrorReporter& errors, double from, double to, double increment) {
    if (from > to) {
        errors.error(53, kWarning, "", true);
        return -1;
    }
    // Compared exactly as written: 0..10 by 0.1 is accepted (101 rows).
    if (to - from > 100 * increment) {
        errors.error(55, kWarning, "", true);
        return -1;
    }
    return 0;
}

std::vector<double> eval_points(double from, double to, double increment) {
    std::vector<double> points;
    if (!(from <= to)) return points;
    if (!(increment > 0)) {
        points.push_back(from);
        return points;
    }
    const double slack = 1e-9 * increment;
    for (int k = 0; k < kMaxTableRows; ++k) {
        const double t = from + k * increment;
        if (!(t <= to + slack)) break;
        points.push_back(t);
    }
    return points;
}

int print_eval_header(Output& out, const Settings& settings, int first_column, int num_paths,
                      char variable) {
    const auto [h1, h2] = header_widths(settings);
    TableRecord* record = out.table_record();
    if (num_paths < 0) num_paths = 0;
    out.printf("%*s%c%*s", h1, "", variable, h2 - 1, "");
    if (record) record->set_variable(std::string(1, variable));
    if (num_paths == 0) {
        out.printf("%*sF(%c)%*s\n\n", h1 - 3, "", variable, h2 - 1, "");
        if (record) record->set_title(0, format_string("F(%c)", variable));
        return 0;
    }
    // As many columns as fit in 80 characters, the variable's column included.
    const int fit = 80 / (settings.width + 3) - 1;
    int printed = 1;
    for (int path = first_column < 1 ? 1 : first_column; path <= num_paths; ++path) {
        out.printf("%*spath%4d%*s", h1 - 3, "", path, h2 - 5, "");
        if (record) record->set_title(static_cast<std::size_t>(path - 1), format_string("path%4d", path));
        if (++printed > fit) {
            out.write("\n\n");
            return path + 1;
        }
    }
    out.printf("%*soverall%*s\n\n", h1 - 4, "", h2 - 3, "");
    if (record) record->set_title(static_cast<std::size_t>(num_paths), "overall");
    return 0;
}

void print_r_header(Output& out, const Settings& settings, std::string_view label) {
    const auto [h1, h2] = header_widths(settings);
    const std::string text(label);
    out.printf("%*st%*s", h1, "", h2 - 1, "");
    out.printf("%*s%s%*s\n\n", h1 - 3, "", text.c_str(), h2 - 1, "");
    if (TableRecord* record = out.table_record()) {
        record->set_variable("t");
        record->set_title(0, text);
    }
}

void print_eval_rows(Output& out, const Settings& settings, ErrorReporter& errors, double from,
                     double to, double increment, std::span<const Exponomial* const> columns,
                     const ColumnValue& value_of, std::size_t first_column) {
    const Tolerances& tol = settings.tol;
    std::vector<double> outside;
    TableRecord* record = out.table_record();
    const std::vector<double> points = eval_points(from, to, increment);
    for (std::size_t row = 0; row < points.size(); ++row) {
        const double t = points[row];
        out.write(format_entry(settings, t));
        out.flush();
        outside.clear();
        for (std::size_t c = 0; c < columns.size(); ++c) {
            const double value = value_of ? value_of(first_column + c, t)
                                          : evaluate_expo(require_expo(columns[c]), t, tol);
            out.write(format_entry(settings, value));
            out.flush();
            if (record) record->set_value(first_column + c, row, t, shown(settings, value));
            // Written so that a NaN counts as outside as well.
            if (!(value >= -tol.epsilon && value <= 1.0 + tol.epsilon)) outside.push_back(value);
        }
        out.write("\n");
        for (double value : outside)
            errors.error(123, kConsistency, format_string(":%e", value), true);
    }
}

void print_eval_table(Output& out, const Settings& settings, ErrorReporter& errors, double from,
                      double to, double increment, std::span<const Exponomial* const> paths,
                      const Exponomial& overall, char variable, const ColumnValue& value_of) {
    std::vector<const Exponomial*> columns(paths.begin(), paths.end());
    columns.push_back(&overall);
    const int num_paths = static_cast<int>(paths.size());
    int first = 1;
    do {
        const int next = print_eval_header(out, settings, first, num_paths, variable);
        const int last = next == 0 ? static_cast<int>(columns.size()) : next - 1;
        std::span<const Exponomial* const> block(columns.data() + (first - 1),
                                                 static_cast<std::size_t>(last - first + 1));
        print_eval_rows(out, settings, errors, from, to, increment, block, value_of,
                        static_cast<std::size_t>(first - 1));
        out.write("\n");
        first = next;
    } while (first != 0);
}

const char* time_measure_label(TimeMeasure measure) {
    switch (measure) {
        case TimeMeasure::Reward: return "expected reward at t";
        case TimeMeasure::CumulativeReward: return "expected cumulative reward at t";
        case TimeMeasure::Tokens: return "expected number of tokens at t";
        case TimeMeasure::PlaceEmpty: return "probability of place being empty at t";
        case TimeMeasure::Throughput: return "expected throughput of transition at t";
        case TimeMeasure::Utilization: return "expected utilization of transition at t";
        case TimeMeasure::TimeAverageTokens: return "time average of number of tokens at t";
        case TimeMeasure::TimeAverageThroughput: return "time average throughput of transition at t";
    }
    return "";
}

void print_measured_element(Output& out, bool is_place, std::string_view name) {
    const std::string text(name);
    if (is_place)
        out.printf("       place %s\n", text.c_str());
    else
        out.printf("  transition %s\n", text.c_str());
}

void print_measure_rows(Output& out, const Settings& settings, double from, double to,
                        double increment, const std::function<double(double)>& value_at) {
    TableRecord* record = out.table_record();
    const std::vector<double> points = eval_points(from, to, increment);
    for (std::size_t row = 0; row < points.size(); ++row) {
        const double t = points[row];
        out.printf("%s        ", format_entry(settings, t).c_str());
        const double value = value_at(t);
        out.printf("%s\n", format_entry(settings, value).c_str());
        out.flush();
        if (record) record->set_value(0, row, t, shown(settings, value));
    }
}

// ---------------------------------------------------------------------------
// Result headers and texts

void print_result_separator(Output& out) {
    out.write("-------------------------------------------\n\n");
}

void print_system_result_header(Output& out, SystemResult kind, std::string_view system) {
    const std::string name(system);
    switch (kind) {
        case SystemResult::Pqcdf: out.printf("\nPQCDF for system %s:\n\n", name.c_str()); return;
        case SystemResult::Mincuts: out.printf("\nMincuts for system %s:\n\n", name.c_str()); return;
        case SystemResult::Minpaths: out.printf("\nMinpaths for system %s:\n\n", name.c_str()); return;
        case SystemResult::Cdf: out.printf("\nCDF for system %s:\n\n", name.c_str()); return;
        case SystemResult::RewardCdf: out.printf("\nreward cdf for chain %s:\n\n", name.c_str()); return;
    }
}

void print_path_header(Output& out, const Settings& settings, int path_number,
                       std::span<const std::string> nodes, double probability) {
    out.write("\n-------------------------------------------\n\n");
    out.printf("PATH: %3d\n\n", path_number);
    out.write("nodes:      ");
    for (const std::string& node : nodes) out.printf("%8s ", node.c_str());
    out.printf("\nprobability: %*.*e\n", settings.width, settings.precision, probability);
    out.write("\nCDF:\n\n");
}

void print_state_header(Output& out, std::string_view system, std::string_view node) {
    const std::string s(system), n(node);
    out.printf("information about system %s node %5s\n", s.c_str(), n.c_str());
}

void print_transient_state_label(Output& out) { out.write("transient state probability:\n\n"); }

void print_absorbing_state(Output& out, const Settings& settings, double probability,
                           bool semi_markov) {
    out.printf("\nprobability of entering node: %*.*e\n\n", settings.width, settings.precision,
               probability);
    if (probability == 0.0) return;
    out.write(semi_markov ? "conditional CDF for time of leaving this node\n\n"
                          : "conditional CDF for time of reaching this absorbing state\n\n");
}

void print_net_measure_header(Output& out, NetMeasure kind, std::string_view system,
                              std::string_view element) {
    const std::string s(system), e(element);
    switch (kind) {
        case NetMeasure::PlaceEmpty:
            out.printf("probability that system %s place %s is empty:\n", s.c_str(), e.c_str());
            return;
        case NetMeasure::AverageTokens:
            out.printf("average number of tokens in system %s place %s:\n", s.c_str(), e.c_str());
            return;
        case NetMeasure::Throughput:
            out.printf("throughput of system %s transition %s\n", s.c_str(), e.c_str());
            return;
        case NetMeasure::Utilization:
            out.printf("utilization of system %s transition %s\n", s.c_str(), e.c_str());
            return;
    }
}

void print_eval_title(Output& out, std::string_view system, std::optional<std::string_view> node) {
    const std::string s(system);
    out.printf("      system %s\n", s.c_str());
    if (node) {
        const std::string n(*node);
        out.printf("        node %s\n", n.c_str());
    }
}

void print_expression_value(Output& out, const Settings& settings, std::string_view text,
                            double value, int indent) {
    const std::string t(text);
    if (indent > 0) out.printf("%*s", indent, "");
    out.printf("%s:   %*.*e\n", t.c_str(), settings.width, settings.precision,
               shown(settings, value));
}

std::string inappropriate_request_text(std::string_view keyword, std::string_view system,
                                       bool eval_cdf) {
    const std::string k(keyword), s(system);
    if (eval_cdf) return format_string("eval (%s) cdf", s.c_str());
    return format_string("%s (%s)", k.c_str(), s.c_str());
}

std::optional<ResultKeyword> result_keyword(std::string_view keyword) {
    static constexpr ResultKeyword table[] = {
        {66, "cdf"},      {71, "lcdf"},     {72, "reward"}, {73, "eval"},
        {74, "pqcdf"},    {75, "fprempty"}, {76, "fetok"},  {77, "futil"},
        {78, "ftput"},    {85, "mincuts"},  {86, "minpaths"},
    };
    for (const ResultKeyword& entry : table)
        if (keyword == entry.text) return entry;
    return std::nullopt;
}

}  // namespace corvel
