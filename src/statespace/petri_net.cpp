// The analysis driver of gspn and srn systems and their measures.

#include "statespace/petri_net.h"
#include "symbols/counts.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <algorithm>
#include <limits>

#include "expo/guarded.h"
#include "model/context.h"
#include "statespace/petri_blocks.h"
#include "statespace/petri_solve.h"

namespace corvel {

namespace {

// The marking whose expressions are being evaluated, for #, ? and Rate.
class SrnContext final : public MarkingEvaluator {
public:
    SrnContext(AnalysisContext& in, const PetriModel& model, const NetAnalysis& a)
        : in_(in), model_(model), a_(a), saved_(active_) {
        active_ = this;
    }
    ~SrnContext() override { active_ = saved_; }
    SrnContext(const SrnContext&) = delete;
    SrnContext& operator=(const SrnContext&) = delete;

    void enter(const std::int32_t* marking) override {
        marking_ = marking;
        for (int s : a_.dependent_symbols) in_.symbols[s].bound = false;
    }
    double value(const Expr& e) override { return in_.eval.bind_expression(e); }

    static SrnContext* active() { return active_; }

    double reference(const Expr& ref) {
        if (!marking_) {
            in_.out.write("srn_enabled cannot be called on other system!\n");
            return -1.0;
        }
        if (ref.code == kPlaceTokens) {
            int p = model_.place_names.find(ref.name);
            if (p < 0) {
                in_.out.printf("place %s undefined\n", ref.name.c_str());
                return -1.0;
            }
            return marking_[p];
        }
        int t = model_.transition_names.find(ref.name);
        if (t < 0) {
            in_.out.printf("transition %s undefined\n", ref.name.c_str());
            return -1.0;
        }
        // A guard or rate that asks, through others, about its own transition
        // has no value.
        if (depth_ > 64) in_.err.error(221, kFatal, (ref.code == kTransRate ? "Rate(" : "?(") + ref.name + ")", true);
        ++depth_;
        struct Depth {
            int& d;
            ~Depth() { --d; }
        } guard{depth_};
        const BoundTransition& bt = a_.net.transitions[static_cast<std::size_t>(t)];
        bool on = transition_enabled(bt, marking_, this, in_.err);
        if (ref.code == kTransEnabled) return on ? 1.0 : 0.0;
        return on ? transition_rate(bt, marking_, this) : 0.0;
    }

private:
    AnalysisContext& in_;
    const PetriModel& model_;
    const NetAnalysis& a_;
    const std::int32_t* marking_ = nullptr;
    int depth_ = 0;
    SrnContext* saved_;
    static inline SrnContext* active_ = nullptr;
};

std::string trans_text(const PetriModel& m, int t) { return ": transition " + m.transition_names[t]; }

void print_tokens(Output& out, const BoundNet& net, const ReachGraph& g, std::uint32_t m) {
    for (int p = 0; p < g.num_places; ++p) {
        int k = g.tokens(m, p);
        if (k != 0) out.printf("%s*%d ", net.place_names[static_cast<std::size_t>(p)].c_str(), k);
    }
    out.write("\n");
}


int srn_code(int gspn_code) {
    switch (gspn_code) {
        case kSysGspnIrreducible: return kSysSrnIrreducible;
        case kSysGspnAcyclic: return kSysSrnAcyclic;
        default: return kSysSrnPhase;
    }
}

// Generation, elimination and classification for the current binding.
void build(AnalysisContext& in, SystemRecord& sys, PetriModel& model) {
    auto a = std::make_shared<NetAnalysis>();
    a->net = bind_net(in, sys, model);
    if (model.srn) a->dependent_symbols = marking_dependent_symbols(in.symbols);
    bool talk = in.settings.verbose || in.settings.debug[kDebugPetri];
    using Clock = std::chrono::steady_clock;
    auto seconds_since = [](Clock::time_point t) { return std::chrono::duration<double>(Clock::now() - t).count(); };
    auto start = Clock::now();
    {
        SrnContext ctx(in, model, *a);
        ReachLimits limits;
        limits.system = sys.name;
        limits.max_markings = in.settings.work_limit;
        limits.allocation_report = [&in]() { in.print_allocations(); };
        a->graph = generate_reach_graph(a->net, model.srn ? &ctx : nullptr, in.err,
                                        in.settings.verbose ? &in.out : nullptr, limits);
    }
    a->generate_seconds = seconds_since(start);
    const ReachGraph& g = a->graph;
    // Large graphs are listed only under the petri debug switch.
    if (in.settings.debug[kDebugPetri] || (in.settings.verbose && g.size() <= 200)) {
        in.out.write("reachability graph just before graph_analysis\n");
        print_reachgraph(in.out, a->net, g);
    }
    auto elim_start = Clock::now();
    a->chain = eliminate_vanishing(g, in.err);
    a->eliminate_seconds = seconds_since(elim_start);
    // The targets of the graph's arcs live on in the chain; the measures need
    // only each arc's transition and rate.
    std::vector<std::uint32_t>().swap(a->graph.arc_to);
    if (talk) {
        double secs = a->generate_seconds;
        if (g.size() > 100000)
            in.out.printf("  %.0f markings per second\n", secs > 0 ? g.size() / secs : 0.0);
        in.out.printf("  %s: %u tangible, %u vanishing, %u absorbing markings, %llu arcs\n", sys.name.c_str(),
                      g.num_tangible, g.num_vanishing, g.num_absorbing,
                      static_cast<unsigned long long>(g.num_arcs()));
        in.out.printf("  tangible chain: %u states, %llu arcs, %u vanishing loops\n", a->chain.num_states(),
                      static_cast<unsigned long long>(a->chain.num_arcs()), a->chain.num_vanishing_loops);
    }
    a->klass = classify_tangible_chain(in, sys, a->chain);
    if (a->klass != kSysGspnIrreducible && a->chain.initial_vanishing) in.err.error(175, kWarning, "", true);
    sys.type = model.srn ? srn_code(a->klass) : a->klass;
    model.analysis = std::move(a);
}

// The weights of the states for a measure: limit or steady-state
// probabilities, transient probabilities at t, or time-averaged ones.
enum class Weights { Limit, AtTime, Average, Cumulative };

Weights weights_for(Kw kw, int klass) {
    switch (kw) {
        case Kw::Etokt: case Kw::Premptyt: case Kw::Tputt: case Kw::Utilt: case Kw::Srn_exrt:
        case Kw::Value:
            return Weights::AtTime;
        case Kw::Etoku: case Kw::Premptyu: case Kw::Tputu: case Kw::Utilu:
            // Acyclic nets ignore the time argument of these.
            return klass == kSysGspnAcyclic ? Weights::Limit : Weights::AtTime;
        case Kw::Tavetokt: case Kw::Tavtputt: case Kw::Srn_ave_cexrt:
            return Weights::Average;
        case Kw::Srn_cexrt:
            return Weights::Cumulative;
        default:
            return Weights::Limit;
    }
}

bool needs_transient(Kw kw, int klass) {
    Weights w = weights_for(kw, klass);
    return w != Weights::Limit;
}

bool needs_times(Kw kw) {
    return kw == Kw::Mtta || kw == Kw::Srn_cexrinf || kw == Kw::Mean || kw == Kw::Variance;
}

}  // namespace

double srn_reference(AnalysisContext& in, const Expr& ref) {
    SrnContext* ctx = SrnContext::active();
    if (!ctx) {
        in.out.write("srn_enabled cannot be called on other system!\n");
        return -1.0;
    }
    return ctx->reference(ref);
}

BoundNet bind_net(AnalysisContext& in, SystemRecord& sys, PetriModel& model) {
    (void)sys;
    BoundNet net;
    net.place_names = model.place_names.names();
    for (std::size_t p = 0; p < model.places.size(); ++p) {
        PetriPlace& pl = model.places[p];
        if (pl.sym_tokens && !pl.sym_tokens->is_constant()) {
            pl.init_tokens = checked_tokens(in.err, in.eval.bind_expression(*pl.sym_tokens), net.place_names[p], kFatal);
        }
        net.init_tokens.push_back(pl.init_tokens);
    }
    auto bind_arcs = [&](const std::vector<PetriArc>& arcs, std::vector<BoundArc>& out, int t) {
        for (const PetriArc& a : arcs) {
            BoundArc b;
            b.place = a.place;
            b.multiplicity = a.multiplicity;
            if (a.sym_multiplicity && !a.sym_multiplicity->is_constant()) {
                if (model.srn) {
                    b.expr = a.sym_multiplicity.get();
                } else {
                    b.multiplicity = checked_multiplicity(in.err, in.eval.bind_expression(*a.sym_multiplicity), false,
                                                          "multiplicity of an arc of transition " +
                                                              std::string(model.transition_names[t]));
                }
            }
            if (b.multiplicity < 0) in.err.error(178, kFatal, ": arc " + model.transition_names[t], true);
            out.push_back(b);
        }
    };
    for (std::size_t i = 0; i < model.transitions.size(); ++i) {
        const PetriTransition& t = model.transitions[i];
        int ti = static_cast<int>(i);
        BoundTransition b;
        b.name = model.transition_names[ti];
        b.kind = t.kind;
        b.dependent = t.dependent;
        b.place_index = t.place_index;
        b.priority = t.priority;
        if (t.sym_priority && !t.sym_priority->is_constant()) {
            b.priority = static_cast<int>(checked_count(in.err, in.eval.bind_expression(*t.sym_priority),
                                                        CountRounding::Nearest, "priority of transition " + b.name,
                                                        kFatal));
        }
        b.rate = t.rate;
        bool constant = !t.sym_rate || t.sym_rate->is_constant();
        if (model.srn && t.dependent != kDepIndependent && !constant) {
            b.rate_expr = t.sym_rate.get();
        } else if (!constant) {
            b.rate = in.eval.bind_expression(*t.sym_rate);
        }
        check_finite(in.err, b.rate, "rate or weight", kFatal, trans_text(model, ti));
        if (!model.srn) {
            // A zero rate is refused only where the transition is enabled
            // (172 during generation); a negative one is wrong at once.
            if (t.kind == kTransTimed && !(b.rate >= -in.settings.tol.epsilon))
                in.err.error(52, kFatal, trans_text(model, ti), true);
            if (t.kind == kTransImmediate && b.rate < 0.0) in.err.error(117, kFatal, trans_text(model, ti), true);
        }
        if (model.srn && t.sym_guard) b.guard = t.sym_guard.get();
        bind_arcs(t.input, b.input, ti);
        bind_arcs(t.output, b.output, ti);
        bind_arcs(t.inhibitor, b.inhibitor, ti);
        net.transitions.push_back(std::move(b));
    }
    return net;
}

int classify_tangible_chain(AnalysisContext& in, SystemRecord& sys, const TangibleChain& c) {
    const std::uint32_t n = c.num_states();
    if (n == 0) in.err.error(80, kFatal, sys.name, true);
    if (c.num_absorbing == 0) {
        if (!chain_is_irreducible(c)) in.err.error(114, kFatal, sys.name, true);
        return kSysGspnIrreducible;
    }
    // Kahn's order over the arcs: every state removed means no cycle.
    std::vector<std::uint32_t> indeg(n, 0);
    for (std::uint64_t e = 0; e < c.num_arcs(); ++e) ++indeg[c.col[e]];
    std::vector<std::uint32_t> ready;
    for (std::uint32_t s = 0; s < n; ++s)
        if (indeg[s] == 0) ready.push_back(s);
    std::uint32_t removed = 0;
    while (!ready.empty()) {
        std::uint32_t s = ready.back();
        ready.pop_back();
        ++removed;
        for (std::uint64_t e = c.row_start[s]; e < c.row_start[s + 1]; ++e)
            if (--indeg[c.col[e]] == 0) ready.push_back(c.col[e]);
    }
    return removed == n ? kSysGspnAcyclic : kSysGspnPhase;
}

void print_reachgraph(Output& out, const BoundNet& net, const ReachGraph& g) {
    out.write("---------------------------\n");
    out.printf("# vanishing markings: %u\n", g.num_vanishing);
    out.printf("# tangible markings: %u\n", g.num_tangible);
    out.printf("# absorbing markings: %u\n", g.num_absorbing);
    for (std::uint32_t m = 0; m < g.size(); ++m) {
        switch (g.type[m]) {
            case kMarkTangible: out.write("tangible marking: "); break;
            case kMarkAbsorbing: out.write("absorbing marking: "); break;
            default: out.write("vanishing marking: "); break;
        }
        print_tokens(out, net, g, m);
        out.printf("marking index: %u\n", m + 1);
        for (std::uint64_t e = g.arc_start[m]; e < g.arc_start[m + 1]; ++e) {
            out.printf("transition %s to marking: ", net.transitions[g.arc_trans[e]].name.c_str());
            print_tokens(out, net, g, g.arc_to[e]);
            out.printf("propability: %-.6e\n", g.arc_rate[e]);
        }
    }
    out.write("---------------------------\n");
}

void analyze_petri_net(AnalysisContext& in, SystemRecord& sys, AnalysisRequest& req, bool params_same) {
    PetriModel* model = petri_model(sys);
    if (!model) in.err.error(174, kInternal, "", false);
    if (req.transient && req.time < 0) in.err.error(211, kFatal, sys.name, true);
    bool reuse = params_same && sys.s_vbound && model->analysis;
    if (!reuse) {
        model->analysis.reset();
        sys.s_tbound = sys.s_sbound = sys.s_ibound = false;
        sys.s_dist.clear();
        sys.has_dist = false;
        sys.s_stable.reset();
        build(in, sys, *model);
        sys.s_vbound = true;
    } else if (in.settings.verbose) {
        in.out.printf("  using previous reachability graph for %s\n", sys.name.c_str());
    }
    NetAnalysis& a = *model->analysis;
    auto solve_start = std::chrono::steady_clock::now();
    if (req.transient && needs_transient(req.measure, a.klass)) {
        if (!(a.has_transient && a.time == req.time)) {
            solve_transient(in, sys, a, req.time);
            a.has_transient = true;
            a.time = req.time;
        }
        sys.s_tbound = true;
        sys.s_time = req.time;
    } else if (req.computing_cdf) {
        // An irreducible net is never absorbed: it has no time to absorption
        // to give a distribution of.
        if (req.measure == Kw::Cdf && !req.table && a.klass == kSysGspnIrreducible)
            in.err.error(21, kFatal, sys.name, true);
        // Tables ask for numbers only: a chain too large for closed forms
        // answers them from its transient solutions.
        if (req.table && !closed_form_fits(a)) {
            if (!sys.s_stable) solve_absorption_route(in, sys, a);
        } else if (!a.has_forms) {
            solve_distribution(in, sys, a);
        }
    } else if (needs_times(req.measure)) {
        if (!a.has_times) {
            solve_mean_times(in, sys, a);
            a.has_times = true;
        }
    } else if (!a.has_limit) {
        solve_limit(in, sys, a);
        a.has_limit = true;
        sys.s_ibound = true;
    }
    a.solve_seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - solve_start).count();
    sys.s_reward = req.computing_reward;
}

std::size_t NetAnalysis::graph_bytes() const {
    auto bytes = [](const auto& v) { return v.capacity() * sizeof(v[0]); };
    return bytes(graph.packed) + bytes(graph.type) + bytes(graph.arc_start) + bytes(graph.arc_to) +
           bytes(graph.arc_trans) + bytes(graph.arc_rate);
}

std::size_t NetAnalysis::chain_bytes() const {
    auto bytes = [](const auto& v) { return v.capacity() * sizeof(v[0]); };
    return bytes(chain.row_start) + bytes(chain.col) + bytes(chain.rate) + bytes(chain.marking_of_state) +
           bytes(chain.index_of_marking);
}

namespace {

// The place and transition measures as sums over states s in [lo, hi) of
// the state's weight times a factor: take(s, factor) for each term (a state
// may give several). False for any other measure.
template <class Take>
bool state_factors(AnalysisContext& in, const PetriModel& model, const NetAnalysis& a, const MeasureCall& call,
                   std::uint32_t lo, std::uint32_t hi, Take&& take) {
    const TangibleChain& c = a.chain;
    const ReachGraph& g = a.graph;
    auto place_arg = [&]() {
        int p = model.place_names.find(call.node);
        if (p < 0) in.err.error(159, kFatal, call.node, true);
        return p;
    };
    auto trans_arg = [&]() {
        int t = model.transition_names.find(call.node);
        if (t < 0) in.err.error(131, kFatal, call.node, true);
        return static_cast<std::uint32_t>(t);
    };
    switch (call.kw) {
        case Kw::Etok: case Kw::Etokt: case Kw::Etoku: case Kw::Tavetokt: case Kw::Fetok: {
            int p = place_arg();
            for (std::uint32_t s = lo; s < hi; ++s) take(s, g.tokens(c.marking_of_state[s], p));
            return true;
        }
        case Kw::Prempty: case Kw::Premptyt: case Kw::Premptyu: case Kw::Fprempty: {
            int p = place_arg();
            for (std::uint32_t s = lo; s < hi; ++s) take(s, g.tokens(c.marking_of_state[s], p) == 0 ? 1.0 : 0.0);
            return true;
        }
        case Kw::Tput: case Kw::Tputt: case Kw::Tputu: case Kw::Tavtputt: case Kw::Ftput:
        case Kw::Util: case Kw::Utilt: case Kw::Utilu: case Kw::Futil: {
            std::uint32_t t = trans_arg();
            bool util = call.kw == Kw::Util || call.kw == Kw::Utilt || call.kw == Kw::Utilu || call.kw == Kw::Futil;
            for (std::uint32_t s = lo; s < hi; ++s) {
                std::uint32_t m = c.marking_of_state[s];
                for (std::uint64_t e = g.arc_start[m]; e < g.arc_start[m + 1]; ++e)
                    if (g.arc_trans[e] == t) take(s, util ? 1.0 : g.arc_rate[e]);
            }
            return true;
        }
        default:
            return false;
    }
}

}  // namespace

bool petri_state_factors(AnalysisContext& in, SystemRecord& sys, const MeasureCall& call, std::vector<double>& factor) {
    PetriModel* model = petri_model(sys);
    if (!model || !model->analysis) in.err.error(174, kInternal, "", false);
    const NetAnalysis& a = *model->analysis;
    factor.assign(a.chain.num_states(), 0.0);
    return state_factors(in, *model, a, call, 0, a.chain.num_states(),
                         [&factor](std::uint32_t s, double f) { factor[s] += f; });
}

Guarded petri_transient_sum(AnalysisContext& in, SystemRecord& sys, const std::vector<double>& factor, double t) {
    PetriModel* model = petri_model(sys);
    if (!model || !model->analysis) in.err.error(174, kInternal, "", false);
    NetAnalysis& a = *model->analysis;
    if (!(a.has_transient && a.time == t)) {
        solve_transient(in, sys, a, t);
        a.has_transient = true;
        a.time = t;
    }
    GuardedSum sum;
    double fmax = 0.0;
    for (std::size_t s = 0; s < factor.size() && s < a.tprob.size(); ++s) {
        if (factor[s] == 0.0) continue;
        sum.add(factor[s] * a.tprob[s]);
        fmax = std::max(fmax, std::fabs(factor[s]));
    }
    // At 0 the solution is the starting vector itself.
    if (t != 0.0) sum.add_error(a.terror * fmax);
    return sum.result(Route::Uniformization);
}

Exponomial petri_measure_form(AnalysisContext& in, SystemRecord& sys, const MeasureCall& call) {
    PetriModel* model = petri_model(sys);
    if (!model || !model->analysis) in.err.error(174, kInternal, "", false);
    NetAnalysis& a = *model->analysis;
    if (!a.has_forms || a.state_dist.size() != a.chain.num_states()) in.err.error(21, kFatal, sys.name, true);
    std::vector<double> factor;
    if (!petri_state_factors(in, sys, call, factor)) in.err.error(21, kFatal, sys.name, true);
    // The measure at t: each state's probability of being there at t times its factor.
    Exponomial form;
    const Tolerances& tol = in.settings.tol;
    for (std::size_t s = 0; s < factor.size(); ++s)
        if (factor[s] != 0.0 && !a.state_dist[s].empty()) scalar_mult_and_add(a.state_dist[s], factor[s], form, tol);
    return form;
}

std::uint32_t petri_node_state(AnalysisContext& in, const NetAnalysis& a, const std::string& node) {
    // Only the index as written by the chain: digits without a leading zero.
    std::uint64_t index = 0;
    bool ok = !node.empty() && node.size() <= 10 && node[0] != '0';
    for (char ch : node) {
        if (!ok) break;
        ok = ch >= '0' && ch <= '9';
        index = index * 10 + static_cast<std::uint64_t>(ch - '0');
    }
    if (!ok || index == 0 || index > a.chain.num_states()) in.err.error(35, kFatal, node, true);
    return static_cast<std::uint32_t>(index - 1);
}

double petri_measure_value(AnalysisContext& in, SystemRecord& sys, const MeasureCall& call, const AnalysisRequest& req) {
    PetriModel* model = petri_model(sys);
    if (!model || !model->analysis) in.err.error(174, kInternal, "", false);
    NetAnalysis& a = *model->analysis;
    const TangibleChain& c = a.chain;
    const ReachGraph& g = a.graph;
    const std::uint32_t n = c.num_states();

    // The state weights of this measure.
    const std::vector<double>* w = &a.limit;
    double scale = 1.0;
    bool mean_times = needs_times(call.kw);
    if (mean_times) {
        w = &a.mean_time;
    } else if (req.transient && needs_transient(call.kw, a.klass)) {
        switch (weights_for(call.kw, a.klass)) {
            case Weights::AtTime: w = &a.tprob; break;
            case Weights::Cumulative: w = &a.tcumprob; break;
            default:
                w = &a.tcumprob;
                if (req.time != 0.0) {
                    scale = 1.0 / req.time;
                } else {
                    // The average over an empty interval is the value at 0.
                    in.out.flush();
                    std::fprintf(stderr, "%s: time must be non-zero; the value at time 0 is used\n",
                                 call.keyword.c_str());
                    w = &a.tprob;
                }
                break;
        }
    }
    // Irreducible nets sum over the tangible markings; the limits of acyclic
    // and phase-type nets live on the absorbing ones; results at a time
    // cover every state.
    std::uint32_t lo = 0, hi = n;
    if (w == &a.limit && a.klass != kSysGspnIrreducible) lo = c.num_tangible;
    if (mean_times) hi = c.num_tangible;

    double sum = 0.0;
    double fmax = 0.0;  // largest per-state factor, for the error bound of a transient result
    auto take = [&](std::uint32_t s, double f) {
        sum += (*w)[s] * f;
        fmax = std::max(fmax, std::fabs(f));
    };
    if (state_factors(in, *model, a, call, lo, hi, take)) {
        // the place or transition measures
    } else switch (call.kw) {
        case Kw::Transenabled: {
            for (std::uint32_t s = 0; s < c.num_tangible && s < hi; ++s) take(s, 1.0);
            break;
        }
        case Kw::Mtta: case Kw::Mean:
            for (std::uint32_t s = lo; s < hi; ++s) sum += (*w)[s];
            break;
        case Kw::Variance:
            sum = absorption_time_variance(in, sys, a);
            break;
        case Kw::Value:
            // The probability of having been absorbed by the time asked.
            for (std::uint32_t s = c.num_tangible; s < n; ++s) take(s, 1.0);
            break;
        case Kw::Srn_exrss: case Kw::Srn_exrt: case Kw::Srn_cexrt: case Kw::Srn_ave_cexrt:
        case Kw::Srn_cexrinf: {
            int sym = in.symbols.find_symbol(call.reward, SymbolTable::kLookup);
            if (sym < 0 || (in.symbols[sym].type != kSymFunction && in.symbols[sym].type != kSymVariable))
                in.err.error(95, kFatal, call.reward, true);
            Expr f;
            f.code = in.symbols[sym].type == kSymFunction ? kFunctionCall : kVariableRef;
            f.symbol = sym;
            SrnContext ctx(in, *model, a);
            std::vector<std::int32_t> mark(static_cast<std::size_t>(g.num_places));
            for (std::uint32_t s = lo; s < hi; ++s) {
                if ((*w)[s] == 0.0) continue;
                g.decode(c.marking_of_state[s], mark.data());
                ctx.enter(mark.data());
                take(s, in.eval.bind_expression(f));
            }
            // Leave no value computed in a marking behind.
            for (int d : a.dependent_symbols) in.symbols[d].bound = false;
            break;
        }
        default:
            in.err.error(21, kFatal, sys.name, true);
    }
    double result = sum * scale;
    if (w == &a.tprob || w == &a.tcumprob) {
        // A transient result carries the error bound of its probabilities.
        const double bound = (w == &a.tprob ? a.terror : a.tcumerror) * fmax * scale;
        const std::string what = call.keyword + " of system " + sys.name;
        result = settle(Guarded{result, bound, Route::Uniformization}, {}, trust_policy(in.settings),
                        [&](const Guarded& g2) { print_trust_warning(in.out, what, g2); })
                     .value;
    }
    return result;
}

}  // namespace corvel
