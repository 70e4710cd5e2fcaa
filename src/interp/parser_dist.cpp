// Distribution specifications and the poly statement.

#include "interp/interpreter.h"
#include "interp/measures.h"
#include "interp/parser.h"

namespace corvel {

std::string Parser::definition_name() {
    if (builtin_mode_ && at(Tok::Keyword)) return significant_name(take().text);
    if (!at_word() || at(Tok::Dollar)) in_.err.error(22, kInputError, "", true);
    const Token& t = peek();
    if (t.kind == Tok::Integer || t.kind == Tok::Real) in_.err.error(65, kInputError, "", true);
    return significant_name(word());
}

void Parser::stmt_poly() {
    take();
    std::string name = definition_name();
    ParamList params = param_list();
    if (in_.symbols.find_symbol(name, SymbolTable::kLookup) >= 0) in_.err.error(74, kInputError, name, true);
    size_t mark = scope_.size();
    for (auto& p : params) scope_.push_back(p.get());
    struct Restore {
        std::vector<Param*>& s;
        size_t n;
        ~Restore() { s.resize(n); }
    } restore{scope_, mark};
    std::shared_ptr<DistSpec> spec = dist();
    expect_eol();
    int index = in_.symbols.find_symbol(name, SymbolTable::kCreate);
    if (index < 0) in_.err.error(74, kInputError, name, true);
    Symbol& s = in_.symbols[index];
    s.type = kSymDistribution;
    s.dist = std::move(spec);
    s.params = std::move(params);
    s.builtin = builtin_mode_;
}

SymField Parser::term_field() {
    SymField f;
    auto e = expr();
    if (e->is_constant()) {
        f.value = in_.eval.bind_expression(*e);
    } else {
        f.expr = std::move(e);
    }
    return f;
}

// Inside a term the fields are separated by single commas; between terms one
// or two separators ("," or ";"); the list ends at the end of the line, and
// a trailing backslash continues it.
void Parser::term_list(DistSpec& spec, TermMode mode) {
    struct TupleFlag {
        Scanner& s;
        explicit TupleFlag(Scanner& sc) : s(sc) { s.isTuple = true; }
        ~TupleFlag() { s.isTuple = false; }
    } tuple{in_.scanner};
    auto field_sep = [this] { expect(Tok::Comma); };
    bool all_constant = true;
    for (;;) {
        SymTerm t;
        t.a = term_field();
        field_sep();
        if (mode == TermMode::Cgen) {
            t.a_c = term_field();
            field_sep();
        }
        t.k = term_field();
        field_sep();
        t.b = term_field();
        if (mode == TermMode::Cgen) {
            field_sep();
            t.b_c = term_field();
        }
        if (mode == TermMode::Tgen) {
            field_sep();
            if (accept_kw(Kw::Sin)) {
                t.trig = TrigKind::Sin;
            } else if (accept_kw(Kw::Cos)) {
                t.trig = TrigKind::Cos;
            } else if (accept_kw(Kw::None)) {
                t.trig = TrigKind::None;
            } else {
                in_.err.error(110, kInputError, "", true);
            }
            if (t.trig != TrigKind::None) {
                if (!accept(Tok::Comma)) in_.err.error(77, kInputError, "", true);
                t.a_c = term_field();
            }
        }
        for (const SymField* f : {&t.a, &t.a_c, &t.k, &t.b, &t.b_c})
            if (f->expr) all_constant = false;
        spec.terms.push_back(std::move(t));
        int seps = 0;
        while (seps < 2 && (at(Tok::Comma) || at(Tok::Semicolon))) {
            take();
            ++seps;
        }
        if (seps == 0) break;
        if (at_eol()) break;
    }
    int sym_type = mode == TermMode::Gen ? kDistGenSym : mode == TermMode::Cgen ? kDistCgenSym : kDistTgenSym;
    spec.type = sym_type;
    if (!all_constant) return;
    // A constant list is converted and checked at once.
    DistributionBinder& binder = in_.dist_binder;
    Exponomial num;
    int level = in_.err.interactive ? kInputError : kFatal;
    try {
        binder.bind_sym_expo(mode, spec.terms, num, level, "", "");
    } catch (const CommandAbandoned&) {
        in_.out.write("All terms are ignored.  Start over.\n");
        throw;
    }
    spec.type = sym_type - 1;
    spec.num = std::move(num);
    spec.terms.clear();
}

std::shared_ptr<DistSpec> Parser::dist() {
    auto spec = std::make_shared<DistSpec>();
    const Token& t = peek();
    if (at_eol()) {
        print_dist_types(in_.out);
        in_.err.error(36, kInputError, "", true);
    }
    auto named = [&](const std::string& name) {
        int index = in_.symbols.find_symbol(name, SymbolTable::kLookup);
        if (index < 0) {
            print_dist_types(in_.out);
            in_.err.error(90, kInputError, "", true);
        }
        if (in_.symbols[index].type != kSymDistribution) in_.err.error(39, kInputError, name, true);
        if (!at(Tok::LParen)) in_.err.error(96, kInputError, name, true);
        spec->type = kDistNamed;
        spec->symbol = index;
        spec->args = call_args();
        size_t wanted = in_.symbols[index].params.size();
        if (spec->args.size() > wanted) in_.err.error(72, kInputError, name, true);
        if (spec->args.size() < wanted) in_.err.error(73, kInputError, name, true);
    };
    if (t.kind == Tok::Keyword) {
        switch (t.kw) {
            case Kw::Zero:
                take();
                spec->type = kDistGenConst;
                spec->num = Exponomial::constant(1.0);
                return spec;
            case Kw::Inf:
                take();
                spec->type = kDistGenConst;
                spec->num = Exponomial::constant(0.0);
                return spec;
            case Kw::Gen:
                take();
                term_list(*spec, TermMode::Gen);
                return spec;
            case Kw::Cgen:
                take();
                term_list(*spec, TermMode::Cgen);
                return spec;
            case Kw::Tgen:
                take();
                term_list(*spec, TermMode::Tgen);
                return spec;
            case Kw::Weibull:
                take();
                if (!at(Tok::LParen)) in_.err.error(96, kInputError, "weibull", true);
                spec->type = kDistWeibull;
                spec->args = call_args();
                if (spec->args.size() != 2) syntax_error();
                return spec;
            case Kw::Exp:
                named(take().text);
                return spec;
            case Kw::Prob:
            case Kw::Ss_unavail: {
                // The measure of that name when the first argument names a
                // system; otherwise the built-in distribution.
                Kw kw = t.kw;
                std::string name = take().text;
                expect(Tok::LParen);
                if (at(Tok::Name) && in_.systems.find(peek().text) >= 0) {
                    auto call = std::make_shared<MeasureCall>();
                    call->kw = kw;
                    call->keyword = name;
                    measure_arguments(*call, kw == Kw::Prob ? MeasureShape::SysName : MeasureShape::SysOptNode,
                                      true);
                    spec->type = kDistSystem;
                    spec->subsystem = std::move(call);
                    return spec;
                }
                int index = in_.symbols.find_symbol(name, SymbolTable::kLookup);
                if (index < 0 || in_.symbols[index].type != kSymDistribution) syntax_error();
                spec->type = kDistNamed;
                spec->symbol = index;
                if (!accept(Tok::RParen)) {
                    spec->args.push_back(expr());
                    while (accept(Tok::Comma)) spec->args.push_back(expr());
                    expect(Tok::RParen);
                }
                size_t wanted = in_.symbols[index].params.size();
                if (spec->args.size() > wanted) in_.err.error(72, kInputError, name, true);
                if (spec->args.size() < wanted) in_.err.error(73, kInputError, name, true);
                return spec;
            }
            case Kw::Cdf: {
                take();
                auto call = std::make_shared<MeasureCall>();
                call->kw = Kw::Cdf;
                call->keyword = "cdf";
                measure_arguments(*call, MeasureShape::SysOptNode, false);
                spec->type = call->has_node ? kDistSystemState : kDistSystem;
                spec->subsystem = std::move(call);
                return spec;
            }
            case Kw::Fprempty:
            case Kw::Fetok:
            case Kw::Ftput:
            case Kw::Futil: {
                // The closed forms of net measures are distributions too.
                auto call = std::make_shared<MeasureCall>();
                call->kw = t.kw;
                call->keyword = take().text;
                measure_arguments(*call, MeasureShape::SysName, false);
                spec->type = kDistSystem;
                spec->subsystem = std::move(call);
                return spec;
            }
            default:
                break;
        }
        syntax_error();
    }
    if (!at_word() || at(Tok::Dollar)) syntax_error();
    named(significant_name(word()));
    return spec;
}

}  // namespace corvel
