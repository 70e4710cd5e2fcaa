#pragma once
// The symbol table: variables, functions, named distributions and pending
// symbols (referenced before any value was given). Entries are never removed;
// an entry's index is its identity for the whole run.

#include <deque>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace corvel {

struct Expr;
struct Stmt;
struct DistSpec;

// Significant characters of a name.
constexpr size_t kNameLimit = 29;

// A formal parameter of a function, a distribution or a system, or a loop index.
struct Param {
    std::string name;
    double value = 0.0;
};

// A list of formal parameters in the order they were written.
using ParamList = std::vector<std::unique_ptr<Param>>;

enum SymbolKind {
    kSymPending = 2,
    kSymFunction = 12,
    kSymVariable = 13,
    kSymDistribution = 14,
};

struct Symbol {
    std::string name;
    int type = kSymPending;
    bool bound = false;       // `value` is current
    bool depfunc = false;     // a dependence function
    std::shared_ptr<Expr> exp;            // defining expression (variable, expression function)
    std::shared_ptr<std::vector<std::unique_ptr<Stmt>>> body;  // statement body of a block function
    std::shared_ptr<DistSpec> dist;       // body of a named distribution
    double value = 0.0;
    ParamList params;
    bool builtin = false;     // installed by the built-in library
};

class SymbolTable {
public:
    enum Mode { kLookup = 1, kLookupOrCreate = 2, kCreate = 3 };

    // Index of the symbol, or -1. kLookup: -1 when absent; kLookupOrCreate:
    // creates a pending entry when absent; kCreate: -1 when the name exists.
    // Names compare on their first 29 characters.
    int find_symbol(std::string_view name, Mode mode);

    Symbol& operator[](int index) { return symbols_[static_cast<size_t>(index)]; }
    const Symbol& operator[](int index) const { return symbols_[static_cast<size_t>(index)]; }
    int size() const { return static_cast<int>(symbols_.size()); }

    // Drops the entries created after the table had `count` entries (a failed
    // read discards the pending symbols it created).
    void truncate(int count);

    // Clears the cached value of every symbol that is not pending.
    void invalidate_values();

private:
    std::deque<Symbol> symbols_;
    std::unordered_map<std::string, int> index_;
};

std::string significant_name(std::string_view name);

}  // namespace corvel
