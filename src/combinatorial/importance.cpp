#include "combinatorial/importance.h"

namespace corvel {

bool is_risk_importance(Kw kw) { return kw == Kw::Fvimpt || kw == Kw::Rawimpt || kw == Kw::Rrwimpt; }

bool is_timed_importance(Kw kw) {
    return kw == Kw::Bimpt || kw == Kw::Cimpt || kw == Kw::Rankimpt || is_risk_importance(kw);
}

bool is_component_importance(Kw kw) {
    return kw == Kw::Simpt || kw == Kw::Bimpt || kw == Kw::Cimpt || is_risk_importance(kw);
}

double cofactor_importance(Kw kind, const CofactorProbabilities& c, bool& undefined) {
    undefined = false;
    const double birnbaum = c.q1 - c.q0;
    switch (kind) {
        case Kw::Bimpt:
            return birnbaum;
        case Kw::Cimpt:
        case Kw::Fvimpt:
            if (c.q == 0.0) break;
            return birnbaum * c.p / c.q;
        case Kw::Rawimpt:
            if (c.q == 0.0) break;
            return c.q1 / c.q;
        case Kw::Rrwimpt:
            if (c.q0 == 0.0) break;
            return c.q / c.q0;
        default:
            break;
    }
    undefined = true;
    return 0.0;
}

const char* importance_warning(Kw kind) {
    switch (kind) {
        case Kw::Fvimpt: return "Warning: no Fussell-Vesely importance measure at this time point\n";
        case Kw::Rawimpt: return "Warning: no risk achievement worth at this time point\n";
        case Kw::Rrwimpt: return "Warning: no risk reduction worth at this time point\n";
        default: return "Warning: no criticality importance measurs at this time point\n";
    }
}

}  // namespace corvel
