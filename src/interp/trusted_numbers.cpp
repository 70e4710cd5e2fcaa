#include "interp/trusted_numbers.h"

#include <cmath>
#include <limits>

#include "expo/guarded.h"
#include "expo/numeric_dist.h"
#include "interp/interpreter.h"
#include "model/system_store.h"

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

TrustWarning warner(Interpreter& in, const std::string& system, const char* what) {
    std::string text = std::string(what) + " of system " + system;
    return [&in, text](const Guarded& g) { print_trust_warning(in.out, text, g); };
}

// The closed form and the stable route of one number.
Guarded closed_number(Interpreter& in, const Exponomial* dist, Kw kw, double time, double coef) {
    if (dist == nullptr) return unknown();
    const Tolerances& tol = in.settings.tol;
    const Exponomial& F = *dist;
    switch (kw) {
        case Kw::Mean: return guarded_moments(F, tol, coef).mean;
        case Kw::Variance: return guarded_moments(F, tol, coef).variance;
        case Kw::Pzero: return guarded_masses(F, tol.epsilon, tol).pz;
        case Kw::Pinf: return guarded_masses(F, tol.epsilon, tol).pi;
        case Kw::Pcont: return guarded_masses(F, tol.epsilon, tol).pc;
        case Kw::Sysprob:
        case Kw::Ss_unavail: return guarded_evaluate(F, 0.0, tol, coef);
        default: return guarded_evaluate(F, time, tol, coef);
    }
}

std::optional<Guarded> stable_number(const NumericDist* stable, Kw kw, double time) {
    if (stable == nullptr) return std::nullopt;
    const NumericDist& d = *stable;
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
    if (!is_distribution_number(kw)) return false;
    if (!sys.has_dist && !sys.s_stable) in.err.error(130, kInternal, "", false);
    value = trusted_value_of(in, sys.name, sys.has_dist ? &sys.s_dist : nullptr, sys.s_stable.get(), kw, time);
    return true;
}

bool is_distribution_number(Kw kw) {
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
            return true;
        default:
            return false;
    }
}

double trusted_value_of(Interpreter& in, const std::string& system, const Exponomial* F, const NumericDist* stable,
                        Kw kw, double time, double coef_rel_error) {
    const Guarded closed = closed_number(in, F, kw, time, coef_rel_error);
    StableRoute route;
    if (stable != nullptr) route = [&]() { return stable_number(stable, kw, time); };
    return settle(closed, route, trust_policy(in.settings), warner(in, system, measure_label(kw))).value;
}

TrustedEval::TrustedEval(Interpreter& in, SystemRecord& sys, std::vector<const Exponomial*> paths)
    : TrustedEval(in, sys.name, sys.has_dist ? &sys.s_dist : nullptr, sys.s_stable, std::move(paths)) {}

TrustedEval::TrustedEval(Interpreter& in, std::string system, const Exponomial* F,
                         std::shared_ptr<const NumericDist> stable, std::vector<const Exponomial*> paths,
                         double coef_rel_error)
    : in_(in),
      system_(std::move(system)),
      F_(F),
      stable_(std::move(stable)),
      paths_(std::move(paths)),
      coef_(coef_rel_error) {}

ColumnValue TrustedEval::function() {
    return [this](std::size_t column, double t) -> double {
        const Tolerances& tol = in_.settings.tol;
        // A path's column has its closed form only (no stable route): its
        // bound still decides the warning after the table.
        const bool path = column < paths_.size();
        const Guarded closed = path         ? guarded_evaluate(require_expo(paths_[column]), t, tol)
                               : F_ != nullptr ? guarded_evaluate(*F_, t, tol, coef_)
                                               : unknown();
        StableRoute stable;
        if (stable_ && !path) stable = [&]() -> std::optional<Guarded> { return stable_->at(t).f; };
        return settle(closed, stable, trust_policy(in_.settings),
                      [this](const Guarded& g) {
                          if (!worst_ || !g.finite() || (worst_->finite() && g.error > worst_->error)) worst_ = g;
                      })
            .value;
    };
}

void TrustedEval::report_warnings() {
    if (worst_) print_trust_warning(in_.out, "eval table of system " + system_, *worst_);
}

void warn_if_terms_cancel(Interpreter& in, const Exponomial& F, double coef_rel_error) {
    const Guarded worst = worst_evaluation(F, in.settings.tol, coef_rel_error);
    if (!worst.finite() || worst.error > 1e-9 * std::max(1.0, std::fabs(worst.value)))
        in.out.printf("warning: the terms of this distribution cancel beyond double precision "
                      "(estimated error %.1e).\n",
                      std::isfinite(worst.error) ? worst.error : INFINITY);
}

TrustedSummary::TrustedSummary(Interpreter& in, SystemRecord& sys)
    : TrustedSummary(in, sys.name, sys.s_dist, sys.s_stable) {}

TrustedSummary::TrustedSummary(Interpreter& in, std::string system, const Exponomial& F,
                               std::shared_ptr<const NumericDist> stable, double coef_rel_error)
    : in_(in), system_(std::move(system)), F_(F), stable_(std::move(stable)), coef_(coef_rel_error) {
    guard_.moments = [this](double& mean, double& variance) {
        const Tolerances& tol = in_.settings.tol;
        GuardedMoments closed = guarded_moments(F_, tol, coef_);
        // The summary's own numbers are the closed-form ones; only the bounds are taken here.
        closed.mean.value = mean;
        closed.variance.value = variance;
        std::optional<GuardedMoments> stable;
        auto route = [&](bool want_mean) -> StableRoute {
            if (!stable_) return nullptr;
            return [&, want_mean]() -> std::optional<Guarded> {
                if (!stable) stable = stable_moments(*stable_);
                return want_mean ? stable->mean : stable->variance;
            };
        };
        const TrustPolicy policy = trust_policy(in_.settings);
        auto later = [this](const char* what) {
            std::string text = std::string(what) + " of system " + system_;
            return [this, text](const Guarded& g) {
                pending_.push_back([this, text, g]() { print_trust_warning(in_.out, text, g); });
            };
        };
        mean = settle(closed.mean, route(true), policy, later("mean")).value;
        variance = settle(closed.variance, route(false), policy, later("variance")).value;
    };
    guard_.after_terms = [this]() {
        warn_if_terms_cancel(in_, F_, coef_);
        for (auto& p : pending_) p();
        pending_.clear();
    };
}

}  // namespace corvel
