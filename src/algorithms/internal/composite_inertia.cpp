#include "composite_inertia.hpp"

#include <algorithm>

namespace lumo {
namespace {

// Y·(v, ω) for Y about the world origin (mass m, first moment h = m·c,
// rotational inertia I_o about the origin):
//   f = m v − h × ω,   n = I_o ω + h × v.
inline void origin_apply(const OriginInertia& Y, const double* J, double* f, double* n) {
  const double* I = Y.inertia.data();
  const double hx = Y.first_moment.x(), hy = Y.first_moment.y(), hz = Y.first_moment.z();
  const double vx = J[0], vy = J[1], vz = J[2], wx = J[3], wy = J[4], wz = J[5];
  f[0] = Y.mass * vx - (hy * wz - hz * wy);
  f[1] = Y.mass * vy - (hz * wx - hx * wz);
  f[2] = Y.mass * vz - (hx * wy - hy * wx);
  n[0] = ((I[0] * wx + I[1] * wy) + I[3] * wz) + (hy * vz - hz * vy);
  n[1] = ((I[1] * wx + I[2] * wy) + I[4] * wz) + (hz * vx - hx * vz);
  n[2] = ((I[3] * wx + I[4] * wy) + I[5] * wz) + (hx * vy - hy * vx);
}

// col[r] = J_rᵀ·(f, n) for the rows r in [lo, hi), from the transposed
// Jacobian T (component k of row r at T[k·nv + r]): row after row along
// memory, which the compiler turns into vector instructions.
inline void project_rows(const double* T, std::size_t nv, const double* f, const double* n, std::size_t lo,
                         std::size_t hi, double* col) {
  const double f0 = f[0], f1 = f[1], f2 = f[2], n0 = n[0], n1 = n[1], n2 = n[2];
  const double *t0 = T, *t1 = T + nv, *t2 = T + 2 * nv, *t3 = T + 3 * nv, *t4 = T + 4 * nv, *t5 = T + 5 * nv;
  for (std::size_t r = lo; r < hi; ++r)
    col[r] = ((t0[r] * f0 + t1[r] * f1) + t2[r] * f2) + ((t3[r] * n0 + t4[r] * n1) + t5[r] * n2);
}

}  // namespace

void mass_matrix_forward_step(const Model& model, Data& data, JointIndex i) {
  const std::size_t iv = model.idx_v[i], n = model.nv_joint[i];
  const auto nv = static_cast<std::size_t>(data.j.cols());
  const double* J = data.j.data();
  double* T = data.j_transposed.data();
  for (std::size_t c = iv; c < iv + n; ++c)
    for (std::size_t k = 0; k < 6; ++k) T[k * nv + c] = J[6 * c + k];
  // The parent's runs, with i's rows added to the last one when adjacent
  // (a joint without rows shares its parent's).
  const Data::RowRun& parent = data.ancestor_runs[model.parents[i]];
  Data::RowRun& run = data.ancestor_runs[i];
  if (n == 0)
    run = parent;
  else if (parent.hi == iv)
    run = {parent.lo, iv + n, parent.rest};
  else
    run = {iv, iv + n, static_cast<long>(model.parents[i])};
}

void mass_matrix_columns(const Model& model, Data& data, JointIndex i, const OriginInertia& Y,
                         Eigen::Ref<Eigen::MatrixXd> mass_matrix, Matrix6X* momentum) {
  const std::size_t iv = model.idx_v[i], nvi = model.nv_joint[i];
  const auto ld = static_cast<std::size_t>(mass_matrix.outerStride());
  const auto nv = static_cast<std::size_t>(data.j.cols());
  double* const M = mass_matrix.data();
  const double* const J = data.j.data();
  const double* const T = data.j_transposed.data();
  const Data::RowRun* const runs = data.ancestor_runs.data();
  for (std::size_t k = 0; k < nvi; ++k) {
    const std::size_t c = iv + k;
    double fn[6];  // Y·J_c: force, then moment
    origin_apply(Y, J + 6 * c, fn, fn + 3);
    if (momentum != nullptr) {
      double* out = momentum->data() + 6 * c;
      for (int e = 0; e < 6; ++e) out[e] = fn[e];
    }
    double* col = M + c * ld;
    // M[r, c] = J_rᵀ·(Y·J_c): the joint's own rows up to the diagonal with
    // the adjacent ancestor rows before them, then the other runs of
    // ancestor rows, each run below the one before; the rows between runs
    // and above the first (other branches) are zero.
    project_rows(T, nv, fn, fn + 3, runs[i].lo, c + 1, col);
    std::size_t lo = runs[i].lo;
    for (long a = runs[i].rest; a >= 0; a = runs[a].rest) {
      std::fill(col + runs[a].hi, col + lo, 0.0);
      project_rows(T, nv, fn, fn + 3, runs[a].lo, runs[a].hi, col);
      lo = runs[a].lo;
    }
    std::fill(col, col + lo, 0.0);
  }
}

void composite_step(const Model& model, Data& data, JointIndex i, Eigen::Ref<Eigen::MatrixXd> mass_matrix,
                    Matrix6X* momentum, bool into_root) {
  const OriginInertia& Y = data.origin_composite[i];
  mass_matrix_columns(model, data, i, Y, mass_matrix, momentum);
  const JointIndex p = model.parents[i];
  if (p != 0 || into_root) data.origin_composite[p] += Y;  // Y_λ += Y_i
  data.world_inertia[i] = centre_form(Y);
}

}  // namespace lumo
