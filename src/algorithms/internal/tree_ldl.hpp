// M = Lᵀ D L along the tree of velocity coordinates: L unit lower
// triangular and nonzero only where column c is an ancestor coordinate of
// row r, so the factor and its solves cost O(nv·depth). Private to
// src/algorithms; used by computeABADerivatives and the constrained dynamics.
#pragma once

#include <cstddef>

#include "../../data/data.hpp"
#include "../../model/model.hpp"

namespace lumo {

// Sizes the tree lists and the factor in data (on first use only).
void size_tree_factor(Data& data, std::size_t nv);

// The coordinate tree: within a joint each coordinate hangs from the one
// before it, the first from the last coordinate of the nearest moving
// ancestor; parents come before children, so every subtree ends at the
// largest index it holds. Writes data.coordinate_parent, coordinate_end and
// coordinate_depth; returns the number of entries of L (one per coordinate
// and ancestor).
std::size_t coordinate_tree(const Model& model, Data& data);

// Which triangle of M holds its entries: crba fills the upper one, the
// derivative passes the full matrix (read below the diagonal).
enum class Triangle { lower, upper };

// factorM: M = Lᵀ D L along the coordinate tree (from the leaves up), into
// data.ldl_factor (column-major, (k, j) at [j·nv + k] for k ≥ j: L below
// the diagonal, D on it). For each coordinate k and each ancestor i of k,
// L[k, i] = M[k, i] / D_k and M[i, j] −= L[k, i] M[k, j] for the ancestors
// j of i (i included); the fill stays on the ancestor paths.
void factorM(const MatrixX& M, Data& data, Triangle triangle);

// X ← M⁻¹ X for X row-major (nv rows of `cols` numbers, row r at X + r·ld),
// by the factors of factorM: Lᵀ y = x from the leaves up, z = D⁻¹ y, L x = z
// from the root down, each step a row operation over all the columns.
void solveM_rows(Data& data, double* X, std::size_t ld, std::size_t cols);

// D^(-1/2) into data.ldl_scale, after factorM.
void factor_scale(Data& data);

// The two halves of the solve, column by column, M⁻¹ = L⁻¹ D^(-1/2) · D^(-1/2) L⁻ᵀ, with
// D^(-1/2) from factor_scale:
// X ← D^(-1/2) L⁻ᵀ X (from the leaves up; a column's zeros below its
// nonzeros are skipped, so a column held on one support path costs that
// path), and X ← L⁻¹ D^(-1/2) X (from the root down).
void solveHalfUp_columns(const Data& data, double* X, std::size_t ld, std::size_t cols);
void solveHalfDown_columns(const Data& data, double* X, std::size_t ld, std::size_t cols);

}  // namespace lumo
