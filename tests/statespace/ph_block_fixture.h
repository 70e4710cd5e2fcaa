#pragma once
// Phase-type blocks written as arc lists, for the tests of the closed-form
// routes.

#include <vector>

#include <Eigen/Dense>

#include "statespace/phase_type.h"

namespace corvel {

struct PhArc {
    int from, to;
    double rate;
};

// A generator over n positions whose first nt are transient.
inline PhBlock ph_test_block(int n, int nt, const std::vector<PhArc>& arcs) {
    PhBlock b;
    b.nt = nt;
    b.a = Eigen::MatrixXd::Zero(n, n);
    for (const PhArc& a : arcs) {
        b.a(a.from, a.to) += a.rate;
        b.a(a.from, a.from) -= a.rate;
    }
    for (int i = 0; i < n; ++i) b.state.push_back(i);
    return b;
}

}  // namespace corvel
