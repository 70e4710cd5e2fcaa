#include "interp/measures.h"

#include <cmath>

#include "expo/results.h"
#include "combinatorial/ftree_repeat.h"
#include "combinatorial/pms_solve.h"
#include "combinatorial/mttf.h"
#include "combinatorial/relgraph_bounds.h"
#include "combinatorial/relgraph_solve.h"
#include "combinatorial/tree.h"
#include "interp/chain_measures.h"
#include "interp/dispatch.h"
#include "interp/eval_table.h"
#include "interp/func_sys.h"
#include "interp/importance_table.h"
#include "interp/interpreter.h"
#include "interp/model_kinds.h"
#include "interp/net_measures.h"
#include "interp/trusted_numbers.h"
#include "statespace/queue_analysis.h"
#include "statespace/petri_blocks.h"
#include "statespace/chain.h"
#include "statespace/mrgp.h"
#include "statespace/petri_net.h"
#include "interp/steady_measures.h"

namespace corvel {

namespace {

// Fills what the analysis is asked for; the time of a timed measure is
// evaluated first.
AnalysisRequest request_for(Interpreter& in, MeasureCall& call) {
    AnalysisRequest req;
    req.measure = call.kw;
    switch (call.kw) {
        case Kw::Cdf:
        case Kw::Lcdf:
        case Kw::Fprempty:
        case Kw::Fetok:
        case Kw::Ftput:
        case Kw::Futil:
            req.computing_cdf = true;
            break;
        case Kw::Reward:
        case Kw::Rmean:
        case Kw::Rvariance:
        case Kw::Rvalue:
            req.computing_reward = true;
            break;
        default:
            break;
    }
    if (call.time) {
        double t = in.eval.bind_expression(*call.time);
        // rvalue's first argument is a reward level, not a time point.
        if (call.kw != Kw::Rvalue) {
            req.transient = true;
            req.time = t;
        } else {
            req.time = t;
        }
    }
    return req;
}

// The distribution a combinatorial system leaves in its record.
const Exponomial& system_distribution(Interpreter& in, SystemRecord& sys) {
    if (!sys.has_dist) in.err.error(130, kInternal, "", false);
    return sys.s_dist;
}

// Every number read from a combinatorial system's distribution goes through
// the guarded reader (closed form, stable route, warning); any other measure
// has no value here.
double distribution_measure_value(Interpreter& in, SystemRecord& sys, const MeasureCall& call,
                                  const AnalysisRequest& req) {
    double trusted = 0.0;
    if (trusted_distribution_value(in, sys, call.kw, req.time, trusted)) return trusted;
    in.err.error(21, kFatal, sys.name, true);
    return 0.0;
}

bool has_distribution_result(int type) {
    switch (type) {
        case kSysGraph:
        case kSysBlock:
        case kSysFtreeNoRepeat:
        case kSysFtreeRepeated:
        case kSysRelgraph:
        case kSysMstree:
            return true;
        default:
            return false;
    }
}

}  // namespace

// The kind of an analysed system (the analysis refused any other).
static const ModelKind& kind_of(Interpreter& in, const SystemRecord& sys) {
    const ModelKind* kind = model_kind_of_type(sys.type);
    if (kind == nullptr) in.err.error(94, kInternal, "", false);
    return *kind;
}

double evaluate_measure(Interpreter& in, MeasureCall& call) {
    AnalysisRequest req = request_for(in, call);
    analyze_system(in, call, req);
    SystemRecord& sys = in.systems[call.system];
    return kind_of(in, sys).value(in, sys, call, req);
}

bool measure_distribution(Interpreter& in, MeasureCall& call, Exponomial& out) {
    if (call.kw != Kw::Cdf && call.kw != Kw::Reward && !is_net_form(call.kw)) {
        // A value measure used as a distribution is the constant probability.
        out = Exponomial::constant(evaluate_measure(in, call));
        return true;
    }
    AnalysisRequest req = request_for(in, call);
    analyze_system(in, call, req);
    SystemRecord& sys = in.systems[call.system];
    const ModelKind& kind = kind_of(in, sys);
    if (kind.distribution == nullptr) in.err.error(94, kInternal, "", false);
    kind.distribution(in, sys, call, req, out);
    return true;
}

void measure_table_distribution(Interpreter& in, MeasureCall& call, Exponomial& out) {
    AnalysisRequest req = request_for(in, call);
    req.table = true;
    analyze_system(in, call, req);
    SystemRecord& sys = in.systems[call.system];
    if (!has_distribution_result(sys.type) && !petri_model(sys)) in.err.error(94, kInternal, "", false);
    if (sys.has_dist)
        out = sys.s_dist;
    else
        out.clear();
}

namespace {

void print_cdf(Interpreter& in, SystemRecord& sys) {
    print_system_result_header(in.out, SystemResult::Cdf, sys.name);
    const Exponomial& F = system_distribution(in, sys);
    if (sys.type == kSysFtreeRepeated && !sys.coherent) {
        expo_print(in.out, in.settings, F, 't');
        return;
    }
    TrustedSummary trusted(in, sys);
    print_distribution_info(in.out, in.settings, in.err, F, 't', trusted.guard());
    // A graph analysed with multpath: one block per path.
    if (const std::vector<PathResult>* paths = tree_paths(sys)) {
        int number = 0;
        for (const PathResult& path : *paths) {
            std::vector<std::string> names = path_node_names(sys, path);
            print_path_header(in.out, in.settings, ++number, names, path.probability);
            print_distribution_info(in.out, in.settings, in.err, path.dist, 't');
        }
    }
}

}  // namespace

void run_output_statement(Interpreter& in, OutputStatement& st) {
    MeasureCall& call = st.call;
    if (call.kw == Kw::Eval) {
        // The range is checked before anything is analysed; a refused range
        // stops the run.
        if (check_eval_range(in.err, st.low, st.high, st.increment) != 0) throw ParseStopRequest{};
    }
    in.begin_result();
    if (call.kw == Kw::Eval) {
        run_eval(in, st);
        return;
    }
    SystemRecord& target = in.systems[call.system];
    if ((call.kw == Kw::Mincuts || call.kw == Kw::Minpaths) && target.type == kSysFtreeRepeated && !target.coherent) {
        // The sets of a non-coherent function are not prime implicants.
        in.out.write("\n**************** Currently, we cannot deal with this by bdd!!!\n");
        return;
    }
    AnalysisRequest req = request_for(in, call);
    analyze_system(in, call, req);
    SystemRecord& sys = in.systems[call.system];
    const ModelKind& kind = kind_of(in, sys);
    if (kind.print == nullptr) in.err.error(94, kInternal, "", false);
    kind.print(in, sys, st, req);
}

// ------------------------------------------------------ measures of the kinds

double combinatorial_value(Interpreter& in, SystemRecord& sys, MeasureCall& call, const AnalysisRequest& req) {
    if (sys.type == kSysFtreeRepeated && is_component_importance(call.kw))
        return repeated_importance(in, sys, call);
    if (sys.type == kSysRelgraph && is_component_importance(call.kw))
        return relgraph_importance(in, sys, call);
    if (sys.type == kSysRelgraph && (call.kw == Kw::Lbound || call.kw == Kw::Ubound))
        return relgraph_bound(in, sys, call.kw, req.time);
    if (!has_distribution_result(sys.type)) {
        in.err.error(94, kInternal, "", false);
        return 0.0;
    }
    if (call.kw == Kw::Mttf) return system_mttf(in, sys);
    return distribution_measure_value(in, sys, call, req);
}

void combinatorial_distribution(Interpreter& in, SystemRecord& sys, MeasureCall&, const AnalysisRequest&,
                                Exponomial& out) {
    if (!has_distribution_result(sys.type)) in.err.error(94, kInternal, "", false);
    out = system_distribution(in, sys);
}

void print_combinatorial_result(Interpreter& in, SystemRecord& sys, OutputStatement& st, const AnalysisRequest& req) {
    MeasureCall& call = st.call;
    if (!has_distribution_result(sys.type)) in.err.error(94, kInternal, "", false);
    switch (call.kw) {
        case Kw::Cdf:
            print_cdf(in, sys);
            break;
        case Kw::Pqcdf:
            print_system_result_header(in.out, SystemResult::Pqcdf, sys.name);
            if (sys.type == kSysFtreeRepeated)
                print_repeated_listing(in, sys, call.kw);
            else if (sys.type == kSysRelgraph)
                print_relgraph_listing(in, sys, call.kw);
            else
                print_tree_pqcdf(in, sys);
            break;
        case Kw::Mincuts:
        case Kw::Minpaths:
            if (sys.type != kSysFtreeRepeated && sys.type != kSysRelgraph) in.err.error(21, kFatal, sys.name, true);
            print_system_result_header(in.out, call.kw == Kw::Mincuts ? SystemResult::Mincuts : SystemResult::Minpaths,
                                       sys.name);
            if (sys.type == kSysRelgraph)
                print_relgraph_listing(in, sys, call.kw);
            else
                print_repeated_listing(in, sys, call.kw);
            break;
        case Kw::Analyze:
            break;
        case Kw::Rankimpt:
            print_importance_ranking(in, sys, st.kind, req.time);
            break;
        default:
            in.err.error(21, kFatal, sys.name, true);
    }
}

double chain_value(Interpreter& in, SystemRecord& sys, MeasureCall& call, const AnalysisRequest& req) {
    if (call.kw == Kw::Fastmttf && find_chain(sys)) return sys.s_mttf;
    if (is_steady_chain_request(sys, req)) return steady_chain_value(in, sys, call, req);
    if (is_markov_system(sys)) return markov_measure_value(in, sys, call, req);
    in.err.error(94, kInternal, "", false);
    return 0.0;
}

void chain_distribution(Interpreter& in, SystemRecord& sys, MeasureCall& call, const AnalysisRequest& req,
                        Exponomial& out) {
    if (is_steady_chain_request(sys, req)) {
        steady_chain_distribution(in, sys, call, req, out);
        return;
    }
    if (!is_markov_system(sys)) in.err.error(94, kInternal, "", false);
    markov_measure_distribution(in, sys, call, req, out, &call.node_stable);
    check_handed_form(in, sys, call, out);
}

void print_chain_result(Interpreter& in, SystemRecord& sys, OutputStatement& st, const AnalysisRequest& req) {
    if (is_steady_chain_request(sys, req)) {
        print_steady_chain_result(in, sys, st.call, req);
        return;
    }
    if (!is_markov_system(sys)) in.err.error(94, kInternal, "", false);
    print_markov_result(in, sys, st.call, req);
}

double net_value(Interpreter& in, SystemRecord& sys, MeasureCall& call, const AnalysisRequest& req) {
    return petri_measure_value(in, sys, call, req);
}

void net_distribution(Interpreter& in, SystemRecord& sys, MeasureCall& call, const AnalysisRequest&,
                      Exponomial& out) {
    petri_measure_distribution(in, sys, call, out);
}

void print_net_result(Interpreter& in, SystemRecord& sys, OutputStatement& st, const AnalysisRequest&) {
    print_petri_result(in, sys, st.call);
}

double mrgp_value(Interpreter& in, SystemRecord& sys, MeasureCall& call, const AnalysisRequest& req) {
    return mrgp_measure_value(in, sys, call, req);
}

double queue_value(Interpreter& in, SystemRecord& sys, MeasureCall& call, const AnalysisRequest& req) {
    return queue_measure_value(in, sys, call, req);
}

double pms_value(Interpreter& in, SystemRecord& sys, MeasureCall& call, const AnalysisRequest& req) {
    return pms_measure_value(in, sys, call, req);
}

}  // namespace corvel
