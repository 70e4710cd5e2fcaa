#pragma once
// The product form of p and q: the structure function of a tree without
// repeated events written as a formula over its components' symbols. The
// operations mirror the numeric exponomial algebra (sum, product, scalar
// multiple, complement, convolution, k out of n) but build readable text.
// Leaves are "Q(name)"; numbers are written with "%f"; "@" is convolution.
//
// A formula that has not accumulated anything yet is std::nullopt; the
// operations that combine into a destination replace its text.

#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "symbols/output.h"

namespace corvel {

using SymFormula = std::optional<std::string>;

// "Q(name)", the formula of a component.
std::string sym_leaf(std::string_view name);

// d := "".
void sym_head_node(SymFormula& d);
// d := a.
void copy_sym_pqcdf(const SymFormula& a, SymFormula& d);
// d := a, or d + " + " + a.
void add_sym_pqcdf(std::string_view a, SymFormula& d);
// d := (a) * (b), or d + " + (a) * (b)".
void multiply_sym_pqcdf(std::string_view a, std::string_view b, SymFormula& d);
// Adds a (s == 1) or "s * (a)" to d with " + ".
void sym_scalar_mult_and_add(std::string_view a, double s, SymFormula& d);
// d := s − d: "s - (d)", or just s when d is null; s == 1 is written "1".
void sym_negate_and_add_scalar(SymFormula& d, double s);
// d := "(b @ a)".
void sym_convolution_dists(std::string_view a, std::string_view b, SymFormula& d);
// d := the convolution of the list from the first to the last:
// A, B, C gives "(C @ (B @ A))". An empty list leaves d unchanged.
void sym_convolution_list(std::span<const std::string> list, SymFormula& d);

// Appends to d (with " + ") the formula of the event that at least k of the
// first n children occur, as the inclusion–exclusion sum over the elementary
// symmetric sums of the children's formulas. Unless k == n it is written as
// the complement of at least n − k + 1 of the complemented children. n is
// limited to the number of children; k <= 0 appends "1", k > n appends "0".
void sym_k_of_n_gen(std::span<const std::string> children, SymFormula& d, int k, int n);

// "  %s\n\n" with the formula (nothing accumulated prints as an empty one).
void print_sym_p_q_form(Output& out, const SymFormula& formula);

}  // namespace corvel
