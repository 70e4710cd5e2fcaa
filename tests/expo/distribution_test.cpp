// Binding distribution specifications: the exponomials they produce, the
// numbered validity errors with their exact texts, named distributions bound
// through their parameters, and Weibull at a time point.

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "expo/distribution.h"
#include "symbols/errors.h"
#include "symbols/settings.h"

namespace corvel {
namespace {

struct NoHooks : EvalHooks {
    double measure_value(const Expr&) override { return 0.0; }
    double prompt_value(int) override { return 0.0; }
    double run_function_body(int, bool& returned) override { return returned = false, 0.0; }
    double net_reference(const Expr&) override { return 0.0; }
};

SymField num(double v) {
    SymField f;
    f.value = v;
    return f;
}

// -p, or p itself.
SymField param(Param& p, bool negated) {
    auto ref = std::make_unique<Expr>();
    ref->code = kParamRef;
    ref->param = &p;
    SymField f;
    f.expr = negated ? Expr::unary(kOpNegate, std::move(ref)) : std::move(ref);
    return f;
}

// Terms from flat field lists: gen a,k,b; cgen a,a',k,b,c; tgen a,k,b,trig,w
// with trig 0 none, 1 sin, 2 cos.
std::vector<SymTerm> terms_of(TermMode mode, std::initializer_list<double> fields) {
    std::vector<double> v(fields);
    size_t n = mode == TermMode::Gen ? 3 : 5;
    std::vector<SymTerm> terms;
    for (size_t i = 0; i + n <= v.size(); i += n) {
        SymTerm t;
        const double* f = &v[i];
        if (mode == TermMode::Cgen) {
            t.a = num(f[0]), t.a_c = num(f[1]), t.k = num(f[2]), t.b = num(f[3]), t.b_c = num(f[4]);
        } else {
            t.a = num(f[0]), t.k = num(f[1]), t.b = num(f[2]);
            if (mode == TermMode::Tgen) {
                t.trig = f[3] == 1 ? TrigKind::Sin : f[3] == 2 ? TrigKind::Cos : TrigKind::None;
                t.a_c = num(f[4]);
            }
        }
        terms.push_back(std::move(t));
    }
    return terms;
}

std::string node_error(const std::string& message) { return "error: " + message + ": node A (f: line    1).\n"; }

class DistributionTest : public ::testing::Test {
protected:
    DistributionTest() {
        err.interactive = false;
        err.location_source = [] { return SourceLocation{"f", 1}; };
    }

    // Runs `f`, which must end the run; returns what was printed.
    std::string exit_text(const std::function<void()>& f) {
        text.clear();
        try {
            f();
        } catch (const ProgramExit& e) {
            EXPECT_EQ(e.status, kExitFailure);
            return text;
        }
        ADD_FAILURE() << "the run did not end";
        return text;
    }

    bool bind(TermMode mode, std::initializer_list<double> fields, Exponomial& F) {
        return binder.bind_sym_expo(mode, terms_of(mode, fields), F, kFatal, "A", "");
    }
    std::string bind_error(TermMode mode, std::initializer_list<double> fields) {
        Exponomial F;
        return exit_text([&] { bind(mode, fields, F); });
    }
    double at(const Exponomial& F, double t) const { return evaluate_expo(F, t, settings.tol); }

    std::string text;
    Output out{&text};
    ErrorReporter err{out};
    SymbolTable symbols;
    Settings settings;
    NoHooks hooks;
    Evaluator eval{symbols, settings, err, hooks};
    DistributionBinder binder{symbols, settings, err, eval};
};

constexpr TermMode kGen = TermMode::Gen, kCgen = TermMode::Cgen, kTgen = TermMode::Tgen;

TEST_F(DistributionTest, GenTermsBecomeCanonicalExponomials) {
    Exponomial F;
    ASSERT_TRUE(bind(kGen, {1, 0, 0, -1, 0, -2}, F));
    ASSERT_EQ(F.size(), 2u);
    EXPECT_EQ(F[0], (Term{1.0, 0.0, 0, 0.0, 0.0}));
    EXPECT_EQ(F[1], (Term{-1.0, 0.0, 0, -2.0, 0.0}));
    for (double t : {0.0, 0.3, 4.0}) EXPECT_NEAR(at(F, t), 1.0 - std::exp(-2.0 * t), 1e-14) << t;

    // Alike terms merge; one that cancels disappears.
    ASSERT_TRUE(bind(kGen, {0.5, 0, 0, 0.5, 0, 0, -1, 0, -3, 1, 0, -3, -1, 0, -3}, F));
    ASSERT_EQ(F.size(), 2u);
    EXPECT_EQ(F[0].e_a, 1.0);
    EXPECT_EQ(F[1].e_a, -1.0);
    // A fractional power is truncated: -0.5 is power 0.
    ASSERT_TRUE(bind(kGen, {1, -0.5, 0}, F));
    EXPECT_EQ(F, Exponomial::constant(1.0));
    // Never happens: the zero term is kept.
    ASSERT_TRUE(bind(kGen, {0, 0, 0}, F));
    EXPECT_EQ(F, Exponomial::constant(0.0));
    EXPECT_TRUE(text.empty());
}

TEST_F(DistributionTest, TermChecksReportTheFirstViolation) {
    EXPECT_EQ(bind_error(kGen, {1, 1, 0}), node_error("b zero, k not zero"));
    EXPECT_EQ(bind_error(kGen, {1, 0, 0, -1, 0, 2}), node_error("exponent of e must be <= 0"));
    EXPECT_EQ(bind_error(kGen, {1, -1, -1}), node_error("power of t must be non-negative"));
    EXPECT_EQ(bind_error(kCgen, {1, 0, 0, 0, 1}), node_error("real(b) zero, complex(b) not zero"));
    EXPECT_EQ(bind_error(kCgen, {0, 1, 0, 0, 0}), node_error("real(b) zero, complex(a) not zero"));
    EXPECT_EQ(bind_error(kCgen, {1, 1, 0, -1, 0}), node_error("complex(b) zero, complex(a) not zero"));
    EXPECT_EQ(bind_error(kCgen, {1, 1, 0, -1, 2}), node_error("function is not real valued"));
    // Conjugate rates, but the imaginary coefficients are not opposite.
    EXPECT_EQ(bind_error(kCgen, {0.5, 1, 0, -1, 2, 0.5, 1, 0, -1, -2}), node_error("function is not real valued"));
    // An unmatched complex term waits to the end, so a later violation wins.
    EXPECT_EQ(bind_error(kCgen, {1, 1, 1, -1, 2, 1, 0, 0, 1, 0}), node_error("exponent of e must be <= 0"));

    // Edge names, and the interactive retry without location.
    Exponomial F;
    EXPECT_EQ(exit_text([&] { binder.bind_sym_expo(kGen, terms_of(kGen, {1, 1, 0}), F, kFatal, "A", "B"); }),
              "error: b zero, k not zero: edge A to B (f: line    1).\n");
    err.interactive = true;
    text.clear();
    EXPECT_THROW(binder.bind_sym_expo(kGen, terms_of(kGen, {1, 1, 0}), F, kInputError, "A", ""), CommandAbandoned);
    EXPECT_EQ(text, "error: b zero, k not zero: node A.  Try again.\n");
    EXPECT_TRUE(F.empty());
}

TEST_F(DistributionTest, ValueAtZeroAndLimitChecks) {
    EXPECT_EQ(bind_error(kGen, {2, 0, 0}), node_error("distribution is more than one at zero"));
    EXPECT_EQ(bind_error(kGen, {-0.5, 0, 0}), node_error("distribution is less than zero at zero"));
    EXPECT_EQ(bind_error(kGen, {2, 0, 0, -2, 0, -1}), node_error("limit at infinity of distribution is more than one"));
    EXPECT_EQ(bind_error(kGen, {0.5, 0, 0, 0.5, 0, -1}), node_error("limit at infinity is less than value at zero"));
    // F(0) = 0 with a negative limit.
    EXPECT_EQ(bind_error(kGen, {-1, 0, 0, 1, 0, -1}), node_error("limit at infinity is less than value at zero"));
    // Within epsilon of the bounds is accepted.
    const double eps = settings.tol.epsilon;
    Exponomial F;
    EXPECT_TRUE(bind(kGen, {1 + 0.5 * eps, 0, 0}, F));
    EXPECT_TRUE(bind(kGen, {-0.5 * eps, 0, 0}, F));
}

TEST_F(DistributionTest, TrigonometricAndComplexTermsAreRealFunctions) {
    Exponomial F;
    ASSERT_TRUE(bind(kTgen, {1, 0, -1, 1, 2}, F));
    ASSERT_EQ(F.size(), 2u);
    for (double t : {0.0, 0.25, 0.7, 1.5, 3.0}) EXPECT_NEAR(at(F, t), std::exp(-t) * std::sin(2 * t), 1e-14) << t;

    // 1 - e^(-t)·cos(3t) - 2t·e^(-2t)·sin(t/2)
    ASSERT_TRUE(bind(kTgen, {1, 0, 0, 0, 0, -1, 0, -1, 2, 3, -2, 1, -2, 1, 0.5}, F));
    for (double t : {0.0, 0.4, 2.5})
        EXPECT_NEAR(at(F, t), 1 - std::exp(-t) * std::cos(3 * t) - 2 * t * std::exp(-2 * t) * std::sin(0.5 * t), 1e-14);

    // sin(0·t) is 0 and cos(0·t) is 1.
    ASSERT_TRUE(bind(kTgen, {1, 0, 0, 1, 0, 0.25, 0, 0, 2, 0}, F));
    EXPECT_EQ(F, Exponomial::constant(0.25));

    // A conjugate cgen pair: 1 - e^(-t)·(cos 2t + sin 2t).
    ASSERT_TRUE(bind(kCgen, {1, 0, 0, 0, 0, -0.5, 0.5, 0, -1, 2, -0.5, -0.5, 0, -1, -2}, F));
    for (double t : {0.0, 0.3, 2.0})
        EXPECT_NEAR(at(F, t), 1 - std::exp(-t) * (std::cos(2 * t) + std::sin(2 * t)), 1e-14) << t;
}

TEST_F(DistributionTest, BindingByType) {
    // gen 1,0,0, -1,0,-u: re-evaluated at every binding.
    Param u{"u", 3.0};
    DistSpec sym;
    sym.type = kDistGenSym;
    sym.terms = terms_of(kGen, {1, 0, 0, -1, 0, 0});
    sym.terms[1].b = param(u, true);
    Exponomial F = Exponomial::constant(7.0);  // replaced, not added to
    ASSERT_TRUE(binder.bind_distribution(sym, F, kFatal, "A", ""));
    EXPECT_NEAR(at(F, 0.5), 1 - std::exp(-1.5), 1e-14);
    u.value = -1.0;
    EXPECT_EQ(exit_text([&] { binder.bind_distribution(sym, F, kFatal, "A", ""); }),
              node_error("exponent of e must be <= 0"));

    DistSpec inf;
    inf.num = Exponomial::constant(0.0);
    ASSERT_TRUE(binder.bind_distribution(inf, F, kFatal, "A", ""));
    EXPECT_EQ(F, Exponomial::constant(0.0));
    double pz = -1, pi = -1, pc = -1;
    separate(F, pz, pi, pc, settings.tol.epsilon, nullptr, settings.tol);
    EXPECT_EQ(pi, 1.0);

    DistSpec weib;
    weib.type = kDistWeibull;
    ASSERT_TRUE(binder.bind_distribution(weib, F, kFatal, "A", ""));
    EXPECT_TRUE(F.empty());

    DistSpec system;
    system.type = kDistSystemState;
    int seen_level = 0;
    binder.system_hook = [&](const DistSpec&, Exponomial& out, int level) {
        seen_level = level;
        out = Exponomial::constant(0.5);
        return true;
    };
    ASSERT_TRUE(binder.bind_distribution(system, F, kInputError, "A", ""));
    EXPECT_EQ(seen_level, kInputError);
    EXPECT_EQ(F, Exponomial::constant(0.5));
    binder.system_hook = nullptr;
    EXPECT_EQ(exit_text([&] { binder.bind_distribution(system, F, kFatal, "A", ""); }),
              "internal error: unexpected system type\n");

    DistSpec bad;
    bad.type = 42;
    EXPECT_EQ(exit_text([&] { binder.bind_distribution(bad, F, kFatal, "A", ""); }),
              "internal error: unknown distribution type\n");
}

TEST_F(DistributionTest, AbsorptionGivenTheStateIsReached) {
    Exponomial dist;
    insert_term(0.25, 0.0, 0, 0.0, 0.0, dist, settings.tol);
    insert_term(-0.25, 0.0, 0, -3.0, 0.0, dist, settings.tol);
    Exponomial F;
    conditional_absorption(dist, 0.25, F, settings.tol);
    EXPECT_NEAR(at(F, 1.0), 1 - std::exp(-3.0), 1e-14);
    // Never reached: never happens, and no division.
    conditional_absorption(dist, 1e-13, F, settings.tol);
    EXPECT_EQ(F, Exponomial::constant(0.0));
}

class NamedDistributionTest : public DistributionTest {
protected:
    // poly name(p) with the body built by `make` from the parameter.
    int define(const char* name, const std::function<std::shared_ptr<DistSpec>(Param&)>& make) {
        int index = symbols.find_symbol(name, SymbolTable::kCreate);
        Symbol& s = symbols[index];
        s.type = kSymDistribution;
        s.params.push_back(std::make_unique<Param>(Param{"p", 0.0}));
        s.dist = make(*s.params[0]);
        return index;
    }
    // poly ex(p) gen 1,0,0, -1,0,-p
    int define_exp() {
        return define("ex", [](Param& p) {
            auto body = std::make_shared<DistSpec>();
            body->type = kDistGenSym;
            body->terms = terms_of(kGen, {1, 0, 0, -1, 0, 0});
            body->terms[1].b = param(p, true);
            return body;
        });
    }
    DistSpec call(int symbol, double arg) {
        DistSpec spec;
        spec.type = kDistNamed;
        spec.symbol = symbol;
        spec.args.push_back(Expr::constant(arg));
        return spec;
    }
};

TEST_F(NamedDistributionTest, ArgumentsBindTheParameters) {
    int ex = define_exp();
    Exponomial F;
    ASSERT_TRUE(binder.bind_distribution(call(ex, 2.0), F, kInputError, "A", ""));
    ASSERT_EQ(F.size(), 2u);
    EXPECT_EQ(F[0], (Term{1.0, 0.0, 0, 0.0, 0.0}));
    EXPECT_EQ(F[1], (Term{-1.0, 0.0, 0, -2.0, 0.0}));
    ASSERT_TRUE(binder.bind_distribution(call(ex, 0.5), F, kInputError, "A", ""));
    EXPECT_NEAR(at(F, 2.0), 1 - std::exp(-1.0), 1e-14);
}

TEST_F(NamedDistributionTest, BodyErrorsEndTheRunEvenWhenTheCallerRetries) {
    err.interactive = true;
    int ex = define_exp();
    Exponomial F;
    EXPECT_EQ(exit_text([&] { binder.bind_distribution(call(ex, -2.0), F, kInputError, "A", "B"); }),
              "error: exponent of e must be <= 0: edge A to B.\n");
    EXPECT_EQ(exit_text([&] { binder.bind_distribution(call(99, 1.0), F, kFatal, "A", ""); }),
              "internal error: unknown distribution type\n");
}

TEST_F(NamedDistributionTest, WeibullAtATimePoint) {
    EXPECT_DOUBLE_EQ(weibull(2.0, 4.0, 2.0), 1 - std::exp(-1.0));
    EXPECT_EQ(weibull(0.0, 4.0, 2.0), 0.0);

    auto weib = [](std::unique_ptr<Expr> b, std::unique_ptr<Expr> c) {
        auto spec = std::make_shared<DistSpec>();
        spec->type = kDistWeibull;
        spec->args.push_back(std::move(b));
        spec->args.push_back(std::move(c));
        return spec;
    };
    EXPECT_EQ(binder.tvalue_weibull(3.0, *weib(Expr::constant(4), Expr::constant(2))),
              Exponomial::constant(1 - std::exp(-9.0 / 4.0)));

    // poly wb(p) weibull(8, p), called as wb(3).
    int wb = define("wb", [&](Param& p) {
        auto ref = std::make_unique<Expr>();
        ref->code = kParamRef;
        ref->param = &p;
        return weib(Expr::constant(8), std::move(ref));
    });
    EXPECT_EQ(binder.tvalue_weibull(2.0, call(wb, 3.0)), Exponomial::constant(1 - std::exp(-1.0)));

    for (auto [b, c] : {std::pair{0.0, 2.0}, std::pair{1.0, -1.0}})
        EXPECT_EQ(exit_text([&] { binder.tvalue_weibull(1.0, *weib(Expr::constant(b), Expr::constant(c))); }),
                  "error: weibull parameters must be positive (f: line    1).\n");
}

}  // namespace
}  // namespace corvel
