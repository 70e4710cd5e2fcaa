// Reading the gspn and srn blocks: places, timed and immediate transitions,
// output, input and inhibitor arcs.

#include "statespace/petri_blocks.h"

#include <cmath>
#include <unordered_map>

#include "interp/blocks.h"
#include "interp/interpreter.h"
#include "interp/parser.h"
#include "interp/block_lines.h"
#include "symbols/counts.h"

namespace corvel {

namespace {

int comparison_code(Tok kind) {
    switch (kind) {
        case Tok::Less: return kCmpLess;
        case Tok::Greater: return kCmpGreater;
        case Tok::LessEq: return kCmpLessEq;
        case Tok::GreaterEq: return kCmpGreaterEq;
        case Tok::Equal: return kCmpEqual;
        case Tok::NotEqual: return kCmpNotEqual;
        default: return -1;
    }
}

class PetriReader {
public:
    PetriReader(Parser& p, SystemRecord& sys, bool srn)
        : p_(p), sys_(sys), in_(p.interp()), search_(in_.symbols) {
        auto model = std::make_unique<PetriModel>();
        net_ = model.get();
        net_->srn = srn;
        sys_.model = std::move(model);
    }

    void read() {
        p_.expect_eol();
        p_.block_section([&] { place_line(); });
        p_.block_section([&] { transition_line(kTransTimed); });
        p_.block_section([&] { transition_line(kTransImmediate); });
        p_.block_section([&] { arc_line(&PetriTransition::output, true); });
        p_.block_section([&] { arc_line(&PetriTransition::input, false); });
        p_.block_section([&] { arc_line(&PetriTransition::inhibitor, false); });
    }

private:
    // Expressions that must not depend on the marking.
    void forbid_marking(const Expr& e) {
        std::string r = search_.in(e);
        if (!r.empty()) in_.err.error(221, kFatal, r, true);
    }

    int find_place(int missing_error) {
        std::string name = element_name(p_, missing_error);
        int i = net_->place_names.find(name);
        if (i < 0) in_.err.error(159, kInputError, name, true);
        return i;
    }

    int find_transition() {
        std::string name = element_name(p_, 112);
        int i = net_->transition_names.find(name);
        if (i < 0) in_.err.error(131, kInputError, name, true);
        return i;
    }

    // place tokens
    void place_line() {
        std::string name = element_name(p_, 20);
        std::shared_ptr<Expr> tokens = p_.expr();
        p_.expect_eol();
        forbid_marking(*tokens);
        if (net_->place_names.find(name) >= 0) in_.err.error(27, kInputError, name, true);
        PetriPlace place;
        if (tokens->is_constant()) place.init_tokens = checked_tokens(in_.err, constant_value(p_, *tokens), name, kInputError);
        place.sym_tokens = std::move(tokens);
        net_->place_names.find(name, NameTable::kAdd);
        net_->places.push_back(std::move(place));
    }

    // transition ind expr | transition dep place expr (gspn)
    // transition ind expr | gendep expr | placedep place expr, then
    //   [guard condition] [priority expr] (srn)
    void transition_line(int kind) {
        std::string name = element_name(p_, 112);
        if (net_->transition_names.find(name) >= 0) in_.err.error(27, kInputError, name, true);
        if (p_.at_eol()) in_.err.error(103, kInputError, "", true);
        PetriTransition t;
        t.kind = kind;
        t.priority = kind == kTransImmediate ? kImmediatePriority : kTimedPriority;
        bool srn = net_->srn;
        if (p_.accept_kw(Kw::Ind)) {
            t.dependent = kDepIndependent;
        } else if (srn ? p_.accept_kw(Kw::Placedep) : p_.accept_kw(Kw::Dep)) {
            t.dependent = kDepPlace;
            t.place_index = find_place(20);
        } else if (srn && p_.accept_kw(Kw::Gendep)) {
            t.dependent = kDepGeneral;
        } else {
            in_.err.error(102, kInputError, "", true);
        }
        t.sym_rate = p_.expr();
        if (srn && p_.accept_kw(Kw::Guard)) t.sym_guard = guard();
        if (srn && p_.accept_kw(Kw::Priority)) t.sym_priority = p_.expr();
        p_.expect_eol();
        if (!srn || t.dependent == kDepIndependent) forbid_marking(*t.sym_rate);
        if (t.sym_priority) forbid_marking(*t.sym_priority);
        if (t.sym_rate->is_constant()) t.rate = constant_value(p_, *t.sym_rate);
        if (t.sym_priority && t.sym_priority->is_constant())
            t.priority = static_cast<int>(checked_count(in_.err, constant_value(p_, *t.sym_priority),
                                                        CountRounding::Nearest, "priority of transition " + name,
                                                        kInputError));
        net_->transition_names.find(name, NameTable::kAdd);
        net_->transitions.push_back(std::move(t));
    }

    // transition place multiplicity (output arcs), place transition
    // multiplicity (input and inhibitor arcs)
    void arc_line(std::vector<PetriArc> PetriTransition::*list, bool transition_first) {
        int trans = -1;
        PetriArc arc;
        if (transition_first) {
            trans = find_transition();
            arc.place = find_place(20);
        } else {
            arc.place = find_place(20);
            trans = find_transition();
        }
        arc.sym_multiplicity = p_.expr();
        p_.expect_eol();
        if (!net_->srn) forbid_marking(*arc.sym_multiplicity);
        if (arc.sym_multiplicity->is_constant()) {
            arc.multiplicity = checked_multiplicity(in_.err, constant_value(p_, *arc.sym_multiplicity), net_->srn,
                                                    "multiplicity of an arc of transition " +
                                                        std::string(net_->transition_names[trans]));
        }
        (net_->transitions[static_cast<size_t>(trans)].*list).push_back(std::move(arc));
    }

    // A guard is an expression, enabling while non-zero; comparisons and
    // not/and/or may be written directly ("#(p) > 0 and #(q) == 0"), with the
    // usual precedence. Parentheses group arithmetic only.
    std::unique_ptr<Expr> guard() {
        auto left = guard_and();
        while (p_.accept_kw(Kw::Or)) left = Expr::binary(kOpOr, std::move(left), guard_and());
        return left;
    }

    std::unique_ptr<Expr> guard_and() {
        auto left = guard_not();
        while (p_.accept_kw(Kw::And)) left = Expr::binary(kOpAnd, std::move(left), guard_not());
        return left;
    }

    std::unique_ptr<Expr> guard_not() {
        if (p_.accept_kw(Kw::Not)) return Expr::unary(kOpNot, guard_not());
        if (p_.accept_kw(Kw::True)) return Expr::constant(1.0);
        if (p_.accept_kw(Kw::False)) return Expr::constant(0.0);
        auto left = p_.expr();
        int code = comparison_code(p_.peek().kind);
        if (code < 0) return left;
        p_.take();
        return Expr::binary(code, std::move(left), p_.expr());
    }

    Parser& p_;
    SystemRecord& sys_;
    Interpreter& in_;
    PetriModel* net_ = nullptr;
    MarkingSearch search_;
};

}  // namespace

void read_gspn_block(Parser& parser, SystemRecord& sys) { PetriReader(parser, sys, false).read(); }

void read_srn_block(Parser& parser, SystemRecord& sys) { PetriReader(parser, sys, true).read(); }

}  // namespace corvel
