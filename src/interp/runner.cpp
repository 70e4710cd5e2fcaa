#include "interp/runner.h"

#include <cmath>

#include "expo/results.h"
#include "interp/interpreter.h"
#include "symbols/counts.h"

namespace corvel {

const char* const kEpsilonNames[5] = {"results", "findeigen", "sorteigen", "uniform", "basic"};

double& epsilon_by_index(Tolerances& tol, int index) {
    switch (index) {
        case 0: return tol.results_epsilon;
        case 1: return tol.eigen_epsilon;
        case 2: return tol.sort_epsilon;
        case 3: return tol.u_epsilon;
        default: return tol.epsilon;
    }
}

void Runner::print_value_line(int indent, const std::string& text, double value) {
    print_expression_value(in_.out, in_.settings, text, value, indent);
    // An infinite or undefined value (sqrt(-1), an overflow) is printed as
    // it is, and said to be one.
    if (!std::isfinite(value))
        in_.out.printf("%*swarning: %s is not a finite number.\n", indent, "", text.c_str());
}

// A top-level expression statement: a result of its own, one line per
// expression, then a blank line.
void Runner::run_expression_statement(Stmt& st) {
    in_.begin_result();
    for (auto& e : st.exprs) print_value_line(0, e->text, in_.eval.bind_expression(*e));
    in_.out.write("\n");
}

void Runner::do_binding(std::vector<Binding>& list, int indent, bool write_data) {
    in_.invalidate_after_binding();
    for (Binding& b : list) {
        if (!b.expr) in_.err.error(23, kInternal, "", false);
        double v = in_.eval.bind_expression(*b.expr);
        Symbol& s = in_.symbols[b.symbol];
        s.value = v;
        s.bound = true;
        if (indent >= 0) in_.out.printf("%*s%s <- %f\n", indent + 5, "", s.name.c_str(), v);
        if (write_data) in_.write_data(format_string("bind %s %s\n", s.name.c_str(), b.text.c_str()));
    }
}

void Runner::assign_epsilon(Stmt& st, int indent) {
    in_.systems.invalidate_results();
    double v = in_.eval.bind_expression(*st.exprs[0]);
    epsilon_by_index(in_.settings.tol, st.epsilon_which) = v;
    in_.out.printf("\n%*sepsilon %s <- %e\n\n", indent, "", st.epsilon_name.c_str(), v);
    if (!(v > 0.0)) in_.err.error(19, kFatal, "", true);
    // A tolerance of 1 or more (or none at all) leaves the solvers nothing to
    // converge to: uniformization would never find its truncation points.
    const std::string place = "epsilon " + st.epsilon_name;
    check_finite(in_.err, v, place, kFatal);
    if (v >= 1.0) in_.err.error(19, kFatal, count_fault_text(place, v) + ", a tolerance must be below 1", true);
}

void Runner::run_loop(Stmt& loop, int indent, bool top_level) {
    double low = in_.eval.bind_expression(*loop.exprs[0]);
    double high = in_.eval.bind_expression(*loop.exprs[1]);
    double increment = in_.eval.bind_expression(*loop.exprs[2]);
    // Bounds the loop cannot count through: not finite, or more passes than
    // a double counts exactly.
    const std::string place = "loop " + loop.index->name;
    check_finite(in_.err, low, "bound of " + place, kFatal);
    check_finite(in_.err, high, "bound of " + place, kFatal);
    check_finite(in_.err, increment, "increment of " + place, kFatal);
    if (std::fabs(increment) >= in_.settings.tol.epsilon && std::fabs((high - low) / increment) > 9.0e15)
        in_.err.error(116, kFatal, count_fault_text("passes of " + place, std::fabs((high - low) / increment)), true);
    if ((low < high && increment < 0) || (low > high && increment > 0)) {
        in_.out.write("warning: empty loop.\n");
        return;
    }
    if (std::fabs(increment) < in_.settings.tol.epsilon) {
        in_.err.error(151, kWarning, "", true);
        return;
    }
    if (top_level) in_.begin_result();
    Param& index = *loop.index;
    // The k-th point is low + k*increment, so that no end point is lost to
    // accumulated rounding; high is included within a small allowance.
    double allowance = 1e-9 * std::fabs(increment);
    bool single = std::fabs(high - low) < in_.settings.tol.epsilon;
    for (long k = 0;; ++k) {
        double x = low + static_cast<double>(k) * increment;
        if (k > 0) {
            if (single) break;
            if (increment > 0 ? x > high + allowance : x < high - allowance) break;
        }
        in_.eval.count_pass();
        index.value = x;
        in_.out.printf("\n%*s%s=%f\n", indent, "", index.name.c_str(), x);
        run_body(loop.body, indent);
    }
}

void Runner::run_while(Stmt& loop, int indent) {
    in_.first_result = false;
    while (in_.eval.bind_expression(*loop.cond) != 0.0) {
        in_.eval.count_pass();
        run_body(loop.body, indent);
    }
}

void Runner::run_body(StmtList& body, int indent) {
    for (auto& st : body) {
        switch (st->kind) {
            case Stmt::Loop:
                run_loop(*st, indent + 5, false);
                break;
            case Stmt::While:
                run_while(*st, indent + 5);
                break;
            case Stmt::Bind:
                do_binding(st->bindings, indent, true);
                break;
            case Stmt::Epsilon:
                assign_epsilon(*st, indent + 5);
                break;
            case Stmt::If:
                for (IfBranch& b : st->branches) {
                    if (!b.cond || in_.eval.bind_expression(*b.cond) != 0.0) {
                        run_body(b.body, indent + 5);
                        break;
                    }
                }
                break;
            case Stmt::Output:
                in_.run_output(*st->output, indent);
                break;
            case Stmt::Expression:
            case Stmt::ExprList:
                for (auto& e : st->exprs) print_value_line(indent + 5, e->text, in_.eval.bind_expression(*e));
                break;
        }
    }
}

double Runner::run_function_list(StmtList& body, bool& returned) {
    double result = 0.0;
    for (size_t i = 0; i < body.size(); ++i) {
        Stmt& st = *body[i];
        switch (st.kind) {
            case Stmt::Bind:
                do_binding(st.bindings, -1, false);
                break;
            case Stmt::Epsilon:
                assign_epsilon(st, 5);
                break;
            case Stmt::If: {
                for (IfBranch& b : st.branches) {
                    if (!b.cond || in_.eval.bind_expression(*b.cond) != 0.0) {
                        bool inner = false;
                        double v = run_function_list(b.body, inner);
                        // A value produced inside a branch ends the whole function.
                        if (inner) {
                            returned = true;
                            return v;
                        }
                        break;
                    }
                }
                break;
            }
            case Stmt::Expression:
            case Stmt::ExprList:
                for (auto& e : st.exprs) result = in_.eval.bind_expression(*e);
                returned = true;
                break;
            default:
                break;
        }
    }
    return result;
}

double Runner::run_function_body(StmtList& body, bool& returned) {
    returned = false;
    return run_function_list(body, returned);
}

}  // namespace corvel
