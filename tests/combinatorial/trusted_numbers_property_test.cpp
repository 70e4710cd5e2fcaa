// Random block diagrams and fault trees of up to 80 exponential components,
// with distinct and with equal rates, run end to end: the printed value at
// several times, mean and variance must equal an evaluation written here
// (structure function, Gauss-Legendre quadrature of the survival function)
// to 1e-8 relative.

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
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

void check(const Model& m, const std::string& what) {
    const double mean = integral_to_infinity([&](double t) { return 1.0 - m.F(t); }, m.scale);
    const double second = 2 * integral_to_infinity([&](double t) { return t * (1.0 - m.F(t)); }, m.scale);
    const double variance = second - mean * mean;
    const double times[3] = {0.5 * mean, mean, 2.0 * mean};
    std::string query = "format 8\nexpr ";
    for (double t : times) query += "value(" + rate_text(t) + "; s), ";
    query += "mean(s), variance(s)\n";
    TreeRun r(m.text + query);
    ASSERT_EQ(r.status, 0) << what << "\n" << m.text << r.out;
    EXPECT_EQ(r.out.find("warning"), std::string::npos) << what << "\n" << r.out;
    const std::vector<double> got = printed_values(r.out);
    ASSERT_EQ(got.size(), 5u) << what << "\n" << r.out;
    for (int i = 0; i < 3; ++i) {
        const double want = m.F(times[i]);
        EXPECT_NEAR(got[static_cast<size_t>(i)], want, 1e-8 * want) << what << " value at " << times[i] << "\n" << m.text;
    }
    EXPECT_NEAR(got[3], mean, 1e-8 * mean) << what << " mean\n" << m.text;
    EXPECT_NEAR(got[4], variance, 1e-8 * variance) << what << " variance\n" << m.text;
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
