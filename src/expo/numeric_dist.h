#pragma once
// A distribution known as a function of time rather than as an exponomial:
// the stable route of a solver. It gives F(t) and 1 − F(t) at any t, each
// with its own error bound (so that neither is got by cancelling the other),
// and its moments, by the solver's own means or by adaptive quadrature of the
// survival function.
//
// A solver that has such a route stores one in its system record
// (SystemRecord::s_stable); the measure layer hands it to settle() when the
// closed form is not trusted, and systems that use this one as a component
// (cdf(name)) evaluate through it.

#include <memory>
#include <optional>
#include <vector>

#include "expo/exponomial.h"
#include "expo/guarded.h"

namespace corvel {

// F(t) and its complement 1 − F(t), each with its own bound.
struct GuardedProb {
    Guarded f, r;
};

class NumericDist {
public:
    virtual ~NumericDist() = default;
    // F(t) and 1 − F(t); t < 0 gives F = 0, R = 1 exactly.
    virtual GuardedProb at(double t) const = 0;
    // Mass at zero F(0) and mass at infinity 1 − F(∞).
    virtual double mass_at_zero() const = 0;
    virtual double mass_at_infinity() const = 0;
    // A characteristic time of the distribution (where its mass lies),
    // used to lay out the quadrature.
    virtual double time_scale() const = 0;
    // Mean and variance of the continuous part when the route knows them
    // directly (from the moments of independent parts); nullopt otherwise.
    virtual std::optional<GuardedMoments> known_moments() const { return std::nullopt; }
    // The rates of the exponential phases when the distribution is, up to a
    // probability of finishing at all (`phase_scale`), the sum of
    // independent exponential phases; null otherwise.
    virtual const std::vector<double>* phases() const { return nullptr; }
    virtual double phase_scale() const { return 1.0; }
};

// Mean and variance of the continuous part by adaptive Gauss-Kronrod
// quadrature of the survival function, to about `rel` relative:
//   pc·mean = ∫ (F(∞) − F(t)) dt,
//   pc·variance = 2∫_μ^∞ (t − μ)(F(∞) − F(t)) dt + 2∫_0^μ (μ − t)(F(t) − F(0)) dt,
// whose integrands are all positive. Both 0 when there is no continuous mass.
GuardedMoments quadrature_moments(const NumericDist& d, double rel = 1e-11);

// The moments the route knows, else the quadrature.
GuardedMoments stable_moments(const NumericDist& d);

// An exponomial as a numeric distribution: F through guarded_evaluate and
// 1 − F through the exponomial 1 − F, whose constant term cancels exactly.
// An exponential 1 − e^(−λt) is recognised as one phase, and the closed
// form of a sum of exponential phases (distinct rates, or one rate repeated:
// hypoexponential and Erlang) as those phases, evaluated as their sum.
class ExpoDist final : public NumericDist {
public:
    ExpoDist(Exponomial F, const Tolerances& tol);
    GuardedProb at(double t) const override;
    double mass_at_zero() const override { return pz_; }
    double mass_at_infinity() const override { return pi_; }
    double time_scale() const override { return scale_; }
    std::optional<GuardedMoments> known_moments() const override;
    const std::vector<double>* phases() const override { return phases_.empty() ? nullptr : &phases_; }
    const Exponomial& cdf() const { return F_; }

private:
    Exponomial F_, R_;
    Tolerances tol_;
    double pz_ = 0.0, pi_ = 0.0, scale_ = 1.0;
    std::vector<double> phases_;
    std::shared_ptr<const NumericDist> sum_;  // the phases of more than one
};

// The sum of independent exponential phases, times the probability `scale`
// of finishing at all: F(t) = scale·P(T ≤ t). Equal rates use the Poisson
// tail directly; distinct rates uniformization, both summing only positive
// terms. Moments are exact: Σ1/λ and Σ1/λ².
class PhaseSumDist final : public NumericDist {
public:
    PhaseSumDist(std::vector<double> rates, double scale);
    GuardedProb at(double t) const override;
    double mass_at_zero() const override { return rates_.empty() ? scale_ : 0.0; }
    double mass_at_infinity() const override { return 1.0 - scale_; }
    double time_scale() const override;
    std::optional<GuardedMoments> known_moments() const override;
    const std::vector<double>* phases() const override { return &rates_; }
    double phase_scale() const override { return scale_; }

private:
    GuardedProb distinct_phases_at(double t) const;
    std::optional<GuardedProb> exponential_sum_at(double t) const;

    std::vector<double> rates_;
    double scale_;
    bool equal_ = true;
    double max_rate_ = 0.0;
};

// P(N ≥ n) and P(N < n) for N ~ Poisson(x), each summed from positive terms
// in the log domain (the CDF of an Erlang-n distribution at rate·t = x).
GuardedProb poisson_tail(int n, double x);

}  // namespace corvel
