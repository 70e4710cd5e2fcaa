#include "symbols/line_reader.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "interp/help_text.h"
#include "symbols/errors.h"
#include "symbols/settings.h"

namespace corvel {
namespace {

struct FakeHooks : EvalHooks {
    double measure_value(const Expr&) override { ADD_FAILURE() << "no measures here"; return 0; }
    double prompt_value(int) override { ADD_FAILURE() << "unexpected prompt"; return 0; }
    double run_function_body(int, bool& returned) override { returned = true; return 0; }
    double net_reference(const Expr&) override { ADD_FAILURE() << "no nets here"; return 0; }
};

struct Fixture {
    std::string captured;
    Output out{&captured};
    ErrorReporter err{out};
    SymbolTable symbols;
    Settings settings;
    FakeHooks hooks;
    Evaluator eval{symbols, settings, err, hooks};
    LineReader reader{symbols, err, out, eval};
    Param p{"p", 0.0};
    LineReadOptions with_p;

    Fixture() {
        err.interactive = false;
        with_p.params = {&p};
        // f(a, b) = a - b, g() = 4, and a distribution d.
        int f = symbols.find_symbol("f", SymbolTable::kCreate);
        symbols[f].type = kSymFunction;
        for (const char* name : {"a", "b"}) symbols[f].params.push_back(std::make_unique<Param>(Param{name, 0.0}));
        auto ref = [&](int i) {
            auto e = std::make_unique<Expr>();
            e->code = kParamRef;
            e->param = symbols[f].params[i].get();
            return e;
        };
        symbols[f].exp = Expr::binary(kOpMinus, ref(0), ref(1));
        int g = symbols.find_symbol("g", SymbolTable::kCreate);
        symbols[g].type = kSymFunction;
        symbols[g].exp = Expr::constant(4);
        symbols[symbols.find_symbol("d", SymbolTable::kCreate)].type = kSymDistribution;
    }

    int read(std::string_view line, std::unique_ptr<Expr>& e, const LineReadOptions& o, size_t& pos) {
        return reader.get_expression(line, pos, e, o);
    }
    double value(std::string_view line) {
        std::unique_ptr<Expr> e;
        size_t pos = 0;
        EXPECT_EQ(read(line, e, with_p, pos), kReadComplete) << line;
        return e ? eval.bind_expression(*e) : NAN;
    }
    // The text printed by a read that must stop the run.
    std::string failure(std::string_view line, const LineReadOptions& o) {
        captured.clear();
        std::unique_ptr<Expr> e;
        size_t pos = 0;
        try {
            read(line, e, o, pos);
            ADD_FAILURE() << "accepted: " << line;
        } catch (const ProgramExit& exit) {
            EXPECT_EQ(exit.status, kExitFailure);
        }
        return captured;
    }
};

void expect_errors(const std::string& message, std::initializer_list<const char*> lines, bool forbid = false) {
    for (const char* line : lines) {
        Fixture fx;
        LineReadOptions o = fx.with_p;
        o.index_forbidden = forbid;
        EXPECT_EQ(fx.failure(line, o), "error: " + message + ".\n") << "input: " << line;
    }
}

TEST(LineReaderErrors, Syntax) {
    expect_errors("expect operator", {"3 4", "1e5", "(1)(2)", "f(1,2)(3)", "sum(i,1,2,i)(1)", "2 p"});
    expect_errors("unmatched right parenthesis", {"3)", "(1))"});
    expect_errors("unmatched left parentheses", {"(3", "((1)", "2*(3+(4)", "f(1", "f(1;2)", "sum(i,1,2,i"});
    expect_errors("invalid character: & (0x26)", {"2 & 3"});
    expect_errors("invalid character: _ (0x5f)", {"_x"});
    expect_errors("expect symbol or value", {"*3", "3 +", "-", "()", "2*)", "f(1,2)+;"});
    expect_errors("invalid number syntax", {"1.2.3", ".", "2+..5"});
}

TEST(LineReaderErrors, NamesAndCalls) {
    expect_errors("expect argument list for f", {"f 2", "f"});
    expect_errors("expect argument list for sum", {"sum 1"});
    expect_errors("expect argument list for SUM", {"SUM"});
    expect_errors("expect argument", {"f(1,,2)", "f(,)", "f(1,)", "sum(i,,2,i)", "sum(i,1,2,)"});
    expect_errors("too many arguments for f", {"f(1,2,3)"});
    expect_errors("too many arguments for g", {"g(1)"});
    expect_errors("too many arguments for sum", {"sum(i,1,2,i,3)"});
    expect_errors("not enough arguments for f", {"f(1)", "f()"});
    expect_errors("not enough arguments for sum", {"sum(i,1,2)", "sum(i,1)"});
    expect_errors("distribution in expression", {"d", "1+d*2"});
    expect_errors("invalid or empty index name for p", {"sum(p,1,2,p)"});
    expect_errors("invalid or empty index name for i", {"sum(i,1,2,sum(i,1,2,i))"});
    expect_errors("expect index", {"sum(1,2,3,4)", "sum(,1,2,3)", "sum()"});
    expect_errors("expect comma", {"sum(i 1,2,i)", "sum(i;1,2,i)"});
    expect_errors("cannot use index in boundary value", {"sum(i,i,2,1)", "sum(i,1,2*i,1)"});
    expect_errors("cannot use index in boundary value", {"p+1"}, true);
    // Pathologically deep expressions are refused instead of exhausting the stack.
    expect_errors("line too long", {std::string(5000, '-').append("1").c_str()});
    std::string calls;
    for (int i = 0; i < 5000; ++i) calls += "f(1,";
    expect_errors("line too long", {calls.c_str()});
}

TEST(LineReaderErrors, NotAFunctionListsTheFunctions) {
    std::string list;
    Output list_out(&list);
    print_functions(list_out);
    Fixture fx;
    EXPECT_EQ(fx.failure("2 + x(1)", fx.with_p), list + "error: not a function: x.\n");
    EXPECT_EQ(fx.failure("p(1)", fx.with_p), list + "error: not a function: p.\n");
}

TEST(LineReaderErrors, LoopConstruct) {
    Fixture fx;
    fx.err.interactive = true;  // fatal even at the console
    EXPECT_EQ(fx.failure("loop(i,1,3,1,i)", fx.with_p), "error: loop construct not allowed.\n");
    std::unique_ptr<Expr> e;
    size_t pos = 0;
    LineReadOptions o;
    o.loop_allowed = true;
    ASSERT_EQ(fx.read("LOOP(i,1,3,1,2*i)", e, o, pos), kReadComplete);
    ASSERT_EQ(e->code, kLoopConstruct);
    EXPECT_EQ(e->index->name, "i");
    ASSERT_EQ(e->args.size(), 4u);
    EXPECT_EQ(e->args[3]->args[1]->param, e->index.get());
}

TEST(LineReaderErrors, InteractiveDropsNewSymbols) {
    Fixture fx;
    fx.err.interactive = true;
    int before = fx.symbols.size();
    for (const char* line : {"a + b c", "new1 * f(new2, (", "sum(i, q, r, d)"}) {
        fx.captured.clear();
        std::unique_ptr<Expr> e;
        size_t pos = 0;
        EXPECT_THROW(fx.read(line, e, fx.with_p, pos), CommandAbandoned) << line;
        EXPECT_NE(fx.captured.find(".  Try again.\n"), std::string::npos) << fx.captured;
        EXPECT_EQ(fx.symbols.size(), before) << line;
        EXPECT_EQ(fx.symbols.find_symbol("a", SymbolTable::kLookup), -1);
    }
    // A successful read keeps the pending symbols it made.
    std::unique_ptr<Expr> e;
    size_t pos = 0;
    EXPECT_EQ(fx.read("a + b", e, fx.with_p, pos), kReadComplete);
    EXPECT_EQ(fx.symbols.size(), before + 2);
    EXPECT_EQ(fx.symbols[fx.symbols.find_symbol("b", SymbolTable::kLookup)].type, kSymPending);
}

TEST(LineReaderValues, OperatorsAndNumbers) {
    Fixture fx;
    EXPECT_DOUBLE_EQ(fx.value("-2^2"), 4);
    EXPECT_DOUBLE_EQ(fx.value("2^3^2"), 64);
    EXPECT_DOUBLE_EQ(fx.value("2*-3"), -6);
    EXPECT_DOUBLE_EQ(fx.value("^1"), std::exp(1.0));
    EXPECT_DOUBLE_EQ(fx.value("^2*3"), 3 * std::exp(2.0));
    EXPECT_DOUBLE_EQ(fx.value("^-1"), std::exp(-1.0));
    EXPECT_DOUBLE_EQ(fx.value("2^-1"), 0.5);
    EXPECT_DOUBLE_EQ(fx.value("--2"), 2);
    EXPECT_DOUBLE_EQ(fx.value("10-4-3"), 3);
    EXPECT_DOUBLE_EQ(fx.value("12/3/2"), 2);
    EXPECT_DOUBLE_EQ(fx.value("1+2*3"), 7);
    EXPECT_DOUBLE_EQ(fx.value("\t(1 \\+ 2)*3"), 9);
    EXPECT_DOUBLE_EQ(fx.value("1. + .5"), 1.5);
    fx.p.value = 3;
    EXPECT_DOUBLE_EQ(fx.value("p*p"), 9);
}

TEST(LineReaderValues, CallsAndSums) {
    Fixture fx;
    EXPECT_DOUBLE_EQ(fx.value("f(5, 2)"), 3);
    EXPECT_DOUBLE_EQ(fx.value("g() + f((1), 2*3)"), -1);
    EXPECT_DOUBLE_EQ(fx.value("sum(i, 0.5, 2, 1)"), 2);
    EXPECT_DOUBLE_EQ(fx.value("sum(i,5,1,i)"), 15);
    EXPECT_DOUBLE_EQ(fx.value("SUM(i,1,5,i)"), 15);
    EXPECT_DOUBLE_EQ(fx.value("sum(i,1,3,sum(j,1,i,j))"), 10);
    EXPECT_DOUBLE_EQ(fx.value("sum(i,1,3,f(i,1))"), 3);
}

TEST(LineReaderResults, NamesTerminatorsAndValueDestination) {
    Fixture fx;
    std::unique_ptr<Expr> e1, e2;
    size_t pos = 0;
    ASSERT_EQ(fx.read("abcdefghijklmnopqrstuvwxyzabcdefghi", e1, {}, pos), kReadComplete);
    pos = 0;
    ASSERT_EQ(fx.read("abcdefghijklmnopqrstuvwxyzabcXYZ", e2, {}, pos), kReadComplete);
    EXPECT_EQ(e1->symbol, e2->symbol);
    EXPECT_EQ(fx.symbols[e1->symbol].name, "abcdefghijklmnopqrstuvwxyzabc");
    pos = 0;
    ASSERT_EQ(fx.read("a.b_c#d:e?f", e1, {}, pos), kReadComplete);
    EXPECT_EQ(fx.symbols[e1->symbol].name, "a.b_c#d:e?f");

    // Terminators are consumed; the line's end is not.
    std::string line = "1+2, 3;} ";
    double v = 0;
    LineReadOptions o;
    o.value = &v;
    pos = 0;
    EXPECT_EQ(fx.read(line, e1, o, pos), kReadComplete);
    EXPECT_EQ(e1, nullptr);
    EXPECT_EQ(v, 3);
    EXPECT_EQ(pos, 4u);
    EXPECT_EQ(fx.read(line, e1, o, pos), kReadComplete);
    EXPECT_EQ(v, 3);
    EXPECT_EQ(pos, 7u);
    EXPECT_EQ(fx.read(line, e1, o, pos), kReadEmpty);
    EXPECT_EQ(fx.read(line, e1, o, pos), kReadEmpty);
    EXPECT_EQ(pos, line.size());

    // A ")" may end the read when allowed; the expression with a symbol stays a tree.
    o.paren_may_end = true;
    v = -1;
    pos = 0;
    EXPECT_EQ(fx.read("(z+1)*2) rest", e1, o, pos), kReadStopParen);
    EXPECT_EQ(pos, 8u);
    ASSERT_NE(e1, nullptr);
    EXPECT_EQ(e1->code, kOpTimes);
    EXPECT_EQ(v, -1);
}

TEST(LineReaderResults, RandomLinesEndInAResultOrAReport) {
    static const char alphabet[] = "0123456789.+-*/^(),;} \\abpfgdisumSUMloop_#:?&=\x01\xe9";
    std::mt19937 rng(7);
    for (int n = 0; n < 3000; ++n) {
        Fixture fx;
        fx.err.interactive = n % 2 == 0;
        std::string line;
        for (size_t len = rng() % 40; len > 0; --len) line += alphabet[rng() % (sizeof alphabet - 1)];
        size_t pos = 0;
        std::unique_ptr<Expr> e;
        LineReadOptions o = fx.with_p;
        o.paren_may_end = n % 3 == 0;
        o.index_forbidden = n % 5 == 0;
        try {
            int r = fx.read(line, e, o, pos);
            EXPECT_TRUE(r == kReadEmpty || r == kReadComplete || r == kReadStopParen) << line;
            EXPECT_LE(pos, line.size());
        } catch (const CommandAbandoned&) {
        } catch (const ProgramExit&) {
        }
    }
}

}  // namespace
}  // namespace corvel
