#pragma once
// Exponomials that are nothing but one real constant term (or no term), held
// in a plain value. A fault tree whose events all have constant
// probabilities has such a value at every node of its decision diagram;
// computing them this way needs no allocation per node.
//
// Each operation gives exactly what the operation of the same name gives on
// the equivalent Exponomial: the same coefficient, the same terms removed
// under the coefficient tolerance, the same drop bounds accumulated in the
// same order. So either representation may be used, and the choice never
// shows in a result or a warning. The coefficient must stay finite (the
// caller checks `finite()` and uses Exponomials otherwise).

#include "expo/exponomial.h"
#include "symbols/settings.h"

namespace corvel {

struct ConstantExpo {
    double a = 0.0;      // the constant's coefficient
    bool has = false;    // false: no term at all (the value 0)
    DropBound dropped;   // what the tolerances discarded

    // True when F is empty or one real constant term with a finite coefficient.
    static bool fits(const Exponomial& F);
    // F as a constant; F must fit.
    static ConstantExpo of(const Exponomial& F);
    Exponomial to_exponomial() const;
    bool finite() const;
};

// dst += src.
void add_expos(const ConstantExpo& src, ConstantExpo& dst, const Tolerances& tol);
// dst −= src.
void subtract_expos(const ConstantExpo& src, ConstantExpo& dst, const Tolerances& tol);
// dst += x·y.
void multiply_expos(const ConstantExpo& x, const ConstantExpo& y, ConstantExpo& dst, const Tolerances& tol);
// F := s − F.
void negate_and_add_scalar(ConstantExpo& F, double s, const Tolerances& tol);
// F := F − s.
void subtract_scalar(ConstantExpo& F, double s, const Tolerances& tol);

}  // namespace corvel
