#include "interp/system_store.h"

#include "symbols/symbol_table.h"

namespace corvel {

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
    systems_.push_back(std::move(r));
    int i = static_cast<int>(systems_.size()) - 1;
    index_.emplace(std::move(name), i);
    return i;
}

void SystemStore::invalidate_all() {
    for (SystemRecord& s : systems_) s.s_vbound = s.s_tbound = s.s_sbound = s.s_ibound = false;
}

void SystemStore::invalidate_results() {
    for (SystemRecord& s : systems_) s.s_tbound = s.s_sbound = s.s_ibound = false;
}

}  // namespace corvel
