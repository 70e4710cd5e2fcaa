#include "interp/model_kinds.h"

#include "model/system_store.h"

namespace corvel {

namespace {

const ModelKind kModelKinds[] = {
    {Kw::Graph, kSysGraph, {}, read_graph_block, analyze_combinatorial, combinatorial_value,
     combinatorial_distribution, print_combinatorial_result},
    {Kw::Markov, kSysMarkov, {kSysMarkovAcyclic, kSysMarkovIrreducible, kSysMarkovPhase}, read_markov_block,
     analyze_chain, chain_value, chain_distribution, print_chain_result},
    {Kw::Semimark, kSysSemimark, {kSysSemimarkAcyclic, kSysSemimarkIrreducible, kSysSemimarkPhase},
     read_semimark_block, analyze_chain, chain_value, chain_distribution, print_chain_result},
    {Kw::Block, kSysBlock, {}, read_block_block, analyze_combinatorial, combinatorial_value,
     combinatorial_distribution, print_combinatorial_result},
    {Kw::Ftree, kSysFtree, {kSysFtreeRepeated, kSysFtreeNoRepeat}, read_ftree_block, analyze_combinatorial,
     combinatorial_value, combinatorial_distribution, print_combinatorial_result},
    {Kw::Relgraph, kSysRelgraph, {}, read_relgraph_block, analyze_combinatorial, combinatorial_value,
     combinatorial_distribution, print_combinatorial_result},
    {Kw::Pfqn, kSysPfqn, {}, read_pfqn_block, analyze_queue, queue_value, nullptr, nullptr},
    {Kw::Mpfqn, kSysMpfqn, {}, read_mpfqn_block, analyze_queue, queue_value, nullptr, nullptr},
    {Kw::Gspn, kSysGspn, {kSysGspnIrreducible, kSysGspnAcyclic, kSysGspnPhase}, read_gspn_block, analyze_net,
     net_value, net_distribution, print_net_result},
    {Kw::Pms, kSysPms, {}, read_pms_block, analyze_pms, pms_value, nullptr, nullptr},
    {Kw::Mstree, kSysMstree, {}, read_mstree_block, analyze_mstree, combinatorial_value,
     combinatorial_distribution, print_combinatorial_result},
    {Kw::Srn, kSysSrn, {kSysSrnAcyclic, kSysSrnPhase, kSysSrnIrreducible}, read_srn_block, analyze_net, net_value,
     net_distribution, print_net_result},
    {Kw::Mrgp, kSysMrgp, {}, read_mrgp_block, analyze_mrgp, mrgp_value, nullptr, nullptr},
};

}  // namespace

const ModelKind* model_kind_of(Kw keyword) {
    for (const ModelKind& kind : kModelKinds)
        if (kind.keyword == keyword) return &kind;
    return nullptr;
}

const ModelKind* model_kind_of_type(int type) {
    for (const ModelKind& kind : kModelKinds) {
        if (kind.type == type) return &kind;
        for (int c : kind.classes)
            if (c != 0 && c == type) return &kind;
    }
    return nullptr;
}

}  // namespace corvel
