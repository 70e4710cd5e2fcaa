#include "interp/eval_table.h"
#include "interp/trusted_numbers.h"

#include "combinatorial/tree.h"
#include "interp/chain_measures.h"
#include "interp/func_sys.h"
#include "interp/interpreter.h"
#include "interp/measures.h"
#include "interp/net_measures.h"
#include "statespace/petri_blocks.h"
#include "interp/steady_measures.h"

namespace corvel {

namespace {

constexpr EvalKind kEvalKinds[] = {
    {Kw::Cdf, true, 't', TimeMeasure::Reward, MeasuredElement::None},
    {Kw::Reward, true, 'r', TimeMeasure::Reward, MeasuredElement::None},
    {Kw::Exrt, false, 't', TimeMeasure::Reward, MeasuredElement::None},
    {Kw::Cexrt, false, 't', TimeMeasure::CumulativeReward, MeasuredElement::None},
    {Kw::Etokt, false, 't', TimeMeasure::Tokens, MeasuredElement::Place},
    {Kw::Premptyt, false, 't', TimeMeasure::PlaceEmpty, MeasuredElement::Place},
    {Kw::Tputt, false, 't', TimeMeasure::Throughput, MeasuredElement::Transition},
    {Kw::Utilt, false, 't', TimeMeasure::Utilization, MeasuredElement::Transition},
    {Kw::Tavetokt, false, 't', TimeMeasure::TimeAverageTokens, MeasuredElement::Place},
    {Kw::Tavtputt, false, 't', TimeMeasure::TimeAverageThroughput, MeasuredElement::Transition},
};

// The eval call asked as the measure of its kind, at time t for the measures
// that take one; the call is restored afterwards.
class CallAsMeasure {
public:
    CallAsMeasure(MeasureCall& call, Kw kind, std::optional<double> time)
        : call_(call), kw_(call.kw), time_(std::move(call.time)) {
        call_.kw = kind;
        if (time) call_.time = Expr::constant(*time);
    }
    ~CallAsMeasure() {
        call_.kw = kw_;
        call_.time = std::move(time_);
    }
    CallAsMeasure(const CallAsMeasure&) = delete;
    CallAsMeasure& operator=(const CallAsMeasure&) = delete;

private:
    MeasureCall& call_;
    Kw kw_;
    std::unique_ptr<Expr> time_;
};

void check_node_rule(Interpreter& in, const FuncSysEntry& entry, const MeasureCall& call,
                     const std::string& system) {
    if (entry.rule == NodeRule::None && call.has_node) in.err.error(105, kFatal, system, true);
    if (entry.rule == NodeRule::Required && !call.has_node) in.err.error(13, kFatal, "", true);
}

void print_distribution_table(Interpreter& in, OutputStatement& st, const EvalKind& kind) {
    MeasureCall& call = st.call;
    if (is_markov_system(in.systems[call.system])) {
        print_markov_eval_table(in, st, kind);
        return;
    }
    if (is_semimark_system(in.systems[call.system])) {
        print_steady_chain_eval_table(in, st, kind);
        return;
    }
    Exponomial overall;
    {
        CallAsMeasure as(call, kind.kind, std::nullopt);
        if (kind.kind == Kw::Cdf)
            measure_table_distribution(in, call, overall);
        else
            measure_distribution(in, call, overall);
    }
    SystemRecord& sys = in.systems[call.system];
    print_eval_title(in.out, sys.name, call.has_node ? std::optional<std::string_view>(call.node) : std::nullopt);
    // A graph analysed path by path has a column per path before the overall one.
    std::vector<const Exponomial*> paths;
    if (kind.kind == Kw::Cdf)
        if (const std::vector<PathResult>* list = tree_paths(sys))
            for (const PathResult& path : *list) paths.push_back(&path.dist);
    if (kind.kind != Kw::Cdf) {
        print_eval_table(in.out, in.settings, in.err, st.low, st.high, st.increment, paths, overall, kind.variable);
        return;
    }
    // Distribution values go through the guard: a stable route where the
    // closed form lost its digits, a warning where there is none.
    TrustedEval trusted(in, sys, paths);
    print_eval_table(in.out, in.settings, in.err, st.low, st.high, st.increment, paths, overall, kind.variable,
                     trusted.function());
    trusted.report_warnings();
}

}  // namespace

const EvalKind* eval_kind(Kw kw) {
    for (const EvalKind& k : kEvalKinds)
        if (k.kind == kw) return &k;
    return nullptr;
}

void check_eval_request(Interpreter& in, const OutputStatement& st) {
    const MeasureCall& call = st.call;
    const SystemRecord& sys = in.systems[call.system];
    std::optional<FuncSysEntry> eval = func_sys(Kw::Eval, sys.type);
    if (!eval) in.err.error(21, kFatal, sys.name, true);
    const EvalKind* kind = eval_kind(st.kind);
    if (kind == nullptr) in.err.error(21, kFatal, sys.name, true);
    // eval's own node rule is that of its default kind, the distribution; the
    // other kinds take the rule of their measure, so that the expected reward
    // of an irreducible chain can be tabled without naming a state.
    if (kind->kind == Kw::Cdf) {
        check_node_rule(in, *eval, call, sys.name);
        return;
    }
    std::optional<FuncSysEntry> own = func_sys(kind->kind, sys.type);
    if (!own) in.err.error(21, kFatal, sys.name, true);
    // The net kinds are about one place or transition, whatever eval allows.
    if (kind->element != MeasuredElement::None && !call.has_node) in.err.error(13, kFatal, "", true);
    check_node_rule(in, *own, call, sys.name);
}

void print_measure_table(Output& out, const Settings& settings, const EvalKind& kind,
                         std::string_view system, std::optional<std::string_view> element, double from,
                         double to, double increment, const std::function<double(double)>& value_at) {
    print_eval_title(out, system, std::nullopt);
    if (kind.element != MeasuredElement::None && element)
        print_measured_element(out, kind.element == MeasuredElement::Place, *element);
    print_r_header(out, settings, time_measure_label(kind.label));
    print_measure_rows(out, settings, from, to, increment, value_at);
    out.write("\n");
}

namespace {

void print_table(Interpreter& in, OutputStatement& st) {
    const EvalKind& kind = *eval_kind(st.kind);
    if (petri_model(in.systems[st.call.system]) && print_petri_eval_table(in, st, kind)) return;
    if (kind.distribution) {
        print_distribution_table(in, st, kind);
        return;
    }
    MeasureCall& call = st.call;
    const std::string system = in.systems[call.system].name;
    auto value_at = [&](double t) {
        CallAsMeasure as(call, kind.kind, t);
        return evaluate_measure(in, call);
    };
    print_measure_table(in.out, in.settings, kind, system,
                        call.has_node ? std::optional<std::string_view>(call.node) : std::nullopt, st.low,
                        st.high, st.increment, value_at);
}

}  // namespace

void run_eval(Interpreter& in, OutputStatement& st) {
    check_eval_request(in, st);
    // Every kind of table is recorded here, whichever printer lays it out.
    const MeasureCall& call = st.call;
    TableCapture capture(in.out, in.tables, in.systems[call.system].name,
                         call.has_node ? std::optional<std::string>(call.node) : std::nullopt);
    print_table(in, st);
    capture.finish();
}

}  // namespace corvel
