// Markov regenerative processes: arc sorting, subordinated chains by
// uniformization, the embedded chain and the time weighting.

#include "statespace/mrgp.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <string>
#include <unordered_map>

#include "model/context.h"
#include "statespace/chain.h"
#include "statespace/sor.h"

namespace corvel {

namespace {

using cplx = std::complex<double>;

// The rate r when F is exactly 1 - e^(-r t): a real constant term 1 and a
// real term -1 e^(-r t), both of power 0. Any other form gives 0.
double exp_rate(const Exponomial& F, double eps) {
    if (F.size() != 2) return 0.0;
    const Term* one = nullptr;
    const Term* decay = nullptr;
    for (const Term& t : F) {
        if (t.is_complex() || t.e_xpower != 0) return 0.0;
        if (t.e_b == 0.0)
            one = &t;
        else
            decay = &t;
    }
    if (!one || !decay) return 0.0;
    if (std::fabs(one->e_a - 1.0) > eps || std::fabs(decay->e_a + 1.0) > eps || !(decay->e_b < 0.0)) return 0.0;
    return -decay->e_b;
}

cplx coefficient(const Term& t) { return t.is_complex() ? cplx(t.e_a, t.e_a_complex) : cplx(t.e_a, 0.0); }

[[noreturn]] void stop(AnalysisContext& in, const std::string& text) {
    in.out.write(text);
    in.out.flush();
    in.err.exit_program(kExitFailure);
}

// One term a t^k e^(beta t) of an integrand, with its Poisson weights
//   w_n = integral of e^(-L t) (L t)^n / n! t^k e^(beta t) dt
//       = L^n (n + k)! / (n! (L - beta)^(n + k + 1)),
// and the bound on what the weights after n still add (|w| sums to
// k! / (|L - beta| - L)^(k + 1)).
struct WeightedTerm {
    cplx a, w;
    double k = 0, abs_total = 0, abs_used = 0;
    cplx ratio;  // L / (L - beta)
};

// Integrals of one general state's subordinated chain: for the integrands
// dG and 1 - G, the row vectors over the subordinated states.
class Subordinated {
public:
    Subordinated(const ChainModel& m, const std::vector<double>& exp_rate_of_arc,
                 const std::vector<int>& states)
        : m_(m), rate_(exp_rate_of_arc), states_(states) {
        local_.reserve(states.size());
        for (std::size_t s = 0; s < states.size(); ++s) local_.emplace(states[s], static_cast<int>(s));
        // Arcs among the subordinated states, by target.
        const std::size_t n = states.size();
        in_start_.assign(n + 1, 0);
        out_.assign(n, 0.0);
        for (std::size_t s = 0; s < n; ++s)
            for (std::uint32_t e : m.out_arcs(states[s]))
                if (rate_[e] > 0.0) {
                    auto it = local_.find(m.arcs[e].to);
                    if (it == local_.end()) continue;
                    ++in_start_[static_cast<std::size_t>(it->second) + 1];
                    out_[s] += rate_[e];
                }
        for (std::size_t s = 0; s < n; ++s) in_start_[s + 1] += in_start_[s];
        from_.resize(in_start_[n]);
        value_.resize(in_start_[n]);
        std::vector<std::size_t> fill(in_start_.begin(), in_start_.end() - 1);
        for (std::size_t s = 0; s < n; ++s)
            for (std::uint32_t e : m.out_arcs(states[s]))
                if (rate_[e] > 0.0) {
                    auto it = local_.find(m.arcs[e].to);
                    if (it == local_.end()) continue;
                    std::size_t k = fill[static_cast<std::size_t>(it->second)]++;
                    from_[k] = static_cast<int>(s);
                    value_[k] = rate_[e];
                }
        for (double o : out_) lambda_ = std::max(lambda_, o);
        lambda_ *= 1.02;
    }

    // out[j] = integral of P_(start, j)(t) F(t) dt for each subordinated
    // state j; false when the integral does not exist (a term that does not
    // decay).
    bool integrate(const Exponomial& F, std::vector<double>& out, double precision) const {
        const std::size_t n = states_.size();
        std::vector<WeightedTerm> terms;
        double scale = 0.0;
        for (const Term& t : F) {
            cplx beta(t.e_b, t.is_complex() ? t.e_b_complex : 0.0);
            cplx a = coefficient(t);
            if (a == cplx(0.0, 0.0)) continue;
            if (!(beta.real() < 0.0)) return false;
            WeightedTerm wt;
            wt.a = a;
            wt.k = t.e_xpower;
            cplx d = lambda_ - beta;
            // w_0 = k! / d^(k + 1)
            wt.w = std::exp(std::lgamma(wt.k + 1.0) - (wt.k + 1.0) * std::log(d));
            wt.ratio = lambda_ / d;
            double gap = std::abs(d) - lambda_;
            wt.abs_total = std::exp(std::lgamma(wt.k + 1.0) - (wt.k + 1.0) * std::log(gap));
            scale += std::abs(a) * wt.abs_total;
            terms.push_back(wt);
        }
        out.assign(n, 0.0);
        if (terms.empty()) return true;
        std::vector<double> pi(n, 0.0), next(n);
        pi[0] = 1.0;
        // Enough for any distribution that is not extremely slower than the
        // subordinated chain, without letting a large chain run for ever.
        const long max_steps = std::max(100000L, 200000000L / static_cast<long>(n + from_.size() + 1));
        const double limit = precision * scale;
        for (long step = 0;; ++step) {
            cplx c(0.0, 0.0);
            double rest = 0.0;
            for (WeightedTerm& wt : terms) {
                c += wt.a * wt.w;
                wt.abs_used += std::abs(wt.w);
                rest += std::abs(wt.a) * std::max(0.0, wt.abs_total - wt.abs_used);
                // w_(n+1) = w_n (n + k + 1) / (n + 1) * L / (L - beta)
                wt.w *= wt.ratio * ((static_cast<double>(step) + wt.k + 1.0) / (static_cast<double>(step) + 1.0));
            }
            for (std::size_t j = 0; j < n; ++j) out[j] += c.real() * pi[j];
            if (rest <= limit || lambda_ == 0.0) break;
            if (step > max_steps) return false;
            // pi := pi (I + Q / L)
            for (std::size_t j = 0; j < n; ++j) {
                double s = pi[j] * (1.0 - out_[j] / lambda_);
                for (std::size_t e = in_start_[j]; e < in_start_[j + 1]; ++e)
                    s += pi[static_cast<std::size_t>(from_[e])] * (value_[e] / lambda_);
                next[j] = s;
            }
            pi.swap(next);
        }
        return true;
    }

private:
    const ChainModel& m_;
    const std::vector<double>& rate_;
    const std::vector<int>& states_;
    std::unordered_map<int, int> local_;
    std::vector<std::size_t> in_start_;
    std::vector<int> from_;
    std::vector<double> value_, out_;
    double lambda_ = 0.0;
};

}  // namespace

void MRGP_mrgp(AnalysisContext& in, SystemRecord& sys) {
    ChainModel& m = chain_of(sys);
    const Tolerances& tol = in.settings.tol;
    const int n = m.num_states();
    if (n == 0) in.err.error(80, kFatal, sys.name, true);
    const std::size_t num_arcs = m.arcs.size();
    if (sys.edges.size() < num_arcs) in.err.error(94, kInternal, "", false);

    // Bind the distributions and sort the arcs: exponential ones keep their
    // rate, a state's general arc is remembered.
    std::vector<double> rate(num_arcs, 0.0);
    std::vector<int> gen_arc(static_cast<std::size_t>(n), -1);
    for (std::size_t e = 0; e < num_arcs; ++e) {
        EdgeRecord& edge = sys.edges[e];
        const ChainArc& arc = m.arcs[e];
        if (!edge.udist) in.err.error(94, kInternal, "", false);
        in.dist_binder.bind_distribution(*edge.udist, edge.dist, kFatal, std::string(m.state_name(arc.from)),
                                         std::string(m.state_name(arc.to)));
        rate[e] = exp_rate(edge.dist, tol.epsilon);
        if (rate[e] > 0.0) continue;
        int& g = gen_arc[static_cast<std::size_t>(arc.from)];
        if (g >= 0) stop(in, "Error! double GEN is not allowed in MRGP!!\n");
        g = static_cast<int>(e);
    }
    auto gen_target = [&](int s) { return m.arcs[static_cast<std::size_t>(gen_arc[static_cast<std::size_t>(s)])].to; };

    // Omega(i) of a general state i, by a search over the exponential arcs;
    // a state reached without a general arc ends the run.
    std::vector<char> seen(static_cast<std::size_t>(n), 0);
    auto collect_omega = [&](int i, std::vector<int>& omega) {
        omega.assign(1, i);
        seen[static_cast<std::size_t>(i)] = 1;
        for (std::size_t k = 0; k < omega.size(); ++k)
            for (std::uint32_t e : m.out_arcs(omega[k])) {
                if (!(rate[e] > 0.0)) continue;
                int t = m.arcs[e].to;
                if (seen[static_cast<std::size_t>(t)]) continue;
                if (gen_arc[static_cast<std::size_t>(t)] < 0) {
                    for (int v : omega) seen[static_cast<std::size_t>(v)] = 0;
                    stop(in, "Error! Firing of a concurrent transition disables Gen distribution at state " +
                                 std::string(m.state_name(t)) + "\n");
                }
                seen[static_cast<std::size_t>(t)] = 1;
                omega.push_back(t);
            }
        for (int v : omega) seen[static_cast<std::size_t>(v)] = 0;
    };
    // Every general state is checked, in state order, in linear time: the
    // states from which exponential arcs lead to a state without a general
    // arc are found backwards from those states.
    {
        std::vector<char> bad(static_cast<std::size_t>(n), 0);
        std::vector<int> stack;
        for (int t = 0; t < n; ++t) {
            if (gen_arc[static_cast<std::size_t>(t)] >= 0) continue;
            for (std::uint32_t e : m.in_arcs(t))
                if (rate[e] > 0.0 && !bad[static_cast<std::size_t>(m.arcs[e].from)]) {
                    bad[static_cast<std::size_t>(m.arcs[e].from)] = 1;
                    stack.push_back(m.arcs[e].from);
                }
        }
        while (!stack.empty()) {
            int s = stack.back();
            stack.pop_back();
            for (std::uint32_t e : m.in_arcs(s))
                if (rate[e] > 0.0 && !bad[static_cast<std::size_t>(m.arcs[e].from)]) {
                    bad[static_cast<std::size_t>(m.arcs[e].from)] = 1;
                    stack.push_back(m.arcs[e].from);
                }
        }
        std::vector<int> omega;
        for (int i = 0; i < n; ++i)
            if (gen_arc[static_cast<std::size_t>(i)] >= 0 && bad[static_cast<std::size_t>(i)]) collect_omega(i, omega);
    }

    // The embedded chain over the regeneration states reached from state 0:
    // a state's row and alpha times are computed when the chain first
    // reaches it, so a general transition enabled over a large subordinated
    // chain is integrated once per state that can start it, not once per
    // state of the chain. `slot` numbers the reached states.
    std::vector<SparseArc> embedded;
    std::vector<std::vector<std::pair<int, double>>> alpha;
    std::vector<int> slot(static_cast<std::size_t>(n), -1), reached, omega, row_cols;
    std::vector<double> row(static_cast<std::size_t>(n), 0.0);
    auto reach = [&](int s) {
        if (slot[static_cast<std::size_t>(s)] >= 0) return;
        slot[static_cast<std::size_t>(s)] = static_cast<int>(reached.size());
        reached.push_back(s);
    };
    reach(0);
    for (std::size_t next = 0; next < reached.size(); ++next) {
        const int i = reached[next];
        alpha.emplace_back();
        if (gen_arc[static_cast<std::size_t>(i)] < 0) {
            double out = 0.0;
            for (std::uint32_t e : m.out_arcs(i)) out += rate[e];
            if (out > 0.0) {
                for (std::uint32_t e : m.out_arcs(i))
                    if (rate[e] > 0.0) embedded.push_back({i, m.arcs[e].to, rate[e] / out});
                alpha.back().emplace_back(i, 1.0 / out);
            }
        } else {
            collect_omega(i, omega);
            const Exponomial& G = sys.edges[static_cast<std::size_t>(gen_arc[static_cast<std::size_t>(i)])].dist;
            Exponomial density, survival;
            diff_expo(G, density, tol);
            copy_expo(G, survival);
            negate_and_add_scalar(survival, 1.0, tol);
            Subordinated sub(m, rate, omega);
            std::vector<double> k_row, a_row;
            bool ok = sub.integrate(density, k_row, tol.u_epsilon) && sub.integrate(survival, a_row, tol.u_epsilon);
            if (!ok) in.err.error(121, kFatal, ": " + sys.name, true);
            // A point mass of G at 0 fires at once from the start state.
            k_row[0] += evaluate_expo(G, 0.0, tol);
            double sum = 0.0;
            for (std::size_t s = 0; s < omega.size(); ++s) {
                int target = gen_target(omega[s]);
                if (row[static_cast<std::size_t>(target)] == 0.0) row_cols.push_back(target);
                row[static_cast<std::size_t>(target)] += k_row[s];
                sum += k_row[s];
                if (a_row[s] != 0.0) alpha.back().emplace_back(omega[s], a_row[s]);
            }
            if (std::fabs(sum - 1.0) > std::max(tol.epsilon, 1e-8)) in.err.error(121, kFatal, ": " + sys.name, true);
            for (int c : row_cols) {
                if (row[static_cast<std::size_t>(c)] != 0.0)
                    embedded.push_back({i, c, row[static_cast<std::size_t>(c)]});
                row[static_cast<std::size_t>(c)] = 0.0;
            }
            row_cols.clear();
        }
        for (std::size_t k = embedded.size(); k-- > 0 && embedded[k].from == i;) reach(embedded[k].to);
    }

    // The embedded chain P: its stationary vector is that of the chain with
    // rates P_ij (i != j); returns to the same state drop out.
    const int nr = static_cast<int>(reached.size());
    std::vector<SparseArc> moves;
    moves.reserve(embedded.size());
    for (const SparseArc& a : embedded)
        if (a.from != a.to)
            moves.push_back({slot[static_cast<std::size_t>(a.from)], slot[static_cast<std::size_t>(a.to)], a.value});
    std::vector<SparseArc>().swap(embedded);
    SparseChain chain = setupsp(nr, static_cast<std::int64_t>(moves.size()),
                                [&moves](std::int64_t k) { return moves[static_cast<std::size_t>(k)]; }, &in.err);
    if (nr > 1 && state_without_outflow(chain) >= 0) in.err.error(114, kFatal, sys.name, true);
    std::vector<double> v;
    if (nr == 1) {
        v.assign(1, 1.0);
    } else {
        SteadyStateResult r = steady_state(chain, 1e-10, v, solver_io(in));
        if (r.inaccurate) print_trust_warning(in.out, "mrgp", r.estimate);
    }

    // Time weighting: pi_j = sum_i v_i alpha_ij / sum_i v_i alpha_i.
    m.prob.assign(static_cast<std::size_t>(n), 0.0);
    double total = 0.0;
    for (int k = 0; k < nr; ++k)
        for (const auto& [j, a] : alpha[static_cast<std::size_t>(k)]) {
            m.prob[static_cast<std::size_t>(j)] += v[static_cast<std::size_t>(k)] * a;
            total += v[static_cast<std::size_t>(k)] * a;
        }
    if (!(total > 0.0)) in.err.error(114, kFatal, sys.name, true);
    for (double& p : m.prob) p /= total;
}

double mrgp_measure_value(AnalysisContext& in, SystemRecord& sys, const MeasureCall& call, const AnalysisRequest& req) {
    ChainModel& m = chain_of(sys);
    if (m.prob.size() != static_cast<std::size_t>(m.num_states())) in.err.error(94, kInternal, "", false);
    switch (call.kw) {
        case Kw::Prob:
            if (req.node < 0) in.err.error(35, kFatal, call.node, true);
            return m.prob[static_cast<std::size_t>(req.node)];
        case Kw::Exrss: {
            double sum = 0.0;
            for (std::size_t s = 0; s < m.prob.size(); ++s)
                sum += m.prob[s] * (s < m.reward.size() ? m.reward[s] : 0.0);
            return sum;
        }
        default:
            in.err.error(21, kFatal, sys.name, true);
            return 0.0;
    }
}

}  // namespace corvel
