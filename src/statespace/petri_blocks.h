#pragma once
// The records of stochastic Petri nets (gspn) and stochastic reward nets
// (srn), as their blocks fill them.
//
// Places and transitions have name tables of their own: the system's name
// table is left to the chain that the analysis loads from the reachability
// graph. Every expression is kept as written; where it was constant its value
// is also stored at once.

#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "model/system_store.h"
#include "symbols/statement.h"

namespace corvel {

enum TransitionKind {
    kTransImmediate = 1,
    kTransTimed = 2,
};

// How a transition's rate (or weight) depends on the marking.
enum TransitionDependence {
    kDepPlace = 3,        // dep / placedep: the rate times the tokens in `place_index`
    kDepIndependent = 4,  // ind: marking-independent
    kDepGeneral = 5,      // gendep (srn): an expression over the marking
};

// Default priorities: immediate transitions preempt timed ones.
constexpr int kImmediatePriority = 1;
constexpr int kTimedPriority = 0;

// Largest initial marking of one place.
constexpr long kMaxPlaceTokens = 2147483647L;

// Initial tokens of `place` (rounded to nearest): error 177 below zero (level
// 2), 200 beyond kMaxPlaceTokens and the count checks at `level`.
long checked_tokens(ErrorReporter& err, double value, const std::string& place, int level);

// An arc multiplicity, rounded to nearest in an srn and truncated in a gspn,
// after the count checks (level 2; `arc` names it). Negative values come back
// for the caller's error 178.
int checked_multiplicity(ErrorReporter& err, double value, bool srn, const std::string& arc);

struct PetriArc {
    int place = -1;                          // place index
    std::shared_ptr<Expr> sym_multiplicity;  // as written
    int multiplicity = 0;                    // value (set at once when constant)
};

struct PetriPlace {
    std::shared_ptr<Expr> sym_tokens;  // initial marking as written
    long init_tokens = 0;              // rounded to nearest (set at once when constant)
    double avg_tokens = 0.0;
    double pr_empty = 0.0;
};

struct PetriTransition {
    int kind = kTransTimed;                 // TransitionKind
    int dependent = kDepIndependent;        // TransitionDependence
    int place_index = -1;                   // kDepPlace: the place whose tokens multiply the rate
    std::shared_ptr<Expr> sym_rate;         // rate (timed) or weight (immediate)
    double rate = 0.0;                      // value (set at once when constant)
    std::shared_ptr<Expr> sym_guard;        // srn: enabled only while non-zero (null: no guard)
    std::shared_ptr<Expr> sym_priority;     // srn: as written (null: the default)
    int priority = kTimedPriority;          // higher is served first
    std::vector<PetriArc> input, output, inhibitor;
    double tput = 0.0;
    double util = 0.0;
};

struct NetAnalysis;

struct PetriModel : ModelData {
    bool srn = false;
    NameTable place_names;                  // index = index into places
    NameTable transition_names;             // index = index into transitions
    std::vector<PetriPlace> places;
    std::vector<PetriTransition> transitions;
    std::shared_ptr<NetAnalysis> analysis;  // the last analysis (graph, chain, results)
};

// The model record of a net (null for other kinds).
PetriModel* petri_model(SystemRecord& sys);

// Finds references to the marking (#, ?, Rate) in an expression, directly or
// through the variables and functions it uses. Definitions never change once
// made, so what was found for a symbol is remembered for the whole block.
class MarkingSearch {
public:
    explicit MarkingSearch(const SymbolTable& symbols) : symbols_(symbols) {}

    // What to name in the message: the reference itself, or the variable or
    // function through which it is reached; empty when there is none.
    std::string in(const Expr& e) {
        switch (e.code) {
            case kPlaceTokens: return "#(" + e.name + ")";
            case kTransEnabled: return "?(" + e.name + ")";
            case kTransRate: return "Rate(" + e.name + ")";
            case kMeasure: return {};
            default: break;
        }
        for (const auto& a : e.args)
            if (a)
                if (std::string r = in(*a); !r.empty()) return r;
        if ((e.code == kFunctionCall || e.code == kVariableRef || e.code == kSymbolRef) && e.symbol >= 0 &&
            e.symbol < symbols_.size()) {
            bool found;
            if (auto it = known_.find(e.symbol); it != known_.end()) {
                found = it->second;
            } else {
                known_[e.symbol] = false;  // while its definition is searched
                const Symbol& s = symbols_[e.symbol];
                found = (s.exp && !in(*s.exp).empty()) || (s.body && !in(*s.body).empty());
                known_[e.symbol] = found;
            }
            if (found) return symbols_[e.symbol].name;
        }
        return {};
    }

    bool reaches_body(const StmtList& body) { return !in(body).empty(); }

private:
    std::string in(const StmtList& body) {
        for (const auto& st : body) {
            if (!st) continue;
            for (const auto& b : st->bindings)
                if (b.expr)
                    if (std::string r = in(*b.expr); !r.empty()) return r;
            for (const auto& e : st->exprs)
                if (e)
                    if (std::string r = in(*e); !r.empty()) return r;
            if (st->cond)
                if (std::string r = in(*st->cond); !r.empty()) return r;
            for (const auto& br : st->branches) {
                if (br.cond)
                    if (std::string r = in(*br.cond); !r.empty()) return r;
                if (std::string r = in(br.body); !r.empty()) return r;
            }
            if (std::string r = in(st->body); !r.empty()) return r;
        }
        return {};
    }

    const SymbolTable& symbols_;
    std::unordered_map<int, bool> known_;  // symbol: its definition reaches the marking
};

// The variables and functions whose definitions refer to the marking (#, ?,
// Rate), directly or through other symbols: their cached values are stale
// in every new marking.
std::vector<int> marking_dependent_symbols(const SymbolTable& symbols);

}  // namespace corvel
