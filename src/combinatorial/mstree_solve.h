#pragma once
// Multi-state fault trees: an event named "comp:k" stands for component comp
// being in state k (a name without a state number is state 0). Each
// component owns ncpstate consecutive variables, one per state, of which at
// most one is true; the gates are built with the multi-state OR and AND, and
// every top event (a gate named top... or TOP...) and every gate keeps its
// diagram, so gates shared between top events are built once.

#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "bdd/bdd.h"
#include "expo/exponomial.h"
#include "model/measure_call.h"

namespace corvel {

class AnalysisContext;
struct SystemRecord;

struct MstreeAnalysis {
    BddManager* m = nullptr;
    int ncpstate = 1;                        // one more than the largest state number
    std::vector<std::string> comp_names;     // by component number (= order rank)
    std::unordered_map<std::string, int> comp_index;
    std::vector<int> record_comp;            // per node record: component, -1 for gates
    std::vector<int> record_state;           // per node record: state number
    std::vector<int> state_record;           // per variable position: node record, -1 unused
    std::vector<int> tops;                   // top events, in declaration order
    std::vector<bdd> gate_bdd;               // per node record: the gate's function
    bool built = false;
    std::vector<char> sum_warned;            // per component: its state sums were reported

    MstreeAnalysis();
    ~MstreeAnalysis();
    MstreeAnalysis(const MstreeAnalysis&) = delete;
    MstreeAnalysis& operator=(const MstreeAnalysis&) = delete;

    int num_comp() const { return static_cast<int>(comp_names.size()); }
};

// Splits an event name into its component and state ("pump:2" -> "pump", 2);
// false when the name carries no state number.
bool split_state_name(const std::string& name, std::string& comp, int& state);

// Builds the diagrams of every top event and gate of the tree.
MstreeAnalysis& analyze_mstree_with_bdd(AnalysisContext& in, SystemRecord& sys);
// The failure-time distribution of top event or gate `rec` under the bound
// component distributions (error 214 for any other record).
Exponomial mstbdd_form_exponomial(AnalysisContext& in, SystemRecord& sys, int rec);

// The dispatcher's entry: builds when needed, binds the components for the
// request and leaves the distribution of the named top event in the record.
void analyze_mstree_system(AnalysisContext& in, SystemRecord& sys, const MeasureCall& call, AnalysisRequest& req);

}  // namespace corvel
