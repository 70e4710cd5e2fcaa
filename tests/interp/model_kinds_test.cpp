// The table of model kinds: every block keyword finds its kind, every type
// code a system can carry (as created or as classified) finds exactly one
// kind, and the kinds whose measures read a distribution offer one.

#include <gtest/gtest.h>

#include <map>

#include "interp/blocks.h"
#include "interp/model_kinds.h"
#include "model/system_store.h"

namespace corvel {
namespace {

TEST(ModelKinds, BlockKeywordsFindTheirTypeAndReader) {
    const std::map<Kw, std::pair<int, BlockReader>> blocks = {
        {Kw::Graph, {kSysGraph, read_graph_block}},       {Kw::Markov, {kSysMarkov, read_markov_block}},
        {Kw::Semimark, {kSysSemimark, read_semimark_block}}, {Kw::Block, {kSysBlock, read_block_block}},
        {Kw::Ftree, {kSysFtree, read_ftree_block}},       {Kw::Relgraph, {kSysRelgraph, read_relgraph_block}},
        {Kw::Pfqn, {kSysPfqn, read_pfqn_block}},          {Kw::Mpfqn, {kSysMpfqn, read_mpfqn_block}},
        {Kw::Gspn, {kSysGspn, read_gspn_block}},          {Kw::Pms, {kSysPms, read_pms_block}},
        {Kw::Mstree, {kSysMstree, read_mstree_block}},    {Kw::Srn, {kSysSrn, read_srn_block}},
        {Kw::Mrgp, {kSysMrgp, read_mrgp_block}},
    };
    for (const auto& [kw, expected] : blocks) {
        const ModelKind* kind = model_kind_of(kw);
        ASSERT_NE(kind, nullptr) << keyword_spelling(kw);
        EXPECT_EQ(kind->type, expected.first);
        EXPECT_EQ(kind->reader, expected.second);
        EXPECT_EQ(block_type_of(kw), expected.first);
        EXPECT_EQ(block_reader_of(kw), expected.second);
        EXPECT_EQ(model_kind_of_type(kind->type), kind);
        EXPECT_NE(kind->analyze, nullptr);
        EXPECT_NE(kind->value, nullptr);
    }
    // Keywords that start no block.
    for (Kw kw : {Kw::Cdf, Kw::Var, Kw::End, Kw::Bind}) {
        EXPECT_EQ(model_kind_of(kw), nullptr);
        EXPECT_EQ(block_type_of(kw), 0);
        EXPECT_EQ(block_reader_of(kw), nullptr);
    }
}

TEST(ModelKinds, ClassifiedTypesBelongToTheirBlockKind) {
    const std::map<int, Kw> classified = {
        {kSysMarkovAcyclic, Kw::Markov},     {kSysMarkovIrreducible, Kw::Markov},
        {kSysMarkovPhase, Kw::Markov},       {kSysSemimarkAcyclic, Kw::Semimark},
        {kSysSemimarkIrreducible, Kw::Semimark}, {kSysSemimarkPhase, Kw::Semimark},
        {kSysFtreeRepeated, Kw::Ftree},      {kSysFtreeNoRepeat, Kw::Ftree},
        {kSysGspnIrreducible, Kw::Gspn},     {kSysGspnAcyclic, Kw::Gspn},
        {kSysGspnPhase, Kw::Gspn},           {kSysSrnAcyclic, Kw::Srn},
        {kSysSrnPhase, Kw::Srn},             {kSysSrnIrreducible, Kw::Srn},
    };
    for (const auto& [type, kw] : classified) {
        const ModelKind* kind = model_kind_of_type(type);
        ASSERT_NE(kind, nullptr) << type;
        EXPECT_EQ(kind->keyword, kw) << type;
    }
    EXPECT_EQ(model_kind_of_type(0), nullptr);
    EXPECT_EQ(model_kind_of_type(-1), nullptr);
    EXPECT_EQ(model_kind_of_type(141 + 1000), nullptr);
}

TEST(ModelKinds, DistributionsAndPrintoutsWhereTheKindHasThem) {
    // Kinds whose systems yield a distribution also print their results.
    for (Kw kw : {Kw::Graph, Kw::Block, Kw::Ftree, Kw::Relgraph, Kw::Mstree, Kw::Markov, Kw::Semimark, Kw::Gspn,
                  Kw::Srn}) {
        const ModelKind* kind = model_kind_of(kw);
        ASSERT_NE(kind, nullptr);
        EXPECT_NE(kind->distribution, nullptr) << keyword_spelling(kw);
        EXPECT_NE(kind->print, nullptr) << keyword_spelling(kw);
    }
    // Queueing networks, phased missions and regenerative processes answer
    // value measures only.
    for (Kw kw : {Kw::Pfqn, Kw::Mpfqn, Kw::Pms, Kw::Mrgp}) {
        const ModelKind* kind = model_kind_of(kw);
        ASSERT_NE(kind, nullptr);
        EXPECT_EQ(kind->distribution, nullptr) << keyword_spelling(kw);
        EXPECT_EQ(kind->print, nullptr) << keyword_spelling(kw);
    }
}

}  // namespace
}  // namespace corvel
