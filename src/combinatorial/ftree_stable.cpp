#include "combinatorial/ftree_stable.h"

#include <algorithm>
#include <cmath>
#include <optional>
#include <utility>

#include "combinatorial/tree_stable.h"
#include "model/context.h"

namespace corvel {

namespace {

constexpr double u = kUnitRoundoff;

class DiagramDist final : public NumericDist {
public:
    DiagramDist(BddManager* m, std::vector<FtModule> modules, bool negated,
                std::vector<std::shared_ptr<const NumericDist>> events, std::shared_ptr<const void> owner)
        : m_(m), modules_(std::move(modules)), negated_(negated), events_(std::move(events)), owner_(std::move(owner)) {
        for (const FtModule& mod : modules_)
            positions_ = std::max(positions_, mod.first + static_cast<long>(mod.vars.size()));
        // Two products and a sum a node, one node a variable on any path.
        rounding_ = u * (2.0 * static_cast<double>(positions_) + 4.0);
        for (const auto& d : events_)
            if (d) scale_ = std::max(scale_, d->time_scale());
        if (!(scale_ > 0.0) || !std::isfinite(scale_)) scale_ = 1.0;
    }

    GuardedProb at(double t) const override {
        if (t < 0.0) return {Guarded::exact(0.0), Guarded::exact(1.0)};
        double error = 0.0;
        const FtPair top = evaluate(
            [&](const NumericDist& d, double& e) {
                const GuardedProb g = d.at(t);
                e = std::max(g.f.error, g.r.error);
                return FtPair{g.f.value, g.r.value};
            },
            error);
        return {Guarded{top.p, error + rounding_ * top.p, Route::Structure},
                Guarded{top.q, error + rounding_ * top.q, Route::Structure}};
    }
    double mass_at_zero() const override {
        if (!pz_) pz_ = at(0.0).f.value;
        return *pz_;
    }
    double mass_at_infinity() const override {
        if (!pi_) {
            double unused = 0.0;
            pi_ = evaluate(
                      [](const NumericDist& d, double& error) {
                          error = 0.0;
                          const double pi = d.mass_at_infinity();
                          return FtPair{1.0 - pi, pi};
                      },
                      unused)
                      .q;
        }
        return *pi_;
    }
    double time_scale() const override { return scale_; }

private:
    // The top pair from the events' pairs; the events' errors add up in
    // `error` (every event is one variable, and no event's probability
    // moves the top's by more than its own change).
    template <class EventPair>
    FtPair evaluate(EventPair event_pair, double& error) const {
        if (plans_.empty()) {
            plans_.reserve(modules_.size());
            for (const FtModule& mod : modules_) plans_.push_back(ft_plan(m_, mod.root));
        }
        std::vector<FtPair> var(static_cast<size_t>(positions_), FtPair{0.0, 1.0});
        std::vector<FtPair> module_value;
        module_value.reserve(modules_.size());
        error = 0.0;
        for (size_t i = 0; i < modules_.size(); ++i) {
            const FtModule& mod = modules_[i];
            for (size_t k = 0; k < mod.vars.size(); ++k) {
                const int v = mod.vars[k];
                const size_t position = static_cast<size_t>(mod.first) + k;
                if (v >= 0) {
                    double e = 0.0;
                    var[position] = event_pair(*events_[static_cast<size_t>(v)], e);
                    error += e;
                } else {
                    var[position] = module_value[static_cast<size_t>(~v)];
                }
            }
            module_value.push_back(evaluate_pairs(plans_[i], var));
        }
        FtPair top = module_value.empty() ? FtPair{0.0, 1.0} : module_value.back();
        if (negated_) std::swap(top.p, top.q);
        return top;
    }

    BddManager* m_;
    std::vector<FtModule> modules_;
    bool negated_;
    std::vector<std::shared_ptr<const NumericDist>> events_;  // by event record (null: not an event of the tree)
    std::shared_ptr<const void> owner_;
    long positions_ = 0;
    double scale_ = 0.0;
    double rounding_ = 0.0;
    // Built on first use: most requests trust the closed form.
    mutable std::vector<FtPlan> plans_;
    mutable std::optional<double> pz_, pi_;
};

}  // namespace

std::shared_ptr<const NumericDist> diagram_stable_dist(AnalysisContext& in, const SystemRecord& sys, BddManager* m,
                                                       std::vector<FtModule> modules, bool top_negated,
                                                       std::shared_ptr<const void> owner) {
    std::vector<std::shared_ptr<const NumericDist>> events(sys.nodes.size());
    for (const FtModule& mod : modules)
        for (int v : mod.vars) {
            if (v < 0 || static_cast<size_t>(v) >= events.size() || events[static_cast<size_t>(v)]) continue;
            events[static_cast<size_t>(v)] = component_dist(in, sys.nodes[static_cast<size_t>(v)]);
        }
    return std::make_shared<DiagramDist>(m, std::move(modules), top_negated, std::move(events), std::move(owner));
}

double predicted_diagram_terms(const SystemRecord& sys, BddManager* m, const std::vector<FtModule>& modules) {
    constexpr double kCap = 1e300;
    long positions = 0;
    for (const FtModule& mod : modules) positions = std::max(positions, mod.first + static_cast<long>(mod.vars.size()));
    std::vector<double> var_terms(static_cast<size_t>(positions), 1.0);
    std::vector<double> module_terms;
    for (const FtModule& mod : modules) {
        for (size_t k = 0; k < mod.vars.size(); ++k) {
            const int v = mod.vars[k];
            double c = 1.0;
            if (v >= 0 && static_cast<size_t>(v) < sys.nodes.size())
                c = std::max<double>(1.0, static_cast<double>(sys.nodes[static_cast<size_t>(v)].dist.size()));
            else if (v < 0)
                c = module_terms[static_cast<size_t>(~v)];
            var_terms[static_cast<size_t>(mod.first) + k] = c;
        }
        const FtPlan plan = ft_plan(m, mod.root);
        std::vector<double> count(plan.kids.size());
        auto of = [&](std::uint32_t ref) {
            if (ref == BddPostorder::kRefOne) return 1.0;
            if (ref == BddPostorder::kRefZero) return 0.0;
            // A complement adds the constant term 1.
            return count[ref >> 1] + static_cast<double>(ref & 1u);
        };
        for (size_t k = 0; k < plan.kids.size(); ++k) {
            const BddPostorder::Kids& kid = plan.kids[k];
            const double x = var_terms[kid.position];
            count[k] = std::min(kCap, x * of(kid.then_ref) + (x + 1.0) * of(kid.else_ref));
        }
        module_terms.push_back(std::min(kCap, of(plan.root)));
    }
    return module_terms.empty() ? 1.0 : module_terms.back();
}

}  // namespace corvel
