#pragma once
// The model kinds of the language, in one table: for each, the block keyword
// that defines one, the type codes of its systems, the reader of its block,
// its analysis, and the measures that read its results. The block reader,
// the dispatch of analyses and the measures look a kind up here rather than
// switching on keywords and type codes. Which measures a type accepts is the
// compatibility table (func_sys).

#include <array>

#include "interp/blocks.h"
#include "model/measure_call.h"

namespace corvel {

class Exponomial;
class Interpreter;
struct OutputStatement;
struct SystemRecord;

// Solves a system for a request after its arguments were bound
// (`unchanged`: no parameter value changed since the last analysis).
using KindAnalysis = void (*)(Interpreter& in, SystemRecord& sys, MeasureCall& call, AnalysisRequest& req,
                              bool unchanged);
// The value of a measure inside an expression, after the analysis.
using KindValue = double (*)(Interpreter& in, SystemRecord& sys, MeasureCall& call, const AnalysisRequest& req);
// The distribution a measure yields where a distribution is expected.
using KindDistribution = void (*)(Interpreter& in, SystemRecord& sys, MeasureCall& call,
                                  const AnalysisRequest& req, Exponomial& out);
// The printout of an output statement, after the analysis.
using KindPrint = void (*)(Interpreter& in, SystemRecord& sys, OutputStatement& st, const AnalysisRequest& req);

struct ModelKind {
    Kw keyword;                   // the block keyword
    int type;                     // the type code its block creates
    std::array<int, 3> classes;   // codes classification may give it (0: unused)
    BlockReader reader;
    KindAnalysis analyze;
    KindValue value;
    KindDistribution distribution;  // null: the kind yields no distribution
    KindPrint print;                // null: the kind prints no result
};

// The kind of a block keyword, or null when the keyword starts no block.
const ModelKind* model_kind_of(Kw keyword);
// The kind a system type code (as created or as classified) belongs to, or null.
const ModelKind* model_kind_of_type(int type);

// Analyses of the kinds.
void analyze_combinatorial(Interpreter& in, SystemRecord& sys, MeasureCall& call, AnalysisRequest& req,
                           bool unchanged);
void analyze_chain(Interpreter& in, SystemRecord& sys, MeasureCall& call, AnalysisRequest& req, bool unchanged);
void analyze_mrgp(Interpreter& in, SystemRecord& sys, MeasureCall& call, AnalysisRequest& req, bool unchanged);
void analyze_queue(Interpreter& in, SystemRecord& sys, MeasureCall& call, AnalysisRequest& req, bool unchanged);
void analyze_net(Interpreter& in, SystemRecord& sys, MeasureCall& call, AnalysisRequest& req, bool unchanged);
void analyze_pms(Interpreter& in, SystemRecord& sys, MeasureCall& call, AnalysisRequest& req, bool unchanged);
void analyze_mstree(Interpreter& in, SystemRecord& sys, MeasureCall& call, AnalysisRequest& req, bool unchanged);

// Measures of the kinds. The combinatorial ones serve the models that leave
// a distribution in their record (graphs, block diagrams, fault trees,
// reliability graphs, multi-state trees).
double combinatorial_value(Interpreter& in, SystemRecord& sys, MeasureCall& call, const AnalysisRequest& req);
void combinatorial_distribution(Interpreter& in, SystemRecord& sys, MeasureCall& call, const AnalysisRequest& req,
                                Exponomial& out);
void print_combinatorial_result(Interpreter& in, SystemRecord& sys, OutputStatement& st, const AnalysisRequest& req);
double chain_value(Interpreter& in, SystemRecord& sys, MeasureCall& call, const AnalysisRequest& req);
void chain_distribution(Interpreter& in, SystemRecord& sys, MeasureCall& call, const AnalysisRequest& req,
                        Exponomial& out);
void print_chain_result(Interpreter& in, SystemRecord& sys, OutputStatement& st, const AnalysisRequest& req);
double net_value(Interpreter& in, SystemRecord& sys, MeasureCall& call, const AnalysisRequest& req);
void net_distribution(Interpreter& in, SystemRecord& sys, MeasureCall& call, const AnalysisRequest& req,
                      Exponomial& out);
void print_net_result(Interpreter& in, SystemRecord& sys, OutputStatement& st, const AnalysisRequest& req);
double mrgp_value(Interpreter& in, SystemRecord& sys, MeasureCall& call, const AnalysisRequest& req);
double queue_value(Interpreter& in, SystemRecord& sys, MeasureCall& call, const AnalysisRequest& req);
double pms_value(Interpreter& in, SystemRecord& sys, MeasureCall& call, const AnalysisRequest& req);

}  // namespace corvel
