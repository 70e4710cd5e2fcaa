#pragma once
// The numbers the measure layer takes from a system's distribution, each put
// through the one check of guarded.h: the closed form when its bound is
// small, the system's stable route (SystemRecord::s_stable) otherwise, and a
// warning when neither can be trusted to the printed digits.

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "expo/guarded.h"
#include "expo/numeric_dist.h"
#include "expo/results.h"
#include "interp/tokens.h"

namespace corvel {

class Interpreter;
struct SystemRecord;

// value/tvalue at `time`, sysprob/ss_unavail, mean, variance, pzero, pinf,
// pcont of the system's distribution. False for any other keyword.
bool trusted_distribution_value(Interpreter& in, SystemRecord& sys, Kw kw, double time, double& value);
// The keywords trusted_distribution_value answers.
bool is_distribution_number(Kw kw);
// The same number of any distribution F of a system (null: not built) with
// its stable route (may be null); `system` names it in the warning.
// `coef_rel_error` is the relative error of F's coefficients beyond
// rounding, when the solver that made F knows one.
double trusted_value_of(Interpreter& in, const std::string& system, const Exponomial* F, const NumericDist* stable,
                        Kw kw, double time, double coef_rel_error = 0.0);

// The value of column `column` of an eval table at t: the system's own
// column (the last one) goes through the check; path columns are evaluated
// as they are. Untrusted entries are remembered and reported by
// report_eval_warnings after the table.
class TrustedEval {
public:
    // `paths` are the path columns that come before the system's own column.
    TrustedEval(Interpreter& in, SystemRecord& sys, std::vector<const Exponomial*> paths);
    // Any distribution of a system (F may be null when only the stable route exists).
    TrustedEval(Interpreter& in, std::string system, const Exponomial* F, std::shared_ptr<const NumericDist> stable,
                std::vector<const Exponomial*> paths = {}, double coef_rel_error = 0.0);
    ColumnValue function();
    void report_warnings();

private:
    Interpreter& in_;
    std::string system_;
    const Exponomial* F_;
    std::shared_ptr<const NumericDist> stable_;
    std::vector<const Exponomial*> paths_;
    double coef_;
    std::optional<Guarded> worst_;
};

// The warning line after a printed exponomial whose terms cancel beyond
// what double precision carries (over the points of worst_evaluation).
void warn_if_terms_cancel(Interpreter& in, const Exponomial& F, double coef_rel_error = 0.0);

// The guard of the distribution summary printed by cdf: stable moments when
// the closed-form ones are not trusted, and the warning line after the
// listing when its terms cancel beyond double precision.
class TrustedSummary {
public:
    TrustedSummary(Interpreter& in, SystemRecord& sys);
    // Any distribution of a system, with its stable route (may be null); F
    // must outlive the summary.
    TrustedSummary(Interpreter& in, std::string system, const Exponomial& F, std::shared_ptr<const NumericDist> stable,
                   double coef_rel_error = 0.0);
    const SummaryGuard* guard() const { return &guard_; }

private:
    Interpreter& in_;
    std::string system_;
    const Exponomial& F_;
    std::shared_ptr<const NumericDist> stable_;
    double coef_;
    SummaryGuard guard_;
    std::vector<std::function<void()>> pending_;
};

}  // namespace corvel
