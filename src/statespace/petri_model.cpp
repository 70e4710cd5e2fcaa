// The records of gspn and srn blocks: the model lookup, the marking-dependent
// symbols, and the checked token counts and arc multiplicities.

#include "statespace/petri_blocks.h"

#include "symbols/counts.h"

namespace corvel {

PetriModel* petri_model(SystemRecord& sys) { return dynamic_cast<PetriModel*>(sys.model.get()); }

std::vector<int> marking_dependent_symbols(const SymbolTable& symbols) {
    MarkingSearch search(symbols);
    std::vector<int> found;
    for (int i = 0; i < symbols.size(); ++i) {
        const Symbol& s = symbols[i];
        if (s.type != kSymFunction && s.type != kSymVariable) continue;
        if ((s.exp && !search.in(*s.exp).empty()) || (s.body && search.reaches_body(*s.body))) found.push_back(i);
    }
    return found;
}

long checked_tokens(ErrorReporter& err, double value, const std::string& place, int level) {
    long long n = checked_count(err, value, CountRounding::Nearest, "initial tokens of place " + place, level,
                                kMaxPlaceTokens, CountBeyond::Clamp);
    if (n < 0) err.error(177, kFatal, ": place " + place, true);
    if (n > kMaxPlaceTokens) err.error(200, level, place, true);
    return static_cast<long>(n);
}

int checked_multiplicity(ErrorReporter& err, double value, bool srn, const std::string& arc) {
    return static_cast<int>(
        checked_count(err, value, srn ? CountRounding::Nearest : CountRounding::Truncate, arc, kFatal));
}

}  // namespace corvel
