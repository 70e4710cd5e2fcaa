#pragma once
// A measure call on a system, as read from its argument shape, and what the
// analysis of the system is asked for.

#include <memory>
#include <string>
#include <vector>

#include "model/keywords.h"
#include "symbols/expression.h"

namespace corvel {

class NumericDist;

struct MeasureCall {
    Kw kw = Kw::Cdf;                 // the measure keyword
    std::string keyword;             // as written
    int system = -1;                 // index in the system store
    std::string sys_name;
    std::unique_ptr<Expr> time;      // t of the shapes that start with a time
    bool has_node = false;           // node, state, place, transition, station, comp
    std::string node;
    bool has_second = false;         // chain of the multiple-chain measures, node of bimpt/cimpt/simpt
    std::string second;
    std::vector<std::string> extra;  // further names of analyze
    std::string reward;              // reward function of the srn reward measures
    std::vector<std::unique_ptr<Expr>> args;  // the system's parameters, matched from the back
    std::string text;                // the call's source text
    // The stable route of the distribution last handed over for a chain
    // state (cdf(chain, state) as a component), or null.
    std::shared_ptr<const NumericDist> node_stable;
};

// What the measure needs from the analysis.
struct AnalysisRequest {
    Kw measure = Kw::Cdf;
    bool computing_reward = false;
    bool computing_cdf = false;
    bool transient = false;
    double time = 0.0;
    int node = -1;                   // index of the named node, or -1
    std::string node_name;
    int comp = -1;                   // component of the importance measures
    bool table = false;              // an eval table: numbers only, no listing
};

}  // namespace corvel
