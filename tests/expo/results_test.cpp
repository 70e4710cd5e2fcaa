// Expected texts are built from the documented C formats with snprintf (or
// written out by hand), never copied from the program's output.
#include "expo/results.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

namespace corvel {
namespace {

std::string cfmt(const char* format, ...) {
    char buffer[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    return buffer;
}

// A table entry by its definition: " %*.*le " and a blank before the "e".
std::string entry(int width, int precision, double value) {
    std::string text = cfmt(" %*.*le ", width, precision, value);
    return text.insert(text.find('e'), 1, ' ');
}

// "prefix coefficient var(power) exp(rate var)" of a real term, default widths.
std::string real_line(const char* prefix, double a, int k, double b) {
    return cfmt("%s%11.4e t(%3d) exp(%11.4e t)\n", prefix, a, k, b);
}

Exponomial expo(std::initializer_list<Term> terms) {
    Exponomial F;
    for (const Term& t : terms) insert_term(t.e_a, t.e_a_complex, t.e_xpower, t.e_b, t.e_b_complex, F, {});
    return F;
}

struct Results : ::testing::Test {
    std::string captured;
    Output out{&captured};
    ErrorReporter errors{out};
    Settings settings;
    void use_format(int precision) {
        settings.precision = precision;
        settings.width = precision + 6;
    }
    std::string take() { return std::exchange(captured, std::string()); }
};

const std::string kReport = "**** internal consistency check failed:\n    ";

TEST_F(Results, TableEntriesAndExpressionValues) {
    EXPECT_EQ(format_entry(settings, 1.0), " 1.0000 e+00 ");
    EXPECT_EQ(format_entry(settings, -2.5e-7), " -2.5000 e-07 ");  // the sign widens the field
    EXPECT_EQ(format_entry(settings, 1e-13), " 0.0000 e+00 ");
    EXPECT_EQ(format_entry(settings, -1e-13), " 0.0000 e+00 ");
    EXPECT_EQ(format_entry(settings, 1e-12), " 1.0000 e-12 ");
    use_format(2);  // two decimals in fields of 8
    EXPECT_EQ(format_entry(settings, 12345.678), " 1.23 e+04 ");
    EXPECT_EQ(format_entry(settings, 0.5), entry(8, 2, 0.5));

    print_expression_value(out, settings, "a*2", 4.0);
    print_expression_value(out, settings, "f(2)", -1e-13, 5);
    EXPECT_EQ(captured, "a*2:   " + cfmt("%8.2e", 4.0) + "\n     f(2):   " + cfmt("%8.2e", 0.0) + "\n");
}

TEST_F(Results, NullEmptyAndRealExponomials) {
    expo_print(out, settings, nullptr, 't');
    EXPECT_EQ(take(), "empty\n");
    expo_print(out, settings, Exponomial(), 't');
    EXPECT_EQ(take(), "   " + cfmt("%10.4e", 0.0) + "\n");
    // 2·t·e^(−3t) − e^(−r) in the reward variable; the power-1 term sorts first.
    expo_print(out, settings, expo({{2, 0, 1, -3, 0}, {-1, 0, 0, -1, 0}}), 'r');
    EXPECT_EQ(take(), cfmt("   %11.4e r(  1) exp(%11.4e r)\n + %11.4e r(  0) exp(%11.4e r)\n", 2.0, -3.0, -1.0, -1.0));
}

TEST_F(Results, ConjugatePairsPrintOnceAsCosineAndSine) {
    // 1 − e^(−t)·cos(2t): a constant and −0.5 at rates −1 ± 2i.
    const Exponomial F = expo({{1, 0, 0, 0, 0}, {-0.5, 0, 0, -1, 2}, {-0.5, 0, 0, -1, -2}});
    ASSERT_EQ(F.size(), 3u);
    expo_print(out, settings, F, 't');
    const std::string constant = real_line("   ", 1.0, 0, 0.0);
    EXPECT_EQ(take(), constant + cfmt(" + %11.4e t(  0) exp(%11.4e t) cos %11.4e t\n", -1.0, -1.0, 2.0));

    settings.imag_on = true;  // three lines, the rates with imaginary parts
    expo_print(out, settings, F, 't');
    EXPECT_EQ(take(), constant + cfmt(" + %11.4e t(  0) exp(%11.4e+%10.4ei t)\n", -0.5, -1.0, 2.0) +
                          cfmt(" + %11.4e t(  0) exp(%11.4e%11.4ei t)\n", -0.5, -1.0, -2.0));
    settings.imag_on = false;

    // e^(−t)·sin(2t) as a sine term is stored: (0, 0.5) at −1−2i and
    // (0, −0.5) at −1+2i. The pair's sum is −2a' = +1 times the sine.
    expo_print(out, settings, expo({{0, 0.5, 0, -1, -2}, {0, -0.5, 0, -1, 2}}), 't');
    EXPECT_EQ(take(), cfmt("   %11.4e t(  0) exp(%11.4e t) sin %11.4e t\n", 1.0, -1.0, 2.0));

    // Both coefficient parts: a cosine and a sine line.
    expo_print(out, settings, expo({{0.25, -1, 2, -3, 4}, {0.25, 1, 2, -3, -4}}), 't');
    EXPECT_EQ(take(), cfmt("   %11.4e t(  2) exp(%11.4e t) cos %11.4e t\n", 0.5, -3.0, 4.0) +
                          cfmt(" + %11.4e t(  2) exp(%11.4e t) sin %11.4e t\n", 2.0, -3.0, 4.0));

    // Frequencies 3, 2, −2, −3: the first term's partner is the last one.
    expo_print(out, settings, expo({{1, 0, 0, -1, 3}, {1, 0, 0, -1, -3}, {2, 0, 0, -1, 2}, {2, 0, 0, -1, -2}}), 't');
    EXPECT_EQ(take(), cfmt("   %11.4e t(  0) exp(%11.4e t) cos %11.4e t\n", 2.0, -1.0, 3.0) +
                          cfmt(" + %11.4e t(  0) exp(%11.4e t) cos %11.4e t\n", 4.0, -1.0, 2.0));
}

TEST_F(Results, DistributionSummaries) {
    // F = 0.7 − 0.5·e^(−2t): F(0) = 0.2, F(∞) = 0.7, so 0.3 never finishes and
    // the continuous mass of 0.5 is exponential with rate 2: mean 1/2, second
    // moment 2/4, variance 1/2 − 1/4.
    print_distribution_info(out, settings, errors, expo({{0.7, 0, 0, 0, 0}, {-0.5, 0, 0, -2, 0}}), 't');
    EXPECT_EQ(take(), cfmt("probability at 0:        %10.4e\n", 0.2) +
                          cfmt("probability at infinity: %10.4e\n", 0.3) +
                          cfmt("continuous probability:  %10.4e\n\n", 0.5) + real_line("   ", 0.7, 0, 0.0) +
                          real_line(" + ", -0.5, 0, -2.0) + "\nmean and variance are conditional on finite time\n" +
                          cfmt("\nmean: %9.4e\nvariance: %9.4e\n\n", 0.5, 0.25));

    // The unit step: all mass at zero and nothing continuous to describe.
    print_distribution_info(out, settings, errors, Exponomial::constant(1.0), 't');
    EXPECT_EQ(take(), cfmt("probability at 0:        %10.4e\ncontinuous probability:  %10.4e\n\n", 1.0, 0.0));

    // 1.5 everywhere: both masses clamped, nothing continuous left.
    print_distribution_info(out, settings, errors, Exponomial::constant(1.5), 't');
    const std::string tail = "*** printing unconditional distribution.\n" + real_line("   ", 1.5, 0, 0.0) +
                             cfmt("\nmean: %9.4e\nvariance: %9.4e\n\n", 0.0, 0.0);
    EXPECT_TRUE(captured.ends_with(tail)) << captured;
    EXPECT_EQ(take().find("probability at"), std::string::npos);

    // 1 + 2e^(−t) − 3e^(−2t): E[T] = −2 + 3/2 = −0.5, E[T²] = 2·(−2 + 3/4) =
    // −2.5, variance −2.75. Both are reported and the summary still printed.
    print_distribution_info(out, settings, errors, expo({{1, 0, 0, 0, 0}, {2, 0, 0, -1, 0}, {-3, 0, 0, -2, 0}}), 't');
    EXPECT_TRUE(captured.starts_with(kReport + "mean less than zero.\n" + kReport + "variance less than zero.\n" +
                                     real_line("   ", 1.0, 0, 0.0)));
    EXPECT_TRUE(captured.ends_with(cfmt("\nmean: %9.4e\nvariance: %9.4e\n\n", -0.5, -2.75)));
}

TEST_F(Results, HeadersFitTheEntries) {
    // Width 10: h1 = 6, h2 = 7, every column 13 wide like an entry.
    const std::string t10 = std::string(6, ' ') + "t" + std::string(6, ' ');
    EXPECT_EQ(t10.size(), entry(10, 4, 1.0).size());
    EXPECT_EQ(print_eval_header(out, settings, 1, 0, 't'), 0);
    EXPECT_EQ(take(), t10 + "   F(t)      \n\n");
    print_r_header(out, settings, "expected reward at t");
    EXPECT_EQ(take(), t10 + "   expected reward at t      \n\n");

    // 80/13 = 6 columns fit, the t column included: five paths per block.
    auto path = [](int i) { return cfmt("   path%4d  ", i); };
    EXPECT_EQ(print_eval_header(out, settings, 1, 7, 't'), 6);
    EXPECT_EQ(take(), t10 + path(1) + path(2) + path(3) + path(4) + path(5) + "\n\n");
    EXPECT_EQ(print_eval_header(out, settings, 6, 7, 't'), 0);
    EXPECT_EQ(take(), t10 + path(6) + path(7) + "  overall    \n\n");

    // Width 8: h1 = 5, h2 = 6, columns 11 wide; 80/11 = 7 columns fit.
    use_format(2);
    EXPECT_EQ(print_eval_header(out, settings, 1, 2, 'r'), 0);
    EXPECT_EQ(take(), "     r     " + cfmt("  path%4d ", 1) + cfmt("  path%4d ", 2) + " overall   \n\n");
    EXPECT_EQ(print_eval_header(out, settings, 1, 6, 'r'), 7);
}

TEST_F(Results, TableBlocksAndRows) {
    // Six paths and the overall column at one point: two blocks; 1e-13 is 0.
    std::vector<Exponomial> dists;
    for (int i = 1; i <= 6; ++i) dists.push_back(Exponomial::constant(i / 10.0));
    std::vector<const Exponomial*> paths;
    for (const Exponomial& d : dists) paths.push_back(&d);
    print_eval_table(out, settings, errors, 2.0, 2.0, 0.0, paths, Exponomial::constant(1e-13), 't');
    std::string expected = std::string(6, ' ') + "t" + std::string(6, ' ');
    for (int i = 1; i <= 5; ++i) expected += cfmt("   path%4d  ", i);
    expected += "\n\n" + entry(10, 4, 2.0);
    for (int i = 1; i <= 5; ++i) expected += entry(10, 4, i / 10.0);
    expected += "\n\n" + std::string(6, ' ') + "t" + std::string(6, ' ') + cfmt("   path%4d  ", 6) + "  overall    \n\n";
    expected += entry(10, 4, 2.0) + entry(10, 4, 0.6) + " 0.0000 e+00 \n\n";
    EXPECT_EQ(take(), expected);

    // 0..10 by 0.1 is 101 rows.
    const Exponomial half = Exponomial::constant(0.5);
    const Exponomial* column[] = {&half};
    print_eval_rows(out, settings, errors, 0.0, 10.0, 0.1, column);
    EXPECT_EQ(std::count(captured.begin(), captured.end(), '\n'), 101);
    EXPECT_TRUE(take().ends_with(entry(10, 4, 10.0) + entry(10, 4, 0.5) + "\n"));

    // 1 + 0.5·e^(−t) is 1.5 at 0: the row, then the report with the value.
    const Exponomial above = expo({{1, 0, 0, 0, 0}, {0.5, 0, 0, -1, 0}});
    const Exponomial* bad[] = {&above};
    print_eval_rows(out, settings, errors, 0.0, 0.0, 0.0, bad);
    EXPECT_EQ(take(), entry(10, 4, 0.0) + entry(10, 4, 1.5) + "\n" + kReport +
                          "evaluation of cdf not between zero and one" + cfmt(":%e", 1.5) + ".\n");
}

TEST_F(Results, RangesAndPoints) {
    const std::vector<double> points = eval_points(0.0, 10.0, 0.1);
    ASSERT_EQ(points.size(), 101u);
    EXPECT_EQ(points[37], 37 * 0.1);
    EXPECT_EQ(eval_points(0.0, 0.3, 0.1).size(), 4u);  // repeated addition would lose 0.3
    EXPECT_EQ(eval_points(1.0, 1.0, 0.0).size(), 1u);
    EXPECT_EQ(eval_points(1.0, 3.0, -1.0).size(), 1u);
    EXPECT_TRUE(eval_points(2.0, 1.0, 1.0).empty());
    EXPECT_TRUE(eval_points(0.0, std::nan(""), 1.0).empty());
    EXPECT_EQ(eval_points(0.0, 1e300, 1.0).size(), static_cast<std::size_t>(kMaxTableRows));

    errors.interactive = false;
    errors.location_source = [] { return SourceLocation{"model.crv", 3}; };
    EXPECT_EQ(check_eval_range(errors, 0.0, 10.0, 0.1), 0);
    EXPECT_EQ(check_eval_range(errors, 1.0, 1.0, 0.0), 0);
    EXPECT_EQ(take(), "");
    EXPECT_EQ(check_eval_range(errors, 0.0, 10.0, 0.09), -1);
    EXPECT_EQ(take(), "warning: increment is too small or interval is too large (model.crv: line    3).\n");
    EXPECT_EQ(check_eval_range(errors, 5.0, 1.0, 1.0), -1);
    EXPECT_EQ(take(), "warning: lower limit is greater than upper limit (model.crv: line    3).\n");
    EXPECT_EQ(check_eval_range(errors, 0.0, 1.0, 0.0), -1);
}

}  // namespace
}  // namespace corvel
