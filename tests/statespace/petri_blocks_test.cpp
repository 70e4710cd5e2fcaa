// Reading gspn and srn blocks into their records.

#include "statespace/petri_blocks.h"

#include <gtest/gtest.h>

#include "statespace/run_text.h"

namespace corvel {
namespace {

// Places, timed transitions, an empty immediate section, then output, input
// and inhibitor arcs.
const char* const kGspn =
    "gspn g(lam)\n"
    "up 2\n"
    "down 0\n"
    "end\n"
    "fail dep up lam\n"
    "repair ind 0.5\n"
    "end\n"
    "end\n"
    "fail down 1\n"
    "repair up 1\n"
    "end\n"
    "up fail 1\n"
    "down repair 2.7\n"
    "end\n"
    "down fail 2\n"
    "end\n";

TEST(PetriBlocks, GspnWithEmptyImmediateSection) {
    RunText r(kGspn);
    ASSERT_EQ(r.status, 0) << r.out;
    SystemRecord* sys = r.sys("g");
    ASSERT_NE(sys, nullptr);
    PetriModel* net = petri_model(*sys);
    ASSERT_NE(net, nullptr);
    EXPECT_FALSE(net->srn);
    ASSERT_EQ(net->places.size(), 2u);
    EXPECT_EQ(net->places[0].init_tokens, 2);
    ASSERT_EQ(net->transitions.size(), 2u);

    const PetriTransition& fail = net->transitions[static_cast<size_t>(net->transition_names.find("fail"))];
    EXPECT_EQ(fail.kind, kTransTimed);
    EXPECT_EQ(fail.dependent, kDepPlace);
    EXPECT_EQ(fail.place_index, net->place_names.find("up"));
    EXPECT_EQ(fail.priority, kTimedPriority);
    EXPECT_EQ(fail.sym_rate->code, kParamRef);
    ASSERT_EQ(fail.output.size(), 1u);
    EXPECT_EQ(fail.output[0].place, net->place_names.find("down"));
    ASSERT_EQ(fail.input.size(), 1u);
    ASSERT_EQ(fail.inhibitor.size(), 1u);
    EXPECT_EQ(fail.inhibitor[0].multiplicity, 2);

    const PetriTransition& repair = net->transitions[static_cast<size_t>(net->transition_names.find("repair"))];
    EXPECT_EQ(repair.dependent, kDepIndependent);
    EXPECT_DOUBLE_EQ(repair.rate, 0.5);
    ASSERT_EQ(repair.input.size(), 1u);
    EXPECT_EQ(repair.input[0].multiplicity, 2);  // a gspn truncates
}

const char* const kSrn =
    "func busy() #(q) + 1\n"
    "srn s\n"
    "p 1\n"
    "q 0\n"
    "end\n"
    "serve gendep 2*#(p) guard #(p) > 0 and not #(q) == 1 or #(q) >= 3 priority 3\n"
    "move placedep p 1.5\n"
    "end\n"
    "pick ind 1\n"
    "end\n"
    "serve q busy()\n"
    "end\n"
    "p serve 2.5\n"
    "end\n"
    "end\n";

TEST(PetriBlocks, SrnWithGendepGuardAndPriority) {
    RunText r(kSrn);
    ASSERT_EQ(r.status, 0) << r.out;
    PetriModel* net = petri_model(*r.sys("s"));
    ASSERT_NE(net, nullptr);
    EXPECT_TRUE(net->srn);
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
    EXPECT_EQ(g.args[0]->args[0]->args[0]->code, kPlaceTokens);

    const PetriTransition& move = net->transitions[1];
    EXPECT_EQ(move.dependent, kDepPlace);
    EXPECT_EQ(move.place_index, 0);
    EXPECT_EQ(move.sym_guard, nullptr);

    const PetriTransition& pick = net->transitions[2];
    EXPECT_EQ(pick.kind, kTransImmediate);
    EXPECT_EQ(pick.priority, kImmediatePriority);
    // Marking-dependent multiplicities are kept as written; constants round.
    ASSERT_EQ(serve.output.size(), 1u);
    EXPECT_EQ(serve.output[0].sym_multiplicity->code, kFunctionCall);
    ASSERT_EQ(serve.input.size(), 1u);
    EXPECT_EQ(serve.input[0].multiplicity, 3);
}

TEST(PetriBlocks, ReadingErrors) {
    const std::string gspn_places = "gspn g\np 1\nend\n";
    const std::string srn_places = "srn s\np 1\nend\n";
    struct Case {
        std::string text;
        const char* message;
    } cases[] = {
        {"gspn g\n(\n", "expect place name"},
        {"gspn g\np 1\np 2\n", "duplicate name: p"},
        {"gspn g\np -2\n", "number of tokens is negative: place p"},
        {"gspn g\np 1e12\n", "too many initial tokens in place p"},
        {gspn_places + "t\n", "expect transition type"},
        {gspn_places + "t gendep 1\n", "invalid transition type"},
        {srn_places + "t dep p 1\n", "invalid transition type"},
        {gspn_places + "t dep x 1\n", "can't find place name: x"},
        {gspn_places + "t ind 1\nt ind 2\n", "duplicate name: t"},
        {gspn_places + "t ind 1\nend\nend\nu p 1\n", "can't find transition name: u"},
        {gspn_places + "t ind 1\nend\nend\nend\nx t 1\n", "can't find place name: x"},
        // The marking may be used only where an srn allows it.
        {gspn_places + "t ind #(p)\n", "dependence function not allowed here: #(p)"},
        {"func f() 2*?(t)\n" + srn_places + "t ind f()\n", "dependence function not allowed here: f"},
        {"func g()\nRate(t)\nend\n" + srn_places + "t gendep 1 priority g()\n",
         "dependence function not allowed here: g"},
        {"srn s\np #(p)\n", "dependence function not allowed here: #(p)"},
        {gspn_places + "t ind 1\nend\nend\nt p #(p)\n", "dependence function not allowed here: #(p)"},
    };
    for (const Case& c : cases) expect_error(c.text, c.message);
    // A gspn line has no guard.
    RunText r(gspn_places + "t ind 1 guard 1\n");
    EXPECT_NE(r.out.find("parse error in file t.crv, line 4"), std::string::npos) << r.out;
}

}  // namespace
}  // namespace corvel
