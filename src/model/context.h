#pragma once
// The analysis context handed to every solver: the output channel, the error
// reporter, the settings, the tables the models refer to (symbols, systems)
// with the evaluator that binds rate expressions at the current parameter
// values, and the services that only the language layer can give. The
// interpreter owns one and implements those services.

#include <string>

#include "expo/distribution.h"
#include "expo/exponomial.h"
#include "model/measure_call.h"
#include "model/system_store.h"
#include "symbols/errors.h"
#include "symbols/expression.h"
#include "symbols/output.h"
#include "symbols/settings.h"
#include "symbols/symbol_table.h"

namespace corvel {

class AnalysisContext {
public:
    // `hooks` answers the evaluator's measure calls, prompts and function
    // bodies; `capture`, when given, receives the output instead of stdout.
    explicit AnalysisContext(EvalHooks& hooks, std::string* capture = nullptr);
    virtual ~AnalysisContext() = default;
    AnalysisContext(const AnalysisContext&) = delete;
    AnalysisContext& operator=(const AnalysisContext&) = delete;

    Output out;
    ErrorReporter err;
    Settings settings;
    SymbolTable symbols;
    SystemStore systems;
    Evaluator eval;
    // Turns distribution specifications into exponomials; cdf(...) of another
    // system goes to system_distribution.
    DistributionBinder dist_binder;

    // The distribution of another system, named by a measure call (cdf(sys)
    // or cdf(sys, node) as a component): the system is analysed through the
    // measure layer. False after a reported error that returns.
    virtual bool system_distribution(MeasureCall& call, Exponomial& result) = 0;

    // The allocation counters of the debug statement "alloc".
    void print_allocations();
};

}  // namespace corvel
