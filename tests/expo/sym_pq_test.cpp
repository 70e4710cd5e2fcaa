#include "expo/sym_pq.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cmath>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

namespace corvel {
namespace {

// Evaluates a p-q formula with numbers for its Q(name) leaves, so that the
// k-out-of-n texts can be checked against independent probability sums.
// Grammar: sum := product {("+" | "-") product}; product := factor {"*" factor};
// factor := number | "-" number | "(" sum ")" | "Q(" name ")".
class FormulaValue {
public:
    FormulaValue(const std::string& text, std::map<std::string, double> leaves)
        : s_(text), leaves_(std::move(leaves)) {}

    double value() {
        double v = sum();
        skip();
        if (pos_ != s_.size()) ADD_FAILURE() << "trailing text at " << pos_ << " in " << s_;
        return v;
    }

private:
    void skip() {
        while (pos_ < s_.size() && s_[pos_] == ' ') ++pos_;
    }
    bool eat(char ch) {
        skip();
        if (pos_ < s_.size() && s_[pos_] == ch) {
            ++pos_;
            return true;
        }
        return false;
    }
    double sum() {
        double v = product();
        for (;;) {
            if (eat('+'))
                v += product();
            else if (eat('-'))
                v -= product();
            else
                return v;
        }
    }
    double product() {
        double v = factor();
        while (eat('*')) v *= factor();
        return v;
    }
    double factor() {
        skip();
        if (eat('(')) {
            double v = sum();
            if (!eat(')')) ADD_FAILURE() << "missing ) in " << s_;
            return v;
        }
        if (pos_ < s_.size() && s_[pos_] == 'Q') {
            ++pos_;
            if (!eat('(')) ADD_FAILURE() << "Q without ( in " << s_;
            std::size_t end = s_.find(')', pos_);
            if (end == std::string::npos) {
                ADD_FAILURE() << "unterminated leaf in " << s_;
                pos_ = s_.size();
                return 0;
            }
            std::string name = s_.substr(pos_, end - pos_);
            pos_ = end + 1;
            auto it = leaves_.find(name);
            if (it == leaves_.end()) ADD_FAILURE() << "unknown leaf " << name;
            return it == leaves_.end() ? 0.0 : it->second;
        }
        char* end = nullptr;
        double v = std::strtod(s_.c_str() + pos_, &end);
        if (end == s_.c_str() + pos_) {
            ADD_FAILURE() << "expected a number at " << pos_ << " in " << s_;
            pos_ = s_.size();
            return 0;
        }
        pos_ = static_cast<std::size_t>(end - s_.c_str());
        return v;
    }

    std::string s_;
    std::map<std::string, double> leaves_;
    std::size_t pos_ = 0;
};

TEST(SymPq, Spellings) {
    SymFormula d;
    add_sym_pqcdf("Q(a)", d);
    EXPECT_EQ(*d, "Q(a)");
    add_sym_pqcdf("Q(b)", d);
    EXPECT_EQ(*d, "Q(a) + Q(b)");

    SymFormula m;
    multiply_sym_pqcdf("Q(a)", "Q(b)", m);
    multiply_sym_pqcdf("Q(c)", "Q(d)", m);
    EXPECT_EQ(*m, "(Q(a)) * (Q(b)) + (Q(c)) * (Q(d))");

    SymFormula s;
    sym_scalar_mult_and_add("Q(a)", 1.0, s);
    sym_scalar_mult_and_add("Q(b)", 0.25, s);
    sym_scalar_mult_and_add("Q(c)", -2.0, s);
    EXPECT_EQ(*s, "Q(a) + 0.250000 * (Q(b)) + -2.000000 * (Q(c))");

    SymFormula n;
    sym_negate_and_add_scalar(n, 1.0);
    EXPECT_EQ(*n, "1");
    n = "Q(a)";
    sym_negate_and_add_scalar(n, 1.0);
    EXPECT_EQ(*n, "1 - (Q(a))");
    sym_negate_and_add_scalar(n, 0.5);
    EXPECT_EQ(*n, "0.500000 - (1 - (Q(a)))");

    SymFormula h;
    sym_head_node(h);
    ASSERT_TRUE(h.has_value());
    EXPECT_EQ(*h, "");
    SymFormula copy;
    copy_sym_pqcdf(m, copy);
    EXPECT_EQ(copy, m);
    copy_sym_pqcdf(SymFormula(), copy);
    EXPECT_FALSE(copy.has_value());

    EXPECT_EQ(sym_leaf("pump"), "Q(pump)");

    std::string captured;
    Output out(&captured);
    print_sym_p_q_form(out, d);
    print_sym_p_q_form(out, SymFormula());
    EXPECT_EQ(captured, "  Q(a) + Q(b)\n\n  \n\n");
}

TEST(SymPq, Convolution) {
    SymFormula d = "old";
    sym_convolution_dists("A", "B", d);
    EXPECT_EQ(*d, "(B @ A)");

    const std::vector<std::string> list = {"A", "B", "C"};
    sym_convolution_list(list, d);
    EXPECT_EQ(*d, "(C @ (B @ A))");
    const std::vector<std::string> one = {"A"};
    sym_convolution_list(one, d);
    EXPECT_EQ(*d, "A");
    sym_convolution_list({}, d);
    EXPECT_EQ(*d, "A");
}

TEST(SymPq, KOfNTexts) {
    const std::vector<std::string> two = {"Q(a)", "Q(b)"};
    SymFormula both;
    sym_k_of_n_gen(two, both, 2, 2);
    EXPECT_EQ(*both, "(Q(b)) * (Q(a))");

    // One of two, as the complement of both complements failing.
    SymFormula either;
    sym_k_of_n_gen(two, either, 1, 2);
    EXPECT_EQ(*either, "1 - ((1 - (Q(b))) * (1 - (Q(a))))");

    // Two of three: k' = 2, terms for m = 2 (coefficient 1) and m = 3 (−2).
    const std::vector<std::string> three = {"Q(a)", "Q(b)", "Q(c)"};
    SymFormula d = "X";
    sym_k_of_n_gen(three, d, 2, 3);
    const std::string ca = "1 - (Q(a))", cb = "1 - (Q(b))", cc = "1 - (Q(c))";
    const std::string pairs = "(" + cb + ") * (" + ca + ") + (" + cc + ") * (" + ca + " + " + cb + ")";
    const std::string triple = "(" + cc + ") * ((" + cb + ") * (" + ca + "))";
    EXPECT_EQ(*d, "X + 1 - (" + pairs + " + -2.000000 * (" + triple + "))");

    SymFormula none, all;
    sym_k_of_n_gen(three, none, 4, 3);
    sym_k_of_n_gen(three, all, 0, 3);
    EXPECT_EQ(*none, "0");
    EXPECT_EQ(*all, "1");
    // n beyond the children counts only the children: 3 of "5" is 3 of 3.
    SymFormula limited, exact;
    sym_k_of_n_gen(three, limited, 3, 5);
    sym_k_of_n_gen(three, exact, 3, 3);
    EXPECT_EQ(limited, exact);
}

double binomial(int n, int j) {
    double c = 1;
    for (int i = 1; i <= j; ++i) c = c * (n - j + i) / i;
    return c;
}

TEST(SymPq, TwoOfThreeIdenticalMatchesTheBinomialExpansion) {
    const std::vector<std::string> three = {"Q(x)", "Q(y)", "Q(z)"};
    SymFormula d;
    sym_k_of_n_gen(three, d, 2, 3);
    for (double q : {0.0, 0.1, 0.37, 0.9, 1.0}) {
        const double expected = 3 * q * q * (1 - q) + q * q * q;
        EXPECT_NEAR(FormulaValue(*d, {{"x", q}, {"y", q}, {"z", q}}).value(), expected, 1e-12) << "q=" << q;
    }
}

TEST(SymPq, EveryKOfNMatchesSubsetEnumeration) {
    const std::vector<double> p = {0.11, 0.52, 0.3, 0.87, 0.05};
    std::vector<std::string> children;
    std::map<std::string, double> leaves;
    for (std::size_t i = 0; i < p.size(); ++i) {
        const std::string name(1, static_cast<char>('a' + i));
        children.push_back("Q(" + name + ")");
        leaves[name] = p[i];
    }
    for (int n = 1; n <= 5; ++n) {
        for (int k = 1; k <= n; ++k) {
            double expected = 0;
            for (unsigned mask = 0; mask < (1u << n); ++mask) {
                int count = 0;
                double prob = 1;
                for (int i = 0; i < n; ++i) {
                    const bool up = (mask >> i) & 1u;
                    count += up;
                    prob *= up ? p[static_cast<std::size_t>(i)] : 1 - p[static_cast<std::size_t>(i)];
                }
                if (count >= k) expected += prob;
            }
            SymFormula d;
            sym_k_of_n_gen(children, d, k, n);
            EXPECT_NEAR(FormulaValue(*d, leaves).value(), expected, 1e-9) << k << " of " << n;
        }
    }
    // Identical components once more, against the binomial sum.
    const double q = 0.4;
    std::map<std::string, double> same;
    for (const auto& [name, value] : leaves) same[name] = q;
    SymFormula d;
    sym_k_of_n_gen(children, d, 3, 5);
    double expected = 0;
    for (int j = 3; j <= 5; ++j) expected += binomial(5, j) * std::pow(q, j) * std::pow(1 - q, 5 - j);
    EXPECT_NEAR(FormulaValue(*d, same).value(), expected, 1e-9);
}

}  // namespace
}  // namespace corvel
