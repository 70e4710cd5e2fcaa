// Statement behaviour that the golden cases cannot observe from the output
// alone: function-value caching, the data file, settings.

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "interp/interpreter.h"
#include "symbols/expression.h"

namespace corvel {
namespace {

// Counts how often a function body is really evaluated: the body holds a
// measure node, and every evaluation of it asks the hooks for its value.
struct CountingHooks : EvalHooks {
    int measures = 0;
    double measure_value(const Expr&) override { return ++measures; }
    double prompt_value(int) override { return 0; }
    double run_function_body(int, bool& returned) override {
        returned = false;
        return 0;
    }
    double net_reference(const Expr&) override { return 0; }
};

struct Fixture {
    std::string text;
    Output out{&text};
    ErrorReporter err{out};
    Settings settings;
    SymbolTable symbols;
    CountingHooks hooks;
    Evaluator eval{symbols, settings, err, hooks};

    // f(params) = x + <measure>
    int define(const char* name, bool with_param) {
        int f = symbols.find_symbol(name, SymbolTable::kCreate);
        Symbol& s = symbols[f];
        s.type = kSymFunction;
        auto body = std::make_shared<Expr>();
        body->code = kOpPlus;
        auto m = std::make_unique<Expr>();
        m->code = kMeasure;
        if (with_param) {
            s.params.push_back(std::make_unique<Param>());
            s.params[0]->name = "x";
            auto p = std::make_unique<Expr>();
            p->code = kParamRef;
            p->param = s.params[0].get();
            body->args.push_back(std::move(p));
        } else {
            body->args.push_back(Expr::constant(0));
        }
        body->args.push_back(std::move(m));
        s.exp = body;
        return f;
    }

    double call(int f, std::vector<double> args) {
        Expr c;
        c.code = kFunctionCall;
        c.symbol = f;
        for (double a : args) c.args.push_back(Expr::constant(a));
        return eval.bind_expression(c);
    }
};

TEST(FunctionCaching, SameArgumentsRunTheBodyOnce) {
    Fixture fx;
    int f = fx.define("f", true);
    EXPECT_EQ(fx.call(f, {2}), 3);  // 2 + first measure
    EXPECT_EQ(fx.call(f, {2}), 3);  // cached
    EXPECT_EQ(fx.hooks.measures, 1);
    EXPECT_EQ(fx.call(f, {5}), 7);  // new argument: 5 + second measure
    EXPECT_EQ(fx.hooks.measures, 2);
    fx.symbols.invalidate_values();  // what a binding does
    EXPECT_EQ(fx.call(f, {5}), 8);
    EXPECT_EQ(fx.hooks.measures, 3);
}

TEST(FunctionCaching, ParameterlessFunctionsRunEveryTime) {
    Fixture fx;
    int g = fx.define("g", false);
    fx.call(g, {});
    fx.call(g, {});
    fx.call(g, {});
    EXPECT_EQ(fx.hooks.measures, 3);
}

TEST(Operations, DivisionGuardFollowsTheBasicTolerance) {
    Fixture fx;
    EXPECT_THROW(fx.eval.do_operation(kOpDivide, 1e-12, 1), ProgramExit);
    EXPECT_EQ(fx.text, "error: division by zero.\n");
    fx.settings.tol.epsilon = 1e-15;
    EXPECT_DOUBLE_EQ(fx.eval.do_operation(kOpDivide, 1e-12, 1), 1e12);
    EXPECT_EQ(fx.eval.do_operation(kOpAnd, 2, 0), 0);
    EXPECT_EQ(fx.eval.do_operation(kOpOr, 0, -1), 1);
    EXPECT_EQ(fx.eval.do_operation(kOpNot, 0, 0), 1);
}

void run(Interpreter& in, const std::string& program) {
    std::istringstream s(program);
    in.parse_stream(s, "t.crv");
}

TEST(DataFile, HoldsSettingsAndBindingsOnly) {
    char path[] = "/tmp/corvel_datafile_XXXXXX";
    int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    close(fd);
    std::string text;
    Interpreter in(&text);
    ASSERT_TRUE(in.open_data_file(path));
    in.err.interactive = true;  // data-file mode reads the console
    run(in,
        "verbose on\nvar v 3\nbind x 2*v\nfactor off\nphnew\nvoronoi on\nverbose off\n"
        "bind\ny x+1\nz  4\nend\nexpr y\nphold\nfactor on\nformat 5\n");
    std::ifstream f(path);
    std::stringstream got;
    got << f.rdbuf();
    EXPECT_EQ(got.str(),
              "verbose on\nbind x 2*v\nfactor off\nphnew\nvoronoi on\nverbose off\n"
              "bind y x+1\nbind z 4\nphold\nfactor on\n");
    std::remove(path);
}

TEST(Settings, StatementsChangeTheSettings) {
    std::string text;
    Interpreter in(&text);
    in.err.interactive = false;
    run(in, "factorlimit 2.9\nbdd off\nimag on\nphnew\neigen1\nepsilon sorteigen 1e-9\ndebug petri\nformat 3\n");
    EXPECT_EQ(in.settings.factorlimit, 2);
    EXPECT_FALSE(in.settings.use_bdd);
    EXPECT_FALSE(in.settings.user_turned_bdd_on);
    EXPECT_TRUE(in.settings.imag_on);
    EXPECT_FALSE(in.settings.ph_old);
    EXPECT_EQ(in.settings.find_eigenvalues, EigenRoutine::NewCg);
    EXPECT_DOUBLE_EQ(in.settings.tol.sort_epsilon, 1e-9);
    EXPECT_EQ(in.settings.debug[kDebugPetri], 1);
    EXPECT_EQ(in.settings.precision, 3);
    EXPECT_EQ(in.settings.width, 9);
    EXPECT_EQ(text, "cannot use eigen1 with phnew; using eigen2\n\nepsilon sorteigen <- 1.000000e-09\n\n");
}

TEST(Bindings, ClearTheCachesOfEverySystem) {
    std::string text;
    Interpreter in(&text);
    in.err.interactive = false;
    int s = in.systems.create("sys", kSysBlock);
    in.systems[s].s_vbound = in.systems[s].s_sbound = in.systems[s].s_tbound = in.systems[s].s_ibound = true;
    run(in, "epsilon basic 1e-10\n");
    EXPECT_TRUE(in.systems[s].s_vbound);  // tolerances leave the bound parameters alone
    EXPECT_FALSE(in.systems[s].s_sbound || in.systems[s].s_tbound || in.systems[s].s_ibound);
    in.systems[s].s_sbound = true;
    run(in, "bind q 1\n");
    EXPECT_FALSE(in.systems[s].s_vbound || in.systems[s].s_sbound);
}

}  // namespace
}  // namespace corvel
