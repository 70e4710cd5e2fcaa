// The statement grammar in process: precedence of conditions, the argument
// shapes of measure calls, and how the dispatch binds arguments and reuses
// cached analyses.

#include <gtest/gtest.h>

#include <cmath>
#include <sstream>
#include <string>

#include "interp/interpreter.h"

namespace corvel {
namespace {

struct Session {
    std::string out;
    Interpreter in{&out};
    int status = 0;

    Session() {
        in.install_builtins();
        out.clear();
        in.err.interactive = false;
    }
    // Runs a program; returns what it printed.
    std::string operator()(const std::string& text) {
        out.clear();
        std::istringstream s(text);
        try {
            in.parse_stream(s, "t.crv");
        } catch (const ProgramExit& e) {
            status = e.status;
        }
        return out;
    }
    double value(const std::string& expression) {
        std::string printed = (*this)("expr " + expression + "\n");
        size_t colon = printed.rfind(":   ");
        EXPECT_NE(colon, std::string::npos) << printed;
        return colon == std::string::npos ? NAN : std::strtod(printed.c_str() + colon + 4, nullptr);
    }
};

const char* kPair =
    "block pair(l1, l2)\n"
    "comp a exp(l1)\n"
    "comp b exp(l2)\n"
    "series top a b\n"
    "end\n";

TEST(Conditions, NotBindsTighterThanAndThanOr) {
    Session run;
    // not x < 1 or y > 2 and z == 3 is (not (x < 1)) or ((y > 2) and (z == 3)).
    run("func c(x, y, z)\n  if not x < 1 or y > 2 and z == 3\n    1\n  else\n    0\n  end\nend\n");
    EXPECT_EQ(run.value("c(0, 3, 3)"), 1);  // second alternative
    EXPECT_EQ(run.value("c(0, 3, 4)"), 0);
    EXPECT_EQ(run.value("c(5, 0, 0)"), 1);  // first alternative
    EXPECT_EQ(run.value("c(0, 0, 3)"), 0);
}

TEST(Conditions, ParenthesesOpenConditionsOrOperands) {
    Session run;
    run("func p(x)\n  if (x + 1) * 2 > 5 and (x < 10 or x == 20)\n    1\n  else\n    0\n  end\nend\n");
    EXPECT_EQ(run.value("p(2)"), 1);
    EXPECT_EQ(run.value("p(1)"), 0);
    EXPECT_EQ(run.value("p(20)"), 1);
    EXPECT_EQ(run.value("p(15)"), 0);
    run("func q(x)\n  if (not x == 1) and true\n    1\n  elseif false or x == 1\n    2\n  end\nend\n");
    EXPECT_EQ(run.value("q(3)"), 1);
    EXPECT_EQ(run.value("q(1)"), 2);
}

TEST(Expressions, GrammarPrecedenceDiffersFromTheLineReaderOnlyForPowerChains) {
    Session run;
    EXPECT_EQ(run.value("2^3^2"), 512);
    EXPECT_EQ(run.value("-2^2"), 4);
    EXPECT_EQ(run.value("2^-1"), 0.5);
    EXPECT_NEAR(run.value("^-1"), std::exp(-1.0), 1e-4);
    EXPECT_EQ(run.value("8/2/2"), 2);
    EXPECT_EQ(run.value("1e2 + .5e1 + 5."), 110);
}

TEST(MeasureShapes, TimeSeparatorsAndParameterArguments) {
    Session run;
    run(kPair);
    double expected = 1 - std::exp(-3.0 * 0.5);
    // After t, "," and ";" are equivalent; the arguments always follow ";".
    EXPECT_NEAR(run.value("value(0.5; pair; 1, 2)"), expected, 1e-4);
    EXPECT_NEAR(run.value("value(0.5, pair; 1, 2)"), expected, 1e-4);
    EXPECT_NEAR(run.value("mean(pair; 2, 4)"), 1.0 / 6, 1e-4);
}

TEST(MeasureShapes, ArgumentCountsAreChecked) {
    Session too_many;
    too_many(kPair);
    too_many("expr mean(pair; 1, 2, 3)\n");
    EXPECT_EQ(too_many.status, 255);
    EXPECT_EQ(too_many.out, "error: too many arguments for pair (t.crv: line    1).\n");

    Session none_yet;
    none_yet(kPair);
    none_yet("expr mean(pair)\n");
    EXPECT_EQ(none_yet.out, "error: not enough arguments for pair (t.crv: line    1).\n");
}

TEST(Dispatch, CallWithoutArgumentsReusesTheLastOnes) {
    Session run;
    run(kPair);
    EXPECT_NEAR(run.value("mean(pair; 1, 1)"), 0.5, 1e-4);
    EXPECT_NEAR(run.value("mean(pair)"), 0.5, 1e-4);
    EXPECT_NEAR(run.value("mean(pair; 3, 1)"), 0.25, 1e-4);
}

TEST(Dispatch, CachedResultsServeOnlyTheirOwnRequest) {
    Session run;
    run(kPair);
    run("verbose on\n");
    std::string first = run("expr mean(pair; 1, 2)\n");
    EXPECT_EQ(first.find("using previous analysis"), std::string::npos);
    std::string same = run("expr variance(pair; 1, 2)\n");
    EXPECT_NE(same.find("  using previous analysis for pair\n"), std::string::npos);
    // A time-point request is not answered by the distribution.
    std::string timed = run("expr tvalue(1; pair; 1, 2)\n");
    EXPECT_EQ(timed.find("using previous analysis"), std::string::npos);
    EXPECT_NE(timed.find("  transient:\t\tyes\n  time:\t\t\t1.000000\n"), std::string::npos);
    // A changed argument, a binding and a solver setting each force a new analysis.
    EXPECT_EQ(run("expr mean(pair; 1, 3)\n").find("using previous"), std::string::npos);
    run("bind q 1\n");
    EXPECT_EQ(run("expr mean(pair; 1, 3)\n").find("using previous"), std::string::npos);
    run("factor off\n");
    EXPECT_EQ(run("expr mean(pair; 1, 3)\n").find("using previous"), std::string::npos);
    EXPECT_NE(run("expr mean(pair; 1, 3)\n").find("using previous"), std::string::npos);
}

TEST(Dispatch, SettingsAreRestoredAfterEachCall) {
    Session run;
    run(kPair);
    run("bdd off\n");
    run.value("mean(pair; 1, 2)");
    EXPECT_FALSE(run.in.settings.use_bdd);
}

TEST(Hierarchy, ParametersReachTheSystemUsedAsADistribution) {
    Session run;
    run(kPair);
    run("block outer(r)\ncomp inner cdf(pair; r, r)\ncomp z zero\nparallel top inner z\nend\n");
    EXPECT_NEAR(run.value("mean(outer; 1)"), 0.5, 1e-4);
    EXPECT_NEAR(run.value("mean(outer; 2)"), 0.25, 1e-4);
}

TEST(Interactive, BlocksDropTheRefusedLineAndARefusedModelFreesItsName) {
    Session run;
    run.in.err.interactive = true;
    // A self-loop drops its line at the console; the chain block goes on.
    std::string printed = run("markov m\na a 1\na b 1\nend\na 1\nend\n");
    EXPECT_NE(printed.find("error: self-loops are not allowed: system "), std::string::npos) << printed;
    EXPECT_NE(run.in.systems.find("m"), -1);
    // So does a tree block.
    run("block b\ncomp x nosuch(1)\ncomp y exp(1)\ncomp z exp(1)\nseries top y z\nend\n");
    EXPECT_NE(run.in.systems.find("b"), -1);
    // A model refused as a whole at its end is not defined: its name is free.
    printed = run("pfqn q\na b 1\nb a 1\nend\na is 1\nb is 1\nend\nend\n");
    EXPECT_NE(printed.find("error: no customer information given for class q"), std::string::npos) << printed;
    EXPECT_EQ(run.in.systems.find("q"), -1);
}

TEST(Loops, BoundsMayNotUseTheirOwnIndex) {
    Session run;
    run.in.err.interactive = true;
    const std::string refused = "error: cannot use index in boundary value.  Try again.\n";
    // Low, high and increment are each refused; the name does not become a symbol.
    EXPECT_EQ(run("loop i, i, 2\n"), refused);
    EXPECT_EQ(run("loop i, 1, 2*i+1\n"), refused);
    EXPECT_EQ(run("loop i, 1, 2, i\n"), refused);
    EXPECT_EQ(run.in.symbols.find_symbol("i", SymbolTable::kLookup), -1);
    // An inner loop may use the outer index in its bounds.
    run.in.err.interactive = false;
    std::string printed = run("loop i, 1, 2\nloop j, i, 2\nexpr 10*i+j\nend\nend\n");
    EXPECT_EQ(printed,
              "\ni=1.000000\n"
              "\n     j=1.000000\n          10*i+j:   1.1000e+01\n"
              "\n     j=2.000000\n          10*i+j:   1.2000e+01\n"
              "\ni=2.000000\n"
              "\n     j=2.000000\n          10*i+j:   2.2000e+01\n");
}

TEST(ExpressionText, TruncatedNamesPrintAsTyped) {
    Session run;
    const std::string typed = "abcdefghijabcdefghijabcdefghiXYZ";  // 32 characters
    std::string printed = run("bind " + typed + " 3\nexpr " + typed + " *  2,  " + typed.substr(0, 29) + "\n");
    EXPECT_NE(printed.find(typed + " *  2:   6.0000e+00\n"), std::string::npos) << printed;
    EXPECT_NE(printed.find("\n" + typed.substr(0, 29) + ":   3.0000e+00\n"), std::string::npos) << printed;
    EXPECT_NE(printed.find("warning: name too long, truncated " + typed + " (t.crv: line    2)."), std::string::npos)
        << printed;
}

}  // namespace
}  // namespace corvel
