#pragma once
// Measure calls: their argument shapes, their values inside expressions, and
// the output statements that print results.

#include <memory>
#include <string>

#include "model/measure_call.h"
#include "symbols/statement.h"

namespace corvel {

class Interpreter;
class Exponomial;

enum class MeasureShape {
    SysOptNode,        // f ( sys [, node] [; args] )
    SysName,           // f ( sys , name [; args] )
    Sys,               // f ( sys [; args] )
    TimeSys,           // f ( t ; sys [; args] )
    TimeSysOptNode,    // f ( t ; sys [, node] [; args] )
    TimeSysName,       // f ( t ; sys , name [; args] )
    TimeSysCompNode,   // f ( t ; sys , comp [, node] [; args] )
    SysCompNode,       // simpt ( sys , comp [, node] [; args] )
    SysStationChain,   // f ( sys , station [, chain] [; args] )
    SysSemiName,       // f ( sys ; name [; args] )
    Analyze,           // analyze ( sys [, node] [, name ...] [; args] )
    Eval,              // eval ( sys [, node] [; args] ) low high increment [kind]
};

// The shape of a measure keyword; false for keywords that are no measure.
bool measure_shape(Kw kw, MeasureShape& shape);
// The srn measures whose second name is a reward function.
bool is_reward_net_measure(Kw kw);
// Output statements print their result and cannot stand inside an expression.
bool is_output_statement(Kw kw);

// An output statement kept or run at once.
struct OutputStatement : OutputRequest {
    MeasureCall call;
    // eval
    double low = 0.0, high = 0.0, increment = 0.0;
    Kw kind = Kw::Cdf;
};

// Thrown when an output statement stops the run the way a syntax error does
// (a refused evaluation range).
struct ParseStopRequest {};

// Runs an output statement (the separator, the analysis, the printout).
void run_output_statement(Interpreter& in, OutputStatement& st);
// The value of a measure inside an expression.
double evaluate_measure(Interpreter& in, MeasureCall& call);
// The distribution a measure yields where a distribution is expected.
bool measure_distribution(Interpreter& in, MeasureCall& call, Exponomial& out);
// The analysis behind an eval table of the distribution: only numbers are
// asked, so a solver may leave a huge closed form unbuilt and answer from its
// stable route. `out` is the closed form when it was built, empty otherwise.
void measure_table_distribution(Interpreter& in, MeasureCall& call, Exponomial& out);

}  // namespace corvel
