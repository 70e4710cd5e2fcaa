#pragma once
// Evaluation tables of the eval statement, one layout per kind.
//
// Every kind is one row of a table (eval_kind): how its table looks and
// which measure supplies its values. There are two families:
//  - distribution tables (cdf, reward): a distribution of the system, and of
//    each of its separate paths, evaluated at every point, under the header
//    of print_eval_header with the kind's variable letter;
//  - measure tables (exrt, cexrt and the net kinds etokt ... tavtputt): one
//    number per point, the value at that time of the measure of the same
//    name, under print_r_header with the kind's label, the measured place or
//    transition named first.
// A model kind makes an eval kind work by answering the measure itself:
// measure_distribution for cdf and reward, evaluate_measure at a time point
// for the others. Nothing here needs to change for a new solver.

#include <functional>
#include <optional>
#include <string_view>

#include "expo/results.h"
#include "interp/tokens.h"

namespace corvel {

class Interpreter;
struct OutputStatement;

enum class MeasuredElement { None, Place, Transition };

struct EvalKind {
    Kw kind;
    bool distribution;        // a distribution table (else a measure table)
    char variable;            // distribution tables: 't' time, 'r' reward
    TimeMeasure label;        // measure tables: the column label
    MeasuredElement element;  // measure tables of nets: the element named by the node
};

// The row of an eval kind; nullptr for a keyword that is no eval kind.
const EvalKind* eval_kind(Kw kw);

// Refuses an eval request the system cannot answer, before anything is
// analysed or printed: the system type must accept eval and the kind (error
// 21), the node must fit eval's rule and the kind's (errors 105 and 13), and
// the net kinds need their place or transition (error 13). All level 2.
void check_eval_request(Interpreter& in, const OutputStatement& st);

// Runs a checked eval statement whose range passed check_eval_range: the
// title, then the kind's table.
void run_eval(Interpreter& in, OutputStatement& st);

// A measure table: the title, the measured element, the header and one row
// per point with value_at(t), then a blank line.
void print_measure_table(Output& out, const Settings& settings, const EvalKind& kind,
                         std::string_view system, std::optional<std::string_view> element, double from,
                         double to, double increment, const std::function<double(double)>& value_at);

}  // namespace corvel
