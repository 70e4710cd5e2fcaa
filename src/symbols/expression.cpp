#include "symbols/expression.h"
#include "symbols/counts.h"

#include <cmath>

#include "symbols/errors.h"
#include "symbols/settings.h"

namespace corvel {

std::unique_ptr<Expr> Expr::constant(double v) {
    auto e = std::make_unique<Expr>();
    e->code = kConstant;
    e->value = v;
    return e;
}

std::unique_ptr<Expr> Expr::unary(int code, std::unique_ptr<Expr> operand) {
    auto e = std::make_unique<Expr>();
    e->code = code;
    e->args.push_back(std::move(operand));
    return e;
}

std::unique_ptr<Expr> Expr::binary(int code, std::unique_ptr<Expr> left, std::unique_ptr<Expr> right) {
    auto e = std::make_unique<Expr>();
    e->code = code;
    e->args.push_back(std::move(left));
    e->args.push_back(std::move(right));
    return e;
}

bool Expr::is_constant() const {
    switch (code) {
        case kSymbolRef:
        case kVariableRef:
        case kParamRef:
        case kFunctionCall:
        case kSum:
        case kLoopConstruct:
        case kMeasure:
        case kPlaceTokens:
        case kTransEnabled:
        case kTransRate:
            return false;
        default:
            break;
    }
    for (const auto& a : args)
        if (!a->is_constant()) return false;
    return true;
}

double Evaluator::do_operation(int kind, double a, double b) {
    switch (kind) {
        case kOpTimes: return b * a;
        case kOpPlus: return b + a;
        case kOpMinus: return b - a;
        case kOpNegate: return -a;
        case kOpDivide:
            if (std::fabs(a) < settings_.tol.epsilon) err_.error(64, kFatal, "", false);
            return b / a;
        case kOpPower: return std::pow(b, a);
        case kOpExp: return std::exp(a);
        case kOpAnd: return (a == 0.0 || b == 0.0) ? 0.0 : 1.0;
        case kOpOr: return (a != 0.0 || b != 0.0) ? 1.0 : 0.0;
        case kOpNot: return a == 0.0 ? 1.0 : 0.0;
        default:
            err_.error(1, kInternal, "", false);
            return 0.0;
    }
}

double Evaluator::check_binding(int index) {
    Symbol& s = symbols_[index];
    if (s.bound) return s.value;
    if (s.type == kSymPending) {
        if (!err_.interactive) err_.error(76, kFatal, s.name, true);
        double v = hooks_.prompt_value(index);
        Symbol& again = symbols_[index];
        again.value = v;
        again.bound = true;
        return v;
    }
    if (s.exp == nullptr) {
        // A function or distribution name used as a value has no expression.
        err_.error(38, kInputError, s.name, true);
        return 0.0;
    }
    // Each unbound definition met while evaluating another one nests a level
    // deeper; a chain of definitions longer than the limit is refused rather
    // than allowed to overflow the stack.
    if (binding_depth_ >= kMaxBindingDepth)
        err_.error(6, kFatal, format_string(": definitions nested more than %d deep at %s", kMaxBindingDepth, s.name.c_str()),
                   true);
    std::shared_ptr<Expr> keep = s.exp;
    ++binding_depth_;
    struct DepthGuard {
        int& depth;
        ~DepthGuard() { --depth; }
    } guard{binding_depth_};
    double v = bind_expression(*keep);
    Symbol& again = symbols_[index];
    again.value = v;
    again.bound = true;
    return v;
}

bool Evaluator::bind_parameters(ParamList& params, const std::vector<std::unique_ptr<Expr>>& args) {
    std::vector<double> values;
    values.reserve(args.size());
    for (const auto& a : args) values.push_back(bind_expression(*a));
    bool unchanged = true;
    // Arguments are matched to the parameters from the back.
    size_t n = std::min(values.size(), params.size());
    for (size_t i = 0; i < n; ++i) {
        Param& p = *params[params.size() - 1 - i];
        double v = values[values.size() - 1 - i];
        if (p.value != v) {
            p.value = v;
            unchanged = false;
        }
    }
    return unchanged;
}

double Evaluator::call_function(const Expr& call) {
    Symbol& f = symbols_[call.symbol];
    bool unchanged = bind_parameters(f.params, call.args);
    Symbol& fn = symbols_[call.symbol];
    if (!unchanged || !fn.bound) {
        if (call_depth_ >= kMaxCallDepth) {
            err_.out().write("Call too deep function\n");
            err_.exit_program(kExitFailure);
        }
        ++call_depth_;
        struct DepthGuard {
            int& depth;
            ~DepthGuard() { --depth; }
        } guard{call_depth_};
        double v = 0.0;
        if (fn.body) {
            bool returned = false;
            v = hooks_.run_function_body(call.symbol, returned);
            if (!returned) {
                err_.out().flush();
                std::fprintf(stderr, "Warning: Function %s has no return value!\n", symbols_[call.symbol].name.c_str());
            }
        } else if (fn.exp) {
            std::shared_ptr<Expr> keep = fn.exp;
            v = bind_expression(*keep);
        }
        Symbol& after = symbols_[call.symbol];
        after.value = v;
        after.bound = true;
    }
    Symbol& done = symbols_[call.symbol];
    double result = done.value;
    // A function without parameters is recomputed at every call.
    if (done.params.empty()) done.bound = false;
    return result;
}

void Evaluator::count_pass() {
    // Under a work cap the passes of the whole run count: an endless while
    // loop ends like a run that exhausts its memory.
    if (beyond_work_limit(settings_, static_cast<double>(++passes_))) err_.error(169, kFatal, "", true);
}

double Evaluator::sum(const Expr& e) {
    // args: low, high, body; the index parameter is owned by the node.
    double low = bind_expression(*e.args[0]);
    double high = bind_expression(*e.args[1]);
    if (low > high) std::swap(low, high);
    // A range that cannot be counted through one by one.
    for (double v : {low, high})
        if (!std::isfinite(v)) err_.error(116, kFatal, count_fault_text("bound of sum", v), true);
    if (high - low > 9.0e15) err_.error(116, kFatal, count_fault_text("passes of sum", high - low), true);
    double total = 0.0;
    Param* index = e.index.get();
    // The k-th point is low + k; the bound is compared with a small allowance
    // so that accumulated rounding cannot drop the last point.
    for (long k = 0;; ++k) {
        double i = low + static_cast<double>(k);
        if (i > high + 1e-9) break;
        count_pass();
        index->value = i;
        total += bind_expression(*e.args[2]);
    }
    return total;
}

double Evaluator::bind_expression(const Expr& e) {
    switch (e.code) {
        case kConstant: return e.value;
        case kParamRef: return e.param->value;
        case kSymbolRef:
        case kVariableRef: return check_binding(e.symbol);
        case kFunctionCall: return call_function(e);
        case kSum: return sum(e);
        case kLoopConstruct: err_.error(201, kInternal, "", false); return 0.0;
        case kMeasure: return hooks_.measure_value(e);
        case kPlaceTokens:
        case kTransEnabled:
        case kTransRate: return hooks_.net_reference(e);
        case kMin: {
            double a = bind_expression(*e.args[0]);
            double b = bind_expression(*e.args[1]);
            return a > b ? b : a;
        }
        case kMax: {
            double a = bind_expression(*e.args[0]);
            double b = bind_expression(*e.args[1]);
            return a < b ? b : a;
        }
        case kFabs: return std::fabs(bind_expression(*e.args[0]));
        case kFloor: return std::floor(bind_expression(*e.args[0]));
        case kCeil: return std::ceil(bind_expression(*e.args[0]));
        case kLn: return std::log(bind_expression(*e.args[0]));
        case kSqrt: return std::sqrt(bind_expression(*e.args[0]));
        case kSin: return std::sin(bind_expression(*e.args[0]));
        case kCos: return std::cos(bind_expression(*e.args[0]));
        case kTan: return std::tan(bind_expression(*e.args[0]));
        case kAsin: return std::asin(bind_expression(*e.args[0]));
        case kAcos: return std::acos(bind_expression(*e.args[0]));
        case kAtan: return std::atan(bind_expression(*e.args[0]));
        case kCmpEqual:
        case kCmpNotEqual:
        case kCmpGreater:
        case kCmpLessEq:
        case kCmpLess:
        case kCmpGreaterEq: {
            double a = bind_expression(*e.args[0]);
            double b = bind_expression(*e.args[1]);
            bool r = false;
            switch (e.code) {
                case kCmpEqual: r = a == b; break;
                case kCmpNotEqual: r = a != b; break;
                case kCmpGreater: r = a > b; break;
                case kCmpLessEq: r = a <= b; break;
                case kCmpLess: r = a < b; break;
                default: r = a >= b; break;
            }
            return r ? 1.0 : 0.0;
        }
        case kOpNegate:
        case kOpExp:
        case kOpNot: return do_operation(e.code, bind_expression(*e.args[0]), 0.0);
        default: {
            if (e.args.size() != 2) {
                err_.error(2, kInternal, "", false);
                return 0.0;
            }
            double left = bind_expression(*e.args[0]);
            double right = bind_expression(*e.args[1]);
            return do_operation(e.code, right, left);
        }
    }
}

}  // namespace corvel
