#include "expo/sym_pq.h"

#include <algorithm>
#include <vector>

namespace corvel {

namespace {

std::string product(std::string_view a, std::string_view b) {
    std::string text;
    text.reserve(a.size() + b.size() + 8);
    text.append("(").append(a).append(") * (").append(b).append(")");
    return text;
}

std::string complement(std::string_view a) {
    std::string text("1 - (");
    text.append(a).append(")");
    return text;
}

void append(SymFormula& d, std::string_view piece) {
    if (!d) {
        d = std::string(piece);
        return;
    }
    d->append(" + ").append(piece);
}

// At least k of the n children, k >= 1 and k <= n <= children.size(), each
// child complemented when asked. P[j] holds the sum over the (j+1)-element
// subsets of the children seen so far of the products of their formulas;
// only the degrees that can still reach P[k−1..n−1] are updated.
std::string at_least(std::span<const std::string> children, int k, int n, bool complemented) {
    auto child = [&](int i) {
        const std::string& f = children[static_cast<std::size_t>(i)];
        return complemented ? complement(f) : f;
    };
    std::vector<std::string> P(static_cast<std::size_t>(n));
    P[0] = child(0);
    for (int i = 1; i < n; ++i) {
        const std::string f = child(i);
        P[i] = product(f, P[i - 1]);
        for (int j = i - 1; j >= std::max(0, i - (n - k)); --j) {
            if (j == 0)
                P[0].append(" + ").append(f);
            else
                P[j].append(" + ").append(product(f, P[j - 1]));
        }
    }
    // Inclusion–exclusion: Σ_{m=k..n} (−1)^(m−k)·C(m−1, k−1)·P[m−1].
    SymFormula sum;
    double c = 1.0;
    for (int m = k; m <= n; ++m) {
        sym_scalar_mult_and_add(P[m - 1], c, sum);
        c = -m * c / (m - k + 1);
    }
    return *sum;
}

}  // namespace

std::string sym_leaf(std::string_view name) {
    std::string text("Q(");
    text.append(name).append(")");
    return text;
}

void sym_head_node(SymFormula& d) { d = std::string(); }

void copy_sym_pqcdf(const SymFormula& a, SymFormula& d) { d = a; }

void add_sym_pqcdf(std::string_view a, SymFormula& d) { append(d, a); }

void multiply_sym_pqcdf(std::string_view a, std::string_view b, SymFormula& d) {
    append(d, product(a, b));
}

void sym_scalar_mult_and_add(std::string_view a, double s, SymFormula& d) {
    if (s == 1.0) {
        append(d, a);
        return;
    }
    std::string piece = format_string("%f", s);
    piece.append(" * (").append(a).append(")");
    append(d, piece);
}

void sym_negate_and_add_scalar(SymFormula& d, double s) {
    std::string head = s == 1.0 ? std::string("1") : format_string("%f", s);
    if (d) head.append(" - (").append(*d).append(")");
    d = std::move(head);
}

void sym_convolution_dists(std::string_view a, std::string_view b, SymFormula& d) {
    std::string text("(");
    text.append(b).append(" @ ").append(a).append(")");
    d = std::move(text);
}

void sym_convolution_list(std::span<const std::string> list, SymFormula& d) {
    if (list.empty()) return;
    std::string acc = list[0];
    for (std::size_t i = 1; i < list.size(); ++i) {
        std::string next("(");
        next.append(list[i]).append(" @ ").append(acc).append(")");
        acc = std::move(next);
    }
    d = std::move(acc);
}

void sym_k_of_n_gen(std::span<const std::string> children, SymFormula& d, int k, int n) {
    n = std::min<long long>(n, static_cast<long long>(children.size()));
    if (k <= 0) {
        append(d, "1");
        return;
    }
    if (k > n) {
        append(d, "0");
        return;
    }
    if (k == n) {
        append(d, at_least(children, n, n, false));
        return;
    }
    append(d, complement(at_least(children, n - k + 1, n, true)));
}

void print_sym_p_q_form(Output& out, const SymFormula& formula) {
    out.printf("  %s\n\n", formula ? formula->c_str() : "");
}

}  // namespace corvel
