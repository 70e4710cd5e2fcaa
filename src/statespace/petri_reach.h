#pragma once
// Reachability graphs of stochastic Petri nets.
//
// The generator works on a net whose constant parts are bound (`BoundNet`);
// what depends on the marking (guards, srn rates and multiplicities) is asked
// of a `MarkingEvaluator`. Markings are stored once, packed with the same
// number of bytes for every place (1, 2 or 4, widened when a count outgrows
// the width), in one contiguous array; an open-addressing hash table of
// marking indices finds them. Arcs are kept in compressed rows: markings are
// expanded in discovery order, so the arcs of marking i are the range
// arc_start[i] .. arc_start[i+1].

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace corvel {

struct Expr;
class ErrorReporter;
class Output;

struct BoundArc {
    int place = -1;
    int multiplicity = 0;          // when `expr` is null
    const Expr* expr = nullptr;    // srn: evaluated in each marking, rounded to nearest
};

struct BoundTransition {
    std::string name;
    int kind = 2;                  // 1 immediate, 2 timed
    int dependent = 4;             // 3 rate × tokens of `place_index`, 4 constant, 5 expression
    int place_index = -1;
    int priority = 0;
    double rate = 0.0;             // when `rate_expr` is null
    const Expr* rate_expr = nullptr;
    const Expr* guard = nullptr;
    std::vector<BoundArc> input, output, inhibitor;
};

struct BoundNet {
    std::vector<std::string> place_names;
    std::vector<long> init_tokens;
    std::vector<BoundTransition> transitions;
};

// Values of marking-dependent expressions. `enter` announces the marking the
// following `value` calls refer to.
class MarkingEvaluator {
public:
    virtual ~MarkingEvaluator() = default;
    virtual void enter(const std::int32_t* marking) = 0;
    virtual double value(const Expr& e) = 0;
};

enum MarkingType : std::uint8_t {
    kMarkTangible = 0,
    kMarkAbsorbing = 1,
    kMarkVanishing = 4,
};

struct ReachGraph {
    int num_places = 0;
    int width = 1;                         // bytes per place
    std::vector<std::uint8_t> packed;      // marking i at i * num_places * width
    std::vector<std::uint8_t> type;        // MarkingType per marking
    std::vector<std::uint64_t> arc_start;  // size markings + 1
    std::vector<std::uint32_t> arc_to;     // released once the tangible chain is built
    std::vector<std::uint32_t> arc_trans;
    std::vector<double> arc_rate;          // rate (timed) or weight (immediate)
    std::uint32_t num_tangible = 0, num_absorbing = 0, num_vanishing = 0;

    std::uint32_t size() const { return static_cast<std::uint32_t>(type.size()); }
    std::uint64_t num_arcs() const { return arc_trans.size(); }
    std::int32_t tokens(std::uint32_t marking, int place) const;
    void decode(std::uint32_t marking, std::int32_t* out) const;
};

// The transitions in the order the generator tries them: higher priority
// first, equal priorities in index order.
std::vector<int> priority_order(const BoundNet& net);

// How far an exploration may go. `max_bytes` 0: half of the memory the
// system reports available (and within the address-space limit of the
// process) when the exploration starts. `allocation_report` runs just
// before an out-of-memory stop.
struct ReachLimits {
    std::string system;
    std::size_t max_bytes = 0;
    // Markings explored before the exploration stops as if memory had run out
    // (the work cap of fuzzing runs); negative for no cap.
    long max_markings = -1;
    std::function<void()> allocation_report;
};

// The bytes an exploration may hold under `limits`.
std::size_t reach_memory_budget(const ReachLimits& limits);

// Whether every transition is enabled in a marking whenever it is enabled in
// one the marking covers: no inhibitor arcs, guards or marking-dependent
// multiplicities, and one priority for all transitions. In such a net a
// marking reachable from one it strictly covers proves the net unbounded.
bool net_is_monotone(const BoundNet& net);

// Explores the markings reachable from the initial marking. Errors (fatal):
// 170 and 171 for a timed and an immediate transition enabled together at the
// same priority, 172 for a rate or weight not above 0, 177 for a negative
// token count, 178 for a negative arc multiplicity, 224 when a monotone net
// is found unbounded (naming a place that grows), 169 when the graph
// outgrows the memory budget (after the allocation report, with the number
// of markings reached). `progress`,
// when given, receives a line every 2^20 markings explored.
ReachGraph generate_reach_graph(const BoundNet& net, MarkingEvaluator* eval, ErrorReporter& err,
                                Output* progress, const ReachLimits& limits = {});

// Whether transition t is enabled in `marking` (used by the measures).
bool transition_enabled(const BoundTransition& t, const std::int32_t* marking, MarkingEvaluator* eval,
                        ErrorReporter& err);
// Its rate (or weight) in `marking`, not checked.
double transition_rate(const BoundTransition& t, const std::int32_t* marking, MarkingEvaluator* eval);

}  // namespace corvel
