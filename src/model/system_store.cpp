#include "model/system_store.h"

namespace corvel {

const char* system_type_text(int type) {
    switch (type) {
        case kSysGraph: return "graph\n";
        case kSysMarkov: return "Markov chain\n";
        case kSysSemimark: return "semi-Markov chain\n";
        case kSysBlock: return "block diagram\n";
        case kSysFtree: return "fault tree\n";
        case kSysRelgraph: return "reliability graph\n";
        case kSysPfqn: return "product form queueing network\n";
        case kSysMpfqn: return "multiple chain product form queueing network\n";
        case kSysGspn: return "generalized stochastic petri net\n";
        case kSysPms: return "phased fault trees\n";
        case kSysMarkovAcyclic: return "acyclic Markov chain\n";
        case kSysMarkovIrreducible: return "irreducible Markov chain\n";
        case kSysMarkovPhase: return "phase-type Markov chain\n";
        case kSysSemimarkAcyclic: return "acyclic semi-Markov chain\n";
        case kSysSemimarkIrreducible: return "irreducible semi-Markov chain\n";
        case kSysSemimarkPhase: return "phase-type semi-Markov chain\n";
        case kSysFtreeRepeated: return "fault tree with repeated nodes\n";
        case kSysFtreeNoRepeat: return "fault tree, no repeated nodes\n";
        case kSysGspnIrreducible: return "irreducible gspn\n";
        case kSysGspnAcyclic: return "acyclic gspn\n";
        case kSysGspnPhase: return "phase-type gspn\n";
        default: return "";
    }
}

int NameTable::find(std::string_view raw, Mode mode) {
    std::string name = significant_name(raw);
    auto it = index_.find(name);
    if (it != index_.end()) return mode == kAdd ? -1 : it->second;
    if (mode == kFind) return -1;
    names_.push_back(name);
    int i = static_cast<int>(names_.size()) - 1;
    index_.emplace(std::move(name), i);
    return i;
}

int NameTable::find(std::string_view raw) const {
    auto it = index_.find(significant_name(raw));
    return it == index_.end() ? -1 : it->second;
}

int SystemRecord::node(std::string_view name, NameTable::Mode mode) {
    int i = names.find(name, mode);
    if (names.size() > static_cast<int>(nodes.size())) nodes.resize(static_cast<size_t>(names.size()));
    return i;
}

int SystemStore::find(std::string_view name) const {
    auto it = index_.find(significant_name(name));
    return it == index_.end() ? -1 : it->second;
}

int SystemStore::create(std::string_view raw_name, int type) {
    std::string name = significant_name(raw_name);
    if (index_.count(name)) return -1;
    SystemRecord r;
    r.name = name;
    r.type = type;
    r.block_kind = type;
    systems_.push_back(std::move(r));
    int i = static_cast<int>(systems_.size()) - 1;
    index_.emplace(std::move(name), i);
    return i;
}

void SystemStore::discard_last() {
    if (systems_.empty()) return;
    index_.erase(systems_.back().name);
    systems_.pop_back();
}

void SystemStore::invalidate_all() {
    for (SystemRecord& s : systems_) s.s_vbound = s.s_tbound = s.s_sbound = s.s_ibound = false;
}

void SystemStore::invalidate_results() {
    for (SystemRecord& s : systems_) s.s_tbound = s.s_sbound = s.s_ibound = false;
}

}  // namespace corvel
