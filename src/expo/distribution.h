#pragma once
// Distribution specifications: what the user wrote for a component, edge or
// transition time (or a "poly" definition), kept symbolic so that it can be
// turned into an exponomial again after every change of bindings.

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "expo/exponomial.h"
#include "symbols/expression.h"

namespace corvel {

class ErrorReporter;
class Output;
struct Settings;

enum DistType {
    kDistSystem = 1,        // cdf of a system
    kDistSystemState = 2,   // cdf of a system and one of its states
    kDistGenConst = 3,      // gen with constant terms, zero, inf
    kDistGenSym = 4,        // gen with symbolic terms
    kDistCgenConst = 5,
    kDistCgenSym = 6,
    kDistTgenConst = 7,
    kDistTgenSym = 8,
    kDistNamed = 9,         // name(args) of a poly definition or a built-in
    kDistWeibull = 10,      // weibull(b, c)
};

enum class TermMode { Gen = 4, Cgen = 6, Tgen = 8 };

// One symbolic term. A field whose expression is null holds its constant in
// the matching double.
struct SymField {
    std::unique_ptr<Expr> expr;
    double value = 0.0;
};

enum class TrigKind { None, Sin, Cos };

struct SymTerm {
    SymField a;     // coefficient (gen, tgen) or its real part (cgen)
    SymField a_c;   // cgen: imaginary coefficient; tgen: the frequency
    SymField k;     // power of t
    SymField b;     // rate (real part)
    SymField b_c;   // cgen: imaginary rate
    TrigKind trig = TrigKind::None;  // tgen only
};

// The measure call of a "cdf(...)" specification; its meaning belongs to the
// measure layer.
struct MeasureCall;

struct DistSpec {
    int type = kDistGenConst;
    Exponomial num;                          // types 3, 5, 7
    std::vector<SymTerm> terms;              // types 4, 6, 8, in the order written
    int symbol = -1;                         // type 9: the distribution symbol
    std::vector<std::unique_ptr<Expr>> args; // type 9 arguments; type 10: b and c
    std::shared_ptr<MeasureCall> subsystem;  // types 1 and 2
    std::string text;                        // the text as the user wrote it
};

// Turns symbolic term lists into exponomials: evaluated fields, inserted
// terms, and the validity checks with their numbered errors. The system
// distributions of types 1 and 2 come from the measure layer through a hook.
class DistributionBinder {
public:
    using SystemHook = std::function<bool(const DistSpec& spec, Exponomial& out, int level)>;

    DistributionBinder(SymbolTable& symbols, const Settings& settings, ErrorReporter& err, Evaluator& eval)
        : symbols_(symbols), settings_(settings), err_(err), eval_(eval) {}

    SystemHook system_hook;

    // Produces the exponomial of `spec` for the current symbol values into
    // `out` (emptied first). Validity errors are reported with ERR at `level`
    // naming `first`/`second`; returns false after a reported error that
    // returns (levels 1 and 5 never occur here, so normally the report ends the
    // command or the run).
    bool bind_distribution(const DistSpec& spec, Exponomial& out, int level, const std::string& first,
                           const std::string& second);

    // The symbolic-to-numeric step with its checks.
    bool bind_sym_expo(TermMode mode, const std::vector<SymTerm>& terms, Exponomial& out, int level,
                       const std::string& first, const std::string& second);

    // weibull(b, c) at time t: the one-term constant 1 - e^(-t^c/b); error 207
    // for parameters that are not positive. A named distribution (type 9)
    // whose body is a Weibull is bound through its parameters first.
    Exponomial tvalue_weibull(double t, const DistSpec& spec);

private:
    SymbolTable& symbols_;
    const Settings& settings_;
    ErrorReporter& err_;
    Evaluator& eval_;
    int depth_ = 0;  // nesting of named distributions being bound
};

// The distribution of the time to absorption in a state given that the run
// ends there: `dist` divided by the probability `prob` of ending there, or the
// never-happens distribution (a single zero constant term) when that
// probability is below epsilon. For the system hook of type 2.
void conditional_absorption(const Exponomial& dist, double prob, Exponomial& out, const Tolerances& tol);

// 1 - e^(-t^c / b)
double weibull(double t, double b, double c);

// Help texts.
void print_dist_types(Output& out);
void print_builtin_dists(Output& out);

// The built-in definition library, one statement per line.
extern const char* const kBuiltinLibrary[];
extern const int kBuiltinLibraryLines;

}  // namespace corvel
