#include "symbols/symbol_table.h"

#include "symbols/expression.h"

namespace corvel {

std::string significant_name(std::string_view name) {
    return std::string(name.substr(0, std::min(name.size(), kNameLimit)));
}

int SymbolTable::find_symbol(std::string_view raw_name, Mode mode) {
    std::string name = significant_name(raw_name);
    auto it = index_.find(name);
    switch (mode) {
        case kLookup:
            return it == index_.end() ? -1 : it->second;
        case kLookupOrCreate:
            if (it != index_.end()) return it->second;
            break;
        case kCreate:
            if (it != index_.end()) return -1;
            break;
    }
    Symbol symbol;
    symbol.name = name;
    symbols_.push_back(std::move(symbol));
    int index = static_cast<int>(symbols_.size()) - 1;
    index_.emplace(std::move(name), index);
    return index;
}

void SymbolTable::truncate(int count) {
    while (static_cast<int>(symbols_.size()) > count) {
        index_.erase(symbols_.back().name);
        symbols_.pop_back();
    }
}

void SymbolTable::invalidate_values() {
    for (Symbol& s : symbols_)
        if (s.type != kSymPending) s.bound = false;
}

}  // namespace corvel
