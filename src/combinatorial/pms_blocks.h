#pragma once
// The record of a phased-mission system, as its block fills it: the phases
// in order, each with its fault tree and duration.

#include <memory>
#include <vector>

#include "model/system_store.h"

namespace corvel {

// Highest phase number.
constexpr int kMaxPhases = 99;

struct PmsPhase {
    int order = 0;                        // the phase number, 1, 2, ...
    int sys_index = -1;                   // the phase's fault tree in the system store
    std::shared_ptr<Expr> sym_duration;   // as written (null when constant)
    double duration = 0.0;                // constant, or as bound
};

struct PmsAnalysis;

struct PmsModel : ModelData {
    std::vector<PmsPhase> phases;         // index 0 = phase 1
    bool constant_durations = true;       // no duration is symbolic
    bool symbolic_kn = false;             // some phase's tree has a symbolic k or n
    std::shared_ptr<PmsAnalysis> analysis;  // the mission's diagram, kept between queries
};

// The model record of a phased mission (null for other kinds).
PmsModel* pms_model(SystemRecord& sys);

}  // namespace corvel
