// Every pair of model type and measure against the compatibility of the
// measure layer: accepted or refused, the node rule, and whether the measure
// is taken at a time point. The expectations are listed per model type
// ("name" followed by - no node, ? optional node, ! required node, and @
// when evaluated at a time point), the transpose of how the table is kept.

#include <gtest/gtest.h>

#include <map>
#include <sstream>
#include <string>

#include "interp/func_sys.h"

namespace corvel {
namespace {

struct TypeMeasures {
    int type;
    const char* accepted;
};

const TypeMeasures kExpected[] = {
    {kSysBlock, "cdf- eval- mean- mttf- pcont- pinf- pqcdf- pzero- ss_unavail- sysprob- tvalue-@ value-@ variance-"},
    {kSysFtree, "cdf- eval- mean- pcont- pinf- pzero- ss_unavail- sysprob- tvalue-@ value-@ variance-"},
    {kSysFtreeNoRepeat, "cdf- eval- mean- mttf- pcont- pinf- pqcdf- pzero- ss_unavail- sysprob- tvalue-@ value-@ variance-"},
    {kSysFtreeRepeated, "bimpt?@ cdf- cimpt?@ eval- mean- mincuts- minpaths- mttf- pcont- pinf- pqcdf- pzero- simpt? ss_unavail- sysprob- tvalue-@ value-@ variance-"},
    {kSysGraph, "cdf- eval- mean- pcont- pinf- pzero- ss_unavail- sysprob- value-@ variance-"},
    {kSysGspn, "cdf? etok! etokt!@ etoku!@ eval? fetok! fprempty! ftput! futil! mean- prempty! premptyt!@ premptyu!@ tavetokt!@ tavtputt!@ tput! tputt!@ tputu!@ util! utilt!@ utilu!@ value-@ variance-"},
    {kSysGspnAcyclic, "cdf? etok! etokt!@ etoku! eval? fetok! fprempty! ftput! futil! mean- prempty! premptyt!@ premptyu! tavetokt!@ tavtputt!@ tput! tputt!@ tputu! util! utilt!@ utilu! value-@ variance-"},
    {kSysGspnIrreducible, "etok! etokt!@ etoku!@ eval? fetok! fprempty! ftput! futil! prempty! premptyt!@ premptyu!@ tavetokt!@ tavtputt!@ tput! tputt!@ tputu!@ util! utilt!@ utilu!@"},
    {kSysGspnPhase, "cdf? etok! etokt!@ etoku!@ eval? fetok! fprempty! ftput! futil! mean- prempty! premptyt!@ premptyu!@ tavetokt!@ tavtputt!@ tput! tputt!@ tputu!@ util! utilt!@ utilu!@ value-@ variance-"},
    {kSysMarkov, "cdf? cexrt-@ eval? exrss- exrt-@ fastmttf- lcdf! mean? pcont? pinf? prob! pzero? reward- rmean- rvalue-@ rvariance- sreward! tvalue?@ value?@ variance?"},
    {kSysMarkovAcyclic, "cdf? cexrt-@ eval? exrt-@ fastmttf- lcdf! mean? pcont? pinf? prob! pzero? reward- rmean- rvalue-@ rvariance- sreward! tvalue?@ value?@ variance?"},
    {kSysMarkovIrreducible, "cdf! cexrt-@ eval! exrss- exrt-@ fastmttf- prob! sreward! tvalue!@ value!@"},
    {kSysMarkovPhase, "analyze? cdf? cexrt-@ eval? exrt-@ fastmttf- mean? pcont? pinf? prob! pzero? reward- rmean- rvalue-@ rvariance- sreward! tvalue?@ value?@ variance?"},
    {kSysMpfqn, "mqlength! mrtime! mtput! mutil!"},
    {kSysMrgp, "exrss- prob!"},
    {kSysMstree, "cdf! eval! mean! pcont! pinf! pzero! ss_unavail! sysprob! tvalue!@ value!@ variance!"},
    {kSysPfqn, "qlength! rtime! tput! util!"},
    {kSysPms, "tvalue-@"},
    {kSysRelgraph, "bimpt?@ cdf- cimpt?@ eval- lbound-@ mean- mincuts- minpaths- mttf- pcont- pinf- pqcdf- pzero- simpt? ss_unavail- sysprob- tvalue-@ ubound-@ value-@ variance-"},
    {kSysSemimarkAcyclic, "cdf? cexrt-@ eval? exrt-@ fastmttf- lcdf! mean? pcont? pinf? prob! pzero? reward- rmean- rvalue-@ rvariance- sreward! value?@ variance?"},
    {kSysSemimarkIrreducible, "exrss- fastmttf- prob! sreward!"},
    {kSysSrn, "cdf? etok! etokt!@ etoku!@ eval? fetok! fprempty! ftput! futil! mean- mtta- prempty! premptyt!@ premptyu!@ srn_ave_cexrt-@ srn_cexrinf- srn_cexrt-@ srn_exrss- srn_exrt-@ tavetokt!@ tavtputt!@ tput! tputt!@ tputu!@ transenabled- util! utilt!@ utilu!@ value-@ variance-"},
    // transenabled stays available once a reward net has been classified.
    {kSysSrnAcyclic, "cdf? etok! etokt!@ etoku! eval? fetok! fprempty! ftput! futil! mean- mtta- prempty! premptyt!@ premptyu! srn_ave_cexrt-@ srn_cexrinf- srn_cexrt-@ srn_exrss- srn_exrt-@ tavetokt!@ tavtputt!@ tput! tputt!@ tputu! transenabled- util! utilt!@ utilu! value-@ variance-"},
    {kSysSrnIrreducible, "etok! etokt!@ etoku!@ eval? fetok! fprempty! ftput! futil! mtta- prempty! premptyt!@ premptyu!@ srn_ave_cexrt-@ srn_cexrinf- srn_cexrt-@ srn_exrss- srn_exrt-@ tavetokt!@ tavtputt!@ tput! tputt!@ tputu!@ transenabled- util! utilt!@ utilu!@"},
    {kSysSrnPhase, "cdf? etok! etokt!@ etoku!@ eval? fetok! fprempty! ftput! futil! mean- mtta- prempty! premptyt!@ premptyu!@ srn_ave_cexrt-@ srn_cexrinf- srn_cexrt-@ srn_exrss- srn_exrt-@ tavetokt!@ tavtputt!@ tput! tputt!@ tputu!@ transenabled- util! utilt!@ utilu!@ value-@ variance-"},
};

// Model types that accept no measure at all before they are classified.
const int kUnclassified[] = {kSysSemimark, kSysSemimarkPhase};

const char* const kMeasures[] = {"analyze", "bimpt", "cdf", "cexrt", "cimpt", "etok", "etokt", "etoku", "eval", "exrss", "exrt", "fastmttf", "fetok", "fprempty", "ftput", "futil", "lbound", "lcdf", "mean", "mincuts", "minpaths", "mqlength", "mrtime", "mtput", "mtta", "mttf", "mutil", "pcont", "pinf", "pqcdf", "prempty", "premptyt", "premptyu", "prob", "pzero", "qlength", "reward", "rmean", "rtime", "rvalue", "rvariance", "simpt", "sreward", "srn_ave_cexrt", "srn_cexrinf", "srn_cexrt", "srn_exrss", "srn_exrt", "ss_unavail", "sysprob", "tavetokt", "tavtputt", "tput", "tputt", "tputu", "transenabled", "tvalue", "ubound", "util", "utilt", "utilu", "value", "variance"};

struct Expectation {
    NodeRule rule;
    bool uses_time;
};

std::map<std::string, Expectation> parse(const char* accepted) {
    std::map<std::string, Expectation> m;
    std::istringstream in(accepted);
    std::string item;
    while (in >> item) {
        bool timed = item.back() == '@';
        if (timed) item.pop_back();
        char mark = item.back();
        item.pop_back();
        NodeRule rule = mark == '-' ? NodeRule::None : mark == '?' ? NodeRule::Optional : NodeRule::Required;
        m[item] = {rule, timed};
    }
    return m;
}

TEST(Compatibility, EveryTypeAndMeasurePair) {
    int checked = 0;
    for (const TypeMeasures& tm : kExpected) {
        auto expected = parse(tm.accepted);
        for (const char* name : kMeasures) {
            std::optional<Kw> kw = lookup_keyword(name);
            ASSERT_TRUE(kw.has_value()) << name;
            std::optional<FuncSysEntry> entry = func_sys(*kw, tm.type);
            auto it = expected.find(name);
            if (it == expected.end()) {
                EXPECT_FALSE(entry.has_value()) << name << " accepted by type " << tm.type;
            } else {
                ASSERT_TRUE(entry.has_value()) << name << " refused by type " << tm.type;
                EXPECT_EQ(entry->rule, it->second.rule) << name << " type " << tm.type;
                EXPECT_EQ(entry->uses_time, it->second.uses_time) << name << " type " << tm.type;
            }
            ++checked;
        }
    }
    EXPECT_EQ(checked, static_cast<int>(std::size(kExpected) * std::size(kMeasures)));
    for (int type : kUnclassified)
        for (const char* name : kMeasures) EXPECT_FALSE(func_sys(*lookup_keyword(name), type).has_value()) << name;
}

TEST(Compatibility, CasesUsersMeet) {
    // A block diagram takes no node for its mean; a chain needs a state for prob.
    EXPECT_EQ(func_sys(Kw::Mean, kSysBlock)->rule, NodeRule::None);
    EXPECT_EQ(func_sys(Kw::Prob, kSysMarkovIrreducible)->rule, NodeRule::Required);
    // Phased missions answer tvalue only.
    EXPECT_TRUE(func_sys(Kw::Tvalue, kSysPms).has_value());
    EXPECT_FALSE(func_sys(Kw::Mean, kSysPms).has_value());
    // Cut sets need repeated events or a reliability graph.
    EXPECT_FALSE(func_sys(Kw::Mincuts, kSysFtreeNoRepeat).has_value());
    EXPECT_TRUE(func_sys(Kw::Mincuts, kSysFtreeRepeated).has_value());
    // The expected reward rate of a reward net is taken at a time point.
    EXPECT_TRUE(func_sys(Kw::Srn_exrt, kSysSrn)->uses_time);
    // The keyword without a statement form has no entry.
    EXPECT_FALSE(func_sys(Kw::Steadystate, kSysMrgp).has_value());
}

}  // namespace
}  // namespace corvel
