#include "interp/trusted_numbers.h"

#include <cmath>
#include <limits>

#include "expo/guarded.h"
#include "expo/numeric_dist.h"
#include "interp/interpreter.h"
#include "interp/system_store.h"

namespace corvel {

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// A closed form that was not built counts as unknown.
Guarded unknown() { return {kNaN, INFINITY, Route::ClosedForm}; }

const char* measure_label(Kw kw) {
    switch (kw) {
        case Kw::Mean: return "mean";
        case Kw::Variance: return "variance";
        case Kw::Pzero: return "pzero";
        case Kw::Pinf: return "pinf";
        case Kw::Pcont: return "pcont";
        case Kw::Tvalue: return "tvalue";
        case Kw::Sysprob: return "sysprob";
        case Kw::Ss_unavail: return "ss_unavail";
        default: return "value";
    }
}

TrustWarning warner(Interpreter& in, const SystemRecord& sys, const char* what) {
    std::string text = std::string(what) + " of system " + sys.name;
    return [&in, text](const Guarded& g) { print_trust_warning(in.out, text, g); };
}

// The closed form and the stable route of one number.
Guarded closed_number(Interpreter& in, const SystemRecord& sys, Kw kw, double time) {
    if (!sys.has_dist) return unknown();
    const Tolerances& tol = in.settings.tol;
    const Exponomial& F = sys.s_dist;
    switch (kw) {
        case Kw::Mean: return guarded_moments(F, tol).mean;
        case Kw::Variance: return guarded_moments(F, tol).variance;
        case Kw::Pzero: return guarded_masses(F, tol.epsilon, tol).pz;
        case Kw::Pinf: return guarded_masses(F, tol.epsilon, tol).pi;
        case Kw::Pcont: return guarded_masses(F, tol.epsilon, tol).pc;
        case Kw::Sysprob:
        case Kw::Ss_unavail: return guarded_evaluate(F, 0.0, tol);
        default: return guarded_evaluate(F, time, tol);
    }
}

std::optional<Guarded> stable_number(const SystemRecord& sys, Kw kw, double time) {
    if (!sys.s_stable) return std::nullopt;
    const NumericDist& d = *sys.s_stable;
    auto masses = [&](int which) {
        double pz = d.mass_at_zero(), pi = d.mass_at_infinity();
        double pc = 1.0 - pz - pi;
        if (pc >= 1.0 - 1e-11) pc = 1.0;
        else if (pc < 1e-11) pc = 0.0;
        const double v = which == 0 ? pz : which == 1 ? pi : pc;
        return Guarded{v, 1e-15, Route::Structure};
    };
    switch (kw) {
        case Kw::Mean: return stable_moments(d).mean;
        case Kw::Variance: return stable_moments(d).variance;
        case Kw::Pzero: return masses(0);
        case Kw::Pinf: return masses(1);
        case Kw::Pcont: return masses(2);
        case Kw::Sysprob:
        case Kw::Ss_unavail: return d.at(0.0).f;
        default: return d.at(time).f;
    }
}

}  // namespace

bool trusted_distribution_value(Interpreter& in, SystemRecord& sys, Kw kw, double time, double& value) {
    switch (kw) {
        case Kw::Mean:
        case Kw::Variance:
        case Kw::Pzero:
        case Kw::Pinf:
        case Kw::Pcont:
        case Kw::Value:
        case Kw::Tvalue:
        case Kw::Sysprob:
        case Kw::Ss_unavail:
            break;
        default:
            return false;
    }
    if (!sys.has_dist && !sys.s_stable) in.err.error(130, kInternal, "", false);
    const Guarded closed = closed_number(in, sys, kw, time);
    StableRoute stable;
    if (sys.s_stable) stable = [&]() { return stable_number(sys, kw, time); };
    value = settle(closed, stable, trust_policy(in.settings), warner(in, sys, measure_label(kw))).value;
    return true;
}

TrustedEval::TrustedEval(Interpreter& in, SystemRecord& sys, std::vector<const Exponomial*> paths)
    : in_(in), sys_(sys), paths_(std::move(paths)) {}

ColumnValue TrustedEval::function() {
    return [this](std::size_t column, double t) -> double {
        const Tolerances& tol = in_.settings.tol;
        if (column < paths_.size()) return evaluate_expo(require_expo(paths_[column]), t, tol);
        const Guarded closed = sys_.has_dist ? guarded_evaluate(sys_.s_dist, t, tol) : unknown();
        StableRoute stable;
        if (sys_.s_stable) stable = [&]() -> std::optional<Guarded> { return sys_.s_stable->at(t).f; };
        return settle(closed, stable, trust_policy(in_.settings),
                      [this](const Guarded& g) {
                          if (!worst_ || !g.finite() || (worst_->finite() && g.error > worst_->error)) worst_ = g;
                      })
            .value;
    };
}

void TrustedEval::report_warnings() {
    if (worst_) print_trust_warning(in_.out, "eval table of system " + sys_.name, *worst_);
}

TrustedSummary::TrustedSummary(Interpreter& in, SystemRecord& sys) : in_(in), sys_(sys) {
    guard_.moments = [this](double& mean, double& variance) {
        const Tolerances& tol = in_.settings.tol;
        GuardedMoments closed = guarded_moments(sys_.s_dist, tol);
        // The summary's own numbers are the closed-form ones; only the bounds are taken here.
        closed.mean.value = mean;
        closed.variance.value = variance;
        std::optional<GuardedMoments> stable;
        auto route = [&](bool want_mean) -> StableRoute {
            if (!sys_.s_stable) return nullptr;
            return [&, want_mean]() -> std::optional<Guarded> {
                if (!stable) stable = stable_moments(*sys_.s_stable);
                return want_mean ? stable->mean : stable->variance;
            };
        };
        const TrustPolicy policy = trust_policy(in_.settings);
        auto later = [this](const char* what) {
            std::string text = std::string(what) + " of system " + sys_.name;
            return [this, text](const Guarded& g) {
                pending_.push_back([this, text, g]() { print_trust_warning(in_.out, text, g); });
            };
        };
        mean = settle(closed.mean, route(true), policy, later("mean")).value;
        variance = settle(closed.variance, route(false), policy, later("variance")).value;
    };
    guard_.after_terms = [this]() {
        const Guarded worst = worst_evaluation(sys_.s_dist, in_.settings.tol);
        // Terms that cancel beyond what double precision carries.
        if (!worst.finite() || worst.error > 1e-9 * std::max(1.0, std::fabs(worst.value)))
            in_.out.printf("warning: the terms of this distribution cancel beyond double precision "
                           "(estimated error %.1e).\n",
                           std::isfinite(worst.error) ? worst.error : INFINITY);
        for (auto& p : pending_) p();
        pending_.clear();
    };
}

}  // namespace corvel
