// Every measure over every chain class: each pair that the compatibility
// table accepts is asked in each of its argument shapes (without a state, of
// a starting, a passing and an absorbing state, at a time point, as an eval
// table, and handed to a block diagram as a component) and must end in a
// result or in a numbered input error, never in an internal error, an
// internal consistency failure or a number that is not finite.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "interp/func_sys.h"
#include "interp/tokens.h"
#include "statespace/run_text.h"

namespace corvel {
namespace {

struct ChainCase {
    int type;
    const char* name;
    const char* model;
    std::vector<std::string> states;
};

const ChainCase kChains[] = {
    {kSysMarkovAcyclic, "ac",
     "markov ac\na b 2\na c 1\nb d 3\nreward\na 3\nb 1\nend\na 0.8\nb 0.2\nend\n", {"a", "b", "c", "d"}},
    {kSysMarkovIrreducible, "ir",
     "markov ir\nup deg 2\ndeg dn 1\ndeg up 3\ndn up 4\nreward\nup 2\ndeg 1\nend\nup 1\nend\n", {"up", "deg", "dn"}},
    {kSysMarkovPhase, "ph",
     "markov ph\ns0 s1 1\ns1 s0 2\ns1 f 0.5\ns1 g 0.25\nreward\ns0 1\ns1 3\nend\ns0 1\nend\n", {"s0", "s1", "f", "g"}},
    {kSysSemimarkAcyclic, "sa",
     "semimark sa cond\na b exp(2)\na c exp(3)\nb d exp(1)\nreward\na 4\nb 1\nend\na 1\nend\n", {"a", "b", "c", "d"}},
    {kSysSemimarkIrreducible, "si",
     "semimark si\nup dn exp(2)\ndn up exp(3)\nreward\nup 1\nend\nup 1\nend\n", {"up", "dn"}},
};

// The requests of one accepted pair, each a complete program tail.
std::vector<std::string> requests(const ChainCase& c, Kw kw, const FuncSysEntry& entry) {
    const std::string k = keyword_spelling(kw);
    const std::string sys = c.name;
    std::vector<std::string> nodes;
    if (entry.rule != NodeRule::Required) nodes.push_back("");
    if (entry.rule != NodeRule::None)
        for (const std::string& s : c.states) nodes.push_back(", " + s);
    const std::string at = entry.uses_time ? "1.5; " : "";
    std::vector<std::string> out;
    for (const std::string& node : nodes) {
        const std::string args = at + sys + node;
        switch (kw) {
            case Kw::Eval:
                for (const char* kind : {"", " reward", " exrt", " cexrt"})
                    out.push_back("eval(" + sys + node + ") 0 2 1" + kind + "\n");
                break;
            case Kw::Analyze:
            case Kw::Cdf:
            case Kw::Lcdf:
            case Kw::Reward:
                out.push_back(k + "(" + args + ")\n");
                if (kw != Kw::Analyze)
                    out.push_back("block u\ncomp x " + k + "(" + args + ")\ncomp y exp(1)\nseries top x y\nend\n"
                                  "expr value(1; u), tvalue(1; u), mean(u)\n");
                break;
            default:
                out.push_back("expr " + k + "(" + args + ")\n");
                if (kw == Kw::Prob)
                    out.push_back("block u\ncomp x prob(" + args + ")\ncomp y exp(1)\nseries top x y\nend\n"
                                  "expr value(1; u)\n");
                break;
        }
    }
    return out;
}

TEST(ChainMeasureSweep, NoAcceptedPairEndsInAnInternalError) {
    int asked = 0;
    for (const ChainCase& c : kChains) {
        // The model's class is the one the case is listed under.
        {
            RunText r;
            r.in.install_builtins();
            r.run(c.model);
            ASSERT_EQ(r.status, 0) << r.out;
            SystemRecord* sys = r.sys(c.name);
            ASSERT_NE(sys, nullptr);
            ASSERT_EQ(sys->type, c.type) << c.name;
        }
        for (int k = 0; k <= static_cast<int>(Kw::Runtime); ++k) {
            const Kw kw = static_cast<Kw>(k);
            const std::optional<FuncSysEntry> entry = func_sys(kw, c.type);
            if (!entry) continue;
            for (const std::string& req : requests(c, kw, *entry)) {
                ++asked;
                RunText r;
                r.in.install_builtins();  // exp(...) and the other library distributions
                r.run(std::string(c.model) + req);
                const std::string where = std::string(c.name) + ": " + req + "\n" + r.out;
                EXPECT_EQ(r.out.find("internal error"), std::string::npos) << where;
                EXPECT_EQ(r.out.find("internal consistency"), std::string::npos) << where;
                EXPECT_EQ(r.out.find("nan"), std::string::npos) << where;
                // A run that stops must say why with a numbered error.
                if (r.status != 0) {
                    EXPECT_NE(r.out.find("error: "), std::string::npos) << where;
                }
            }
        }
    }
    // Every class accepts its measures in several shapes.
    EXPECT_GT(asked, 300);
}

}  // namespace
}  // namespace corvel
