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

#include <cstdint>
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

// Explores the markings reachable from the initial marking. Errors (fatal):
// 170 and 171 for a timed and an immediate transition enabled together at the
// same priority, 172 for a rate or weight not above 0, 177 for a negative
// token count, 178 for a negative arc multiplicity. `progress`, when given,
// receives a line every 2^20 markings explored. More than `max_markings`
// markings (when not negative) end the run like exhausted memory (error 7).
ReachGraph generate_reach_graph(const BoundNet& net, MarkingEvaluator* eval, ErrorReporter& err,
                                Output* progress, long max_markings = -1);

// Whether transition t is enabled in `marking` (used by the measures).
bool transition_enabled(const BoundTransition& t, const std::int32_t* marking, MarkingEvaluator* eval,
                        ErrorReporter& err);
// Its rate (or weight) in `marking`, not checked.
double transition_rate(const BoundTransition& t, const std::int32_t* marking, MarkingEvaluator* eval);

}  // namespace corvel
