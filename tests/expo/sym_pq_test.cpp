#include "expo/sym_pq.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

namespace corvel {
namespace {

// Value of a p-q formula with numbers for its Q(name) leaves, so that the
// k-out-of-n texts can be checked against independent probability sums.
// sum := product {("+" | "-") product}; product := factor {"*" factor};
// factor := number | "(" sum ")" | "Q(" name ")". Returns NaN on bad text.
struct FormulaValue {
    const std::string& s;
    const std::map<std::string, double>& leaves;
    std::size_t pos = 0;

    bool eat(char ch) {
        while (pos < s.size() && s[pos] == ' ') ++pos;
        if (pos < s.size() && s[pos] == ch) return ++pos, true;
        return false;
    }
    double sum() {
        double v = product();
        for (;;) {
            if (eat('+')) v += product();
            else if (eat('-')) v -= product();
            else return v;
        }
    }
    double product() {
        double v = factor();
        while (eat('*')) v *= factor();
        return v;
    }
    double factor() {
        if (eat('(')) {
            double v = sum();
            return eat(')') ? v : NAN;
        }
        if (eat('Q') && eat('(')) {
            const std::size_t end = s.find(')', pos);
            auto it = leaves.find(s.substr(pos, end - pos));
            if (end == std::string::npos || it == leaves.end()) return NAN;
            pos = end + 1;
            return it->second;
        }
        char* end = nullptr;
        const double v = std::strtod(s.c_str() + pos, &end);
        if (end == s.c_str() + pos) return NAN;
        pos = static_cast<std::size_t>(end - s.c_str());
        return v;
    }
    double value() {
        const double v = sum();
        return pos == s.size() ? v : NAN;
    }
};

double value_of(const std::string& text, const std::map<std::string, double>& leaves) {
    return FormulaValue{text, leaves}.value();
}

TEST(SymPq, Spellings) {
    SymFormula d;
    add_sym_pqcdf("Q(a)", d);
    multiply_sym_pqcdf("Q(b)", "Q(c)", d);
    sym_scalar_mult_and_add("Q(d)", 1.0, d);
    sym_scalar_mult_and_add("Q(e)", -2.0, d);
    EXPECT_EQ(*d, "Q(a) + (Q(b)) * (Q(c)) + Q(d) + -2.000000 * (Q(e))");

    SymFormula n;
    sym_negate_and_add_scalar(n, 1.0);
    EXPECT_EQ(*n, "1");
    sym_negate_and_add_scalar(n, 0.5);
    EXPECT_EQ(*n, "0.500000 - (1)");

    sym_convolution_dists("A", "B", d);
    EXPECT_EQ(*d, "(B @ A)");
    const std::vector<std::string> list = {"A", "B", "C"};
    sym_convolution_list(list, d);
    EXPECT_EQ(*d, "(C @ (B @ A))");
}

TEST(SymPq, KOfNTexts) {
    const std::vector<std::string> two = {"Q(a)", "Q(b)"};
    SymFormula both, either;
    sym_k_of_n_gen(two, both, 2, 2);
    EXPECT_EQ(*both, "(Q(b)) * (Q(a))");
    // One of two, as the complement of both complements.
    sym_k_of_n_gen(two, either, 1, 2);
    EXPECT_EQ(*either, "1 - ((1 - (Q(b))) * (1 - (Q(a))))");

    // Two of three, appended to what d holds: k' = 2, the pair sums with
    // coefficient 1 and the triple product with −2.
    const std::vector<std::string> three = {"Q(a)", "Q(b)", "Q(c)"};
    SymFormula d = "X";
    sym_k_of_n_gen(three, d, 2, 3);
    const std::string ca = "1 - (Q(a))", cb = "1 - (Q(b))", cc = "1 - (Q(c))";
    const std::string pairs = "(" + cb + ") * (" + ca + ") + (" + cc + ") * (" + ca + " + " + cb + ")";
    const std::string triple = "(" + cc + ") * ((" + cb + ") * (" + ca + "))";
    EXPECT_EQ(*d, "X + 1 - (" + pairs + " + -2.000000 * (" + triple + "))");

    SymFormula none, all, limited, exact;
    sym_k_of_n_gen(three, none, 4, 3);
    sym_k_of_n_gen(three, all, 0, 3);
    EXPECT_EQ(*none, "0");
    EXPECT_EQ(*all, "1");
    sym_k_of_n_gen(three, limited, 3, 5);  // only the children there are count
    sym_k_of_n_gen(three, exact, 3, 3);
    EXPECT_EQ(limited, exact);
}

TEST(SymPq, KOfNAgreesWithEnumerationAndTheBinomialExpansion) {
    const std::vector<double> p = {0.11, 0.52, 0.3, 0.87, 0.05};
    std::vector<std::string> children;
    std::map<std::string, double> leaves, same;
    for (std::size_t i = 0; i < p.size(); ++i) {
        const std::string name(1, static_cast<char>('a' + i));
        children.push_back("Q(" + name + ")");
        leaves[name] = p[i];
        same[name] = 0.37;
    }
    for (int n = 1; n <= 5; ++n) {
        for (int k = 1; k <= n; ++k) {
            double expected = 0;
            for (unsigned mask = 0; mask < (1u << n); ++mask) {
                double prob = 1;
                for (int i = 0; i < n; ++i) prob *= (mask >> i) & 1u ? p[i] : 1 - p[i];
                if (__builtin_popcount(mask) >= k) expected += prob;
            }
            SymFormula d;
            sym_k_of_n_gen(children, d, k, n);
            EXPECT_NEAR(value_of(*d, leaves), expected, 1e-9) << k << " of " << n;
        }
    }
    // Identical components: 2 of 3 is 3q²(1 − q) + q³.
    SymFormula d;
    sym_k_of_n_gen(children, d, 2, 3);
    const double q = 0.37;
    EXPECT_NEAR(value_of(*d, same), 3 * q * q * (1 - q) + q * q * q, 1e-12);
}

}  // namespace
}  // namespace corvel
