#pragma once
// Settings that the command line and the settings statements change and that
// the readers, solvers and the results formatter consult.

namespace corvel {

// The five tolerances, reached by name through the epsilon statement.
struct Tolerances {
    double epsilon = 1e-11;          // "basic": zero, one and equality tests
    double results_epsilon = 1e-12;  // "results": printed values below it print as 0
    double eigen_epsilon = 1e-14;    // "findeigen"
    double sort_epsilon = 1e-10;     // "sorteigen"
    double u_epsilon = 1e-11;        // "uniform"
    // The most term products one closed-form operation may take, when at
    // least 0 (a test harness's cap; the operations have ceilings of their
    // own).
    double work_limit = -1.0;
};

enum class EigenRoutine { Cg, NewCg };

// The method of the steady-state solutions of chains and nets (-ss).
enum class SteadyMethod { Sor, GaussSeidel, Bicgstab };

enum DebugArea {
    kDebugFtree, kDebugGraph, kDebugRelgraph, kDebugPfqn, kDebugPetri, kDebugMarkov, kDebugBlock,
    kDebugCube, kDebugExpo, kDebugSor, kDebugCorth, kDebugEigen, kDebugMstree, kDebugPms,
    kDebugAreaCount
};

struct Settings {
    Tolerances tol;
    bool verbose = false;
    bool ph_old = true;
    bool use_voronoi = false;
    bool default_semi_conditional = true;
    EigenRoutine find_eigenvalues = EigenRoutine::Cg;
    SteadyMethod steady_method = SteadyMethod::Sor;
    bool imag_on = false;
    int precision = 4;
    int width = 10;
    bool use_factoring = true;
    int factorlimit = 13;
    bool use_bdd = true;
    bool user_turned_bdd_on = false;
    bool time_point_left = true;     // ltimep / rtimep for phased missions
    long pathnum = -1;
    long cutnum = -1;
    double alpha = -1.0;
    double beta = -1.0;
    long runtime = -1;
    int debug[kDebugAreaCount] = {};
    // Cap on the work of one analysis (states explored, diagram nodes, solver
    // steps and sweeps, exponomial terms) and on the loop passes of a run;
    // negative: no cap. Set only where inputs must end quickly (fuzzing).
    // A cap that is reached ends the analysis with the message of the limit
    // it stands for.
    long work_limit = -1;
};

// True when `work` is beyond the work cap.
inline bool beyond_work_limit(const Settings& s, double work) {
    return s.work_limit >= 0 && work > static_cast<double>(s.work_limit);
}

}  // namespace corvel
