// Statements of the language: reading them and running the top-level ones.

#include "interp/parser.h"

#include <cmath>
#include <cstdlib>

#include "interp/help_text.h"
#include "interp/interpreter.h"
#include "interp/runner.h"
#include "symbols/counts.h"

namespace corvel {

// ---------------------------------------------------------------- tokens

const Token& Parser::peek() {
    if (!have_) {
        tok_ = in_.scanner.next();
        have_ = true;
        if (recording_) {
            // The token is appended when it is consumed.
        }
    }
    return tok_;
}

Token Parser::take() {
    peek();
    have_ = false;
    if (recording_) {
        if (!text_.empty()) text_ += tok_.leading;
        // The source as typed, also where a name was truncated.
        text_ += tok_.typed.empty() ? tok_.text : tok_.typed;
    }
    return std::move(tok_);
}

bool Parser::at(Tok kind) { return peek().kind == kind; }

bool Parser::at_kw(Kw kw) { return peek().kind == Tok::Keyword && peek().kw == kw; }

bool Parser::accept(Tok kind) {
    if (!at(kind)) return false;
    take();
    return true;
}

bool Parser::accept_kw(Kw kw) {
    if (!at_kw(kw)) return false;
    take();
    return true;
}

void Parser::expect(Tok kind) {
    if (!accept(kind)) syntax_error();
}

bool Parser::at_eol() {
    Tok k = peek().kind;
    return k == Tok::Eol || k == Tok::Comment || k == Tok::EndOfInput;
}

// Consumes the line end of a statement without looking further, so that the
// statement runs before the next line is read.
void Parser::expect_eol() {
    if (!at_eol()) syntax_error();
    if (peek().kind != Tok::EndOfInput) take();
    eol_seen_ = true;
}

void Parser::skip_to_eol() {
    while (!at_eol()) take();
    if (peek().kind != Tok::EndOfInput) take();
}

void Parser::syntax_error() {
    const Token& t = have_ ? tok_ : peek();
    SourceLocation where = in_.scanner.location();
    int line = t.line > 0 ? t.line : where.line;
    if (where.file.empty())
        in_.out.printf("%s in line %d\n", "parse error", line);
    else
        in_.out.printf("%s in file %s, line %d\n", "parse error", where.file.c_str(), line);
    throw ParseStop{};
}

void Parser::stop_with_message(const char* text) {
    in_.out.printf("%s\n", text);
    throw ParseStop{};
}

void Parser::start_text() {
    recording_ = true;
    text_.clear();
}

std::string Parser::end_text() {
    recording_ = false;
    std::string t = std::move(text_);
    text_.clear();
    return t;
}

double Parser::constant_value(const Expr& e) { return in_.eval.bind_expression(e); }

// ---------------------------------------------------------------- program

void Parser::run() {
    for (;;) {
        const Token& t = peek();
        if (t.kind == Tok::EndOfInput) return;
        int symbols_before = in_.symbols.size();
        eol_seen_ = false;
        try {
            statement();
        } catch (const CommandAbandoned&) {
            // Interactive input error: drop what the command created and go on
            // with the next line.
            in_.symbols.truncate(symbols_before);
            scope_.clear();
            recording_ = false;
            depth_ = 0;
            body_nesting_ = 0;
            body_depth_ = 0;
            in_.scanner.isTuple = in_.scanner.isArcPair = false;
            if (!eol_seen_) skip_to_eol();
        } catch (const ProgramEnd&) {
            return;
        }
    }
}

void Parser::stmt_end_of_program() {
    // After a top-level end only line ends may follow.
    for (;;) {
        const Token& t = peek();
        if (t.kind == Tok::EndOfInput) throw ProgramEnd{};
        if (t.kind != Tok::Eol && t.kind != Tok::Comment) syntax_error();
        take();
    }
}

void Parser::statement() {
    const Token& t = peek();
    switch (t.kind) {
        case Tok::Eol:
        case Tok::Comment:
            take();
            return;
        case Tok::Echo: {
            Token e = take();
            in_.out.write(e.text);
            in_.out.write("\n");
            in_.out.flush();
            expect_eol();
            return;
        }
        case Tok::Keyword:
            break;
        default:
            Runner(in_).run_expression_statement(*parse_expression_line());
            return;
    }
    Runner runner(in_);
    switch (t.kw) {
        case Kw::End:
            take();
            stmt_end_of_program();
            return;
        case Kw::Include:
            // The scanner has switched to the named file; its statements follow.
            take();
            return;
        case Kw::Var: stmt_var(); return;
        case Kw::Poly: stmt_poly(); return;
        case Kw::Func: stmt_func(); return;
        case Kw::Bind: stmt_bind(); return;
        case Kw::Loop: {
            auto loop = parse_loop();
            runner.run_loop(*loop, 0, true);
            return;
        }
        case Kw::While: {
            auto loop = parse_while(BodyKind::While);
            runner.run_while(*loop, 0);
            return;
        }
        case Kw::Expr: {
            take();
            Stmt st;
            stmt_expr_list(st);
            runner.run_expression_statement(st);
            return;
        }
        case Kw::Epsilon: {
            auto st = parse_epsilon();
            runner.assign_epsilon(*st, 0);
            return;
        }
        case Kw::Format: stmt_format(); return;
        case Kw::Factorlimit: {
            take();
            if (!at(Tok::Integer) && !at(Tok::Real)) syntax_error();
            double v = std::strtod(take().text.c_str(), nullptr);
            expect_eol();
            in_.settings.factorlimit = static_cast<int>(
                checked_count(in_.err, v, CountRounding::Truncate, "factorlimit", kInputError));
            in_.systems.invalidate_all();
            return;
        }
        case Kw::Imag:
        case Kw::Verbose:
        case Kw::Bdd:
        case Kw::Factor:
        case Kw::Voronoi:
            stmt_on_off(t.kw);
            return;
        case Kw::Phold:
        case Kw::Phnew: {
            bool old = t.kw == Kw::Phold;
            take();
            expect_eol();
            in_.settings.ph_old = old;
            if (!old) in_.settings.find_eigenvalues = EigenRoutine::NewCg;
            in_.write_data(old ? "phold\n" : "phnew\n");
            in_.systems.invalidate_all();
            return;
        }
        case Kw::Eigen1:
        case Kw::Eigen2: {
            bool first = t.kw == Kw::Eigen1;
            take();
            expect_eol();
            if (first && !in_.settings.ph_old) {
                in_.out.write("cannot use eigen1 with phnew; using eigen2\n");
                in_.settings.find_eigenvalues = EigenRoutine::NewCg;
            } else {
                in_.settings.find_eigenvalues = first ? EigenRoutine::Cg : EigenRoutine::NewCg;
            }
            in_.systems.invalidate_all();
            return;
        }
        case Kw::Ltimep:
        case Kw::Rtimep: {
            bool left = t.kw == Kw::Ltimep;
            take();
            expect_eol();
            in_.settings.time_point_left = left;
            in_.out.write(left ? "Time point is set to left in PMS ...\n" : "Time point is set to right in PMS ...\n");
            in_.systems.invalidate_all();
            in_.symbols.invalidate_values();
            return;
        }
        case Kw::Type: stmt_type(); return;
        case Kw::Info: stmt_info(); return;
        case Kw::Debug: stmt_debug(); return;
        case Kw::Truncate: stmt_truncate(); return;
        case Kw::Help:
            take();
            expect_eol();
            print_forms(in_.out);
            print_solver_options(in_.out);
            return;
        case Kw::Alloc:
            take();
            expect_eol();
            in_.print_allocations();
            return;
        case Kw::Etrack:
        case Kw::Ptrack:
            // Exponomials and paths are owned values here; no tracking lists exist.
            take();
            expect_eol();
            return;
        default:
            break;
    }
    if (statement_hook()) return;
    // Anything else that can start an expression is an expression statement.
    runner.run_expression_statement(*parse_expression_line());
}

// ---------------------------------------------------------------- definitions

void Parser::stmt_var() {
    take();
    std::string name = definition_name();
    if (at_eol()) in_.err.error(23, kInputError, "", true);
    std::shared_ptr<Expr> e = expr();
    expect_eol();
    int index = in_.symbols.find_symbol(name, SymbolTable::kCreate);
    if (index < 0) in_.err.error(74, kInputError, name, true);
    Symbol& s = in_.symbols[index];
    s.type = kSymVariable;
    s.exp = std::move(e);
    s.bound = false;
}

void Parser::stmt_func() {
    take();
    std::string name = definition_name();
    if (!at(Tok::LParen)) in_.err.error(70, kInputError, "", true);
    ParamList params = param_list();
    size_t scope_mark = scope_.size();
    for (auto& p : params) scope_.push_back(p.get());
    struct Restore {
        std::vector<Param*>& s;
        size_t n;
        ~Restore() { s.resize(n); }
    } restore{scope_, scope_mark};

    std::shared_ptr<Expr> body_expr;
    std::shared_ptr<StmtList> body;
    if (at_eol()) {
        take();
        eol_seen_ = true;
        ++body_depth_;
        body = std::make_shared<StmtList>(parse_body(BodyKind::Function, false));
        --body_depth_;
        if (!accept_kw(Kw::End)) syntax_error();
        expect_eol();
    } else {
        body_expr = expr();
        expect_eol();
    }
    int index = in_.symbols.find_symbol(name, SymbolTable::kCreate);
    if (index < 0) in_.err.error(74, kInputError, name, true);
    Symbol& s = in_.symbols[index];
    s.type = kSymFunction;
    s.exp = std::move(body_expr);
    s.body = std::move(body);
    s.params = std::move(params);
    s.bound = false;
}

// ---------------------------------------------------------------- bind

std::unique_ptr<Stmt> Parser::parse_bind() {
    take();
    auto st = std::make_unique<Stmt>();
    st->kind = Stmt::Bind;
    auto one = [&](std::vector<Binding>& into) {
        std::string name = significant_name(word());
        int index = in_.symbols.find_symbol(name, SymbolTable::kLookupOrCreate);
        if (in_.symbols[index].type != kSymPending) in_.err.error(38, kInputError, name, true);
        if (at_eol()) in_.err.error(23, kInputError, "", true);
        Binding b;
        b.symbol = index;
        start_text();
        b.expr = expr();
        b.text = end_text();
        into.push_back(std::move(b));
    };
    if (!at_eol()) {
        one(st->bindings);
        expect_eol();
        return st;
    }
    expect_eol();
    if (in_.err.interactive) {
        in_.out.write("\n\nEnter lines of the form\n");
        in_.out.write("      symbol   expression\n");
        in_.out.write("End with a null line.\n");
    }
    for (;;) {
        const Token& t = peek();
        if (t.kind == Tok::EndOfInput) syntax_error();
        if (t.kind == Tok::Eol || t.kind == Tok::Comment) {
            take();
            // Interactively an empty line ends the block.
            if (in_.err.interactive && t.kind == Tok::Eol) break;
            continue;
        }
        if (accept_kw(Kw::End)) {
            expect_eol();
            break;
        }
        if (!at_word()) syntax_error();
        one(st->bindings);
        expect_eol();
    }
    return st;
}

void Parser::stmt_bind() {
    auto st = parse_bind();
    Runner(in_).do_binding(st->bindings, -1, true);
}

// ---------------------------------------------------------------- settings

std::unique_ptr<Stmt> Parser::parse_epsilon() {
    take();
    auto st = std::make_unique<Stmt>();
    st->kind = Stmt::Epsilon;
    const Token& t = peek();
    int which = -1;
    if (t.kind == Tok::Keyword) {
        switch (t.kw) {
            case Kw::Results: which = 0; break;
            case Kw::Findeigen: which = 1; break;
            case Kw::Sorteigen: which = 2; break;
            case Kw::Uniform: which = 3; break;
            case Kw::Basic: which = 4; break;
            default: break;
        }
    }
    if (which < 0) in_.err.error(146, kInputError, "", true);
    st->epsilon_which = which;
    st->epsilon_name = kEpsilonNames[which];
    take();
    st->exprs.push_back(expr());
    expect_eol();
    return st;
}

void Parser::stmt_format() {
    take();
    if (!at(Tok::Integer)) syntax_error();
    long n = std::strtol(take().text.c_str(), nullptr, 10);
    expect_eol();
    if (n < 1) stop_with_message("ER_PRECISION_TOO_SMALL");
    if (n > 8) stop_with_message("ER_PRECISION_TOO_BIG");
    in_.settings.precision = static_cast<int>(n);
    in_.settings.width = static_cast<int>(n) + 6;
}

void Parser::stmt_on_off(Kw kw) {
    Token key = take();
    bool on;
    if (accept_kw(Kw::On))
        on = true;
    else if (accept_kw(Kw::Off))
        on = false;
    else
        in_.err.error(206, kInputError, key.text, true);
    expect_eol();
    Settings& s = in_.settings;
    switch (kw) {
        case Kw::Imag:
            s.imag_on = on;
            break;
        case Kw::Verbose:
            s.verbose = on;
            in_.write_data(on ? "verbose on\n" : "verbose off\n");
            break;
        case Kw::Bdd:
            s.use_bdd = on;
            s.user_turned_bdd_on = on;
            in_.systems.invalidate_all();
            break;
        case Kw::Factor:
            s.use_factoring = on;
            in_.write_data(on ? "factor on\n" : "factor off\n");
            in_.systems.invalidate_all();
            break;
        case Kw::Voronoi:
            if (on && s.ph_old)
                in_.out.write("cannot use voronoi with phold\n");
            else
                s.use_voronoi = on;
            in_.write_data(on ? "voronoi on\n" : "voronoi off\n");
            in_.systems.invalidate_all();
            break;
        default:
            break;
    }
}

void Parser::stmt_type() {
    take();
    std::string name = significant_name(word());
    expect_eol();
    in_.print_system_type(name);
}

void Parser::stmt_info() {
    take();
    if (accept_kw(Kw::Epsilons)) {
        expect_eol();
        for (int i = 0; i < 5; ++i)
            in_.out.printf("epsilon %-9s = %e\n", kEpsilonNames[i], epsilon_by_index(in_.settings.tol, i));
    } else if (accept_kw(Kw::Constants)) {
        expect_eol();
        print_constants(in_.out);
    } else if (accept_kw(Kw::Dist)) {
        expect_eol();
        in_.print_builtin_help();
    } else {
        in_.err.error(8, kInputError, "", true);
    }
}

void Parser::stmt_debug() {
    take();
    const Token& t = peek();
    int area = -1;
    if (t.kind == Tok::Keyword) {
        switch (t.kw) {
            case Kw::Ftree: area = kDebugFtree; break;
            case Kw::Graph: area = kDebugGraph; break;
            case Kw::Relgraph: area = kDebugRelgraph; break;
            case Kw::Pfqn: area = kDebugPfqn; break;
            case Kw::Petri: area = kDebugPetri; break;
            case Kw::Markov: area = kDebugMarkov; break;
            case Kw::Block: area = kDebugBlock; break;
            case Kw::Cube: area = kDebugCube; break;
            case Kw::Expo: area = kDebugExpo; break;
            case Kw::Sor: area = kDebugSor; break;
            case Kw::Corth: area = kDebugCorth; break;
            case Kw::Eigen: area = kDebugEigen; break;
            case Kw::Mstree: area = kDebugMstree; break;
            case Kw::Pms: area = kDebugPms; break;
            default: break;
        }
    }
    if (area < 0) syntax_error();
    take();
    expect_eol();
    in_.settings.debug[area] = 1;
}

void Parser::stmt_truncate() {
    take();
    const Token& t = peek();
    if (t.kind != Tok::Keyword) syntax_error();
    Kw which = t.kw;
    if (which != Kw::Pathnum && which != Kw::Cutsetnum && which != Kw::Alpha && which != Kw::Beta &&
        which != Kw::Runtime)
        syntax_error();
    take();
    auto e = expr();
    expect_eol();
    double v = in_.eval.bind_expression(*e);
    Settings& s = in_.settings;
    // The limits are counts (negative: the default applies); alpha and beta
    // are fractions that must at least be numbers.
    const std::string place = std::string("truncate ") +
                              (which == Kw::Pathnum     ? "pathnum"
                               : which == Kw::Cutsetnum ? "cutsetnum"
                               : which == Kw::Alpha     ? "alpha"
                               : which == Kw::Beta      ? "beta"
                                                        : "runtime");
    if (which == Kw::Alpha || which == Kw::Beta) {
        if (!std::isfinite(v)) in_.err.error(116, kInputError, count_fault_text(place, v), true);
        (which == Kw::Alpha ? s.alpha : s.beta) = v;
    } else {
        const long n =
            static_cast<long>(checked_count(in_.err, v, CountRounding::Truncate, place, kInputError, kMaxExactCount));
        (which == Kw::Pathnum ? s.pathnum : which == Kw::Cutsetnum ? s.cutnum : s.runtime) = n;
    }
    in_.systems.invalidate_all();
}

// ---------------------------------------------------------------- expressions as statements

void Parser::stmt_expr_list(Stmt& st) {
    st.kind = Stmt::ExprList;
    for (;;) {
        start_text();
        auto e = expr();
        e->text = end_text();
        st.exprs.push_back(std::move(e));
        if (!accept(Tok::Comma)) break;
    }
    expect_eol();
}

std::unique_ptr<Stmt> Parser::parse_expression_line() {
    auto st = std::make_unique<Stmt>();
    stmt_expr_list(*st);
    st->kind = Stmt::Expression;
    return st;
}

// ---------------------------------------------------------------- loops and bodies

namespace {

// Does `e` use the parameter `p` anywhere, also inside a measure call's time
// and arguments?
bool uses_param(const Expr& e, const Param* p) {
    if (e.code == kParamRef && e.param == p) return true;
    for (const auto& a : e.args)
        if (a && uses_param(*a, p)) return true;
    if (e.measure) {
        if (e.measure->time && uses_param(*e.measure->time, p)) return true;
        for (const auto& a : e.measure->args)
            if (a && uses_param(*a, p)) return true;
    }
    return false;
}

}  // namespace

ParamList Parser::param_list() {
    ParamList params;
    if (!accept(Tok::LParen)) return params;
    if (accept(Tok::RParen)) return params;
    for (;;) {
        if (!at_word()) in_.err.error(71, kInputError, "", true);
        auto p = std::make_unique<Param>();
        p->name = significant_name(word());
        params.push_back(std::move(p));
        if (accept(Tok::RParen)) return params;
        if (!accept(Tok::Comma)) in_.err.error(77, kInputError, "", true);
    }
}

void Parser::push_scope(ParamList& params) {
    for (auto& p : params) scope_.push_back(p.get());
}

void Parser::pop_scope(ParamList& params) { scope_.resize(scope_.size() - params.size()); }

std::unique_ptr<Stmt> Parser::loop_header() {
    take();
    auto st = std::make_unique<Stmt>();
    st->kind = Stmt::Loop;
    if (!at_word() || at(Tok::Dollar)) in_.err.error(143, kInputError, "", true);
    std::string name = significant_name(word());
    if (find_param(name) != nullptr) in_.err.error(12, kInputError, name, true);
    st->index = std::make_unique<Param>();
    st->index->name = name;
    // The index is visible while the bounds are read, so that a bound using
    // it is refused instead of naming a new symbol.
    scope_.push_back(st->index.get());
    struct IndexScope {
        std::vector<Param*>& scope;
        bool keep = false;
        ~IndexScope() {
            if (!keep) scope.pop_back();
        }
    } index_scope{scope_};
    int bounds = 0;
    while (accept(Tok::Comma)) {
        if (bounds == 3) syntax_error();
        start_text();
        auto e = expr();
        e->text = end_text();
        if (uses_param(*e, st->index.get())) in_.err.error(157, kInputError, "", true);
        st->exprs.push_back(std::move(e));
        ++bounds;
    }
    if (bounds < 2) syntax_error();
    if (bounds == 2) st->exprs.push_back(Expr::constant(1.0));
    expect_eol();
    index_scope.keep = true;
    return st;
}

void Parser::pop_loop_index() { scope_.pop_back(); }

std::unique_ptr<Stmt> Parser::parse_loop() {
    auto st = loop_header();
    ++body_depth_;
    bool closed = false;
    st->body = parse_body(BodyKind::Loop, false, &closed);
    --body_depth_;
    scope_.pop_back();
    close_body(closed);
    return st;
}

void Parser::close_body(bool closed_by_empty_line) {
    if (closed_by_empty_line) return;
    if (!accept_kw(Kw::End)) syntax_error();
    expect_eol();
}

std::unique_ptr<Stmt> Parser::parse_while(BodyKind) {
    take();
    auto st = std::make_unique<Stmt>();
    st->kind = Stmt::While;
    st->cond = cond();
    expect_eol();
    ++body_depth_;
    bool closed = false;
    st->body = parse_body(BodyKind::While, false, &closed);
    --body_depth_;
    close_body(closed);
    return st;
}

std::unique_ptr<Stmt> Parser::parse_if(BodyKind kind) {
    take();
    auto st = std::make_unique<Stmt>();
    st->kind = Stmt::If;
    IfBranch first;
    first.cond = cond();
    expect_eol();
    first.body = parse_body(kind, true);
    st->branches.push_back(std::move(first));
    for (;;) {
        if (accept_kw(Kw::Elseif)) {
            IfBranch b;
            b.cond = cond();
            expect_eol();
            b.body = parse_body(kind, true);
            st->branches.push_back(std::move(b));
        } else if (accept_kw(Kw::Else)) {
            IfBranch b;
            expect_eol();
            b.body = parse_body(kind, true);
            st->branches.push_back(std::move(b));
            if (!accept_kw(Kw::End)) syntax_error();
            expect_eol();
            return st;
        } else if (accept_kw(Kw::End)) {
            expect_eol();
            return st;
        } else {
            syntax_error();
        }
    }
}

StmtList Parser::parse_body(BodyKind kind, bool in_if, bool* closed_by_empty_line) {
    // Bodies nest through loops, whiles and if-chains; bound the nesting.
    if (++body_nesting_ > 200) syntax_error();
    struct Nesting {
        int& n;
        ~Nesting() { --n; }
    } nesting{body_nesting_};
    StmtList list;
    for (;;) {
        const Token& t = peek();
        if (t.kind == Tok::EndOfInput) syntax_error();
        if (t.kind == Tok::Eol || t.kind == Tok::Comment) {
            bool empty_line = t.kind == Tok::Eol;
            take();
            if (empty_line && closed_by_empty_line != nullptr && in_.err.interactive) {
                *closed_by_empty_line = true;
                return list;
            }
            continue;
        }
        if (t.kind == Tok::Keyword) {
            if (t.kw == Kw::End) return list;
            if (in_if && (t.kw == Kw::Elseif || t.kw == Kw::Else)) return list;
        }
        list.push_back(parse_body_line(kind));
    }
}

std::unique_ptr<Stmt> Parser::parse_body_line(BodyKind kind) {
    const Token& t = peek();
    if (t.kind == Tok::Keyword) {
        switch (t.kw) {
            case Kw::If:
                if (kind == BodyKind::Loop) syntax_error();
                return parse_if(kind);
            case Kw::Loop:
                if (kind == BodyKind::Function) stop_with_message("Error: loop cannot be used within a function body");
                return parse_loop();
            case Kw::While:
                if (kind == BodyKind::Function) stop_with_message("Error: while cannot be used within a function body");
                return parse_while(kind);
            case Kw::Bind:
                return parse_bind();
            case Kw::Epsilon:
                return parse_epsilon();
            case Kw::Expr: {
                take();
                auto st = std::make_unique<Stmt>();
                stmt_expr_list(*st);
                return st;
            }
            default:
                break;
        }
        if (kind != BodyKind::Function) {
            if (auto out = output_statement(); out) return out;
        }
    }
    return parse_expression_line();
}

}  // namespace corvel
