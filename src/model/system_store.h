#pragma once
// The store of defined systems (models): one record per model, found by name.
// The record holds what every kind shares — name, type code, parameters, the
// name table, per-node and per-edge records, the cached-result flags and the
// result distribution. What only one kind needs hangs from `model`, a record
// type of that kind's own module.

#include <deque>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "expo/distribution.h"
#include "expo/exponomial.h"
#include "expo/numeric_dist.h"
#include "symbols/symbol_table.h"

namespace corvel {

// System type codes.
enum SystemType {
    kSysGraph = 1,
    kSysMarkov = 2,
    kSysSemimark = 3,
    kSysBlock = 4,
    kSysFtree = 5,
    kSysRelgraph = 6,
    kSysPfqn = 7,
    kSysMpfqn = 8,
    kSysGspn = 9,
    kSysPms = 42,
    kSysMstree = 45,
    kSysMarkovAcyclic = 140,
    kSysMarkovIrreducible = 141,
    kSysMarkovPhase = 142,
    kSysSemimarkAcyclic = 143,
    kSysSemimarkIrreducible = 144,
    kSysSemimarkPhase = 145,
    kSysFtreeRepeated = 146,
    kSysFtreeNoRepeat = 147,
    kSysGspnIrreducible = 148,
    kSysGspnAcyclic = 149,
    kSysGspnPhase = 150,
    kSysSrn = 500,
    kSysSrnAcyclic = 501,
    kSysSrnPhase = 502,
    kSysSrnIrreducible = 503,
    kSysMrgp = 3001,
};

// The text printed after "system %s: " for a type ("" for the kinds without one).
const char* system_type_text(int type);

// Names in insertion order with hashed lookup; 29 significant characters.
class NameTable {
public:
    enum Mode { kFind = 1, kFindOrAdd = 2, kAdd = 3 };
    // Index of the name or -1 (kFind; kAdd when it exists already).
    int find(std::string_view name, Mode mode);
    int find(std::string_view name) const;
    const std::string& operator[](int i) const { return names_[static_cast<size_t>(i)]; }
    int size() const { return static_cast<int>(names_.size()); }
    const std::vector<std::string>& names() const { return names_; }

private:
    std::vector<std::string> names_;
    std::unordered_map<std::string, int> index_;
};

// Per-node record of graphs, block diagrams, fault trees and multi-state trees,
// indexed like the name table.
struct NodeInfo {
    std::vector<int> succ;              // successor (child) indices
    int entry = 0;                      // node type code, or how a graph node is entered
    std::shared_ptr<Expr> prob_sym;     // branch probability as written (null when constant)
    double prob = 1.0;                  // branch probability as bound
    bool has_prob = false;              // a branch probability was given
    std::shared_ptr<DistSpec> udist;    // the node's distribution as written
    Exponomial dist;                    // ... and as bound
    bool has_dist = false;
    std::shared_ptr<const NumericDist> stable;  // stable route of a cdf(system) distribution, as bound
    std::shared_ptr<DistSpec> rudist;   // optional repair distribution
    Exponomial rdist;
    double failure_rate = 0.0;
    double repair_rate = 0.0;
    std::shared_ptr<Expr> n_sym, k_sym; // k-of-n arguments as written
    int n = 0, k = 0;
    int transfer_index = -1;
    int num_copies = 0;
    int save_num_copies = 0;
    bool transferred_to = false;
    bool defined = false;               // the node has its own line
    std::string display_name;           // name in an imported file, when ours had to be mapped
};

// Arc of a chain or edge of a reliability graph.
struct EdgeRecord {
    int from = -1, to = -1;
    std::shared_ptr<DistSpec> udist;    // distribution as written
    Exponomial dist;
    std::shared_ptr<DistSpec> rudist;   // optional repair distribution
    Exponomial rdist;
    double failure_rate = 0.0, repair_rate = 0.0;
    double prob = 0.0;                  // branch probability of a chain arc
    std::shared_ptr<Expr> symrate;      // rate as written
    double rate = 0.0;                  // rate as bound
    bool is_repeat = false;
    int repeat = -1;
    bool regen = false;                 // general transition of a regenerative process
    bool bidirect = false;
};

// Kind-specific data of a system; each model module derives its own.
struct ModelData {
    virtual ~ModelData() = default;
};

struct SystemRecord {
    std::string name;
    int type = 0;
    int block_kind = 0;                 // the block keyword's code, kept after classification
    ParamList params;
    NameTable names;
    std::vector<NodeInfo> nodes;        // indexed like names (tree and graph kinds)
    std::vector<EdgeRecord> edges;
    std::unique_ptr<ModelData> model;

    bool multpath = false;
    bool semi_conditional = true;
    bool coherent = true;
    bool is_relgraph_repeat = false;
    bool readprobs = false;
    int numpaths = 0;

    Exponomial s_dist;                  // the result distribution
    bool has_dist = false;
    // The stable route to the same distribution, when the solver has one
    // (trees, blocks, graphs); numbers are recomputed through it when the
    // closed form is not trusted. has_dist may be false when only numbers
    // were asked and the closed form was not built.
    std::shared_ptr<const NumericDist> s_stable;

    // Which cached analyses are current.
    bool s_vbound = false;
    bool s_tbound = false;
    bool s_sbound = false;
    bool s_ibound = false;
    double s_time = 0.0;
    double s_mttf = 0.0;                // mean time from the set A to the set F of a chain
    bool s_reward = false;
    bool analysed_once = false;         // parameters have been bound at least once
    int cache_mode = -1;
    bool discarded = false;             // the block defined nothing; the store drops it                // how components were bound for the cached result

    // Adds (or finds) a node name; keeps `nodes` as long as `names`.
    int node(std::string_view name, NameTable::Mode mode = NameTable::kFindOrAdd);
};

class SystemStore {
public:
    // Index of the system or -1.
    int find(std::string_view name) const;
    // Creates a record; -1 when the name is already used.
    int create(std::string_view name, int type);
    SystemRecord& operator[](int i) { return systems_[static_cast<size_t>(i)]; }
    int size() const { return static_cast<int>(systems_.size()); }

    // Removes the most recently created system (a block abandoned while it
    // was being read).
    void discard_last();

    // Marks every analysis of every system stale.
    void invalidate_all();
    // Marks the time-dependent, symbolic and irreducible results stale.
    void invalidate_results();

private:
    std::deque<SystemRecord> systems_;
    std::unordered_map<std::string, int> index_;
};

}  // namespace corvel
