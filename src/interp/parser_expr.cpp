// Words, expressions and conditions of the statement grammar.

#include <cmath>

#include "interp/interpreter.h"
#include "interp/parser.h"
#include "interp/help_text.h"
#include "symbols/counts.h"

namespace corvel {

namespace {

bool is_server_word(const Token& t) {
    if (t.kind != Tok::Keyword) return false;
    switch (t.kw) {
        case Kw::Is:
        case Kw::Ms:
        case Kw::Fcfs:
        case Kw::Lds:
        case Kw::Lcfspr:
        case Kw::Ps:
            // Usable as ordinary names, lower case only.
            return !t.text.empty() && t.text[0] >= 'a' && t.text[0] <= 'z';
        default:
            return false;
    }
}

int math_code(Kw kw) {
    switch (kw) {
        case Kw::Fabs: return kFabs;
        case Kw::Floor: return kFloor;
        case Kw::Ceil: return kCeil;
        case Kw::Ln: return kLn;
        case Kw::Sqrt: return kSqrt;
        case Kw::Sin: return kSin;
        case Kw::Cos: return kCos;
        case Kw::Tan: return kTan;
        case Kw::Asin: return kAsin;
        case Kw::Acos: return kAcos;
        case Kw::Atan: return kAtan;
        default: return -1;
    }
}

// Expression trees are evaluated and released recursively, so their depth is
// bounded; an expression nested deeper than this is refused as a syntax error.
constexpr int kMaxExpressionDepth = 5000;

}  // namespace

// Counts one level of expression depth for the lifetime of the guard.
struct Parser::DepthGuard {
    Parser& p;
    int levels = 1;
    explicit DepthGuard(Parser& parser) : p(parser) { p.enter_depth(1); }
    void more() {
        ++levels;
        p.enter_depth(1);
    }
    ~DepthGuard() { p.depth_ -= levels; }
};

void Parser::enter_depth(int n) {
    depth_ += n;
    if (depth_ > kMaxExpressionDepth) syntax_error();
}

Param* Parser::find_param(const std::string& name) const {
    std::string key = significant_name(name);
    for (auto it = scope_.rbegin(); it != scope_.rend(); ++it)
        if ((*it)->name == key) return *it;
    return nullptr;
}

bool Parser::at_word() {
    const Token& t = peek();
    return t.kind == Tok::Integer || t.kind == Tok::Real || t.kind == Tok::Name || t.kind == Tok::Dollar ||
           is_server_word(t);
}

std::string Parser::word() {
    const Token& t = peek();
    if (t.kind == Tok::Integer || t.kind == Tok::Real || t.kind == Tok::Name || is_server_word(t)) return take().text;
    if (t.kind == Tok::Dollar) {
        // An index substitution: the integer value of its expression.
        take();
        auto e = primary();
        accept(Tok::RBrace);
        double v = in_.eval.bind_expression(*e);
        return substitution_text(in_.err, v);
    }
    syntax_error();
}

std::unique_ptr<Expr> Parser::expr() { return expr_rest(nullptr); }

// first: an already-read operand that begins the expression (from a
// parenthesised item of a condition), or null.
std::unique_ptr<Expr> Parser::expr_rest(std::unique_ptr<Expr> first) {
    DepthGuard guard(*this);
    auto left = term(std::move(first));
    for (;;) {
        if (at(Tok::Plus) || at(Tok::Minus)) guard.more();
        if (accept(Tok::Plus))
            left = Expr::binary(kOpPlus, std::move(left), term(nullptr));
        else if (accept(Tok::Minus))
            left = Expr::binary(kOpMinus, std::move(left), term(nullptr));
        else
            return left;
    }
}

std::unique_ptr<Expr> Parser::term(std::unique_ptr<Expr> first) {
    DepthGuard guard(*this);
    auto left = power(std::move(first));
    for (;;) {
        if (at(Tok::Times) || at(Tok::Divide)) guard.more();
        if (accept(Tok::Times))
            left = Expr::binary(kOpTimes, std::move(left), power(nullptr));
        else if (accept(Tok::Divide))
            left = Expr::binary(kOpDivide, std::move(left), power(nullptr));
        else
            return left;
    }
}

// "^" is right associative; its left operand is a unary-level operand, so
// -2^2 is (-2)^2.
std::unique_ptr<Expr> Parser::power(std::unique_ptr<Expr> first) {
    DepthGuard guard(*this);
    auto base = first ? std::move(first) : unary();
    if (accept(Tok::Power)) return Expr::binary(kOpPower, std::move(base), power(nullptr));
    return base;
}

std::unique_ptr<Expr> Parser::unary() {
    DepthGuard guard(*this);
    if (accept(Tok::Minus)) return Expr::unary(kOpNegate, unary());
    if (accept(Tok::Plus)) return unary();
    if (accept(Tok::Power)) return Expr::unary(kOpExp, unary());
    return primary();
}

std::vector<std::unique_ptr<Expr>> Parser::call_args() {
    std::vector<std::unique_ptr<Expr>> args;
    expect(Tok::LParen);
    if (accept(Tok::RParen)) return args;
    args.push_back(expr());
    while (accept(Tok::Comma)) args.push_back(expr());
    expect(Tok::RParen);
    return args;
}

std::unique_ptr<Expr> Parser::math_call(int code, int nargs) {
    auto e = std::make_unique<Expr>();
    e->code = code;
    expect(Tok::LParen);
    e->args.push_back(expr());
    for (int i = 1; i < nargs; ++i) {
        expect(Tok::Comma);
        e->args.push_back(expr());
    }
    expect(Tok::RParen);
    return e;
}

std::unique_ptr<Expr> Parser::sum_call() {
    // sum ( index , low , high , body ); ";" may stand for any comma.
    auto sep = [this] {
        if (!accept(Tok::Comma) && !accept(Tok::Semicolon)) syntax_error();
    };
    expect(Tok::LParen);
    if (!at_word() || peek().kind == Tok::Dollar) in_.err.error(143, kInputError, "", true);
    std::string name = word();
    if (find_param(name) != nullptr) in_.err.error(12, kInputError, name, true);
    auto e = std::make_unique<Expr>();
    e->code = kSum;
    e->index = std::make_unique<Param>();
    e->index->name = significant_name(name);
    sep();
    e->args.push_back(expr());
    sep();
    e->args.push_back(expr());
    sep();
    scope_.push_back(e->index.get());
    struct Pop {
        std::vector<Param*>& s;
        ~Pop() { s.pop_back(); }
    } pop{scope_};
    e->args.push_back(expr());
    expect(Tok::RParen);
    return e;
}

std::unique_ptr<Expr> Parser::net_ref(int code) {
    auto e = std::make_unique<Expr>();
    e->code = code;
    expect(Tok::LParen);
    e->name = significant_name(word());
    expect(Tok::RParen);
    return e;
}

std::unique_ptr<Expr> Parser::name_primary(const std::string& raw) {
    std::string name = significant_name(raw);
    if (Param* p = find_param(name)) {
        auto e = std::make_unique<Expr>();
        e->code = kParamRef;
        e->param = p;
        return e;
    }
    bool call = at(Tok::LParen);
    int index = in_.symbols.find_symbol(name, SymbolTable::kLookupOrCreate);
    Symbol& s = in_.symbols[index];
    if (s.type == kSymDistribution) in_.err.error(54, kInputError, "", true);
    if (call && s.type != kSymFunction) {
        print_functions(in_.out);
        in_.err.error(95, kInputError, name, true);
    }
    if (s.type == kSymFunction) {
        if (!call) in_.err.error(96, kInputError, name, true);
        auto e = std::make_unique<Expr>();
        e->code = kFunctionCall;
        e->symbol = index;
        e->args = call_args();
        size_t wanted = in_.symbols[index].params.size();
        if (e->args.size() > wanted) in_.err.error(72, kInputError, name, true);
        if (e->args.size() < wanted) in_.err.error(73, kInputError, name, true);
        return e;
    }
    auto e = std::make_unique<Expr>();
    e->code = s.type == kSymVariable ? kVariableRef : kSymbolRef;
    e->symbol = index;
    return e;
}

std::unique_ptr<Expr> Parser::primary() {
    const Token& t = peek();
    switch (t.kind) {
        case Tok::LParen: {
            take();
            auto e = expr();
            expect(Tok::RParen);
            return e;
        }
        case Tok::Integer:
        case Tok::Real:
            return Expr::constant(std::strtod(take().text.c_str(), nullptr));
        case Tok::Name:
            return name_primary(take().text);
        case Tok::Dollar:
            return Expr::constant(std::strtod(word().c_str(), nullptr));
        case Tok::Hash:
            take();
            return net_ref(kPlaceTokens);
        case Tok::Question:
            take();
            return net_ref(kTransEnabled);
        case Tok::Keyword:
            break;
        default:
            syntax_error();
    }
    if (is_server_word(t)) return name_primary(take().text);
    Kw kw = t.kw;
    if (int code = math_code(kw); code >= 0) {
        take();
        return math_call(code, 1);
    }
    switch (kw) {
        case Kw::Min:
            take();
            return math_call(kMin, 2);
        case Kw::Max:
            take();
            return math_call(kMax, 2);
        case Kw::Sum:
            take();
            return sum_call();
        case Kw::Loop:
            // A loop construct is only meaningful inside a load-dependent rate list.
            take();
            in_.err.error(202, kFatal, "", true);
            syntax_error();
        case Kw::Rate:
            take();
            return net_ref(kTransRate);
        case Kw::Weibull: {
            // weibull ( exprs ) is the built-in function of that name.
            take();
            return name_primary("weibull");
        }
        default:
            break;
    }
    if (auto m = measure_primary(); m) return m;
    syntax_error();
}

std::unique_ptr<Expr> Parser::comparison(std::unique_ptr<Expr> left) {
    int code;
    switch (peek().kind) {
        case Tok::Less: code = kCmpLess; break;
        case Tok::Greater: code = kCmpGreater; break;
        case Tok::LessEq: code = kCmpLessEq; break;
        case Tok::GreaterEq: code = kCmpGreaterEq; break;
        case Tok::Equal: code = kCmpEqual; break;
        case Tok::NotEqual: code = kCmpNotEqual; break;
        default: syntax_error();
    }
    take();
    return Expr::binary(code, std::move(left), expr());
}

std::unique_ptr<Expr> Parser::cond() {
    DepthGuard guard(*this);
    auto left = cond_and();
    while (at_kw(Kw::Or)) {
        guard.more();
        take();
        left = Expr::binary(kOpOr, std::move(left), cond_and());
    }
    return left;
}

std::unique_ptr<Expr> Parser::cond_and() {
    DepthGuard guard(*this);
    auto left = cond_not();
    while (at_kw(Kw::And)) {
        guard.more();
        take();
        left = Expr::binary(kOpAnd, std::move(left), cond_not());
    }
    return left;
}

std::unique_ptr<Expr> Parser::cond_not() {
    DepthGuard guard(*this);
    if (accept_kw(Kw::Not)) return Expr::unary(kOpNot, cond_not());
    return cond_atom();
}

// A parenthesis may open either a condition or the first operand of a
// comparison; which one is known only after the closing parenthesis.
std::unique_ptr<Expr> Parser::cond_atom() {
    if (accept_kw(Kw::True)) return Expr::constant(1.0);
    if (accept_kw(Kw::False)) return Expr::constant(0.0);
    if (accept(Tok::LParen)) {
        bool is_cond = false;
        std::unique_ptr<Expr> inner;
        if (at_kw(Kw::Not) || at_kw(Kw::True) || at_kw(Kw::False)) {
            inner = cond();
            is_cond = true;
        } else {
            inner = expr();
            switch (peek().kind) {
                case Tok::Less:
                case Tok::Greater:
                case Tok::LessEq:
                case Tok::GreaterEq:
                case Tok::Equal:
                case Tok::NotEqual:
                    inner = comparison(std::move(inner));
                    is_cond = true;
                    break;
                default:
                    break;
            }
            if (is_cond) {
                // The comparison may continue a longer condition inside the parentheses.
                while (at_kw(Kw::And) || at_kw(Kw::Or)) {
                    if (accept_kw(Kw::And)) {
                        inner = Expr::binary(kOpAnd, std::move(inner), cond_not());
                    } else {
                        take();
                        inner = Expr::binary(kOpOr, std::move(inner), cond_and());
                    }
                }
            } else if (at_kw(Kw::And) || at_kw(Kw::Or)) {
                syntax_error();
            }
        }
        expect(Tok::RParen);
        if (is_cond) return inner;
        return comparison(expr_rest(std::move(inner)));
    }
    return comparison(expr());
}

}  // namespace corvel
