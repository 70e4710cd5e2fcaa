// The eval statement's kinds: which requests are refused before anything is
// analysed, and the layout of the measure tables.

#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "interp/eval_table.h"
#include "interp/interpreter.h"
#include "interp/measures.h"

namespace corvel {
namespace {

struct Checked {
    std::string out;
    int status = 0;  // 0: accepted
};

// Checks eval(s[, node]) ... kind with the system s given the model type.
Checked check(int type, Kw kind, bool with_node) {
    Checked c;
    Interpreter in(&c.out);
    in.install_builtins();
    in.err.interactive = false;
    std::istringstream text("block s\ncomp a exp(1)\ncomp b exp(2)\nseries top a b\nend\n");
    in.parse_stream(text, "t.crv");
    c.out.clear();
    in.err.interactive = true;  // the texts without a location
    OutputStatement st;
    st.call.kw = Kw::Eval;
    st.call.system = in.systems.find("s");
    st.call.has_node = with_node;
    st.call.node = "p";
    st.kind = kind;
    in.systems[st.call.system].type = type;
    try {
        check_eval_request(in, st);
    } catch (const ProgramExit& e) {
        c.status = e.status;
    }
    return c;
}

TEST(EvalKinds, EachKindIsCheckedAgainstTheSystemType) {
    const std::string refused = "error: inappropriate information requested: s.\n";
    const std::string need_node = "error: node name expected.\n";
    // A block has only the cdf table.
    EXPECT_EQ(check(kSysBlock, Kw::Cdf, false).status, 0);
    for (Kw kind : {Kw::Reward, Kw::Exrt, Kw::Cexrt, Kw::Etokt, Kw::Tavtputt}) {
        Checked c = check(kSysBlock, kind, false);
        EXPECT_EQ(c.status, 255);
        EXPECT_EQ(c.out, refused);
    }
    EXPECT_EQ(check(kSysBlock, Kw::Cdf, true).out, "error: node name not allowed: s.\n");
    // A chain has reward tables, but a queueing network has no eval at all.
    EXPECT_EQ(check(kSysMarkovAcyclic, Kw::Reward, false).status, 0);
    EXPECT_EQ(check(kSysMarkovAcyclic, Kw::Exrt, false).status, 0);
    EXPECT_EQ(check(kSysMarkovAcyclic, Kw::Etokt, true).out, refused);
    EXPECT_EQ(check(kSysMarkovIrreducible, Kw::Reward, true).out, refused);
    EXPECT_EQ(check(kSysPfqn, Kw::Cdf, false).out, refused);
    // exrt is about the whole chain: a node is refused though eval allows one.
    EXPECT_EQ(check(kSysMarkov, Kw::Cexrt, true).out, "error: node name not allowed: s.\n");
    // The net kinds need their place or transition.
    for (Kw kind : {Kw::Etokt, Kw::Premptyt, Kw::Tputt, Kw::Utilt, Kw::Tavetokt, Kw::Tavtputt}) {
        Checked without = check(kSysGspn, kind, false);
        EXPECT_EQ(without.status, 255);
        EXPECT_EQ(without.out, need_node);
        EXPECT_EQ(check(kSysSrnIrreducible, kind, true).status, 0);
    }
    EXPECT_EQ(check(kSysGspn, Kw::Exrt, false).out, refused);
}

TEST(EvalKinds, MeasureTablesNameTheElementAndLabelTheColumn) {
    Settings settings;
    std::string text;
    Output out(&text);
    // Each entry is framed by blanks; eight more separate the two columns.
    // Two tokens on average per unit of time: 0, 1, 2 at t = 0, 0.5, 1.
    print_measure_table(out, settings, *eval_kind(Kw::Etokt), "n", std::string_view("p"), 0, 1, 0.5,
                        [](double t) { return 2 * t; });
    EXPECT_EQ(text,
              "      system n\n"
              "       place p\n"
              "      t      "
              "   expected number of tokens at t      \n\n"
              " 0.0000 e+00          0.0000 e+00 \n"
              " 5.0000 e-01          1.0000 e+00 \n"
              " 1.0000 e+00          2.0000 e+00 \n"
              "\n");
    text.clear();
    settings.precision = 2;
    settings.width = 8;
    print_measure_table(out, settings, *eval_kind(Kw::Tavtputt), "n", std::string_view("t1"), 1, 1, 0,
                        [](double) { return 0.25; });
    EXPECT_EQ(text,
              "      system n\n"
              "  transition t1\n"
              "     t     "
              "  time average throughput of transition at t     \n\n"
              " 1.00 e+00          2.50 e-01 \n"
              "\n");
    // The reward kinds name no element.
    text.clear();
    print_measure_table(out, settings, *eval_kind(Kw::Cexrt), "m", std::nullopt, 0, 0, 1, [](double) { return 0; });
    EXPECT_EQ(text.substr(0, text.find("t ")), "      system m\n     ");
    EXPECT_NE(text.find("  expected cumulative reward at t     \n\n"), std::string::npos) << text;
    EXPECT_EQ(eval_kind(Kw::Mean), nullptr);
}

}  // namespace
}  // namespace corvel
