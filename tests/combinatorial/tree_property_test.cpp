// Random block diagrams and fault trees of up to 30 components: the mean and
// variance of the solved distribution (closed-form moments of the exponomial)
// agree with numerical integration of its survival function, and the value
// at a time point agrees with the gate formulas applied to the components.

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "combinatorial/tree_run.h"

namespace corvel {
namespace {

struct RandomTree {
    std::string text;
    // Failure probability of every statement at the check time, in order.
    std::vector<double> value;
};

// Components with rates from a small set keep the number of distinct terms
// small; gates take two to four earlier statements that are not used yet.
RandomTree make_tree(std::mt19937& rng, bool block, double t) {
    const double rates[] = {0.5, 1.0, 2.0};
    std::uniform_int_distribution<int> ncomp(2, 30);
    const int components = ncomp(rng);
    RandomTree r;
    r.text = block ? "block s\n" : "ftree s\n";
    std::vector<int> open;  // statements not yet used by a gate
    for (int i = 0; i < components; ++i) {
        double rate = rates[rng() % 3];
        r.text += std::string(block ? "comp" : "basic") + " c" + std::to_string(i) + " exp(" + std::to_string(rate) + ")\n";
        r.value.push_back(1 - std::exp(-rate * t));
        open.push_back(i);
    }
    int g = 0;
    while (open.size() > 1) {
        int take = std::min<int>(static_cast<int>(open.size()), 2 + static_cast<int>(rng() % 3));
        std::vector<int> kids;
        for (int j = 0; j < take; ++j) {
            size_t at = rng() % open.size();
            kids.push_back(open[at]);
            open.erase(open.begin() + static_cast<long>(at));
        }
        int kind = static_cast<int>(rng() % 3);  // 0 series/or, 1 parallel/and, 2 k of n
        int n = static_cast<int>(kids.size());
        int k = 1 + static_cast<int>(rng() % static_cast<unsigned>(n));
        std::string line;
        // Probability that at least m of the kids have failed.
        std::vector<double> P(static_cast<size_t>(n) + 1, 0.0);
        P[0] = 1.0;
        for (int kid : kids) {
            double q = r.value[static_cast<size_t>(kid)];
            for (int m = n; m >= 1; --m) P[static_cast<size_t>(m)] = P[static_cast<size_t>(m)] * (1 - q) + P[static_cast<size_t>(m - 1)] * q;
            P[0] *= 1 - q;
        }
        auto at_least = [&](int m) {
            double s = 0;
            for (int j = m; j <= n; ++j) s += P[static_cast<size_t>(j)];
            return s;
        };
        double v;
        if (kind == 0) {
            line = block ? "series" : "or";
            v = at_least(1);
        } else if (kind == 1) {
            line = block ? "parallel" : "and";
            v = at_least(n);
        } else {
            line = "kofn";
            v = at_least(block ? n - k + 1 : k);
        }
        line += " g" + std::to_string(g++);
        if (kind == 2) line += " " + std::to_string(k) + ", " + std::to_string(n) + ",";
        for (int kid : kids) line += " " + (kid < components ? "c" + std::to_string(kid) : "g" + std::to_string(kid - components));
        r.text += line + "\n";
        r.value.push_back(v);
        open.push_back(static_cast<int>(r.value.size()) - 1);
    }
    r.text += "end\n";
    return r;
}

// ∫_0^T f by composite Simpson's rule.
template <class F>
double simpson(F f, double T, int intervals) {
    double h = T / intervals, s = f(0.0) + f(T);
    for (int i = 1; i < intervals; ++i) s += (i % 2 ? 4 : 2) * f(i * h);
    return s * h / 3;
}

TEST(TreeProperty, MomentsMatchQuadratureAndValuesMatchGateFormulas) {
    std::mt19937 rng(20240611);
    const double t_check = 0.7;
    for (int trial = 0; trial < 40; ++trial) {
        const bool block = trial % 2 == 0;
        RandomTree tree = make_tree(rng, block, t_check);
        TreeRun r(tree.text);
        ASSERT_EQ(r.status, 0) << tree.text << r.out;
        ASSERT_TRUE(r.solve("s")) << tree.text << r.out;
        const Exponomial& F = r.sys("s").s_dist;
        const Tolerances& tol = r.in.settings.tol;
        EXPECT_NEAR(evaluate_expo(F, t_check, tol), tree.value.back(), 1e-9) << tree.text;

        // Every component has rate >= 0.5, so the survival is negligible by t = 120.
        auto survival = [&](double t) { return 1 - evaluate_expo(F, t, tol); };
        double mean = simpson(survival, 120.0, 12000);
        double second = 2 * simpson([&](double t) { return t * survival(t); }, 120.0, 12000);
        double m1 = moment_of_expo(F, 1, tol), m2 = moment_of_expo(F, 2, tol);
        EXPECT_NEAR(m1, mean, 1e-6 * std::max(1.0, mean)) << tree.text;
        EXPECT_NEAR(m2 - m1 * m1, second - mean * mean, 1e-5 * std::max(1.0, second)) << tree.text;
    }
}

}  // namespace
}  // namespace corvel
