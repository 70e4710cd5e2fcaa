// Reading gspn and srn blocks into their records.

#include "statespace/petri_blocks.h"

#include <gtest/gtest.h>

#include "statespace/run_text.h"

namespace corvel {
namespace {

TEST(PetriBlocks, GspnWithEmptyImmediateSection) {
    RunText r(
        "gspn g(lam)\n"
        "up 2\ndown 0\nend\n"            // places
        "fail dep up lam\nrepair ind 0.5\nend\n"
        "end\n"                          // no immediate transitions
        "fail down 1\nrepair up 1\nend\n"
        "up fail 1\ndown repair 2.7\nend\n"
        "down fail 2\nend\n");
    ASSERT_EQ(r.status, 0) << r.out;
    PetriModel* net = petri_model(*r.sys("g"));
    ASSERT_NE(net, nullptr);
    ASSERT_EQ(net->places.size(), 2u);
    EXPECT_EQ(net->places[0].init_tokens, 2);
    ASSERT_EQ(net->transitions.size(), 2u);
    const PetriTransition& fail = net->transitions[static_cast<size_t>(net->transition_names.find("fail"))];
    EXPECT_EQ(fail.kind, kTransTimed);
    EXPECT_EQ(fail.dependent, kDepPlace);
    EXPECT_EQ(fail.place_index, net->place_names.find("up"));
    EXPECT_EQ(fail.priority, kTimedPriority);
    EXPECT_EQ(fail.sym_rate->code, kParamRef);
    ASSERT_TRUE(fail.output.size() == 1 && fail.input.size() == 1 && fail.inhibitor.size() == 1);
    EXPECT_EQ(fail.output[0].place, net->place_names.find("down"));
    EXPECT_EQ(fail.inhibitor[0].multiplicity, 2);
    const PetriTransition& repair = net->transitions[static_cast<size_t>(net->transition_names.find("repair"))];
    EXPECT_EQ(repair.dependent, kDepIndependent);
    EXPECT_DOUBLE_EQ(repair.rate, 0.5);
    ASSERT_EQ(repair.input.size(), 1u);
    EXPECT_EQ(repair.input[0].multiplicity, 2);  // a gspn truncates
}

TEST(PetriBlocks, SrnWithGendepGuardAndPriority) {
    RunText r(
        "func busy() #(q) + 1\n"
        "srn s\n"
        "p 1\nq 0\nend\n"
        "serve gendep 2*#(p) guard #(p) > 0 and not #(q) == 1 or #(q) >= 3 priority 3\n"
        "move placedep p 1.5\nend\n"
        "pick ind 1\nend\n"
        "serve q busy()\nend\n"
        "p serve 2.5\nend\n"
        "end\n");
    ASSERT_EQ(r.status, 0) << r.out;
    PetriModel* net = petri_model(*r.sys("s"));
    ASSERT_NE(net, nullptr);
    const PetriTransition& serve = net->transitions[0];
    EXPECT_EQ(serve.dependent, kDepGeneral);
    EXPECT_EQ(serve.priority, 3);
    // (#(p) > 0 and not (#(q) == 1)) or #(q) >= 3
    ASSERT_NE(serve.sym_guard, nullptr);
    const Expr& g = *serve.sym_guard;
    ASSERT_EQ(g.code, kOpOr);
    EXPECT_EQ(g.args[1]->code, kCmpGreaterEq);
    ASSERT_EQ(g.args[0]->code, kOpAnd);
    EXPECT_EQ(g.args[0]->args[0]->code, kCmpGreater);
    ASSERT_EQ(g.args[0]->args[1]->code, kOpNot);
    EXPECT_EQ(g.args[0]->args[1]->args[0]->code, kCmpEqual);

    EXPECT_EQ(net->transitions[1].dependent, kDepPlace);
    EXPECT_EQ(net->transitions[1].sym_guard, nullptr);
    EXPECT_EQ(net->transitions[2].kind, kTransImmediate);
    EXPECT_EQ(net->transitions[2].priority, kImmediatePriority);
    // Marking-dependent multiplicities are kept as written; constants round.
    EXPECT_EQ(serve.output.at(0).sym_multiplicity->code, kFunctionCall);
    EXPECT_EQ(serve.input.at(0).multiplicity, 3);
}

TEST(PetriBlocks, ReadingErrors) {
    const std::string gspn = "gspn g\np 1\nend\n";
    const std::string srn = "srn s\np 1\nend\n";
    struct Case {
        std::string text;
        const char* message;
    } cases[] = {
        {"gspn g\n(\n", "expect place name"},
        {"gspn g\np 1\np 2\n", "duplicate name: p"},
        {"gspn g\np -2\n", "number of tokens is negative: place p"},
        {"gspn g\np 1e12\n", "too many initial tokens in place p"},
        {gspn + "t\n", "expect transition type"},
        {gspn + "t gendep 1\n", "invalid transition type"},
        {srn + "t dep p 1\n", "invalid transition type"},
        {gspn + "t dep x 1\n", "can't find place name: x"},
        {gspn + "t ind 1\nt ind 2\n", "duplicate name: t"},
        {gspn + "t ind 1\nend\nend\nu p 1\n", "can't find transition name: u"},
        {gspn + "t ind 1\nend\nend\nend\nx t 1\n", "can't find place name: x"},
        // The marking may be used only where an srn allows it.
        {gspn + "t ind #(p)\n", "dependence function not allowed here: #(p)"},
        {gspn + "t ind 1\nend\nend\nt p #(p)\n", "dependence function not allowed here: #(p)"},
        {"srn s\np #(p)\n", "dependence function not allowed here: #(p)"},
        {"func f() 2*?(t)\n" + srn + "t ind f()\n", "dependence function not allowed here: f"},
        {"func g()\nRate(t)\nend\n" + srn + "t gendep 1 priority g()\n", "dependence function not allowed here: g"},
    };
    for (const Case& c : cases) expect_error(c.text, c.message);
    RunText r(gspn + "t ind 1 guard 1\n");  // a gspn line has no guard
    EXPECT_NE(r.out.find("parse error in file t.crv, line 4"), std::string::npos) << r.out;
}

}  // namespace
}  // namespace corvel
