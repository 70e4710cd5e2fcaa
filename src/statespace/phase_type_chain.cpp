// The symbolic phase-type solution on a chain: the reached block, the two
// variants, and the results left in the state records and the system.

#include <algorithm>
#include <cmath>

#include "expo/guarded.h"
#include "model/context.h"
#include "statespace/phase_type.h"
#include "statespace/side_thread.h"

namespace corvel {

namespace {

std::vector<int> start_states(const ChainModel& m, double eps) {
    std::vector<int> s;
    for (int i = 0; i < m.num_states(); ++i)
        if (std::fabs(m.start_prob[static_cast<size_t>(i)]) >= eps) s.push_back(i);
    return s;
}

Eigen::VectorXd start_vector(const ChainModel& m, const PhBlock& b) {
    Eigen::VectorXd p0(b.size());
    for (int p = 0; p < b.size(); ++p) p0(p) = m.start_prob[static_cast<size_t>(b.state[static_cast<size_t>(p)])];
    return p0;
}

}  // namespace

PhBlock ph_block(const ChainModel& m, const std::vector<int>& starts, bool computing_reward, double epsilon) {
    const int n = m.num_states();
    std::vector<int> pos(static_cast<size_t>(n), -1);
    std::vector<char> seen(static_cast<size_t>(n), 0);
    std::vector<int> transient, absorbing;
    auto reach = [&](int s) {
        if (seen[static_cast<size_t>(s)]) return;
        seen[static_cast<size_t>(s)] = 1;
        (is_absorbing(m, s, epsilon) ? absorbing : transient).push_back(s);
    };
    for (int s : starts) reach(s);
    for (size_t head = 0; head < transient.size(); ++head)
        for (std::uint32_t e : m.out_arcs(transient[head]))
            if (std::fabs(m.arcs[e].rate) >= epsilon) reach(m.arcs[e].to);
    PhBlock b;
    b.nt = static_cast<int>(transient.size());
    b.state = transient;
    b.state.insert(b.state.end(), absorbing.begin(), absorbing.end());
    for (int p = 0; p < static_cast<int>(b.state.size()); ++p) pos[static_cast<size_t>(b.state[static_cast<size_t>(p)])] = p;
    const auto reached = static_cast<Eigen::Index>(b.state.size());
    b.a = Eigen::MatrixXd::Zero(reached, reached);
    for (int i = 0; i < b.nt; ++i) {
        const int s = b.state[static_cast<size_t>(i)];
        double out = 0.0;
        for (std::uint32_t e : m.out_arcs(s)) {
            const ChainArc& a = m.arcs[e];
            if (std::fabs(a.rate) < epsilon) continue;
            double r = a.rate;
            if (computing_reward) r /= m.reward[static_cast<size_t>(s)];
            b.a(i, pos[static_cast<size_t>(a.to)]) += r;
            out += r;
        }
        b.a(i, i) = -out;
    }
    return b;
}

namespace {

// The largest error estimate of an expansion: its coefficients and the
// probabilities at the check times.
double expansion_error(const PhExpansion& x) {
    double worst = x.value_error;
    for (double e : x.error) worst = std::max(worst, e);
    return worst;
}

}  // namespace

void analyze_ph_markov(AnalysisContext& in, SystemRecord& sys, bool computing_reward) {
    ChainModel& m = chain_of(sys);
    const Settings& set = in.settings;
    const Tolerances& tol = set.tol;
    const double eps = tol.epsilon;
    const int n = m.num_states();
    m.prob.resize(static_cast<size_t>(n), 0.0);
    m.dists.resize(static_cast<size_t>(n));
    if (m.need_node.size() != static_cast<size_t>(n)) m.need_node.assign(static_cast<size_t>(n), 1);
    auto needed = [&](int s) { return m.need_node[static_cast<size_t>(s)] != 0; };
    for (int s = 0; s < n; ++s)
        if (needed(s)) {
            m.dists[static_cast<size_t>(s)] = StateDists{};
            m.prob[static_cast<size_t>(s)] = 0.0;
        }
    PhTrace trace{&in.out, set.verbose, set.debug[kDebugMarkov] != 0 || set.debug[kDebugEigen] != 0};
    if (set.verbose || set.debug[kDebugMarkov])
        in.out.write(set.ph_old ? "NOTE: using old PH algorithm\n" : "NOTE: using new PH algorithm\n");
    double worst = 0.0;
    auto collect = [&](const PhBlock& b, const PhExpansion& x, int p, double scale, double zero) {
        const int s = b.state[static_cast<size_t>(p)];
        if (!needed(s)) return;
        m.prob[static_cast<size_t>(s)] += ph_add_terms(x, p, scale, m.dists[static_cast<size_t>(s)].dist, tol, zero);
        worst = std::max(worst, x.error[static_cast<size_t>(p)]);
        // Coefficients accurate relative to their own size still cancel to
        // nonsense when they are huge: what the probabilities miss counts.
        worst = std::max(worst, x.value_error);
    };
    // The symbolic solution is a dense eigenvalue problem on the block: under
    // a work cap a block whose cube exceeds it ends like an eigenvalue
    // search that fails.
    auto refuse_beyond_cap = [&](const PhBlock& b) {
        const double n = static_cast<double>(b.size());
        if (beyond_work_limit(set, n * n * n)) in.err.error(115, kFatal, sys.name, true);
    };
    if (m.num_states() > kMaxVariantPositions) {
        // Too large for the variants' per-eigenvalue solves: one dense
        // decomposition for the whole start vector.
        const PhBlock b = ph_block(m, start_states(m, eps), computing_reward, eps);
        refuse_beyond_cap(b);
        const PhExpansion x = ph_dense_expansion(b, start_vector(m, b), trace);
        if (x.eigen_failed) in.err.error(115, kFatal, sys.name, true);
        if (x.ok) {
            // Each position has a state of its own: the two halves of the
            // terms are added on two threads, the errors collected after.
            auto add_terms = [&](int from, int to) {
                for (int p = from; p < to; ++p) {
                    const int s = b.state[static_cast<size_t>(p)];
                    if (needed(s))
                        m.prob[static_cast<size_t>(s)] +=
                            ph_add_terms(x, p, 1.0, m.dists[static_cast<size_t>(s)].dist, tol, eps);
                }
            };
            const int half = b.size() / 2;
            SideThread side(b.size() >= 200);
            side.both([&] { add_terms(half, b.size()); }, [&] { add_terms(0, half); });
            for (int p = 0; p < b.size(); ++p)
                if (needed(b.state[static_cast<size_t>(p)])) {
                    worst = std::max(worst, x.error[static_cast<size_t>(p)]);
                    worst = std::max(worst, x.value_error);
                }
        }
    } else if (set.ph_old) {
        for (int s : start_states(m, eps)) {
            const double sp = m.start_prob[static_cast<size_t>(s)];
            if (is_absorbing(m, s, eps)) {
                if (needed(s)) {
                    insert_term(sp, 0, 0, 0, 0, m.dists[static_cast<size_t>(s)].dist, tol);
                    m.prob[static_cast<size_t>(s)] += sp;
                }
                continue;
            }
            const PhBlock b = ph_block(m, {s}, computing_reward, eps);
            refuse_beyond_cap(b);
            const PhExpansion x = ph_old_expansion(b, 0, set.find_eigenvalues, tol, trace);
            if (x.eigen_failed) in.err.error(115, kFatal, sys.name, true);
            for (int p = 0; p < b.size(); ++p) collect(b, x, p, sp, eps);
        }
    } else {
        const PhBlock b = ph_block(m, start_states(m, eps), computing_reward, eps);
        refuse_beyond_cap(b);
        PhExpansion x = ph_new_expansion(b, start_vector(m, b), set.use_voronoi, tol, trace);
        if (x.eigen_failed) in.err.error(115, kFatal, sys.name, true);
        // The interpolation points of the new variant can make its matrix
        // ill-conditioned beyond what the checks accept; the expansion is the
        // same mathematical object, so the dense decomposition's is taken
        // instead when it checks out better.
        if (!x.ok || expansion_error(x) > trust_policy(set).recompute_rel) {
            PhExpansion d = ph_dense_expansion(b, start_vector(m, b), PhTrace{});
            if (d.ok && !d.eigen_failed && (!x.ok || expansion_error(d) < expansion_error(x))) x = std::move(d);
        }
        if (x.ok)
            for (int p = 0; p < b.size(); ++p) collect(b, x, p, 1.0, eps);
    }
    for (int s = 0; s < n; ++s) {
        if (!needed(s)) continue;
        double& p = m.prob[static_cast<size_t>(s)];
        p = std::clamp(p, 0.0, 1.0);
        m.dists[static_cast<size_t>(s)].has_dist = true;
    }
    m.form_error = worst;
    // Coefficients that the checks could not confirm are reported, never
    // printed as if exact.
    if (worst > trust_policy(set).warn_rel)
        print_trust_warning(in.out, "closed form of system " + sys.name, Guarded{1.0, worst, Route::ClosedForm});
}

void solve_ph_chain(AnalysisContext& in, SystemRecord& sys, bool computing_reward, bool need_overall) {
    ChainModel& m = chain_of(sys);
    const double eps = in.settings.tol.epsilon;
    if (need_a_node(m, need_overall, eps))
        analyze_ph_markov(in, sys, computing_reward);
    else if (in.settings.verbose)
        in.out.printf("  using previous analysis for %s\n", sys.name.c_str());
    if (need_overall) {
        sys.s_dist.clear();
        for (int s = 0; s < m.num_states(); ++s)
            if (is_absorbing(m, s, eps)) add_expos(m.dists[static_cast<size_t>(s)].dist, sys.s_dist, in.settings.tol);
        sys.has_dist = true;
    }
    std::fill(m.need_node.begin(), m.need_node.end(), 0);
}

}  // namespace corvel
