// Random block diagrams, fault trees and series-parallel graphs of up to 80
// exponential components, with distinct and with equal rates, run end to end:
// the printed value at several times, mean and variance must equal an
// evaluation written here (structure function and Gauss-Legendre quadrature
// of the survival function for trees; the phase-type chain of the graph for
// graphs) to 1e-8 relative.

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "tree_run.h"

namespace corvel {
namespace {

using Cdf = std::function<double(double)>;

// ---------------------------------------------------------------- quadrature

struct GaussRule {
    std::vector<double> x, w;
    explicit GaussRule(int n) {
        for (int i = 1; i <= n; ++i) {
            double z = std::cos(M_PI * (i - 0.25) / (n + 0.5)), dp = 1.0;
            for (int it = 0; it < 100; ++it) {
                double p0 = 1.0, p1 = z;
                for (int k = 2; k <= n; ++k) {
                    const double p2 = ((2.0 * k - 1) * z * p1 - (k - 1.0) * p0) / k;
                    p0 = p1;
                    p1 = p2;
                }
                dp = n * (z * p1 - p0) / (z * z - 1);
                const double dz = p1 / dp;
                z -= dz;
                if (std::fabs(dz) < 1e-16) break;
            }
            x.push_back(z);
            w.push_back(2 / ((1 - z * z) * dp * dp));
        }
    }
};

// ∫_0^∞ f for a non-negative decaying f: pieces doubling in width, each in 8
// parts of a 30-point Gauss-Legendre rule.
double integral_to_infinity(const std::function<double(double)>& f, double scale) {
    static const GaussRule rule(30);
    double total = 0.0, a = 0.0, w = scale / 64;
    for (int piece = 0; piece < 200; ++piece) {
        double part = 0.0;
        for (int j = 0; j < 8; ++j) {
            const double lo = a + j * w / 8, h = w / 16, c = lo + h;
            for (size_t i = 0; i < rule.x.size(); ++i) part += h * rule.w[i] * f(c + h * rule.x[i]);
        }
        total += part;
        a += w;
        w *= 2;
        if (part < 1e-17 * total && f(a) * a < 1e-17 * total) break;
    }
    return total;
}

// ---------------------------------------------------------------- models

struct Model {
    std::string text;  // defines system s
    Cdf F;
    double scale = 1.0;  // a time scale for the quadrature
};

// Rates: distinct ones spread over [0.5, 2.5], or all equal.
double draw_rate(std::mt19937& rng, bool equal) {
    if (equal) return 1.0;
    return 0.5 + std::uniform_real_distribution<double>(0.0, 2.0)(rng);
}

std::string rate_text(double r) {
    std::ostringstream s;
    s.precision(17);
    s << r;
    return s.str();
}

// At least k of the children done, by the count distribution.
double at_least(const std::vector<double>& f, int k) {
    std::vector<double> P(f.size() + 1, 0.0);
    P[0] = 1.0;
    for (size_t i = 0; i < f.size(); ++i)
        for (size_t j = i + 1; j-- > 0;) {
            P[j + 1] += P[j] * f[i];
            P[j] *= 1.0 - f[i];
        }
    double s = 0.0;
    for (size_t j = static_cast<size_t>(std::max(k, 0)); j < P.size(); ++j) s += P[j];
    return s;
}

// A random tree: groups of children under series/parallel/k-of-n gates
// (or/and/k-of-n for fault trees), up to `components` leaves.
Model random_tree(std::mt19937& rng, bool block, bool equal, int components) {
    Model m;
    m.text = block ? "block s\n" : "ftree s\n";
    std::vector<Cdf> open;
    std::vector<std::string> names;
    for (int i = 0; i < components; ++i) {
        const double r = draw_rate(rng, equal);
        m.text += (block ? "comp c" : "basic c") + std::to_string(i) + " exp(" + rate_text(r) + ")\n";
        open.push_back([r](double t) { return -std::expm1(-r * t); });
        names.push_back("c" + std::to_string(i));
    }
    int gate = 0;
    std::uniform_int_distribution<int> kind(0, 2);
    while (open.size() > 1) {
        const int n = std::min<int>(static_cast<int>(open.size()), std::uniform_int_distribution<int>(2, 5)(rng));
        std::vector<Cdf> kids(open.end() - n, open.end());
        std::vector<std::string> kid_names(names.end() - n, names.end());
        open.resize(open.size() - static_cast<size_t>(n));
        names.resize(names.size() - static_cast<size_t>(n));
        const int g = kind(rng);
        const int k = std::uniform_int_distribution<int>(1, n)(rng);
        // Failures needed: series/or 1, parallel/and n, k of n: k (for a block
        // k of the n must work, so n − k + 1 failures).
        const int needed = g == 0 ? 1 : g == 1 ? n : (block ? n - k + 1 : k);
        std::string line = g == 0 ? (block ? "series" : "or") : g == 1 ? (block ? "parallel" : "and") : "kofn";
        const std::string name = "g" + std::to_string(gate++);
        line += " " + name;
        if (g == 2) line += " " + std::to_string(k) + ", " + std::to_string(n) + ",";
        for (const std::string& kn : kid_names) line += " " + kn;
        m.text += line + "\n";
        open.push_back([kids, needed](double t) {
            std::vector<double> f;
            for (const Cdf& c : kids) f.push_back(c(t));
            return at_least(f, needed);
        });
        names.push_back(name);
    }
    m.text += "end\n";
    m.F = open.back();
    return m;
}

// Parses "text:   number" lines in order.
std::vector<double> printed_values(const std::string& out) {
    std::vector<double> values;
    std::istringstream s(out);
    std::string line;
    while (std::getline(s, line)) {
        const size_t at = line.find(":   ");
        if (at != std::string::npos) values.push_back(std::strtod(line.c_str() + at + 4, nullptr));
    }
    return values;
}

// Runs the model of system s and compares the printed values at 0.5, 1 and 2
// times the mean, the mean and the variance with the ones given.
void check_numbers(const std::string& text, const Cdf& F, double mean, double variance, const std::string& what) {
    const double times[3] = {0.5 * mean, mean, 2.0 * mean};
    std::string query = "format 8\nexpr ";
    for (double t : times) query += "value(" + rate_text(t) + "; s), ";
    query += "mean(s), variance(s)\n";
    TreeRun r(text + query);
    ASSERT_EQ(r.status, 0) << what << "\n" << text << r.out;
    EXPECT_EQ(r.out.find("warning"), std::string::npos) << what << "\n" << r.out;
    const std::vector<double> got = printed_values(r.out);
    ASSERT_EQ(got.size(), 5u) << what << "\n" << r.out;
    for (int i = 0; i < 3; ++i) {
        const double want = F(times[i]);
        EXPECT_NEAR(got[static_cast<size_t>(i)], want, 1e-8 * want) << what << " value at " << times[i] << "\n" << text;
    }
    EXPECT_NEAR(got[3], mean, 1e-8 * mean) << what << " mean\n" << text;
    EXPECT_NEAR(got[4], variance, 1e-8 * variance) << what << " variance\n" << text;
}

void check(const Model& m, const std::string& what) {
    const double mean = integral_to_infinity([&](double t) { return 1.0 - m.F(t); }, m.scale);
    const double second = 2 * integral_to_infinity([&](double t) { return t * (1.0 - m.F(t)); }, m.scale);
    check_numbers(m.text, m.F, mean, second - mean * mean, what);
}

TEST(TrustedNumbersProperty, TreesAndBlocksOfUpTo80ComponentsMatchTheStructureFunction) {
    std::mt19937 rng(977);
    const int sizes[] = {5, 12, 30, 55, 80};
    for (int size : sizes)
        for (int variant = 0; variant < 4; ++variant) {
            const bool block = variant % 2 == 0, equal = variant >= 2;
            Model m = random_tree(rng, block, equal, size);
            check(m, std::string(block ? "block" : "ftree") + (equal ? " equal" : " distinct") + " n=" +
                         std::to_string(size));
        }
}

// ---------------------------------------------------------------- graphs
//
// A series-parallel graph of exponential activities finishes at a phase-type
// time: a chain of transient states, each left at its own rates, acyclic.
// The reference is built here from the way the graph was generated, not from
// its text: a sequence joins two chains end to start; a max, min or k-of-n
// fork runs the branches' chains side by side (the product of their states,
// each branch running or done, absorbed once enough are done); a random
// fork mixes the branches' starting states. The moments follow by first-step
// analysis over the acyclic states and F(t) by uniformization, both sums of
// positive terms only.

struct PhaseChain {
    std::vector<std::vector<std::pair<int, double>>> next;  // rates to other states
    std::vector<double> done;                               // rate of finishing
    std::vector<double> start;                              // starting probabilities
    int size() const { return static_cast<int>(done.size()); }
};

PhaseChain one_phase(double rate) { return {{{}}, {rate}, {1.0}}; }

PhaseChain in_sequence(const PhaseChain& a, const PhaseChain& b) {
    PhaseChain c = a;
    const int off = a.size();
    for (int i = 0; i < a.size(); ++i) {
        for (int j = 0; j < b.size(); ++j)
            if (b.start[static_cast<size_t>(j)] > 0) c.next[static_cast<size_t>(i)].emplace_back(off + j, a.done[static_cast<size_t>(i)] * b.start[static_cast<size_t>(j)]);
        c.done[static_cast<size_t>(i)] = 0.0;
    }
    for (int j = 0; j < b.size(); ++j) {
        std::vector<std::pair<int, double>> moved;
        for (auto [k, r] : b.next[static_cast<size_t>(j)]) moved.emplace_back(off + k, r);
        c.next.push_back(moved);
        c.done.push_back(b.done[static_cast<size_t>(j)]);
        c.start.push_back(0.0);
    }
    return c;
}

PhaseChain mixed(const std::vector<PhaseChain>& kids, const std::vector<double>& p) {
    PhaseChain c;
    for (size_t b = 0; b < kids.size(); ++b) {
        const int off = c.size();
        for (int j = 0; j < kids[b].size(); ++j) {
            std::vector<std::pair<int, double>> moved;
            for (auto [k, r] : kids[b].next[static_cast<size_t>(j)]) moved.emplace_back(off + k, r);
            c.next.push_back(moved);
            c.done.push_back(kids[b].done[static_cast<size_t>(j)]);
            c.start.push_back(p[b] * kids[b].start[static_cast<size_t>(j)]);
        }
    }
    return c;
}

// The branches side by side, finished when `needed` of them are done. A
// branch's coordinate is its state, or its size when it is done.
PhaseChain side_by_side(const std::vector<PhaseChain>& kids, int needed) {
    using Tuple = std::vector<int>;
    std::map<Tuple, int> index;
    std::vector<Tuple> states;
    PhaseChain c;
    auto find = [&](const Tuple& s) {
        auto [it, fresh] = index.emplace(s, static_cast<int>(states.size()));
        if (fresh) {
            states.push_back(s);
            c.next.emplace_back();
            c.done.push_back(0.0);
            c.start.push_back(0.0);
        }
        return it->second;
    };
    auto count_done = [&](const Tuple& s) {
        int n = 0;
        for (size_t b = 0; b < kids.size(); ++b) n += s[b] == kids[b].size();
        return n;
    };
    // Starting states: every combination of the branches' starting states.
    std::vector<std::pair<Tuple, double>> starts{{Tuple{}, 1.0}};
    for (const PhaseChain& k : kids) {
        std::vector<std::pair<Tuple, double>> grown;
        for (const auto& [t, p] : starts)
            for (int j = 0; j < k.size(); ++j)
                if (k.start[static_cast<size_t>(j)] > 0) {
                    Tuple u = t;
                    u.push_back(j);
                    grown.emplace_back(u, p * k.start[static_cast<size_t>(j)]);
                }
        starts = grown;
    }
    for (const auto& [t, p] : starts) c.start[static_cast<size_t>(find(t))] += p;
    for (size_t at = 0; at < states.size(); ++at) {
        const Tuple s = states[at];
        for (size_t b = 0; b < kids.size(); ++b) {
            const int j = s[b];
            if (j == kids[b].size()) continue;
            for (auto [k, r] : kids[b].next[static_cast<size_t>(j)]) {
                Tuple u = s;
                u[b] = k;
                const int to = find(u);
                c.next[at].emplace_back(to, r);
            }
            const double r = kids[b].done[static_cast<size_t>(j)];
            if (r == 0.0) continue;
            Tuple u = s;
            u[b] = kids[b].size();
            if (count_done(u) >= needed) {
                c.done[at] += r;
            } else {
                const int to = find(u);
                c.next[at].emplace_back(to, r);
            }
        }
    }
    return c;
}

// Mean and variance by first-step analysis: from state i, left at total rate
// λ, m = (1 + Σ r·m_j)/λ and E[T²] = (2m + Σ r·s_j)/λ. States are visited
// after all their successors (depth first over the acyclic chain).
std::pair<double, double> chain_moments(const PhaseChain& c) {
    const size_t n = static_cast<size_t>(c.size());
    std::vector<double> m(n), s(n);
    std::vector<int> mark(n, 0);
    std::vector<std::pair<size_t, size_t>> stack;
    for (size_t root = 0; root < n; ++root) {
        if (mark[root]) continue;
        stack.emplace_back(root, 0);
        mark[root] = 1;
        while (!stack.empty()) {
            auto& [i, e] = stack.back();
            if (e < c.next[i].size()) {
                const size_t j = static_cast<size_t>(c.next[i][e++].first);
                if (!mark[j]) {
                    mark[j] = 1;
                    stack.emplace_back(j, 0);
                }
                continue;
            }
            double rate = c.done[i], sm = 1.0, ss = 0.0;
            for (auto [j, r] : c.next[i]) {
                rate += r;
                sm += r * m[static_cast<size_t>(j)];
                ss += r * s[static_cast<size_t>(j)];
            }
            m[i] = sm / rate;
            s[i] = (2.0 * m[i] + ss) / rate;
            stack.pop_back();
        }
    }
    double mean = 0.0, second = 0.0;
    for (size_t i = 0; i < n; ++i) {
        mean += c.start[i] * m[i];
        second += c.start[i] * s[i];
    }
    return {mean, second - mean * mean};
}

// P(finished by t): the uniformized chain's finished mass after n steps,
// weighted by Poisson(Λt) probabilities, far into the Poisson tail.
double chain_cdf(const PhaseChain& c, double t) {
    const size_t n = static_cast<size_t>(c.size());
    double lambda = 0.0;
    for (size_t i = 0; i < n; ++i) {
        double rate = c.done[i];
        for (auto [j, r] : c.next[i]) rate += r;
        lambda = std::max(lambda, rate);
    }
    const double x = lambda * t;
    const int steps = static_cast<int>(x + 14.0 * std::sqrt(x) + 80.0);
    std::vector<double> v = c.start, w(n);
    double finished = 0.0, F = 0.0;
    for (int k = 0; k <= steps; ++k) {
        F += std::exp(-x + k * std::log(x) - std::lgamma(k + 1.0)) * finished;
        std::fill(w.begin(), w.end(), 0.0);
        for (size_t i = 0; i < n; ++i) {
            if (v[i] == 0.0) continue;
            double leave = c.done[i];
            finished += v[i] * c.done[i] / lambda;
            for (auto [j, r] : c.next[i]) {
                w[static_cast<size_t>(j)] += v[i] * r / lambda;
                leave += r;
            }
            w[i] += v[i] * (1.0 - leave / lambda);
        }
        std::swap(v, w);
    }
    return F;
}

struct SubGraph {
    std::string entry, exit;
    PhaseChain chain;
};

// Writes a random series-parallel graph of `budget` activities: arcs into
// `arcs`, distributions, branch probabilities and exits into `attrs`.
struct GraphWriter {
    std::mt19937& rng;
    bool equal;
    std::string arcs, attrs;
    int nodes = 0;

    int pick(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); }

    SubGraph activity() {
        const std::string name = "a" + std::to_string(++nodes);
        const double r = draw_rate(rng, equal);
        attrs += "dist " + name + " exp(" + rate_text(r) + ")\n";
        return {name, name, one_phase(r)};
    }
    void arc(const std::string& from, const std::string& to) { arcs += from + " " + to + "\n"; }

    SubGraph make(int budget, int depth) {
        if (budget <= 1) return activity();
        if (budget <= 3 || budget > 14 || depth >= 3 || pick(0, 2) == 0) {
            // A sequence of two to four parts, or of parts of about ten.
            const int parts = budget > 14 ? (budget + 9) / 10 : std::min(budget, pick(2, 4));
            SubGraph whole;
            for (int p = 0; p < parts; ++p) {
                const int share = budget / parts + (p < budget % parts ? 1 : 0);
                SubGraph part = make(share, depth + 1);
                if (p == 0) {
                    whole = part;
                    continue;
                }
                arc(whole.exit, part.entry);
                whole.exit = part.exit;
                whole.chain = in_sequence(whole.chain, part.chain);
            }
            return whole;
        }
        // A fork node, two to four branches and a join node (an activity, or
        // no time at all).
        SubGraph fork = activity();
        const int width = std::min(budget - 2, pick(2, 4));
        std::vector<SubGraph> branches;
        long long product = 1;
        for (int b = 0; b < width; ++b) {
            const int share = (budget - 2) / width + (b < (budget - 2) % width ? 1 : 0);
            branches.push_back(make(share, depth + 1));
            product *= branches.back().chain.size() + 1;
        }
        int kind = pick(0, 3);  // max, min, k of n, random
        if (product > 3000) kind = 3;
        std::vector<PhaseChain> chains;
        for (const SubGraph& b : branches) {
            arc(fork.exit, b.entry);
            chains.push_back(b.chain);
        }
        PhaseChain middle;
        if (kind == 3) {
            std::vector<double> p(static_cast<size_t>(width));
            double total = 0.0;
            for (double& q : p) total += q = pick(1, 9);
            for (int b = 0; b < width; ++b) {
                p[static_cast<size_t>(b)] /= total;
                attrs += "prob " + fork.exit + " " + branches[static_cast<size_t>(b)].entry + " " + rate_text(p[static_cast<size_t>(b)]) + "\n";
            }
            attrs += "exit " + fork.exit + " prob\n";
            middle = mixed(chains, p);
        } else if (kind == 2) {
            const int k = pick(1, width);
            attrs += "exit " + fork.exit + " kofn " + std::to_string(k) + ", " + std::to_string(width) + "\n";
            middle = side_by_side(chains, k);
        } else {
            attrs += "exit " + fork.exit + (kind == 0 ? " max\n" : " min\n");
            middle = side_by_side(chains, kind == 0 ? width : 1);
        }
        SubGraph join;
        if (pick(0, 2) == 0) {
            join.entry = join.exit = "a" + std::to_string(++nodes);
            attrs += "dist " + join.entry + " zero\n";
        } else {
            join = activity();
        }
        for (const SubGraph& b : branches) arc(b.exit, join.entry);
        SubGraph whole{fork.entry, join.exit, in_sequence(fork.chain, middle)};
        if (join.chain.size() > 0) whole.chain = in_sequence(whole.chain, join.chain);
        return whole;
    }
};

TEST(TrustedNumbersProperty, SeriesParallelGraphsOfUpTo80ActivitiesMatchTheirPhaseChains) {
    std::mt19937 rng(4211);
    const int sizes[] = {6, 14, 30, 55, 80};
    for (int size : sizes)
        for (int variant = 0; variant < 4; ++variant) {
            const bool equal = variant >= 2;
            GraphWriter w{rng, equal, "", "", 0};
            const SubGraph g = w.make(size, 0);
            ASSERT_EQ(w.nodes, size);
            const std::string text = "graph s\n" + w.arcs + (w.nodes == 1 ? g.entry + "\n" : "") + "end\n" + w.attrs + "end\n";
            const auto [mean, variance] = chain_moments(g.chain);
            check_numbers(text, [&](double t) { return chain_cdf(g.chain, t); }, mean, variance,
                          std::string(equal ? "graph equal" : "graph distinct") + " n=" + std::to_string(w.nodes));
        }
}

// The reference itself: a chain of two exponential phases, a max and a min
// of two, against their closed forms.
TEST(TrustedNumbersProperty, PhaseChainReferenceMatchesClosedForms) {
    const double a = 1.5, b = 0.5, t = 1.3;
    const PhaseChain seq = in_sequence(one_phase(a), one_phase(b));
    EXPECT_NEAR(chain_cdf(seq, t), 1 - (b * std::exp(-a * t) - a * std::exp(-b * t)) / (b - a), 1e-14);
    EXPECT_NEAR(chain_moments(seq).first, 1 / a + 1 / b, 1e-14);
    EXPECT_NEAR(chain_moments(seq).second, 1 / (a * a) + 1 / (b * b), 1e-14);
    const PhaseChain both = side_by_side({one_phase(a), one_phase(b)}, 2);
    EXPECT_NEAR(chain_cdf(both, t), -std::expm1(-a * t) * -std::expm1(-b * t), 1e-14);
    EXPECT_NEAR(chain_moments(both).first, 1 / a + 1 / b - 1 / (a + b), 1e-14);
    const PhaseChain first = side_by_side({one_phase(a), one_phase(b)}, 1);
    EXPECT_NEAR(chain_cdf(first, t), -std::expm1(-(a + b) * t), 1e-14);
    EXPECT_NEAR(chain_moments(first).second, 1 / ((a + b) * (a + b)), 1e-14);
}

// The listing of a series of 40 parallel pairs (rates 0.001·(1 + 0.37k)) has
// terms that cancel far beyond double precision: the listing is followed by
// the warning, and the moments under it are the true ones (8.63362459 and
// 24.2162669, from the quadrature of the structure function in
// tests/golden/numerics/expected.py).
TEST(TrustedNumbers, CdfOfFortyPairsWarnsAndPrintsTrueMoments) {
    std::string text = "format 8\nblock b\n";
    for (int k = 1; k <= 80; ++k) text += "comp c" + std::to_string(k) + " exp(" + rate_text(0.001 * (1 + 0.37 * k)) + ")\n";
    std::string top = "series top";
    for (int p = 0; p < 40; ++p) {
        text += "parallel p" + std::to_string(p) + " c" + std::to_string(2 * p + 1) + " c" + std::to_string(2 * p + 2) + "\n";
        top += " p" + std::to_string(p);
    }
    text += top + "\nend\ncdf(b)\n";
    TreeRun r(text);
    ASSERT_EQ(r.status, 0) << r.out.substr(0, 2000);
    EXPECT_NE(r.out.find("warning: the terms of this distribution cancel beyond double precision (estimated error "),
              std::string::npos);
    EXPECT_NE(r.out.find("mean: 8.63362459e+00\n"), std::string::npos);
    EXPECT_NE(r.out.find("variance: 2.42162669e+01\n"), std::string::npos);
}

}  // namespace
}  // namespace corvel
