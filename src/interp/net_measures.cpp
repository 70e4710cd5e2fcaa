#include "interp/net_measures.h"

#include <cmath>
#include <optional>

#include "expo/guarded.h"
#include "expo/results.h"
#include "interp/dispatch.h"
#include "interp/eval_table.h"
#include "interp/interpreter.h"
#include "interp/measures.h"
#include "interp/trusted_numbers.h"
#include "statespace/petri_blocks.h"
#include "statespace/petri_net.h"
#include "statespace/petri_solve.h"

namespace corvel {

namespace {

NetAnalysis& analysis_of(Interpreter& in, SystemRecord& sys) {
    PetriModel* model = petri_model(sys);
    if (!model || !model->analysis) in.err.error(174, kInternal, "", false);
    return *model->analysis;
}

// The heading of a closed form printed by its output statement.
const char* form_heading(Kw kw) {
    switch (kw) {
        case Kw::Fprempty: return "probability that system %s place %s is empty:\n";
        case Kw::Fetok: return "average number of tokens in system %s place %s:\n";
        case Kw::Ftput: return "throughput of system %s transition %s\n";
        case Kw::Futil: return "utilization of system %s transition %s\n";
        default: return nullptr;
    }
}

// The closed form whose values at t an eval kind tabulates.
std::optional<Kw> form_of_kind(Kw kind) {
    switch (kind) {
        case Kw::Etokt: return Kw::Fetok;
        case Kw::Premptyt: return Kw::Fprempty;
        case Kw::Tputt: return Kw::Ftput;
        case Kw::Utilt: return Kw::Futil;
        default: return std::nullopt;
    }
}

bool state_absorbing(const NetAnalysis& a, std::uint32_t s) { return s >= a.chain.num_tangible; }

const Exponomial& state_form(Interpreter& in, SystemRecord& sys, const NetAnalysis& a, std::uint32_t s) {
    // A table of a net too large for closed forms has none to read.
    if (!a.has_forms && !closed_form_fits(a)) in.err.error(169, kFatal, ": closed form of system " + sys.name, true);
    if (!a.has_forms || s >= a.state_dist.size()) in.err.error(21, kFatal, sys.name, true);
    return a.state_dist[s];
}

// The CDF of absorption in marking s given that the net ends there; empty
// when it never does.
Exponomial conditional_form(Interpreter& in, SystemRecord& sys, const NetAnalysis& a, std::uint32_t s,
                            const std::string& node) {
    if (!state_absorbing(a, s)) in.err.error(111, kFatal, node, true);
    Exponomial out = state_form(in, sys, a, s);
    const double p = a.state_limit[s];
    if (std::fabs(p) >= in.settings.tol.epsilon)
        scalar_multiply(out, 1.0 / p);
    else
        out.clear();
    return out;
}

// The eval call taken as another measure while a table is made; its
// keyword is restored afterwards.
class CallAs {
public:
    CallAs(MeasureCall& call, Kw kw) : call_(call), saved_(call.kw) { call.kw = kw; }
    ~CallAs() { call_.kw = saved_; }
    CallAs(const CallAs&) = delete;
    CallAs& operator=(const CallAs&) = delete;

private:
    MeasureCall& call_;
    Kw saved_;
};

// The analysis behind a table (numbers only) of `measure`, checked against
// what the call's keyword accepts.
void analyze_for_numbers(Interpreter& in, MeasureCall& call, Kw measure) {
    AnalysisRequest req;
    req.measure = measure;
    req.computing_cdf = true;
    req.table = true;
    analyze_system(in, call, req);
}

void print_cdf_table(Interpreter& in, OutputStatement& st) {
    MeasureCall& call = st.call;
    analyze_for_numbers(in, call, Kw::Cdf);
    SystemRecord& sys = in.systems[call.system];
    NetAnalysis& a = analysis_of(in, sys);
    // An irreducible net has closed forms per marking but no absorption time.
    if (!call.has_node && a.klass == kSysGspnIrreducible) in.err.error(21, kFatal, sys.name, true);
    // The marking's own closed form: the probability of being there at t,
    // or of having been absorbed there by t.
    const Exponomial* marking = nullptr;
    if (call.has_node) marking = &state_form(in, sys, a, petri_node_state(in, a, call.node));
    print_eval_title(in.out, sys.name, call.has_node ? std::optional<std::string_view>(call.node) : std::nullopt);
    if (marking) {
        const Exponomial& F = *marking;
        TrustedEval trusted(in, sys.name, &F, nullptr);
        print_eval_table(in.out, in.settings, in.err, st.low, st.high, st.increment, {}, F, 't', trusted.function());
        trusted.report_warnings();
        return;
    }
    // A net too large for closed forms has only its stable route.
    const Exponomial none;
    TrustedEval trusted(in, sys, {});
    print_eval_table(in.out, in.settings, in.err, st.low, st.high, st.increment, {},
                     sys.has_dist ? sys.s_dist : none, 't', trusted.function());
    trusted.report_warnings();
}

}  // namespace

bool is_net_form(Kw kw) { return form_heading(kw) != nullptr; }

void petri_measure_distribution(Interpreter& in, SystemRecord& sys, const MeasureCall& call, Exponomial& out) {
    if (is_net_form(call.kw)) {
        out = petri_measure_form(in, sys, call);
        return;
    }
    if (call.kw != Kw::Cdf) in.err.error(21, kFatal, sys.name, true);
    if (!call.has_node) {
        if (!sys.has_dist) in.err.error(21, kFatal, sys.name, true);
        out = sys.s_dist;
        return;
    }
    const NetAnalysis& a = analysis_of(in, sys);
    out = conditional_form(in, sys, a, petri_node_state(in, a, call.node), call.node);
}

void print_petri_result(Interpreter& in, SystemRecord& sys, const MeasureCall& call) {
    const Settings& s = in.settings;
    if (call.kw == Kw::Analyze) return;
    if (const char* head = form_heading(call.kw)) {
        const Exponomial form = petri_measure_form(in, sys, call);
        in.out.printf(head, sys.name.c_str(), call.node.c_str());
        expo_print(in.out, s, form, 't');
        // Terms that cancel where the form is evaluated are reported, not
        // passed off as exact.
        const Guarded worst = worst_evaluation(form, s.tol, analysis_of(in, sys).form_error);
        if (assess(worst, trust_policy(s)) == Trust::Warn)
            print_trust_warning(in.out, call.keyword + " of system " + sys.name, worst);
        return;
    }
    if (call.kw != Kw::Cdf) in.err.error(21, kFatal, sys.name, true);
    if (!call.has_node) {
        if (!sys.has_dist) in.err.error(21, kFatal, sys.name, true);
        print_system_result_header(in.out, SystemResult::Cdf, sys.name);
        TrustedSummary trusted(in, sys);
        print_distribution_info(in.out, s, in.err, sys.s_dist, 't', trusted.guard());
        return;
    }
    const NetAnalysis& a = analysis_of(in, sys);
    const std::uint32_t node = petri_node_state(in, a, call.node);
    const Exponomial& F = state_form(in, sys, a, node);
    in.out.printf("information about system %s node %5s\n", sys.name.c_str(), call.node.c_str());
    if (!state_absorbing(a, node)) {
        in.out.write("transient state probability:\n\n");
        expo_print(in.out, s, F, 't');
        return;
    }
    const double p = a.state_limit[node];
    in.out.printf("\nprobability of entering node: %*.*e\n\n", s.width, s.precision, p);
    if (std::fabs(p) < s.tol.epsilon) return;
    in.out.write("conditional CDF for time of reaching this absorbing state\n\n");
    const Exponomial conditional = conditional_form(in, sys, a, node, call.node);
    TrustedSummary trusted(in, sys.name, conditional, nullptr);
    print_distribution_info(in.out, s, in.err, conditional, 't', trusted.guard());
}

bool print_petri_eval_table(Interpreter& in, OutputStatement& st, const EvalKind& kind) {
    if (kind.kind == Kw::Cdf) {
        print_cdf_table(in, st);
        return true;
    }
    const std::optional<Kw> form_kw = form_of_kind(kind.kind);
    if (!form_kw) return false;
    MeasureCall& call = st.call;
    CallAs as(call, *form_kw);
    analyze_for_numbers(in, call, *form_kw);
    SystemRecord& sys = in.systems[call.system];
    const NetAnalysis& a = analysis_of(in, sys);
    std::vector<double> factor;
    if (!petri_state_factors(in, sys, call, factor)) in.err.error(21, kFatal, sys.name, true);
    // The closed form when the chain is small enough to have one; each value
    // is checked against the transient solution at its time.
    std::optional<Exponomial> form;
    if (a.has_forms) form = petri_measure_form(in, sys, call);
    std::optional<Guarded> worst;
    const TrustPolicy policy = trust_policy(in.settings);
    auto value_at = [&](double t) {
        const Guarded closed = form ? guarded_evaluate(*form, t, in.settings.tol, a.form_error)
                                    : Guarded{std::nan(""), INFINITY, Route::ClosedForm};
        const StableRoute stable = [&]() -> std::optional<Guarded> {
            return petri_transient_sum(in, sys, factor, t);
        };
        return settle(closed, stable, policy,
                      [&worst](const Guarded& g) {
                          if (!worst || !g.finite() || (worst->finite() && g.error > worst->error)) worst = g;
                      })
            .value;
    };
    print_measure_table(in.out, in.settings, kind, sys.name,
                        call.has_node ? std::optional<std::string_view>(call.node) : std::nullopt, st.low, st.high,
                        st.increment, value_at);
    if (worst) print_trust_warning(in.out, "eval table of system " + sys.name, *worst);
    return true;
}

}  // namespace corvel
