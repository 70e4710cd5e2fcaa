#include "symbols/line_reader.h"
#include "symbols/function_list.h"

#include <algorithm>
#include <cstdlib>
#include <string>

#include "symbols/errors.h"
#include "symbols/output.h"
#include "symbols/symbol_table.h"

namespace corvel {

namespace {

// Deepest expression tree (and deepest nesting of argument lists) accepted;
// evaluation and destruction of the tree recurse, so an absurd line must not
// exhaust the stack.
constexpr int kMaxDepth = 1000;

enum CharClass { kEndOfLine, kBlank, kNumber, kOperator, kTerminator, kLetter, kNameOnly, kInvalid };

CharClass char_class(unsigned char c) {
    switch (c) {
        case '\0':
        case '\n': return kEndOfLine;
        case ' ':
        case '\t':
        case '\v':
        case '\f':
        case '\r':
        case '\\': return kBlank;
        case '(':
        case ')':
        case '+':
        case '-':
        case '*':
        case '/':
        case '^': return kOperator;
        case ',':
        case ';':
        case '}': return kTerminator;
        case '.': return kNumber;
        case '_':
        case '#':
        case ':':
        case '?': return kNameOnly;
        default: break;
    }
    if (c >= '0' && c <= '9') return kNumber;
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')) return kLetter;
    return kInvalid;
}

bool continues_name(unsigned char c) {
    CharClass k = char_class(c);
    return k == kLetter || k == kNumber || k == kNameOnly;
}

// Operator stack entries. The "(" marker has priority 0, so no operator ever
// moves it to the output.
constexpr int kParenMarker = 6;

int priority(int code) {
    switch (code) {
        case kOpTimes:
        case kOpDivide: return 2;
        case kOpPlus:
        case kOpMinus: return 1;
        case kOpNegate: return 4;
        case kParenMarker: return 0;
        case kOpPower:
        case kOpExp: return 3;
        default: return 5;
    }
}

bool is_unary(int code) { return code == kOpNegate || code == kOpExp; }

struct Token {
    enum Kind { End, Terminator, Operator, Number, Name } kind = End;
    char ch = 0;
    double value = 0.0;
    std::string name;
};

struct Operand {
    std::unique_ptr<Expr> expr;
    int depth = 1;
};

// What one (possibly nested) read produced.
struct Outcome {
    int result = kReadEmpty;
    char terminator = 0;  // the "," ";" or "}" that ended it; 0 at the line's end
    Operand value;
};

// The visible parameters: the most recent loop index first.
struct Scope {
    std::vector<Param*> params;
    std::vector<Param*> forbidden;  // indices whose own bounds are being read
    bool loop_allowed = false;
    int level = 0;                  // nesting of argument lists

    Param* find(std::string_view name) const {
        for (Param* p : params)
            if (p != nullptr && significant_name(p->name) == name) return p;
        return nullptr;
    }
    bool is_forbidden(const Param* p) const {
        return std::find(forbidden.begin(), forbidden.end(), p) != forbidden.end();
    }
};


// One read over a line; nested argument lists and loop bounds recurse with
// their own operand and operator stacks.
class Reading {
public:
    Reading(SymbolTable& symbols, ErrorReporter& err, Output& out, std::string_view line, size_t& pos)
        : symbols_(symbols), err_(err), out_(out), line_(line), pos_(pos) {}

    // `in_list`: the read is one argument of a list, so a ")" before anything
    // else ends it as an empty argument (result 8, no expression).
    Outcome read(const Scope& scope, bool paren_may_end, bool in_list);

private:
    unsigned char at(size_t p) const { return p < line_.size() ? static_cast<unsigned char>(line_[p]) : '\0'; }
    void skip_blanks() {
        while (char_class(at(pos_)) == kBlank) ++pos_;
    }
    [[noreturn]] void fail(int number, std::string_view text = {}) {
        err_.error(number, kInputError, text, true);
        // The reporter returns only for levels that do not stop; this one
        // always does, but keep the read from going on regardless.
        throw CommandAbandoned{};
    }

    Token next_token();
    double read_number();

    void reduce(std::vector<Operand>& operands, int code);
    Operand name_operand(const std::string& name, const Scope& scope);
    Operand call_operand(const std::string& name, int symbol, const Scope& scope);
    Operand loop_operand(const std::string& name, int code, const Scope& scope);
    Outcome read_argument(const Scope& scope);

    SymbolTable& symbols_;
    ErrorReporter& err_;
    Output& out_;
    std::string_view line_;
    size_t& pos_;
};

double Reading::read_number() {
    size_t start = pos_;
    int points = 0;
    while (char_class(at(pos_)) == kNumber) {
        if (at(pos_) == '.') ++points;
        ++pos_;
    }
    std::string text(line_.substr(start, pos_ - start));
    if (points > 1 || text == ".") fail(91);
    return std::strtod(text.c_str(), nullptr);
}

Token Reading::next_token() {
    skip_blanks();
    Token t;
    unsigned char c = at(pos_);
    switch (char_class(c)) {
        case kEndOfLine:
            t.kind = Token::End;
            return t;
        case kTerminator:
            ++pos_;
            t.kind = Token::Terminator;
            t.ch = static_cast<char>(c);
            return t;
        case kOperator:
            ++pos_;
            t.kind = Token::Operator;
            t.ch = static_cast<char>(c);
            return t;
        case kNumber:
            t.kind = Token::Number;
            t.value = read_number();
            return t;
        case kLetter: {
            size_t start = pos_;
            while (continues_name(at(pos_))) ++pos_;
            t.kind = Token::Name;
            t.name = significant_name(line_.substr(start, pos_ - start));
            return t;
        }
        default:
            fail(69, format_string("%c (0x%x)", c, static_cast<unsigned>(c)));
    }
}

void Reading::reduce(std::vector<Operand>& operands, int code) {
    size_t needed = is_unary(code) ? 1 : 2;
    if (operands.size() < needed) err_.error(2, kInternal, "", false);
    Operand node;
    if (needed == 1) {
        Operand a = std::move(operands.back());
        operands.pop_back();
        node.depth = a.depth + 1;
        node.expr = Expr::unary(code, std::move(a.expr));
    } else {
        Operand right = std::move(operands.back());
        operands.pop_back();
        Operand left = std::move(operands.back());
        operands.pop_back();
        node.depth = std::max(left.depth, right.depth) + 1;
        node.expr = Expr::binary(code, std::move(left.expr), std::move(right.expr));
    }
    if (node.depth > kMaxDepth) fail(26);
    operands.push_back(std::move(node));
}

Outcome Reading::read_argument(const Scope& scope) {
    if (scope.level >= kMaxDepth) fail(26);
    Scope inner = scope;
    inner.loop_allowed = false;
    ++inner.level;
    return read(inner, true, true);
}

Operand Reading::call_operand(const std::string& name, int symbol, const Scope& scope) {
    skip_blanks();
    if (at(pos_) != '(') fail(96, name);
    ++pos_;
    auto call = std::make_unique<Expr>();
    call->code = kFunctionCall;
    call->symbol = symbol;
    int depth = 1;
    for (;;) {
        Outcome arg = read_argument(scope);
        if (!arg.value.expr) {
            // "f()" is the empty list; any other empty argument is an error.
            if (arg.result == kReadStopParen && call->args.empty()) break;
            fail(97);
        }
        depth = std::max(depth, arg.value.depth + 1);
        call->args.push_back(std::move(arg.value.expr));
        if (arg.result == kReadStopParen) break;
        if (arg.terminator != ',') fail(68);
    }
    if (depth > kMaxDepth) fail(26);
    size_t wanted = symbols_[symbol].params.size();
    if (call->args.size() > wanted) fail(72, name);
    if (call->args.size() < wanted) fail(73, name);
    return Operand{std::move(call), depth};
}

Operand Reading::loop_operand(const std::string& name, int code, const Scope& scope) {
    skip_blanks();
    if (at(pos_) != '(') fail(96, name);
    ++pos_;
    Token index_name = next_token();
    if (index_name.kind != Token::Name) fail(143);
    if (scope.find(index_name.name) != nullptr) fail(12, index_name.name);
    Token comma = next_token();
    if (comma.kind != Token::Terminator || comma.ch != ',') fail(45);

    auto node = std::make_unique<Expr>();
    node->code = code;
    node->index = std::make_unique<Param>();
    node->index->name = index_name.name;

    Scope inner = scope;
    inner.params.insert(inner.params.begin(), node->index.get());
    Scope bounds = inner;
    bounds.forbidden.push_back(node->index.get());

    int depth = 1;
    auto take = [&](const Outcome& arg) {
        depth = std::max(depth, arg.value.depth + 1);
        if (depth > kMaxDepth) fail(26);
    };
    // low, high, and for the loop form its step: each ends at a ",".
    int leading = code == kLoopConstruct ? 3 : 2;
    for (int i = 0; i < leading; ++i) {
        Outcome arg = read_argument(bounds);
        if (!arg.value.expr) fail(97);
        if (arg.result == kReadStopParen) fail(73, name);
        if (arg.terminator != ',') fail(68);
        take(arg);
        node->args.push_back(std::move(arg.value.expr));
    }
    Outcome body = read_argument(inner);
    if (!body.value.expr) fail(97);
    if (body.result != kReadStopParen) {
        if (body.terminator == ',') fail(72, name);
        fail(68);
    }
    take(body);
    node->args.push_back(std::move(body.value.expr));
    return Operand{std::move(node), depth};
}

Operand Reading::name_operand(const std::string& name, const Scope& scope) {
    if (name == "sum" || name == "SUM") return loop_operand(name, kSum, scope);
    if (name == "loop" || name == "LOOP") {
        if (!scope.loop_allowed) err_.error(202, kFatal, "", true);
        return loop_operand(name, kLoopConstruct, scope);
    }
    if (Param* p = scope.find(name)) {
        if (scope.is_forbidden(p)) fail(157);
        auto e = std::make_unique<Expr>();
        e->code = kParamRef;
        e->param = p;
        return Operand{std::move(e), 1};
    }
    int index = symbols_.find_symbol(name, SymbolTable::kLookupOrCreate);
    int kind = symbols_[index].type;
    if (kind == kSymDistribution) fail(54);
    if (kind == kSymFunction) return call_operand(name, index, scope);
    auto e = std::make_unique<Expr>();
    e->code = kSymbolRef;
    e->symbol = index;
    return Operand{std::move(e), 1};
}

Outcome Reading::read(const Scope& scope, bool paren_may_end, bool in_list) {
    std::vector<Operand> operands;
    std::vector<int> operators;
    bool expect_operand = true;
    bool anything = false;       // a token other than the end was read
    bool last_was_name = false;  // the last operand was a bare name

    auto finish = [&](int result, char terminator) {
        Outcome o;
        o.result = result;
        o.terminator = terminator;
        if (!operands.empty()) o.value = std::move(operands.back());
        return o;
    };

    for (;;) {
        Token t = next_token();
        if (t.kind == Token::End || t.kind == Token::Terminator) {
            if (std::find(operators.begin(), operators.end(), kParenMarker) != operators.end()) fail(68);
            if (!anything) return finish(kReadEmpty, t.ch);
            if (expect_operand) fail(75);
            while (!operators.empty()) {
                reduce(operands, operators.back());
                operators.pop_back();
            }
            return finish(kReadComplete, t.ch);
        }

        if (t.kind == Token::Number || t.kind == Token::Name) {
            if (!expect_operand) fail(66);
            anything = true;
            if (t.kind == Token::Number) {
                operands.push_back(Operand{Expr::constant(t.value), 1});
                last_was_name = false;
            } else {
                Operand o = name_operand(t.name, scope);
                last_was_name = o.expr->code == kSymbolRef || o.expr->code == kParamRef;
                operands.push_back(std::move(o));
            }
            expect_operand = false;
            continue;
        }

        // An operator character.
        switch (t.ch) {
            case '(':
                if (!expect_operand) {
                    if (last_was_name) {
                        print_functions(out_);
                        const Expr& e = *operands.back().expr;
                        fail(95, e.code == kParamRef ? e.param->name : symbols_[e.symbol].name);
                    }
                    fail(66);
                }
                anything = true;
                operators.push_back(kParenMarker);
                continue;
            case ')':
                if (expect_operand) {
                    if (in_list && !anything) return finish(kReadStopParen, 0);
                    fail(75);
                }
                while (!operators.empty() && operators.back() != kParenMarker) {
                    reduce(operands, operators.back());
                    operators.pop_back();
                }
                if (operators.empty()) {
                    if (paren_may_end) return finish(kReadStopParen, 0);
                    fail(67);
                }
                operators.pop_back();
                last_was_name = false;
                continue;
            default:
                break;
        }

        int code;
        if (expect_operand) {
            if (t.ch == '-') {
                code = kOpNegate;
            } else if (t.ch == '^') {
                code = kOpExp;
            } else {
                fail(75);
            }
            // A prefix operator waits for its operand: nothing before it is
            // complete yet, so nothing moves to the output.
        } else {
            code = t.ch == '^' ? kOpPower : t.ch - '*';
            while (!operators.empty() && priority(operators.back()) >= priority(code)) {
                reduce(operands, operators.back());
                operators.pop_back();
            }
        }
        anything = true;
        operators.push_back(code);
        expect_operand = true;
    }
}

}  // namespace

int LineReader::get_expression(std::string_view line, size_t& pos, std::unique_ptr<Expr>& result,
                               const LineReadOptions& options) {
    result.reset();
    // Pending symbols created by a read that fails are dropped again.
    struct DropNewSymbols {
        SymbolTable& symbols;
        int count;
        bool keep = false;
        ~DropNewSymbols() {
            if (!keep) symbols.truncate(count);
        }
    } guard{symbols_, symbols_.size()};

    Scope scope;
    scope.params = options.params;
    if (options.index_forbidden && !scope.params.empty()) scope.forbidden.push_back(scope.params.front());
    scope.loop_allowed = options.loop_allowed;

    Reading reading(symbols_, err_, out_, line, pos);
    Outcome outcome = reading.read(scope, options.paren_may_end, false);
    std::unique_ptr<Expr> e = std::move(outcome.value.expr);
    if (outcome.result == kReadEmpty) {
        guard.keep = true;
        return kReadEmpty;
    }
    if (options.value != nullptr && e && e->is_constant()) {
        *options.value = eval_.bind_expression(*e);
        e.reset();
    }
    guard.keep = true;
    result = std::move(e);
    return outcome.result;
}

}  // namespace corvel
