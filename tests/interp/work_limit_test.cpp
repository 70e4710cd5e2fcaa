// The work cap of fuzzing runs: each chokepoint ends an analysis that goes
// beyond it with the message of the limit it stands for, and the same model
// solves normally below the cap or without one.

#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "interp/interpreter.h"

namespace corvel {
namespace {

struct Capped {
    std::string out;
    Interpreter in{&out};
    int status = 0;

    explicit Capped(long limit) {
        in.install_builtins();
        out.clear();
        in.err.interactive = false;
        in.settings.work_limit = limit;
    }
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
};

// n tokens moving between two places at rate 1 each way: n + 1 markings,
// all equally likely in steady state, so the mean count in p is n / 2.
std::string shuttle(int n) {
    return "gspn shuttle\n  p " + std::to_string(n) +
           "\n  q 0\nend\n  go ind 1\n  back ind 1\nend\nend\n  go q 1\n  back p 1\nend\n"
           "  p go 1\n  q back 1\nend\nend\nexpr etok(shuttle, p)\n";
}

TEST(WorkLimit, ReachabilityStopsAtTheMarkingCap) {
    Capped over(50);
    // The cap ends the exploration as exhausted memory does: the allocation
    // report, then the number of markings held.
    const std::string printed = over(shuttle(100));
    EXPECT_NE(printed.find("\nexponomial allocations: "), std::string::npos) << printed;
    EXPECT_NE(printed.find("error: out of memory: reachability graph in system shuttle stopped at 51 markings"),
              std::string::npos)
        << printed;
    EXPECT_EQ(over.status, 255);

    Capped under(200);
    EXPECT_EQ(under(shuttle(100)), "etok(shuttle, p):   5.0000e+01\n\n");
    EXPECT_EQ(under.status, 0);
}

TEST(WorkLimit, LoopPassesOfTheRunAreCapped) {
    // An endless while loop ends like a run out of memory.
    Capped capped(100);
    std::string printed = capped("var k 0\nwhile k < 1\n  expr k\nend\necho not reached\n");
    EXPECT_NE(printed.find("error: out of memory (t.crv: line    4).\n"), std::string::npos) << printed;
    EXPECT_EQ(printed.find("not reached"), std::string::npos);
    EXPECT_EQ(capped.status, 255);

    // A loop within the cap runs every pass: 1 + 2 + ... + 10 = 55.
    Capped enough(100);
    EXPECT_EQ(enough("var s 0\nexpr sum(i, 1, 10, i)\n"), "sum(i, 1, 10, i):   5.5000e+01\n\n");
}

TEST(WorkLimit, QueueTablesBeyondTheCapAreTooManyCustomers) {
    const std::string shop =
        "pfqn shop\n  users web 1\n  web users 1\nend\n  users is 1\n  web fcfs 1\nend\n  clients 400\nend\n"
        "expr util(shop, web)\n";
    Capped capped(100);
    std::string printed = capped(shop);
    EXPECT_NE(printed.find("error: too many customers: system shop"), std::string::npos) << printed;
    EXPECT_EQ(capped.status, 255);

    // Without the cap: 400 users with think time 1 saturate a server of
    // rate 1, so its utilization is 1.
    Capped free(-1);
    EXPECT_EQ(free(shop), "util(shop, web):   1.0000e+00\n\n");
}

TEST(WorkLimit, DecisionDiagramsStopAtTheNodeCap) {
    const std::string tree =
        "ftree cooling\n  repeat power prob(0.1)\n  basic a prob(0.2)\n  basic b prob(0.3)\n"
        "  or ta a power\n  or tb b power\n  and top ta tb\nend\nexpr value(1; cooling)\n";
    // The manager keeps a margin of 1000 records below its limit, so a cap
    // just above it leaves room for no operation.
    Capped capped(1001);
    std::string printed = capped(tree);
    EXPECT_NE(printed.find("internal error: can't allocate memory in s_ftbdd for BDD"), std::string::npos)
        << printed;
    EXPECT_EQ(capped.status, 255);

    // power fails, or both a and b fail without it: 0.1 + 0.9 * 0.2 * 0.3.
    Capped free(-1);
    EXPECT_EQ(free(tree), "value(1; cooling):   1.5400e-01\n\n");
}

}  // namespace
}  // namespace corvel
