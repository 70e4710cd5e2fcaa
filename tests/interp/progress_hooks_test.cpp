// Each long analysis reports to the progress line: with a clock that moves a
// second between two reports every report is shown, so each activity's name
// appears once its solver has run.

#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "interp/interpreter.h"
#include "symbols/progress.h"

namespace corvel {
namespace {

// The progress line's text for a program run with the line on.
std::string progress_of(const std::string& text, std::string* printed = nullptr) {
    std::string line, out;
    double now = 0.0;
    progress::set_writer([&](std::string_view s) { line += s; });
    progress::set_clock([&] { return now += 1.0; });
    progress::enable(true);
    {
        Interpreter in(&out);
        in.install_builtins();
        in.err.interactive = false;
        std::istringstream s(text);
        try {
            in.parse_stream(s, "t.crv");
        } catch (const ProgramExit& e) {
            ADD_FAILURE() << "status " << e.status << "\n" << out;
        }
    }
    progress::enable(false);
    progress::set_writer({});
    progress::set_clock({});
    if (printed) *printed = out;
    return line;
}

TEST(ProgressHooks, EveryLongAnalysisReports) {
    // A net with a vanishing marking between failure and repair.
    const std::string net =
        "gspn v\nup 1\nmid 0\ndown 0\nend\nfail ind 1\nrepair ind 2\nend\ngo ind 1\nend\n"
        "fail mid 1\ngo down 1\nrepair up 1\nend\nup fail 1\nmid go 1\ndown repair 1\nend\nend\n"
        "expr etok(v, up)\n";
    std::string printed;
    const std::string net_line = progress_of(net, &printed);
    EXPECT_NE(net_line.find("\rreachability graph: 1 of "), std::string::npos) << net_line;
    EXPECT_NE(net_line.find("\rvanishing elimination: "), std::string::npos) << net_line;
    EXPECT_NE(net_line.find("\rSOR: 1 sweeps"), std::string::npos) << net_line;
    // Failure 1, repair 2 (the immediate step takes no time): P(up) = 2/3.
    EXPECT_EQ(printed, "etok(v, up):   6.6667e-01\n\n");

    const std::string chain = "markov m\nup dn 0.1\ndn up 1\nend\nup 1\nend\nexpr tvalue(2; m, up)\n";
    EXPECT_NE(progress_of(chain).find("\runiformization: 1 steps"), std::string::npos);

    const std::string graph = "relgraph g\ns a exp(1)\na t exp(2)\nend\nexpr value(1; g)\n";
    const std::string with_bdd = progress_of(graph);
    EXPECT_NE(with_bdd.find("\rBDD construction: "), std::string::npos) << with_bdd;
    EXPECT_EQ(with_bdd.find("path enumeration"), std::string::npos) << with_bdd;
    EXPECT_NE(progress_of("bdd off\n" + graph).find("\rpath enumeration: 1 paths"), std::string::npos);
}

}  // namespace
}  // namespace corvel
