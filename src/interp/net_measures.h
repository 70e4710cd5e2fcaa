#pragma once
// Measures of stochastic Petri nets as the measure layer prints them or hands
// them on: the distributions of a net and of its markings, the closed forms
// of fprempty, fetok, ftput and futil, and the eval tables. Every number read
// from a closed form goes through the guard, with the transient solution of
// the tangible chain as its stable route.

#include "model/measure_call.h"
#include "interp/tokens.h"

namespace corvel {

class Interpreter;
class Exponomial;
struct SystemRecord;
struct OutputStatement;
struct EvalKind;

// fprempty, fetok, ftput, futil.
bool is_net_form(Kw kw);

// The distribution a net yields where one is expected: cdf(net) the
// absorption CDF (error 21 for an irreducible net), cdf(net, node) the CDF
// of absorption in that marking given that the net ends there (error 111
// for a tangible marking), and the closed forms of fprempty, fetok, ftput
// and futil.
void petri_measure_distribution(Interpreter& in, SystemRecord& sys, const MeasureCall& call, Exponomial& out);

// Prints the result of an output statement on an analysed net: the
// absorption CDF, the printout of one marking, or a closed form.
void print_petri_result(Interpreter& in, SystemRecord& sys, const MeasureCall& call);

// The eval table of a net for the cdf kind (of the net, or of one marking's
// closed form) and for the kinds etokt, premptyt, tputt and utilt (the
// closed forms of fetok, fprempty, ftput and futil evaluated at each
// point). False for a kind left to the generic measure table.
bool print_petri_eval_table(Interpreter& in, OutputStatement& st, const EvalKind& kind);

}  // namespace corvel
