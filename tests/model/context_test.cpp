// The analysis context without an interpreter: a solver-side caller reaches
// the distribution of another system only through the context's service.

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "model/context.h"

namespace corvel {
namespace {

struct NoHooks : EvalHooks {
    double measure_value(const Expr&) override { return 0.0; }
    double prompt_value(int) override { return 0.0; }
    double run_function_body(int, bool&) override { return 0.0; }
    double net_reference(const Expr&) override { return 0.0; }
};

// Answers every system distribution with the constant probability of the
// system's index, and counts the requests.
class FixedContext : public AnalysisContext {
public:
    explicit FixedContext(EvalHooks& hooks, std::string* capture) : AnalysisContext(hooks, capture) {}
    bool system_distribution(MeasureCall& call, Exponomial& result) override {
        ++asked;
        last_system = call.system;
        if (call.system < 0) return false;
        result = Exponomial::constant(0.25 * call.system);
        return true;
    }
    int asked = 0;
    int last_system = -1;
};

TEST(AnalysisContext, SystemDistributionsGoThroughTheService) {
    NoHooks hooks;
    std::string captured;
    FixedContext ctx(hooks, &captured);
    DistSpec spec;
    spec.type = kDistSystem;
    spec.subsystem = std::make_shared<MeasureCall>();
    spec.subsystem->system = 2;
    Exponomial F;
    ASSERT_TRUE(ctx.dist_binder.bind_distribution(spec, F, kFatal, "a", "b"));
    EXPECT_EQ(ctx.asked, 1);
    EXPECT_EQ(ctx.last_system, 2);
    EXPECT_DOUBLE_EQ(evaluate_expo(F, 3.0, ctx.settings.tol), 0.5);

    // A state of a system takes the same route; a refusal reaches the caller.
    spec.type = kDistSystemState;
    spec.subsystem->system = -1;
    EXPECT_FALSE(ctx.dist_binder.bind_distribution(spec, F, kFatal, "a", "b"));
    EXPECT_EQ(ctx.asked, 2);
    EXPECT_EQ(captured, "");
}

TEST(AnalysisContext, OutputGoesToTheCapture) {
    NoHooks hooks;
    std::string captured;
    FixedContext ctx(hooks, &captured);
    ctx.print_allocations();
    ctx.out.flush();
    EXPECT_NE(captured.find("\nexponomial allocations: 0\n"), std::string::npos);
    EXPECT_NE(captured.find("term_list allocations: 0\n"), std::string::npos);
}

}  // namespace
}  // namespace corvel
