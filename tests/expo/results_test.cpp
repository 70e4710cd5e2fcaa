// Expected texts are built from the documented C formats with snprintf (or
// written out by hand), never copied from the program's output.
#include "expo/results.h"

#include <gtest/gtest.h>

#include <cstdarg>
#include <cstdio>
#include <string>
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
    text.insert(text.find('e'), 1, ' ');
    return text;
}

Exponomial expo(std::initializer_list<Term> terms, const Tolerances& tol = {}) {
    Exponomial F;
    for (const Term& t : terms) insert_term(t.e_a, t.e_a_complex, t.e_xpower, t.e_b, t.e_b_complex, F, tol);
    return F;
}

int count_lines(const std::string& text) {
    int lines = 0;
    for (char ch : text) lines += ch == '\n';
    return lines;
}

struct Fixture : ::testing::Test {
    std::string captured;
    Output out{&captured};
    ErrorReporter errors{out};
    Settings settings;
    void use_format(int precision) {
        settings.precision = precision;
        settings.width = precision + 6;
    }
};

// ---------------------------------------------------------------------------

using FormatEntry = Fixture;

TEST_F(FormatEntry, BlankBeforeExponentAndSmallValuesAsZero) {
    EXPECT_EQ(format_entry(settings, 1.0), " 1.0000 e+00 ");
    // A negative value is one wider than the field.
    EXPECT_EQ(format_entry(settings, -2.5e-7), " -2.5000 e-07 ");
    // Below results_epsilon, of either sign, the entry is a plain +0.
    EXPECT_EQ(format_entry(settings, 1e-13), " 0.0000 e+00 ");
    EXPECT_EQ(format_entry(settings, -1e-13), " 0.0000 e+00 ");
    EXPECT_EQ(format_entry(settings, 1e-12), " 1.0000 e-12 ");

    use_format(2);  // two decimals in fields of 8
    EXPECT_EQ(format_entry(settings, 12345.678), " 1.23 e+04 ");
    EXPECT_EQ(format_entry(settings, 12345.678).size(), 11u);
    EXPECT_EQ(format_entry(settings, 0.5), entry(8, 2, 0.5));
}

TEST_F(FormatEntry, NonFiniteValuesDoNotBreak) {
    EXPECT_EQ(format_entry(settings, 1.0 / 0.0), cfmt(" %10.4le ", 1.0 / 0.0));
    EXPECT_FALSE(format_entry(settings, std::nan("")).empty());
}

// ---------------------------------------------------------------------------

using ExpoPrint = Fixture;

TEST_F(ExpoPrint, NullEmptyAndRealTerms) {
    expo_print(out, settings, nullptr, 't');
    EXPECT_EQ(captured, "empty\n");

    captured.clear();
    expo_print(out, settings, Exponomial(), 't');
    EXPECT_EQ(captured, "   " + cfmt("%10.4e", 0.0) + "\n");

    // 2·t·e^(−3t) − e^(−t): the power-1 term sorts first.
    captured.clear();
    expo_print(out, settings, expo({{2, 0, 1, -3, 0}, {-1, 0, 0, -1, 0}}), 'r');
    EXPECT_EQ(captured, "   " + cfmt("%11.4e", 2.0) + " r(  1) exp(" + cfmt("%11.4e", -3.0) + " r)\n" +
                            " + " + cfmt("%11.4e", -1.0) + " r(  0) exp(" + cfmt("%11.4e", -1.0) +
                            " r)\n");
}

TEST_F(ExpoPrint, ConjugatePairPrintsOnceAsCosine) {
    // 1 − e^(−t)·cos(2t) = 1 + Re(−0.5·e^((−1+2i)t)) + Re(−0.5·e^((−1−2i)t)).
    const Exponomial F = expo({{1, 0, 0, 0, 0}, {-0.5, 0, 0, -1, 2}, {-0.5, 0, 0, -1, -2}});
    ASSERT_EQ(F.size(), 3u);
    expo_print(out, settings, F, 't');
    const std::string constant = "   " + cfmt("%11.4e", 1.0) + " t(  0) exp(" + cfmt("%11.4e", 0.0) + " t)\n";
    EXPECT_EQ(captured, constant + " + " + cfmt("%11.4e", -1.0) + " t(  0) exp(" + cfmt("%11.4e", -1.0) +
                            " t)" + " cos " + cfmt("%11.4e", 2.0) + " t\n");

    // With imag_on every term is printed, the rates with their imaginary parts.
    captured.clear();
    settings.imag_on = true;
    expo_print(out, settings, F, 't');
    const std::string half = " + " + cfmt("%11.4e", -0.5) + " t(  0) exp(" + cfmt("%11.4e", -1.0);
    EXPECT_EQ(captured, constant + half + cfmt("+%10.4ei", 2.0) + " t)\n" + half +
                            cfmt("%11.4ei", -2.0) + " t)\n");
    EXPECT_EQ(count_lines(captured), 3);
}

TEST_F(ExpoPrint, SinePartHasTheRightSign) {
    // e^(−t)·sin(2t) as stored from a sine term: (0, 0.5) at −1−2i and
    // (0, −0.5) at −1+2i; the pair's sum is −2a' = 1 times the sine.
    const Exponomial F = expo({{0, 0.5, 0, -1, -2}, {0, -0.5, 0, -1, 2}});
    expo_print(out, settings, F, 't');
    EXPECT_EQ(captured, "   " + cfmt("%11.4e", 1.0) + " t(  0) exp(" + cfmt("%11.4e", -1.0) + " t)" +
                            " sin " + cfmt("%11.4e", 2.0) + " t\n");

    // A coefficient with both parts gives a cosine and a sine line.
    captured.clear();
    expo_print(out, settings, expo({{0.25, -1, 2, -3, 4}, {0.25, 1, 2, -3, -4}}), 't');
    const std::string rest = " t(  2) exp(" + cfmt("%11.4e", -3.0) + " t)";
    EXPECT_EQ(captured, "   " + cfmt("%11.4e", 0.5) + rest + " cos " + cfmt("%11.4e", 4.0) + " t\n" +
                            " + " + cfmt("%11.4e", 2.0) + rest + " sin " + cfmt("%11.4e", 4.0) + " t\n");
}

TEST_F(ExpoPrint, PairsAreMatchedByConjugateNotByPosition) {
    // Frequencies 3, 2, −2, −3 at the same rate: the first term's partner is
    // the last one, so the two pairs print one cosine line each.
    const Exponomial F =
        expo({{1, 0, 0, -1, 3}, {1, 0, 0, -1, -3}, {2, 0, 0, -1, 2}, {2, 0, 0, -1, -2}});
    expo_print(out, settings, F, 't');
    const std::string rest = " t(  0) exp(" + cfmt("%11.4e", -1.0) + " t) cos ";
    EXPECT_EQ(captured, "   " + cfmt("%11.4e", 2.0) + rest + cfmt("%11.4e", 3.0) + " t\n" + " + " +
                            cfmt("%11.4e", 4.0) + rest + cfmt("%11.4e", 2.0) + " t\n");
}

// ---------------------------------------------------------------------------

using DistributionInfo = Fixture;

TEST_F(DistributionInfo, MassesAtZeroAndInfinity) {
    // F = 0.7 − 0.5·e^(−2t): F(0) = 0.2, F(∞) = 0.7, so 0.3 never finishes and
    // the continuous part 0.5 is exponential with rate 2: conditional mean 1/2,
    // second moment 2/4, variance 1/2 − 1/4.
    const Exponomial F = expo({{0.7, 0, 0, 0, 0}, {-0.5, 0, 0, -2, 0}});
    print_distribution_info(out, settings, errors, F, 't');
    std::string expected = "probability at 0:        " + cfmt("%10.4e", 0.2) + "\n" +
                           "probability at infinity: " + cfmt("%10.4e", 0.3) + "\n" +
                           "continuous probability:  " + cfmt("%10.4e", 0.5) + "\n\n";
    expected += "   " + cfmt("%11.4e", 0.7) + " t(  0) exp(" + cfmt("%11.4e", 0.0) + " t)\n";
    expected += " + " + cfmt("%11.4e", -0.5) + " t(  0) exp(" + cfmt("%11.4e", -2.0) + " t)\n";
    expected += "\nmean and variance are conditional on finite time\n";
    expected += "\nmean: " + cfmt("%9.4e", 0.5) + "\n" + "variance: " + cfmt("%9.4e", 0.25) + "\n\n";
    EXPECT_EQ(captured, expected);
}

TEST_F(DistributionInfo, ProperAndPurelyDiscreteDistributions) {
    // 1 − e^(−4t): no mass lines and no note; mean 1/4, variance 1/16.
    print_distribution_info(out, settings, errors, expo({{1, 0, 0, 0, 0}, {-1, 0, 0, -4, 0}}), 't');
    EXPECT_EQ(captured, "   " + cfmt("%11.4e", 1.0) + " t(  0) exp(" + cfmt("%11.4e", 0.0) + " t)\n" + " + " +
                            cfmt("%11.4e", -1.0) + " t(  0) exp(" + cfmt("%11.4e", -4.0) + " t)\n" +
                            "\nmean: " + cfmt("%9.4e", 0.25) + "\nvariance: " + cfmt("%9.4e", 0.0625) +
                            "\n\n");

    // The unit step: all mass at zero, nothing continuous to describe.
    captured.clear();
    print_distribution_info(out, settings, errors, Exponomial::constant(1.0), 't');
    EXPECT_EQ(captured, "probability at 0:        " + cfmt("%10.4e", 1.0) + "\n" +
                            "continuous probability:  " + cfmt("%10.4e", 0.0) + "\n\n");
}

TEST_F(DistributionInfo, ClampedMassesPrintTheUnconditionalDistribution) {
    // F = 1.5: mass at zero above 1 and at infinity below 0, nothing continuous.
    print_distribution_info(out, settings, errors, Exponomial::constant(1.5), 't');
    const std::string tail = "*** printing unconditional distribution.\n   " + cfmt("%11.4e", 1.5) +
                             " t(  0) exp(" + cfmt("%11.4e", 0.0) + " t)\n" + "\nmean: " +
                             cfmt("%9.4e", 0.0) + "\nvariance: " + cfmt("%9.4e", 0.0) + "\n\n";
    ASSERT_GE(captured.size(), tail.size());
    EXPECT_EQ(captured.substr(captured.size() - tail.size()), tail);
    EXPECT_EQ(captured.find("probability at"), std::string::npos);
}

TEST_F(DistributionInfo, NegativeMomentsAreReportedAndPrintingGoesOn) {
    // 1 + 2e^(−t) − 3e^(−2t): E[T] = −2/1 + 3/2 = −0.5 and
    // E[T²] = 2·(−2/1 + 3/4) = −2.5, so the variance is −2.75.
    print_distribution_info(out, settings, errors, expo({{1, 0, 0, 0, 0}, {2, 0, 0, -1, 0}, {-3, 0, 0, -2, 0}}),
                            't');
    const std::string report = "**** internal consistency check failed:\n    ";
    const auto mean_report = captured.find(report + "mean less than zero.\n");
    const auto variance_report = captured.find(report + "variance less than zero.\n");
    EXPECT_NE(mean_report, std::string::npos);
    EXPECT_NE(variance_report, std::string::npos);
    EXPECT_LT(mean_report, variance_report);
    EXPECT_NE(captured.find("\nmean: " + cfmt("%9.4e", -0.5) + "\nvariance: " + cfmt("%9.4e", -2.75)),
              std::string::npos);
}

// ---------------------------------------------------------------------------

using Tables = Fixture;

TEST_F(Tables, HeaderWidthsMatchTheEntries) {
    // Width 10: h1 = 13/2 = 6, h2 = 14/2 = 7; every column is 13 wide.
    EXPECT_EQ(print_eval_header(out, settings, 1, 0, 't'), 0);
    EXPECT_EQ(captured, std::string(6, ' ') + "t" + std::string(6, ' ') + std::string(3, ' ') + "F(t)" +
                            std::string(6, ' ') + "\n\n");
    EXPECT_EQ(captured.size(), 2 * entry(10, 4, 1.0).size() + 2);

    captured.clear();
    print_r_header(out, settings, "expected reward at t");
    EXPECT_EQ(captured, std::string(6, ' ') + "t" + std::string(6, ' ') + std::string(3, ' ') +
                            "expected reward at t" + std::string(6, ' ') + "\n\n");

    // Width 8: h1 = 11/2 = 5, h2 = 12/2 = 6; columns 11 wide.
    use_format(2);
    captured.clear();
    EXPECT_EQ(print_eval_header(out, settings, 1, 2, 'r'), 0);
    const std::string t_column = std::string(5, ' ') + "r" + std::string(5, ' ');
    EXPECT_EQ(captured, t_column + cfmt("%*spath%4d%*s", 2, "", 1, 1, "") + cfmt("%*spath%4d%*s", 2, "", 2, 1, "") +
                            std::string(1, ' ') + "overall" + std::string(3, ' ') + "\n\n");
    EXPECT_EQ(t_column.size(), entry(8, 2, 1.0).size());
}

TEST_F(Tables, WideSystemsAreSplitIntoBlocksOfEightyColumns) {
    // 80/13 = 6 columns fit, the t column included: five paths per block.
    auto path = [](int i) { return cfmt("%*spath%4d%*s", 3, "", i, 2, ""); };
    const std::string t_column = std::string(6, ' ') + "t" + std::string(6, ' ');
    EXPECT_EQ(print_eval_header(out, settings, 1, 7, 't'), 6);
    EXPECT_EQ(captured, t_column + path(1) + path(2) + path(3) + path(4) + path(5) + "\n\n");
    EXPECT_LE(captured.size() - 2, 80u);

    captured.clear();
    EXPECT_EQ(print_eval_header(out, settings, 6, 7, 't'), 0);
    EXPECT_EQ(captured, t_column + path(6) + path(7) + "  overall    \n\n");

    // Exactly five paths: the overall column starts a block of its own.
    captured.clear();
    EXPECT_EQ(print_eval_header(out, settings, 1, 5, 't'), 6);
    captured.clear();
    EXPECT_EQ(print_eval_header(out, settings, 6, 5, 't'), 0);
    EXPECT_EQ(captured, t_column + "  overall    \n\n");
}

TEST_F(Tables, RowsOfAWholeTable) {
    // Six paths and the overall column, one point: two blocks.
    std::vector<Exponomial> dists;
    for (int i = 1; i <= 6; ++i) dists.push_back(Exponomial::constant(i / 10.0));
    const Exponomial overall = Exponomial::constant(1e-13);
    std::vector<const Exponomial*> paths;
    for (const Exponomial& d : dists) paths.push_back(&d);

    print_eval_table(out, settings, errors, 2.0, 2.0, 0.0, paths, overall, 't');
    std::string first_header, second_header;
    {
        std::string h;
        Output o(&h);
        print_eval_header(o, settings, 1, 6, 't');
        first_header = h;
        h.clear();
        print_eval_header(o, settings, 6, 6, 't');
        second_header = h;
    }
    std::string expected = first_header + entry(10, 4, 2.0);
    for (int i = 1; i <= 5; ++i) expected += entry(10, 4, i / 10.0);
    expected += "\n\n" + second_header + entry(10, 4, 2.0) + entry(10, 4, 0.6) + entry(10, 4, 0.0) + "\n\n";
    EXPECT_EQ(captured, expected);
}

TEST_F(Tables, PointsAndRangeChecks) {
    std::vector<double> points = eval_points(0.0, 10.0, 0.1);
    ASSERT_EQ(points.size(), 101u);
    EXPECT_EQ(points[37], 37 * 0.1);
    EXPECT_NEAR(points.back(), 10.0, 1e-12);
    // Repeated addition would lose the end point here.
    EXPECT_EQ(eval_points(0.0, 0.3, 0.1).size(), 4u);
    EXPECT_EQ(eval_points(1.0, 1.0, 0.0).size(), 1u);
    EXPECT_EQ(eval_points(1.0, 3.0, -1.0).size(), 1u);
    EXPECT_TRUE(eval_points(2.0, 1.0, 1.0).empty());
    EXPECT_TRUE(eval_points(0.0, std::nan(""), 1.0).empty());
    EXPECT_LE(eval_points(0.0, 1e300, 1.0).size(), static_cast<size_t>(kMaxTableRows));

    errors.interactive = false;
    errors.location_source = [] { return SourceLocation{"model.crv", 3}; };
    EXPECT_EQ(check_eval_range(errors, 0.0, 10.0, 0.1), 0);
    EXPECT_EQ(check_eval_range(errors, 1.0, 1.0, 0.0), 0);
    EXPECT_EQ(captured, "");
    EXPECT_EQ(check_eval_range(errors, 0.0, 10.0, 0.09), -1);
    EXPECT_EQ(captured, "warning: increment is too small or interval is too large (model.crv: line    3).\n");
    captured.clear();
    EXPECT_EQ(check_eval_range(errors, 5.0, 1.0, 1.0), -1);
    EXPECT_EQ(captured, "warning: lower limit is greater than upper limit (model.crv: line    3).\n");
    captured.clear();
    EXPECT_EQ(check_eval_range(errors, 0.0, 1.0, 0.0), -1);
}

TEST_F(Tables, HundredAndOneRowsAndValuesOutsideZeroOne) {
    const Exponomial tiny = Exponomial::constant(1e-13);
    const Exponomial* columns[] = {&tiny};
    print_eval_rows(out, settings, errors, 0.0, 10.0, 0.1, columns);
    EXPECT_EQ(count_lines(captured), 101);
    EXPECT_EQ(captured.substr(0, 27), entry(10, 4, 0.0) + entry(10, 4, 0.0) + "\n");
    EXPECT_NE(captured.find(entry(10, 4, 10.0) + entry(10, 4, 0.0) + "\n"), std::string::npos);

    // 1 + 0.5·e^(−t) at 0 is 1.5: the row, then the report with the value.
    captured.clear();
    const Exponomial above = expo({{1, 0, 0, 0, 0}, {0.5, 0, 0, -1, 0}});
    const Exponomial* bad[] = {&above};
    print_eval_rows(out, settings, errors, 0.0, 0.0, 0.0, bad);
    EXPECT_EQ(captured, entry(10, 4, 0.0) + entry(10, 4, 1.5) + "\n" +
                            "**** internal consistency check failed:\n    evaluation of cdf not between zero and one" +
                            cfmt(":%e", 1.5) + ".\n");
}

TEST_F(Tables, MeasureRows) {
    use_format(2);
    print_measure_rows(out, settings, 0.0, 1.0, 0.5, [](double t) { return 2 * t; });
    EXPECT_EQ(captured, entry(8, 2, 0.0) + "        " + entry(8, 2, 0.0) + "\n" + entry(8, 2, 0.5) + "        " +
                            entry(8, 2, 1.0) + "\n" + entry(8, 2, 1.0) + "        " + entry(8, 2, 2.0) + "\n");
}

// ---------------------------------------------------------------------------

using ResultTexts = Fixture;

TEST_F(ResultTexts, ExpressionValuesAndPathBlocks) {
    print_expression_value(out, settings, "a*2", 4.0);
    print_expression_value(out, settings, "f(2)", -1e-13, 5);
    EXPECT_EQ(captured, "a*2:   " + cfmt("%10.4e", 4.0) + "\n" + "     f(2):   " + cfmt("%10.4e", 0.0) + "\n");

    captured.clear();
    const std::vector<std::string> nodes = {"a", "pump2"};
    print_path_header(out, settings, 3, nodes, 0.125);
    EXPECT_EQ(captured, "\n-------------------------------------------\n\nPATH:   3\n\nnodes:      " +
                            cfmt("%8s ", "a") + cfmt("%8s ", "pump2") + "\nprobability: " + cfmt("%10.4e", 0.125) +
                            "\n\nCDF:\n\n");

    captured.clear();
    print_absorbing_state(out, settings, 0.0, false);
    EXPECT_EQ(captured, "\nprobability of entering node: " + cfmt("%10.4e", 0.0) + "\n\n");
    captured.clear();
    print_absorbing_state(out, settings, 0.5, true);
    EXPECT_EQ(captured, "\nprobability of entering node: " + cfmt("%10.4e", 0.5) +
                            "\n\nconditional CDF for time of leaving this node\n\n");
}

}  // namespace
}  // namespace corvel
