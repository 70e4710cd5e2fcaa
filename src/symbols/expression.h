#pragma once
// Expression trees and their evaluation. Both readers (the statement grammar
// and the line-oriented reader of the value prompt) build these nodes; the
// node codes are those of the expression lists of the language's definition.

#include <memory>
#include <string>
#include <vector>

#include "symbols/symbol_table.h"

namespace corvel {

class ErrorReporter;
struct Settings;
struct MeasureCall;

enum ExprCode : int {
    kOpTimes = 0,
    kOpPlus = 1,
    kSymbolRef = 2,
    kOpMinus = 3,
    kOpNegate = 4,
    kOpDivide = 5,
    kConstant = 8,
    kOpPower = 9,
    kOpExp = 10,
    kParamRef = 11,
    kFunctionCall = 12,
    kVariableRef = 13,
    kSum = 56,
    kLoopConstruct = 57,
    kOpAnd = 90,
    kOpOr = 91,
    kOpNot = 92,
    kCmpEqual = 93,
    kCmpNotEqual = 94,
    kCmpGreater = 95,
    kCmpLessEq = 96,
    kCmpLess = 97,
    kCmpGreaterEq = 98,
    kMin = 103,
    kMax = 104,
    kFabs = 105,
    kFloor = 106,
    kCeil = 107,
    kLn = 108,
    kSqrt = 109,
    kSin = 110,
    kCos = 111,
    kTan = 112,
    kAsin = 113,
    kAcos = 114,
    kAtan = 115,
    kMeasure = 1000,       // a measure call on a system
    kPlaceTokens = 1100,   // #(place)
    kTransEnabled = 1101,  // ?(transition)
    kTransRate = 1102,     // Rate(transition)
};

struct Expr {
    int code = kConstant;
    double value = 0.0;          // constant
    int symbol = -1;             // symbol reference, function call
    Param* param = nullptr;      // parameter reference (not owned)
    std::unique_ptr<Param> index;  // the index of a sum (owned)
    std::vector<std::unique_ptr<Expr>> args;  // operands and call arguments
    std::shared_ptr<MeasureCall> measure;     // measure call
    std::string name;            // place or transition name of the net references
    std::string text;            // source text where it is kept

    static std::unique_ptr<Expr> constant(double v);
    static std::unique_ptr<Expr> unary(int code, std::unique_ptr<Expr> operand);
    static std::unique_ptr<Expr> binary(int code, std::unique_ptr<Expr> left, std::unique_ptr<Expr> right);

    // True when the expression refers to no symbol, parameter, call or measure.
    bool is_constant() const;
};

// Services the evaluator needs from the rest of the program.
class EvalHooks {
public:
    virtual ~EvalHooks() = default;
    // Value of a measure call (analyses the system).
    virtual double measure_value(const Expr& call) = 0;
    // A pending symbol without a value in interactive use: asks the user.
    virtual double prompt_value(int symbol) = 0;
    // Runs the statement body of a block function; sets `returned` when the
    // body produced a value.
    virtual double run_function_body(int symbol, bool& returned) = 0;
    // #(place), ?(transition), Rate(transition) inside a net's functions.
    virtual double net_reference(const Expr& ref) = 0;
};

class Evaluator {
public:
    Evaluator(SymbolTable& symbols, const Settings& settings, ErrorReporter& err, EvalHooks& hooks)
        : symbols_(symbols), settings_(settings), err_(err), hooks_(hooks) {}

    double bind_expression(const Expr& e);
    double check_binding(int symbol);
    // Evaluates the actual arguments into the formal parameters; true when no
    // parameter value changed.
    bool bind_parameters(ParamList& params, const std::vector<std::unique_ptr<Expr>>& args);
    double do_operation(int kind, double right, double left);

    // Counts one pass of a loop, while statement or sum; beyond the work cap
    // of the settings the run ends with error 169.
    void count_pass();

    // Limit of nested user-function calls.
    static constexpr int kMaxCallDepth = 299;
    // Limit of nested evaluations of unbound variable definitions.
    static constexpr int kMaxBindingDepth = 4000;

private:
    double call_function(const Expr& call);
    double sum(const Expr& e);

    SymbolTable& symbols_;
    const Settings& settings_;
    ErrorReporter& err_;
    EvalHooks& hooks_;
    int call_depth_ = 0;
    long passes_ = 0;
    int binding_depth_ = 0;
};

}  // namespace corvel
