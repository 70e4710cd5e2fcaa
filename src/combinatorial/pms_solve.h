#pragma once
// Phased missions solved with one decision diagram over every phase needed.
//
// Each component owns `nphase` consecutive variables, one per phase, the
// later phases first: the variable of component i in phase j (j counted from
// 0) sits at order position (i + 1)·nphase − j − 1 and is true when the
// component has failed by the end of phase j. A failed component stays
// failed, so a path that finds the component working in phase j finds it
// working in every earlier phase; the phase functions are combined with the
// phase-ordered disjunction that keeps the diagram consistent with that.

#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "bdd/bdd.h"
#include "model/measure_call.h"

namespace corvel {

class AnalysisContext;
struct SystemRecord;

struct PmsAnalysis {
    BddManager* m = nullptr;
    int nphase = 0;                            // phases in the diagram
    std::vector<std::string> comp_names;       // by component number (= order rank)
    std::unordered_map<std::string, int> comp_index;
    // Per component and phase (comp·nphase + j): node-table index + 1 of the
    // component in that phase's tree, 0 when the phase does not use it.
    std::vector<int> compmap;
    // Per phase and component (j·ncomp + comp): probability of having failed
    // by the end of phase j (by t in the last phase needed).
    std::vector<double> p;
    bdd b_root = kBddNull;
    double p_res = 0.0;
    double time = 0.0;                         // t of the last evaluation
    int last_phase = 0;                        // phase containing t (0-based)

    PmsAnalysis();
    ~PmsAnalysis();
    PmsAnalysis(const PmsAnalysis&) = delete;
    PmsAnalysis& operator=(const PmsAnalysis&) = delete;

    int ncomp() const { return static_cast<int>(comp_names.size()); }
    long position(int comp, int phase) const { return static_cast<long>(comp + 1) * nphase - phase - 1; }
    bool present(int comp, int phase) const {
        return phase < nphase && compmap[static_cast<size_t>(comp) * nphase + phase] != 0;
    }
    double failed_by(int comp, int phase) const { return p[static_cast<size_t>(phase) * ncomp() + comp]; }
};

// Prepares (or reuses) the diagram for the phases up to the one containing
// t, binds the in-phase probabilities and leaves P(mission failed by t) in
// p_res.
PmsAnalysis& analyze_pms_with_bdd(AnalysisContext& in, SystemRecord& sys, double t);
// Probability of `f` (a function on the mission's manager) under the bound
// phase probabilities.
double pms_evaluate(const PmsAnalysis& a, bdd f);
// Structural, Birnbaum or criticality importance of component `comp` in
// phase `phase` (1-based) at the time of the last analysis. The measure
// table offers no importance measure for missions, so this is reached by
// callers of the solver only.
double pms_importance(AnalysisContext& in, SystemRecord& sys, const std::string& comp, int phase, Kw kind);

// The dispatcher's entry for phased missions and the measure values.
void analyze_pms_system(AnalysisContext& in, SystemRecord& sys, const MeasureCall& call, AnalysisRequest& req);
double pms_measure_value(AnalysisContext& in, SystemRecord& sys, const MeasureCall& call, const AnalysisRequest& req);

}  // namespace corvel
