#include "interp/dispatch.h"

#include <new>

#include "combinatorial/ftree_repeat.h"
#include "combinatorial/mstree_solve.h"
#include "combinatorial/pms_solve.h"
#include "combinatorial/relgraph_solve.h"
#include "combinatorial/tree.h"
#include "interp/chain_measures.h"
#include "interp/func_sys.h"
#include "interp/interpreter.h"
#include "interp/model_kinds.h"
#include "statespace/chain.h"
#include "statespace/markov_solve.h"
#include "statespace/phase_type.h"
#include "statespace/queue_analysis.h"
#include "statespace/petri_blocks.h"
#include "statespace/fast_mttf.h"
#include "statespace/mrgp.h"
#include "statespace/petri_net.h"
#include "interp/steady_measures.h"

namespace corvel {

namespace {

const char* yes_no(bool b) { return b ? "yes" : "no"; }

// Components of trees and graphs are bound differently for these measures, so
// a result cached for one of them does not serve another.
int component_binding_mode(Kw measure) {
    switch (measure) {
        case Kw::Sysprob:
        case Kw::Ss_unavail: return 1;
        case Kw::Tvalue:
        case Kw::Bimpt:
        case Kw::Cimpt:
        case Kw::Fvimpt:
        case Kw::Rawimpt:
        case Kw::Rrwimpt:
        case Kw::Rankimpt: return 2;
        case Kw::Mttf: return 3;
        case Kw::Pqcdf: return 4;
        case Kw::Lbound:
        case Kw::Ubound: return 5;
        default: return 0;
    }
}

void verbose_report(Interpreter& in, SystemRecord& sys, const MeasureCall& call, const AnalysisRequest& req) {
    Output& out = in.out;
    const Settings& s = in.settings;
    out.write("\nanalyzing the following system:\n  ");
    out.printf("system %s: ", sys.name.c_str());
    out.write(system_type_text(sys.type));
    out.printf("  computing_reward:\t%s\n", yes_no(req.computing_reward));
    out.printf("  computing_cdf:\t%s\n", yes_no(req.computing_cdf));
    out.printf("  transient:\t\t%s\n", yes_no(req.transient));
    if (req.transient) out.printf("  time:\t\t\t%f\n", req.time);
    switch (sys.type) {
        case kSysFtreeRepeated:
            out.printf("  factoring:\t\t%s", yes_no(s.use_factoring));
            if (s.use_bdd) {
                if (s.use_factoring) out.write(" (not used with bdd)");
                out.write("\n  bdd:\t\t\tyes\n");
            } else {
                if (s.use_factoring && call.kw == Kw::Pqcdf) out.write(" (not used for pqcdf)");
                out.write("\n  bdd:\t\t\tno\n");
            }
            break;
        case kSysFtreeNoRepeat:
            out.printf("  factoring:\t\t%s", yes_no(s.use_factoring));
            if (s.use_factoring) out.write(" (won't be done for ftree without repeated nodes)");
            out.printf("\n  bdd:\t\t\t%s", yes_no(s.use_bdd));
            if (s.use_bdd)
                out.write(" (won't be done for ftree without repeated nodes)\n");
            else
                out.write("\n");
            break;
        case kSysRelgraph:
            out.printf("  bdd:\t\t\t%s\n", yes_no(s.use_bdd));
            break;
        case kSysPms:
            out.write("  bdd:\t\t\tyes\n");
            break;
        default:
            break;
    }
}

// Binds the call's arguments to the system's parameters; true when no value
// changed since the last analysis.
bool bind_system_arguments(Interpreter& in, SystemRecord& sys, MeasureCall& call) {
    if (call.args.empty()) {
        // Without arguments a parameterised system keeps the values of its
        // last call; it must have had one.
        if (!sys.params.empty() && !sys.analysed_once) in.err.error(73, kInputError, sys.name, true);
        return true;
    }
    if (call.args.size() > sys.params.size()) in.err.error(72, kInputError, sys.name, true);
    if (call.args.size() < sys.params.size()) in.err.error(73, kInputError, sys.name, true);
    bool unchanged = in.eval.bind_parameters(sys.params, call.args);
    return unchanged && sys.analysed_once;
}

// Markov chains: the rates are bound for the request's reward setting, then
// the class decides. Acyclic chains (140) get their closed forms per state,
// or the transient solution at a time point; irreducible chains (141) the
// transient solution, or the closed forms of their states by eigenvalues of
// the generator; phase-type chains (142) their closed forms by
// eigenvalues, or the transient solution. The steady state of 141 is solved
// by analyze_steady_chain.
// Records which solution the system now holds: transient at a time, or
// steady state.
static void mark_bound(SystemRecord& sys, bool transient, double time) {
    sys.s_tbound = transient;
    sys.s_sbound = !transient;
    if (transient) sys.s_time = time;
}

void analyze_markov_chain(Interpreter& in, SystemRecord& sys, const AnalysisRequest& req, bool unchanged) {
    const bool reward = req.computing_reward;
    const bool transient = markov_request_is_transient(sys, req);
    const bool same = unchanged && sys.s_vbound && sys.s_reward == reward;
    // Each product has its own flag: a transient vector does not answer a
    // closed-form request, nor the other way round.
    // An irreducible chain's closed forms are per state only (no overall
    // distribution).
    // A phase-type chain too large for closed forms holds its stable route.
    const bool solved = sys.s_sbound && (sys.has_dist || sys.type == kSysMarkovIrreducible ||
                                         (!chain_has_closed_forms(sys) && sys.s_stable));
    if (same && (transient ? sys.s_tbound && sys.s_time == req.time : solved)) {
        if (in.settings.verbose) in.out.printf("  using previous analysis for %s\n", sys.name.c_str());
        return;
    }
    if (!same) rebind_markov(in, sys, reward);
    sys.s_vbound = true;
    sys.s_reward = reward;
    switch (sys.type) {
        case kSysMarkovAcyclic: {
            const int start = check_starting_probs(in, sys);
            if (transient) {
                m_transient(in, sys, req.time);
            } else {
                analyze_acyclic_markov(in, sys, start, reward);
                add_absorbing_cdfs(in, sys);
                sys.s_stable = markov_absorbing_route(in, sys, reward);
                check_closed_forms(in, sys);
            }
            break;
        }
        case kSysMarkovPhase: {
            check_starting_probs(in, sys);
            ChainModel& m = chain_of(sys);
            if (has_non_transient_states(m, in.settings.tol.epsilon)) in.err.error(113, kFatal, sys.name, true);
            if (transient) {
                m_transient(in, sys, req.time);
                break;
            }
            if (!chain_has_closed_forms(sys)) {
                solve_large_phase_chain(in, sys, reward);
                break;
            }
            // Every state's closed form is made anew for the current rates.
            m.dists.assign(static_cast<size_t>(m.num_states()), StateDists{});
            m.need_node.assign(static_cast<size_t>(m.num_states()), 1);
            solve_ph_chain(in, sys, reward, true);
            sys.s_stable = markov_absorbing_route(in, sys, reward);
            check_closed_forms(in, sys);
            break;
        }
        case kSysMarkovIrreducible: {
            check_starting_probs(in, sys);
            if (transient) {
                m_transient(in, sys, req.time);
                break;
            }
            // A distribution request: the closed form of every state by
            // eigenvalues of the whole generator, whose zero eigenvalue
            // carries the steady-state probability. The solve rewrites the
            // state probabilities, so the steady-state solution is redone
            // when next asked for.
            require_closed_forms(in, sys);
            {
                ChainModel& m = chain_of(sys);
                m.dists.assign(static_cast<size_t>(m.num_states()), StateDists{});
                m.need_node.assign(static_cast<size_t>(m.num_states()), 1);
            }
            solve_ph_chain(in, sys, reward, false);
            sys.s_stable = nullptr;
            check_closed_forms(in, sys);
            sys.s_ibound = false;
            break;
        }
        default:
            in.err.error(94, kInternal, "", false);
    }
    mark_bound(sys, transient, req.time);
}

}  // namespace

namespace {

// The node a call names: a state of the system's chain, or a node of its
// name table.
void resolve_call_node(Interpreter& in, SystemRecord& sys, const MeasureCall& call, AnalysisRequest& req) {
    if (!call.has_node) return;
    req.node_name = call.node;
    req.node = find_chain(sys) != nullptr ? find_chain_state(sys, call.node) : sys.names.find(call.node);
    if (req.node < 0) in.err.error(35, kFatal, call.node, true);
}

// Systems whose components are bound for the measure, so that a cached
// result serves only the same binding mode: graphs, block diagrams, fault
// trees, reliability graphs. A type no solver takes (a chain left
// unclassified) ends here too.
void solve_by_components(Interpreter& in, SystemRecord& sys, MeasureCall& call, AnalysisRequest& req,
                         bool unchanged) {
    int mode = component_binding_mode(call.kw);
    bool cached = unchanged && sys.s_vbound && sys.cache_mode == mode &&
                  (req.transient ? (sys.s_tbound && sys.s_time == req.time) : (sys.s_sbound && sys.has_dist));
    if (cached) {
        if (in.settings.verbose) in.out.printf("  using previous analysis for %s\n", sys.name.c_str());
        return;
    }

    switch (sys.type) {
        case kSysGraph:
        case kSysBlock:
        case kSysFtreeNoRepeat:
            analyze_tree_system(in, sys, req);
            break;
        case kSysFtreeRepeated:
            analyze_repeated_ftree(in, sys, req);
            break;
        case kSysRelgraph:
            analyze_relgraph_system(in, sys, req);
            break;
        default:
            in.err.error(94, kInternal, "", false);
    }

    sys.s_vbound = true;
    sys.cache_mode = mode;
    mark_bound(sys, req.transient, req.time);
    sys.s_reward = req.computing_reward;
}

void analyze_system_unguarded(Interpreter& in, MeasureCall& call, AnalysisRequest& req) {
    SystemRecord& sys = in.systems[call.system];
    bool saved_bdd = in.settings.use_bdd;
    struct RestoreBdd {
        Settings& s;
        bool value;
        ~RestoreBdd() { s.use_bdd = value; }
    } restore{in.settings, saved_bdd};
    if (sys.is_relgraph_repeat) in.settings.use_bdd = true;

    bool unchanged = bind_system_arguments(in, sys, call);
    sys.analysed_once = true;

    // Chains are rebuilt from their loop groups for the current parameter values.
    if (!(unchanged && sys.s_vbound)) {
        if (find_chain(sys) != nullptr) {
            if (in.settings.verbose && !chain_of(sys).loop_arcs.empty())
                in.out.printf("expanding markov chain %s.\n", sys.name.c_str());
            expand_chain(in, sys);
        }
    }

    std::optional<FuncSysEntry> entry = func_sys(call.kw, sys.type);
    if (!entry) in.err.error(21, kFatal, sys.name, true);
    if (entry->rule == NodeRule::None && call.has_node) in.err.error(105, kFatal, sys.name, true);
    if (entry->rule == NodeRule::Required && !call.has_node) in.err.error(13, kFatal, "", true);

    if (in.settings.verbose || in.settings.debug[kDebugMarkov]) verbose_report(in, sys, call, req);

    const ModelKind* kind = model_kind_of_type(sys.type);
    if (kind == nullptr) in.err.error(94, kInternal, "", false);
    kind->analyze(in, sys, call, req, unchanged);
}

// Analyses in progress: a system whose parameters or components refer to
// another system analyses that one first, one level deeper.
int analysis_depth = 0;
constexpr int kMaxAnalysisDepth = 200;

}  // namespace

void analyze_combinatorial(Interpreter& in, SystemRecord& sys, MeasureCall& call, AnalysisRequest& req,
                           bool unchanged) {
    resolve_call_node(in, sys, call, req);
    solve_by_components(in, sys, call, req, unchanged);
}

// Markov and semi-Markov chains.
void analyze_chain(Interpreter& in, SystemRecord& sys, MeasureCall& call, AnalysisRequest& req, bool unchanged) {
    resolve_call_node(in, sys, call, req);
    // The mean time between the sets of a chain's fastmttf section. A
    // semi-Markov chain is solved first (or its cached solution reused): the
    // computation walks the branch probabilities and sojourn means it stores.
    if (call.kw == Kw::Fastmttf && find_chain(sys)) {
        if (sys.type == kSysMarkov || sys.type == kSysMarkovAcyclic || sys.type == kSysMarkovIrreducible ||
            sys.type == kSysMarkovPhase) {
            fast_mttf(in, sys);
            return;
        }
        if (sys.type == kSysSemimarkAcyclic || sys.type == kSysSemimarkIrreducible) {
            analyze_steady_chain(in, sys, req, unchanged);
            fast_mttf(in, sys);
            return;
        }
    }

    if (is_steady_chain_request(sys, req)) return analyze_steady_chain(in, sys, req, unchanged);
    if (is_markov_system(sys)) return analyze_markov_chain(in, sys, req, unchanged);
    solve_by_components(in, sys, call, req, unchanged);
}

// A regenerative process keeps its result while the binding and the reward
// setting stay the same.
void analyze_mrgp(Interpreter& in, SystemRecord& sys, MeasureCall& call, AnalysisRequest& req, bool unchanged) {
    resolve_call_node(in, sys, call, req);
    if (unchanged && sys.s_vbound && sys.s_reward == req.computing_reward) {
        if (in.settings.verbose) in.out.printf("  using previous analysis for %s\n", sys.name.c_str());
        return;
    }
    MRGP_mrgp(in, sys);
    sys.s_vbound = true;
    sys.s_reward = req.computing_reward;
}

void analyze_queue(Interpreter& in, SystemRecord& sys, MeasureCall& call, AnalysisRequest& req, bool unchanged) {
    resolve_call_node(in, sys, call, req);
    analyze_queue_system(in, sys, unchanged);
}

// Nets name places and transitions; their analysis resolves the names.
void analyze_net(Interpreter& in, SystemRecord& sys, MeasureCall&, AnalysisRequest& req, bool unchanged) {
    if (petri_model(sys) == nullptr) in.err.error(94, kInternal, "", false);
    analyze_petri_net(in, sys, req, unchanged);
}

// Phased missions name components and phases, multi-state trees their top
// events; both keep their diagrams in their own records.
void analyze_pms(Interpreter& in, SystemRecord& sys, MeasureCall& call, AnalysisRequest& req, bool) {
    analyze_pms_system(in, sys, call, req);
}

void analyze_mstree(Interpreter& in, SystemRecord& sys, MeasureCall& call, AnalysisRequest& req, bool) {
    analyze_mstree_system(in, sys, call, req);
}

// A model too large for the memory of the machine (a dense block of a huge
// chain, for instance) stops with "out of memory" instead of aborting.

void analyze_system(Interpreter& in, MeasureCall& call, AnalysisRequest& req) {
    if (analysis_depth >= kMaxAnalysisDepth)
        in.err.error(6, kFatal,
                     format_string(": systems nested more than %d deep at %s", kMaxAnalysisDepth,
                                   in.systems[call.system].name.c_str()),
                     true);
    ++analysis_depth;
    struct DepthGuard {
        ~DepthGuard() { --analysis_depth; }
    } guard;
    try {
        analyze_system_unguarded(in, call, req);
    } catch (const std::bad_alloc&) {
        in.err.error(169, kFatal, "", true);
    }
}

AnalysisRequest analyze_for_table(Interpreter& in, MeasureCall& call, Kw kind) {
    AnalysisRequest req;
    req.measure = kind;
    req.computing_cdf = kind == Kw::Cdf;
    req.computing_reward = kind == Kw::Reward;
    req.table = true;
    const Kw saved = call.kw;
    call.kw = kind;
    analyze_system(in, call, req);
    call.kw = saved;
    return req;
}

}  // namespace corvel
