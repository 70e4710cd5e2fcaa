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
    double measure_value(const Expr&) override { ADD_FAILURE(); return 0; }
    double prompt_value(int) override { ADD_FAILURE(); return 0; }
    double run_function_body(int, bool& returned) override { returned = true; return 0; }
    double net_reference(const Expr&) override { ADD_FAILURE(); return 0; }
};

// A table with f(a, b) = a - b, g() = 4 and a distribution d; p is visible.
struct Fixture {
    std::string captured;
    Output out{&captured};
    ErrorReporter err{out};
    SymbolTable symbols;
    Settings settings;
    FakeHooks hooks;
    Evaluator eval{symbols, settings, err, hooks};
    LineReader reader{symbols, err, out, eval};
    Param p{"p", 3.0};
    LineReadOptions with_p;
    std::unique_ptr<Expr> e;
    size_t pos = 0;

    Fixture() {
        err.interactive = false;
        with_p.params = {&p};
        Symbol& f = symbols[symbols.find_symbol("f", SymbolTable::kCreate)];
        f.type = kSymFunction;
        std::unique_ptr<Expr> refs[2];
        for (auto& ref : refs) {
            f.params.push_back(std::make_unique<Param>());
            ref = std::make_unique<Expr>();
            ref->code = kParamRef;
            ref->param = f.params.back().get();
        }
        f.exp = Expr::binary(kOpMinus, std::move(refs[0]), std::move(refs[1]));
        Symbol& g = symbols[symbols.find_symbol("g", SymbolTable::kCreate)];
        g.type = kSymFunction;
        g.exp = Expr::constant(4);
        symbols[symbols.find_symbol("d", SymbolTable::kCreate)].type = kSymDistribution;
    }

    int read(std::string_view line, const LineReadOptions& o) { return reader.get_expression(line, pos, e, o); }
    // The text printed by a read that must stop the run.
    std::string failure(std::string_view line, const LineReadOptions& o) {
        try {
            read(line, o);
            ADD_FAILURE() << "accepted: " << line;
        } catch (const ProgramExit& exit) {
            EXPECT_EQ(exit.status, kExitFailure);
        }
        return captured;
    }
};

void expect_errors(const std::string& message, std::initializer_list<std::string> lines, bool forbid = false) {
    for (const std::string& line : lines) {
        Fixture fx;
        fx.with_p.index_forbidden = forbid;
        EXPECT_EQ(fx.failure(line, fx.with_p), "error: " + message + ".\n") << "input: " << line;
    }
}

TEST(LineReaderErrors, Syntax) {
    expect_errors("expect operator", {"3 4", "1e5", "(1)(2)", "f(1,2)(3)", "sum(i,1,2,i)(1)", "2 p"});
    expect_errors("unmatched right parenthesis", {"3)", "(1))"});
    expect_errors("unmatched left parentheses", {"(3", "2*(3+(4)", "f(1", "f(1;2)", "sum(i,1,2,i"});
    expect_errors("invalid character: & (0x26)", {"2 & 3"});
    expect_errors("invalid character: _ (0x5f)", {"_x"});
    expect_errors("expect symbol or value", {"*3", "3 +", "-", "()", "2*)", "f(1,2)+;"});
    expect_errors("invalid number syntax", {"1.2.3", ".", "2+..5"});
    // Pathologically deep expressions are refused instead of exhausting the stack.
    std::string calls;
    for (int i = 0; i < 5000; ++i) calls += "f(1,";
    expect_errors("line too long", {std::string(5000, '-') + "1", calls});
}

TEST(LineReaderErrors, NamesCallsAndSums) {
    expect_errors("expect argument list for f", {"f 2", "f"});
    expect_errors("expect argument list for SUM", {"SUM 1"});
    expect_errors("expect argument", {"f(1,,2)", "f(,)", "f(1,)", "sum(i,,2,i)", "sum(i,1,2,)"});
    expect_errors("too many arguments for f", {"f(1,2,3)"});
    expect_errors("too many arguments for g", {"g(1)"});
    expect_errors("too many arguments for sum", {"sum(i,1,2,i,3)"});
    expect_errors("not enough arguments for f", {"f(1)", "f()"});
    expect_errors("not enough arguments for sum", {"sum(i,1,2)", "sum(i,1)"});
    expect_errors("distribution in expression", {"1+d*2"});
    expect_errors("invalid or empty index name for p", {"sum(p,1,2,p)"});
    expect_errors("invalid or empty index name for i", {"sum(i,1,2,sum(i,1,2,i))"});
    expect_errors("expect index", {"sum(1,2,3,4)", "sum()"});
    expect_errors("expect comma", {"sum(i 1,2,i)", "sum(i;1,2,i)"});
    expect_errors("cannot use index in boundary value", {"sum(i,i,2,1)", "sum(i,1,2*i,1)"});
    expect_errors("cannot use index in boundary value", {"p+1"}, true);

    std::string list;
    Output list_out(&list);
    print_functions(list_out);
    for (std::string name : {"x", "p"}) {
        Fixture fx;
        EXPECT_EQ(fx.failure("2 + " + name + "(1)", fx.with_p), list + "error: not a function: " + name + ".\n");
    }
}

TEST(LineReaderErrors, LoopConstruct) {
    Fixture fx;
    fx.err.interactive = true;  // fatal even at the console
    EXPECT_EQ(fx.failure("loop(i,1,3,1,i)", fx.with_p), "error: loop construct not allowed.\n");
    LineReadOptions o;
    o.loop_allowed = true;
    fx.pos = 0;
    ASSERT_EQ(fx.read("LOOP(i,1,3,1,2*i)", o), kReadComplete);
    ASSERT_EQ(fx.e->code, kLoopConstruct);
    ASSERT_EQ(fx.e->args.size(), 4u);
    EXPECT_EQ(fx.e->args[3]->args[1]->param, fx.e->index.get());
}

TEST(LineReaderErrors, InteractiveDropsNewSymbols) {
    Fixture fx;
    fx.err.interactive = true;
    int before = fx.symbols.size();
    for (const char* line : {"a + b c", "a * f(new2, (", "sum(i, a, r, d)"}) {
        fx.captured.clear();
        fx.pos = 0;
        EXPECT_THROW(fx.read(line, fx.with_p), CommandAbandoned) << line;
        EXPECT_NE(fx.captured.find(".  Try again.\n"), std::string::npos) << fx.captured;
        EXPECT_EQ(fx.symbols.size(), before) << line;
        EXPECT_EQ(fx.symbols.find_symbol("a", SymbolTable::kLookup), -1);
    }
    fx.pos = 0;
    EXPECT_EQ(fx.read("a + b", fx.with_p), kReadComplete);
    EXPECT_EQ(fx.symbols.size(), before + 2);
}

TEST(LineReaderValues, OperatorsCallsAndSums) {
    Fixture fx;
    const std::pair<const char*, double> cases[] = {
        {"-2^2", 4}, {"2^3^2", 64}, {"2*-3", -6}, {"^1", std::exp(1.0)}, {"^2*3", 3 * std::exp(2.0)},
        {"^-1", std::exp(-1.0)}, {"2^-1", 0.5}, {"--2", 2}, {"10-4-3", 3}, {"12/3/2", 2}, {"1+2*3", 7},
        {"\t(1 \\+ 2)*3", 9}, {"1. + .5", 1.5}, {"p*p", 9}, {"f(5, 2)", 3}, {"g() + f((1), 2*3)", -1},
        {"sum(i, 0.5, 2, 1)", 2}, {"sum(i,5,1,i)", 15}, {"SUM(i,1,5,i)", 15},
        {"sum(i,1,3,sum(j,1,i,j))", 10}, {"sum(i,1,3,f(i,1))", 3}};
    for (const auto& [line, expected] : cases) {
        fx.pos = 0;
        ASSERT_EQ(fx.read(line, fx.with_p), kReadComplete) << line;
        EXPECT_DOUBLE_EQ(fx.eval.bind_expression(*fx.e), expected) << line;
    }
}

TEST(LineReaderResults, NamesTerminatorsAndValueDestination) {
    Fixture fx;
    ASSERT_EQ(fx.read("abcdefghijklmnopqrstuvwxyzabcdefghi", {}), kReadComplete);
    int first = fx.e->symbol;
    fx.pos = 0;
    ASSERT_EQ(fx.read("abcdefghijklmnopqrstuvwxyzabcXYZ", {}), kReadComplete);
    EXPECT_EQ(fx.e->symbol, first);
    EXPECT_EQ(fx.symbols[first].name, "abcdefghijklmnopqrstuvwxyzabc");
    fx.pos = 0;
    ASSERT_EQ(fx.read("a.b_c#d:e?f", {}), kReadComplete);
    EXPECT_EQ(fx.symbols[fx.e->symbol].name, "a.b_c#d:e?f");

    // Terminators are consumed, the line's end is not; constants need no tree.
    std::string line = "1+2, 3;} ";
    double v = 0;
    LineReadOptions o;
    o.value = &v;
    const std::pair<int, size_t> steps[] = {{kReadComplete, 4}, {kReadComplete, 7}, {kReadEmpty, 8}, {kReadEmpty, 9}};
    fx.pos = 0;
    for (const auto& [result, pos] : steps) {
        v = 0;
        EXPECT_EQ(fx.read(line, o), result);
        EXPECT_EQ(fx.e, nullptr);
        EXPECT_EQ(v, result == kReadComplete ? 3 : 0);
        EXPECT_EQ(fx.pos, pos);
    }

    // A ")" may end the read when allowed; an expression with a symbol stays a tree.
    o.paren_may_end = true;
    fx.pos = 0;
    v = 0;
    EXPECT_EQ(fx.read("(z+1)*2) rest", o), kReadStopParen);
    EXPECT_EQ(fx.pos, 8u);
    ASSERT_NE(fx.e, nullptr);
    EXPECT_EQ(fx.e->code, kOpTimes);
    EXPECT_EQ(v, 0);
}

TEST(LineReaderResults, RandomLinesEndInAResultOrAReport) {
    static const char alphabet[] = "0123456789.+-*/^(),;} \\abpfgdisumSUMloop_#:?&=\x01\xe9";
    std::mt19937 rng(7);
    for (int n = 0; n < 3000; ++n) {
        Fixture fx;
        fx.err.interactive = n % 2 == 0;
        fx.with_p.paren_may_end = n % 3 == 0;
        fx.with_p.index_forbidden = n % 5 == 0;
        std::string line;
        for (size_t len = rng() % 40; len > 0; --len) line += alphabet[rng() % (sizeof alphabet - 1)];
        try {
            int r = fx.read(line, fx.with_p);
            EXPECT_TRUE(r == kReadEmpty || r == kReadComplete || r == kReadStopParen) << line;
            EXPECT_LE(fx.pos, line.size());
        } catch (const CommandAbandoned&) {
        } catch (const ProgramExit&) {
        }
    }
}

}  // namespace
}  // namespace corvel
