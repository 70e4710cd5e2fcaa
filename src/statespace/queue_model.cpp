// The records of pfqn and mpfqn blocks: chains found by name, stations by
// their place in the name table.

#include "statespace/queue_blocks.h"

namespace corvel {

int QueueModel::find_chain(std::string_view name) const {
    auto it = chain_index_.find(significant_name(name));
    return it == chain_index_.end() ? -1 : it->second;
}

int QueueModel::add_chain(std::string_view raw) {
    std::string name = significant_name(raw);
    if (chain_index_.count(name)) return -1;
    int k = static_cast<int>(chains.size());
    chain_index_.emplace(name, k);
    chains.emplace_back();
    chains.back().name = std::move(name);
    return k;
}

Station* QueueModel::station_at(int name) {
    if (name < 0 || name >= static_cast<int>(station_of_name.size())) return nullptr;
    int s = station_of_name[static_cast<size_t>(name)];
    return s < 0 ? nullptr : &stations[static_cast<size_t>(s)];
}

QueueModel* queue_model(SystemRecord& sys) { return dynamic_cast<QueueModel*>(sys.model.get()); }

}  // namespace corvel
