#include "derivatives.hpp"

#include <algorithm>

#include "aba.hpp"
#include "configuration.hpp"
#include "configuration_derivatives.hpp"
#include "errors/errors.hpp"
#include "internal/forward_pass.hpp"
#include "internal/tree_ldl.hpp"
#include "joints/joints.hpp"
#include "kernels/row_major.hpp"

// Everything below is in the world frame. For joint j with parent λ and a
// velocity column k of j, perturbing q along integrate moves the world
// placement of every joint i in the subtree of j by exp(ε S_k), S_k = oMj·S_k:
// the subtree turns rigidly about S_k, while the velocity and acceleration
// of λ stay. With u = S_k × v_λ and w = S_k × a_λ − u × v_λ this gives, for
// every body l of the subtree (v_l, a_l, Y_l its velocity, acceleration and
// inertia, f_l = Y_l a_l + v_l ×* Y_l v_l its force),
//   δv_l = S_k × v_l − u,   δa_l = S_k × a_l − w − u × v_l,
//   δf_l = S_k ×* f_l − Y_l w − B_l u,
// where B_l u = Y_l (u × v_l) + u ×* (Y_l v_l) + v_l ×* (Y_l u)
//             = Ẏ_l u + u ×* h_l,  Ẏ_l = v_l ×* Y_l − Y_l v_l ×,  h_l = Y_l v_l.
// A velocity column instead gives δv_l = S_k, δa_l = S_k × v_l + e with
// e = (v_λ + v_j) × S_k, hence δf_l = Y_l e + B_l S_k.
//
// Summed over subtrees (Y, Ẏ, h and f composite, F_i the force through
// joint i), τ_r = S_rᵀ F_r gives, for a column r of a joint in the subtree
// of j (where the turn of S_r cancels that of F_r):
//   ∂τ_r/∂q_k = −(P_r·w + Q_r·u),   ∂τ_r/∂v_k = P_r·e + Q_r·S_k,
// with P_r = Y_r S_r and Q_r = B_rᵀ S_r = Ẏ_r S_r − S_r ×* h_r of r's
// subtree; and for a column r of an ancestor of j:
//   ∂τ_r/∂q_k = S_r·(S_k ×* F_j − Y_j w − B_j u),
//   ∂τ_r/∂v_k = S_r·(Y_j e + B_j S_k),
// with the composites of j's subtree. M[r, k] = S_r·Y S_k likewise. Entries
// of columns on different branches are zero.

namespace lumo {
namespace {

using Column = Data::DerivativeColumn;
using Body = Data::DerivativeBody;

// Σ x[k] y[k] over n numbers (6: the power of a force on a motion, 12: the
// sum of two such powers, of adjacent motions on adjacent forces).
template <int n>
inline double dot(const double* x, const double* y) {
  using V = Eigen::Matrix<double, n, 1>;
  return Eigen::Map<const V>(x).dot(Eigen::Map<const V>(y));
}
inline const double* raw(const Motion& m) { return m.angular.data(); }
inline const double* raw(const Force& f) { return f.moment.data(); }
static_assert(sizeof(Motion) == 6 * sizeof(double) && sizeof(Force) == 6 * sizeof(double));

// Y·(ω, l) = (I_o ω + h × l, m l − h × ω) for the inertia about the origin
// (m, h = m c, I_o).
inline Force apply_inertia(const Body& Y, const Motion& m) {
  Force f;
  f.force = Y.mass * m.linear - Y.first_moment.cross(m.angular);
  f.moment.noalias() = Y.inertia * m.angular;
  f.moment += Y.first_moment.cross(m.linear);
  return f;
}

// Ẏ·(ω, l) = (R ω − s × l, s × ω) with Ẏ = [[0, [s]×], [−[s]×, R]] in
// [linear; angular] order.
inline Force apply_rate(const Body& Y, const Motion& m) {
  Force f;
  f.force = Y.rate_skew.cross(m.angular);
  f.moment.noalias() = Y.rate_sym * m.angular;
  f.moment -= Y.rate_skew.cross(m.linear);
  return f;
}

// The world-frame columns of joint i into cols[0 .. n), Motion order.
template <int n>
inline void world_columns(const JointModel& joint, const SE3& oMi, Column* cols) {
  double J[36];
  world_subspace_columns(joint, oMi, J);
  for (int k = 0; k < n; ++k) cols[k].S = from_column(Eigen::Map<const Vector6>(J + 6 * k));
}

// Where the derivative pass writes: ∂τ/∂q, ∂τ/∂v and M (the last two null
// when not formed), dense nv×nv matrices with entry (r, c) at r·row + c·col
// (row = 1, col = nv for the workspace's column-major matrices; row = nv,
// col = 1 for C-ordered ones).
struct DerivativeOutputs {
  double* dq;
  double* dv;
  double* M;
  std::size_t row, col;

  std::size_t at(std::size_t r, std::size_t c) const { return r * row + c * col; }
};

DerivativeOutputs workspace_outputs(MatrixX& dq, MatrixX* dv, MatrixX* M) {
  return {dq.data(), dv != nullptr ? dv->data() : nullptr, M != nullptr ? M->data() : nullptr, 1,
          static_cast<std::size_t>(dq.rows())};
}

// The sizes of the results and the scratch, on first use.
void size_outputs(Data& data, std::initializer_list<MatrixX*> outputs) {
  const auto n = static_cast<Eigen::Index>(data.nv);
  for (MatrixX* m : outputs)
    if (m->rows() != n || m->cols() != n) m->resize(n, n);
  if (data.derivative_columns.size() != data.nv) data.derivative_columns.resize(data.nv);
  if (data.derivative_bodies.size() != data.njoints) data.derivative_bodies.resize(data.njoints);
  if (data.derivative_accelerations.size() != data.njoints) data.derivative_accelerations.resize(data.njoints);
}

// The derivative pass. kVelocity: v and a are given (else zero, and only
// ∂τ/∂q is formed); kAfterAba: limi, oMi and the world columns data.j are
// those aba just wrote at this q, and are read instead of formed again.

// Joint i on the way out: v_i = v_λ + S q̇_i,  a_i = a_λ + S q̈_i + v_i × S q̇_i,
// Y_i about the origin, h_i = Y_i v_i, f_i = Y_i a_i + v_i ×* h_i and
// Ẏ_i = [[0, [s]×], [−[s]×, R]] with s = h × ω − m v and
// R = [ω]× I_o + ([ω]× I_o)ᵀ − (h vᵀ + v hᵀ) + 2 (h·v) E; per column
// u = S × v_λ, w = S × a_λ − u × v_λ, e = (v_λ + v_i) × S.
template <int n, bool kVelocity, bool kAfterAba>
void derivative_forward_step(const Model& model, Data& data, JointIndex i, const double* q, const double* v,
                             const double* a) {
  const JointIndex p = model.parents[i];
  std::vector<Motion>& ov = data.ov;
  std::vector<Motion>& oa = data.derivative_accelerations;
  if constexpr (!kAfterAba) forward_step(model, data, i, q);
  const SE3& oMi = data.oMi[i];
  ov[i] = ov[p];
  oa[i] = oa[p];
  if constexpr (n > 0) {
    const std::size_t iv = model.idx_v[i];
    Column* c = data.derivative_columns.data() + iv;
    if constexpr (kAfterAba) {
      const double* J = data.j.data() + 6 * iv;
      for (int k = 0; k < n; ++k) c[k].S = from_column(Eigen::Map<const Vector6>(J + 6 * k));
    } else {
      world_columns<n>(model.joints[i], oMi, c);
    }
    if constexpr (kVelocity) {
      Motion vJ;
      for (int k = 0; k < n; ++k) {
        vJ.angular += c[k].S.angular * v[iv + k];
        vJ.linear += c[k].S.linear * v[iv + k];
        oa[i].angular += c[k].S.angular * a[iv + k];
        oa[i].linear += c[k].S.linear * a[iv + k];
      }
      ov[i] += vJ;
      oa[i] += motion_cross(ov[i], vJ);
      const Motion vsum = ov[p] + ov[i];
      for (int k = 0; k < n; ++k) {
        const Motion& S = c[k].S;
        c[k].u = motion_cross(S, ov[p]);
        c[k].w = motion_cross(S, oa[p]) - motion_cross(c[k].u, ov[p]);
        c[k].e = motion_cross(vsum, S);
      }
    } else {
      for (int k = 0; k < n; ++k) c[k].w = motion_cross(c[k].S, oa[p]);
    }
  }
  const BodyInertia& local = model.inertias[i];
  const BodyInertia world = inertia_transform(oMi, local);
  Body& Y = data.derivative_bodies[i];
  Y.mass = local.mass;
  Y.first_moment = local.mass * world.lever;
  Y.inertia = inertia_tensor(world);
  Y.inertia.noalias() -= Y.first_moment * world.lever.transpose();
  Y.inertia.diagonal().array() += Y.first_moment.dot(world.lever);
  Y.force = apply_inertia(Y, oa[i]);
  if constexpr (kVelocity) {
    const Vector3& om = ov[i].angular;
    const Vector3& vl = ov[i].linear;
    Y.momentum = apply_inertia(Y, ov[i]);
    Y.force += motion_cross_force(ov[i], Y.momentum);
    Y.rate_skew = Y.first_moment.cross(om) - Y.mass * vl;
    Matrix3 WI;
    for (int col = 0; col < 3; ++col) WI.col(col) = om.cross(Vector3(Y.inertia.col(col)));
    Y.rate_sym = WI + WI.transpose();
    Y.rate_sym.noalias() -= Y.first_moment * vl.transpose();
    Y.rate_sym.noalias() -= vl * Y.first_moment.transpose();
    Y.rate_sym.diagonal().array() += 2.0 * Y.first_moment.dot(vl);
  }
}

// The external forces on the bodies, carried to the world with them:
// f_i −= oMi·f_ext,i for the [force; torque] column i of fext. A force held
// in its body's frame turns with the subtree it belongs to, δ(oMi·f_ext) =
// S_k ×* (oMi·f_ext), as the body's own force does; so the recursion below
// holds as it is with f_i, and with it the composite F, net of these forces.
void subtract_external_forces(const Model& model, Data& data, const Eigen::Ref<const Matrix6X>& fext) {
  for (JointIndex i = 1; i < model.njoints; ++i) {
    const auto fi = fext.col(static_cast<Eigen::Index>(i));
    const Force f = act_force(data.oMi[i], Force{fi.tail<3>(), fi.head<3>()});
    Force& F = data.derivative_bodies[i].force;
    F.moment -= f.moment;
    F.force -= f.force;
  }
}

// Joint i on the way in, the composites of its subtree complete: the
// entries of its own columns against themselves and against every
// ancestor's columns (both ways); then Y, Ẏ, h and f are carried to the
// parent.
template <int n, bool kVelocity>
void derivative_backward_step(const Model& model, Data& data, JointIndex i, const DerivativeOutputs& out) {
  const JointIndex p = model.parents[i];
  const Body& Y = data.derivative_bodies[i];
  if constexpr (n > 0) {
    const std::size_t iv = model.idx_v[i];
    double* const DQ = out.dq;
    double* const DV = kVelocity ? out.dv : nullptr;
    double* const MM = kVelocity ? out.M : nullptr;
    const Column* const cols = data.derivative_columns.data();
    const Column* c = cols + iv;
    // Per own column: [Q, P] = [Bᵀ S, Y S] and the ancestor-row forces.
    struct RowForces {
      Force Q, P, Phq, Phv;
    } rows[n];
    static_assert(sizeof(RowForces) == 24 * sizeof(double));
    for (int k = 0; k < n; ++k) {
      const Motion& S = c[k].S;
      RowForces& o = rows[k];
      o.P = apply_inertia(Y, S);
      o.Phq = motion_cross_force(S, Y.force) - apply_inertia(Y, c[k].w);
      if constexpr (kVelocity) {
        const Force Sh = motion_cross_force(S, Y.momentum);
        const Force YdS = apply_rate(Y, S);
        o.Q = YdS - Sh;
        o.Phq = o.Phq - apply_rate(Y, c[k].u) - motion_cross_force(c[k].u, Y.momentum);
        o.Phv = apply_inertia(Y, c[k].e) + YdS + Sh;
      }
    }
    // Own block: rows r and columns k both of joint i.
    for (int k = 0; k < n; ++k) {
      for (int r = 0; r < n; ++r) {
        const std::size_t rk = out.at(iv + r, iv + k);
        if constexpr (kVelocity) {
          DQ[rk] = -dot<12>(raw(c[k].u), raw(rows[r].Q));
          DV[rk] = dot<12>(raw(c[k].S), raw(rows[r].Q));
          if (r <= k) MM[rk] = MM[out.at(iv + k, iv + r)] = dot<6>(raw(c[r].S), raw(rows[k].P));
        } else {
          DQ[rk] = -dot<6>(raw(c[k].w), raw(rows[r].P));
        }
      }
    }
    // Ancestor columns k: row i against column k, row k against column i.
    for (JointIndex anc = p; anc != 0; anc = model.parents[anc]) {
      const std::size_t av = model.idx_v[anc], an = model.nv_joint[anc];
      for (std::size_t kk = av; kk < av + an; ++kk) {
        const Column& ca = cols[kk];
        for (int r = 0; r < n; ++r) {
          const std::size_t row = iv + r;
          const std::size_t own_row = out.at(row, kk), own_col = out.at(kk, row);
          const RowForces& o = rows[r];
          const double* S = raw(ca.S);
          if constexpr (kVelocity) {
            DQ[own_row] = -dot<12>(raw(ca.u), raw(o.Q));
            DV[own_row] = dot<12>(S, raw(o.Q));
            DQ[own_col] = dot<6>(S, raw(o.Phq));
            DV[own_col] = dot<6>(S, raw(o.Phv));
            MM[own_col] = MM[own_row] = dot<6>(S, raw(o.P));
          } else {
            DQ[own_row] = -dot<6>(raw(ca.w), raw(o.P));
            DQ[own_col] = dot<6>(S, raw(o.Phq));
          }
        }
      }
    }
  }
  if (p != 0) {
    Body& Yp = data.derivative_bodies[p];
    Yp.mass += Y.mass;
    Yp.first_moment += Y.first_moment;
    Yp.inertia += Y.inertia;
    Yp.force += Y.force;
    if constexpr (kVelocity) {
      Yp.momentum += Y.momentum;
      Yp.rate_skew += Y.rate_skew;
      Yp.rate_sym += Y.rate_sym;
    }
  }
}

// The derivatives of τ = rnea(q, v, a) (less the external forces fext when
// not null) with respect to q (into out.dq), v (out.dv) and a (out.M); null
// v and a stand for zero, and then out.dv and out.M are not written.
template <bool kVelocity, bool kAfterAba = false>
void rnea_derivatives(const Model& model, Data& data, const double* q, const double* v, const double* a,
                      const DerivativeOutputs& out, const Eigen::Ref<const Matrix6X>* fext = nullptr) {
  const std::size_t size = model.nv * model.nv;
  std::fill_n(out.dq, size, 0.0);
  if constexpr (kVelocity) {
    std::fill_n(out.dv, size, 0.0);
    std::fill_n(out.M, size, 0.0);
  }
  data.oMi[0] = SE3::Identity();
  data.limi[0] = SE3::Identity();
  data.ov[0] = Motion::Zero();
  data.derivative_accelerations[0] = -model.gravity;
  if constexpr (!kAfterAba) compute_joint_sincos(model, data, q);
  for (JointIndex i = 1; i < model.njoints; ++i)
    with_joint_size(model.joints[i],
                    [&](auto n) { derivative_forward_step<n, kVelocity, kAfterAba>(model, data, i, q, v, a); });
  if constexpr (kVelocity)  // (the gravity torques take no external force)
    if (fext != nullptr) subtract_external_forces(model, data, *fext);
  for (JointIndex i = model.njoints - 1; i >= 1; --i)
    with_joint_size(model.joints[i], [&](auto n) { derivative_backward_step<n, kVelocity>(model, data, i, out); });
}

// ------------------------------------------- the stages of computeABADerivatives

// ∂q̈/∂x = −M⁻¹ ∂τ/∂x by the dense M⁻¹ of computeMinverse: one matrix
// product while the product's blocks fit on the stack; column by column
// beyond, where the product would take them from the heap.
void dense_inverse_products(const Model& model, Data& data, const Eigen::Ref<const Eigen::VectorXd>& q) {
  const MatrixX& Minv = computeMinverse(model, data, q);
  constexpr Eigen::Index kStackProduct = 128;
  if (Minv.rows() <= kStackProduct) {
    data.ddq_dq.noalias() = -Minv * data.dtau_dq;
    data.ddq_dv.noalias() = -Minv * data.dtau_dv;
    return;
  }
  for (Eigen::Index k = 0; k < Minv.cols(); ++k) {
    data.ddq_dq.col(k).noalias() = -Minv * data.dtau_dq.col(k);
    data.ddq_dv.col(k).noalias() = -Minv * data.dtau_dv.col(k);
  }
}

// solveM: X ← M⁻¹ X in place for the rows of data.ldl_rhs = [B, E] (nv ×
// 3nv, row by row: 2nv columns of B, then the identity), by the factors of
// factorM. Only the lower triangle of M⁻¹ is formed, as the upper triangle
// of the E part (row k from column k on).
void solveM(Data& data) {
  const std::size_t nv = data.nv, ld = 3 * nv;
  const int* const parent = data.coordinate_parent.data();
  const std::size_t* const end = data.coordinate_end.data();
  const double* const H = data.ldl_factor.data();
  int* const rows = data.ldl_rows.data();
  double* const coef = data.ldl_coef.data();
  double* const X = data.ldl_rhs.data();
  // Lᵀ y = b from the leaves up, each row gathering its descendants' rows,
  // stored as z = D⁻¹ y at once (so y_k = D_k z_k); the unit columns of row
  // i are zero outside i's subtree [i, end_i).
  for (std::size_t i = nv; i-- > 0;) {
    double* xi = X + i * ld;
    std::size_t m = 0;
    for (std::size_t k = i + 1; k < end[i]; ++k) {
      const double l = H[i * nv + k];  // zero unless i is an ancestor of k
      if (l == 0.0) continue;
      rows[m] = static_cast<int>(k);
      coef[m++] = l * H[k * nv + k];
    }
    subtract_rows(xi, X, ld, 0, rows, coef, m, 2 * nv);
    for (std::size_t j = 0; j < m; ++j) {
      const auto k = static_cast<std::size_t>(rows[j]);
      const double cj = coef[j];
      double* __restrict yi = xi + 2 * nv;
      const double* __restrict yk = X + k * ld + 2 * nv;
      for (std::size_t c = k; c < end[k]; ++c) yi[c] -= cj * yk[c];
    }
    const double dinv = 1.0 / H[i * nv + i];
    for (std::size_t c = 0; c < 2 * nv; ++c) xi[c] *= dinv;
    for (std::size_t c = 2 * nv + i; c < 2 * nv + end[i]; ++c) xi[c] *= dinv;
  }
  // L x = z from the root down, each row gathering its ancestors' rows; the
  // unit columns only on c ≥ k.
  for (std::size_t k = 0; k < nv; ++k) {
    std::size_t m = 0;
    for (int i = parent[k]; i >= 0; i = parent[i]) {
      rows[m] = i;
      coef[m++] = H[static_cast<std::size_t>(i) * nv + k];
    }
    double* xk = X + k * ld;
    subtract_rows(xk, X, ld, 0, rows, coef, m, 2 * nv);
    subtract_rows(xk + 2 * nv + k, X, ld, 2 * nv + k, rows, coef, m, nv - k);
  }
}

// ∂q̈/∂q, ∂q̈/∂v and M⁻¹ by the tree factorisation: the right-hand sides
// [−∂τ/∂q, −∂τ/∂v, E] one row per coordinate, solved, and read back.
void tree_solve_products(Data& data) {
  const std::size_t nv = data.nv, ld = 3 * nv;
  const auto n = static_cast<Eigen::Index>(nv);
  factorM(data.dtau_da, data, Triangle::lower);
  auto& W = data.ldl_rhs;
  transpose_scaled(data.dtau_dq.data(), nv, W.data(), ld, nv, nv, -1.0);
  transpose_scaled(data.dtau_dv.data(), nv, W.data() + nv, ld, nv, nv, -1.0);
  W.rightCols(n).setIdentity();
  solveM(data);
  const double* const X = W.data();
  transpose_scaled(X, ld, data.ddq_dq.data(), nv, nv, nv, 1.0);
  transpose_scaled(X + nv, ld, data.ddq_dv.data(), nv, nv, nv, 1.0);
  // M⁻¹: row k of the upper triangle is column k of the lower one.
  double* const Mi = data.Minv.data();
  for (std::size_t k = 0; k < nv; ++k) std::copy(X + k * ld + 2 * nv + k, X + k * ld + 3 * nv, Mi + k * nv + k);
  for (std::size_t k = 0; k < nv; ++k)
    for (std::size_t c = k + 1; c < nv; ++c) Mi[c * nv + k] = Mi[k * nv + c];
}
}  // namespace

namespace {

// The destination views of computeRNEADerivatives as DerivativeOutputs:
// each nv×nv, dense and laid out as the others.
DerivativeOutputs view_outputs(const Model& model, MatrixXView& dq, MatrixXView& dv, MatrixXView& M) {
  const std::size_t nv = model.nv, row = static_cast<std::size_t>(dq.innerStride()),
                    col = static_cast<std::size_t>(dq.outerStride());
  const bool dense = nv <= 1 || (row == 1 && col == nv) || (row == nv && col == 1);
  for (const MatrixXView* m : {&dq, &dv, &M})
    if (static_cast<std::size_t>(m->rows()) != nv || static_cast<std::size_t>(m->cols()) != nv || !dense ||
        static_cast<std::size_t>(m->innerStride()) != row || static_cast<std::size_t>(m->outerStride()) != col)
      throw InternalError("Matrix index out of bounds.");
  return {dq.data(), dv.data(), M.data(), row, col};
}

// Every form of computeRNEADerivatives: the checks, then the pass into the
// destination that `outputs()` gives once they passed (a null fext: none).
template <typename Outputs>
void rnea_derivatives_checked(const Model& model, Data& data, const Eigen::Ref<const Eigen::VectorXd>& q,
                              const Eigen::Ref<const Eigen::VectorXd>& v,
                              const Eigen::Ref<const Eigen::VectorXd>& a,
                              const Eigen::Ref<const Matrix6X>* fext, Outputs&& outputs) {
  check_state(model, data, q.size(), v.size(), a.size(), "a");
  if (fext != nullptr) check_external_forces(model, fext->cols());
  rnea_derivatives<true>(model, data, q.data(), v.data(), a.data(), outputs(), fext);
}

}  // namespace

void computeRNEADerivatives(const Model& model, Data& data, const Eigen::Ref<const Eigen::VectorXd>& q,
                            const Eigen::Ref<const Eigen::VectorXd>& v,
                            const Eigen::Ref<const Eigen::VectorXd>& a) {
  rnea_derivatives_checked(model, data, q, v, a, nullptr, [&] {
    size_outputs(data, {&data.dtau_dq, &data.dtau_dv, &data.dtau_da});
    return workspace_outputs(data.dtau_dq, &data.dtau_dv, &data.dtau_da);
  });
}

void computeRNEADerivatives(const Model& model, Data& data, const Eigen::Ref<const Eigen::VectorXd>& q,
                            const Eigen::Ref<const Eigen::VectorXd>& v,
                            const Eigen::Ref<const Eigen::VectorXd>& a,
                            const Eigen::Ref<const Matrix6X>& fext) {
  rnea_derivatives_checked(model, data, q, v, a, &fext, [&] {
    size_outputs(data, {&data.dtau_dq, &data.dtau_dv, &data.dtau_da});
    return workspace_outputs(data.dtau_dq, &data.dtau_dv, &data.dtau_da);
  });
}

void computeRNEADerivatives(const Model& model, Data& data, const Eigen::Ref<const Eigen::VectorXd>& q,
                            const Eigen::Ref<const Eigen::VectorXd>& v,
                            const Eigen::Ref<const Eigen::VectorXd>& a, MatrixXView dtau_dq,
                            MatrixXView dtau_dv, MatrixXView dtau_da) {
  rnea_derivatives_checked(model, data, q, v, a, nullptr, [&] {
    size_outputs(data, {});  // the scratch only
    return view_outputs(model, dtau_dq, dtau_dv, dtau_da);
  });
}

void computeRNEADerivatives(const Model& model, Data& data, const Eigen::Ref<const Eigen::VectorXd>& q,
                            const Eigen::Ref<const Eigen::VectorXd>& v,
                            const Eigen::Ref<const Eigen::VectorXd>& a,
                            const Eigen::Ref<const Matrix6X>& fext, MatrixXView dtau_dq, MatrixXView dtau_dv,
                            MatrixXView dtau_da) {
  rnea_derivatives_checked(model, data, q, v, a, &fext, [&] {
    size_outputs(data, {});
    return view_outputs(model, dtau_dq, dtau_dv, dtau_da);
  });
}

namespace {

// computeABADerivatives, fext null for no external force.
void aba_derivatives(const Model& model, Data& data, const Eigen::Ref<const Eigen::VectorXd>& q,
                     const Eigen::Ref<const Eigen::VectorXd>& v, const Eigen::Ref<const Eigen::VectorXd>& tau,
                     const Eigen::Ref<const Matrix6X>* fext) {
  size_outputs(data, {&data.dtau_dq, &data.dtau_dv, &data.dtau_da, &data.ddq_dq, &data.ddq_dv});
  const std::size_t nv = model.nv;
  size_tree_factor(data, nv);
  // M(q) q̈ = τ − C(q, v) v − g(q) (+ Σ Jᵢᵀ fᵢ) = τ − inverseDynamics(q, v, 0)
  // holds for every state, so with τ fixed ∂q̈/∂x = −M⁻¹ ∂inverseDynamics/∂x
  // at a = q̈, x = q or v.
  if (fext != nullptr)
    forwardDynamics(model, data, q, v, tau, *fext);
  else
    aba(model, data, q, v, tau);
  rnea_derivatives<true, true>(model, data, q.data(), v.data(), data.ddq.data(),
                               workspace_outputs(data.dtau_dq, &data.dtau_dv, &data.dtau_da), fext);
  // L holds one entry per coordinate and ancestor. Where the ancestor paths
  // are long (beyond a third of the dense triangle: deep chains), the dense
  // M⁻¹ of computeMinverse and two matrix products cost less.
  const std::size_t entries = coordinate_tree(model, data);
  if (nv > 16 && 3 * entries > nv * nv) {
    dense_inverse_products(model, data, q);
    return;
  }
  size_outputs(data, {&data.Minv, &data.ldl_factor});
  const auto n = static_cast<Eigen::Index>(nv);
  if (data.ldl_rhs.rows() != n || data.ldl_rhs.cols() != 3 * n) data.ldl_rhs.resize(n, 3 * n);
  if (nv == 0) return;
  tree_solve_products(data);
}

}  // namespace

void computeABADerivatives(const Model& model, Data& data, const Eigen::Ref<const Eigen::VectorXd>& q,
                           const Eigen::Ref<const Eigen::VectorXd>& v,
                           const Eigen::Ref<const Eigen::VectorXd>& tau) {
  check_state(model, data, q.size(), v.size(), tau.size(), "tau");
  aba_derivatives(model, data, q, v, tau, nullptr);
}

void computeABADerivatives(const Model& model, Data& data, const Eigen::Ref<const Eigen::VectorXd>& q,
                           const Eigen::Ref<const Eigen::VectorXd>& v,
                           const Eigen::Ref<const Eigen::VectorXd>& tau,
                           const Eigen::Ref<const Matrix6X>& fext) {
  check_state(model, data, q.size(), v.size(), tau.size(), "tau");
  check_external_forces(model, fext.cols());
  aba_derivatives(model, data, q, v, tau, &fext);
}

namespace {

void check_vjp_sizes(const Model& model, Eigen::Index w, Eigen::Index gq, Eigen::Index gv, Eigen::Index g3) {
  check_velocity_size(model, w);
  check_configuration_size(model, gq);
  check_velocity_size(model, gv);
  check_velocity_size(model, g3);
}

}  // namespace

namespace {

// The adjoint of rnea: for the cotangent w, the gradients of wᵀ·rnea(q, v, a)
// in O(njoints), without the derivative matrices. All in the world frame,
// where a motion of joint column k of joint J (along integrate: in the child
// frame) moves everything of J's subtree, J's own columns included, by the
// screw σ = S_k, and leaves the parent P's motion as it was. With
//   Λ_J = Λ_P + S_J w_J   (the bodies' motion for joint rates w),
// wᵀτ = Σ_E Λ_E · f_E, and the terms that move with the subtree cancel in
// pairs but for those the parent's motion (v_P, a_P) and Λ_P leave. Per body
// E, with I_E its world inertia:
//   y = I Λ,  z = v ×* y,  p = Λ ×* (I v),  r = I (Λ × v),
// summed over J's subtree into Y, Z, P, R, beside the subtree force F; then
//   ∂/∂q̇ along σ:  σ · (Z − (v_P + v_J) ×* Y − P + R)
//   ∂/∂q  along σ:  σ · (−Λ_P ×* F − a_P ×* Y − v_P ×* Z + v_P ×* (v_P ×* Y + P − R))
//   ∂/∂q̈ along σ:  σ · Y            (= (M w)_k)
// projected on J's columns. ga may be null; `placed`: data.oMi already holds
// q's placements (after aba), which are then not computed again.
void rnea_adjoint(const Model& model, Data& data, const double* q, const double* v, const double* a,
                  const double* w, double* gq, double* gv, double* ga, bool placed) {
  const std::size_t N = model.njoints;
  Motion* const ov = data.vjp_motion.data();
  Motion* const oa = ov + N;
  Motion* const lam = oa + N;
  Force* const F = data.vjp_force.data();
  Force* const Y = F + N;
  Force* const Z = Y + N;
  Force* const P = Z + N;
  Force* const R = P + N;
  if (!placed) start_forward_pass(model, data, q);
  ov[0] = Motion::Zero();
  oa[0] = -model.gravity;  // the root accelerates against gravity
  lam[0] = Motion::Zero();
  for (JointIndex i = 1; i < N; ++i) {
    const JointIndex p = model.parents[i];
    const JointModel& joint = model.joints[i];
    const std::size_t iv = model.idx_v[i];
    if (!placed) forward_step(model, data, i, q);
    const SE3& M = data.oMi[i];
    const Motion s = act_motion(M, joint_motion(joint, v + iv));
    ov[i] = ov[p] + s;
    oa[i] = oa[p] + act_motion(M, joint_motion(joint, a + iv)) + motion_cross(ov[i], s);
    lam[i] = lam[p] + act_motion(M, joint_motion(joint, w + iv));
    const BodyInertia I = inertia_transform(M, model.inertias[i]);
    const Force momentum = inertia_apply(I, ov[i]);
    F[i] = inertia_apply(I, oa[i]) + motion_cross_force(ov[i], momentum);
    Y[i] = inertia_apply(I, lam[i]);
    Z[i] = motion_cross_force(ov[i], Y[i]);
    P[i] = motion_cross_force(lam[i], momentum);
    R[i] = inertia_apply(I, motion_cross(lam[i], ov[i]));
  }
  for (JointIndex i = N - 1; i >= 1; --i) {
    const JointIndex p = model.parents[i];
    const JointModel& joint = model.joints[i];
    const std::size_t iv = model.idx_v[i];
    const Motion& vp = ov[p];
    const Force G = motion_cross_force(vp, motion_cross_force(vp, Y[i]) + P[i] - R[i]) -
                    motion_cross_force(lam[p], F[i]) - motion_cross_force(oa[p], Y[i]) -
                    motion_cross_force(vp, Z[i]);
    const Force H = Z[i] - motion_cross_force(vp + ov[i], Y[i]) - P[i] + R[i];
    const SE3 Mi = inverse(data.oMi[i]);
    joint_project(joint, act_force(Mi, G), gq + iv);
    joint_project(joint, act_force(Mi, H), gv + iv);
    if (ga != nullptr) joint_project(joint, act_force(Mi, Y[i]), ga + iv);
    if (p != 0) {
      F[p] += F[i];
      Y[p] += Y[i];
      Z[p] += Z[i];
      P[p] += P[i];
      R[p] += R[i];
    }
  }
}

}  // namespace

void rneaVJP(const Model& model, Data& data, const Eigen::Ref<const Eigen::VectorXd>& q,
             const Eigen::Ref<const Eigen::VectorXd>& v, const Eigen::Ref<const Eigen::VectorXd>& a,
             const Eigen::Ref<const Eigen::VectorXd>& w, Eigen::Ref<Eigen::VectorXd> gq,
             Eigen::Ref<Eigen::VectorXd> gv, Eigen::Ref<Eigen::VectorXd> ga) {
  check_state(model, data, q.size(), v.size(), a.size(), "a");
  check_vjp_sizes(model, w.size(), gq.size(), gv.size(), ga.size());
  rnea_adjoint(model, data, q.data(), v.data(), a.data(), w.data(), data.vjp_tangent.data(), gv.data(), ga.data(),
               false);
  configurationGradient(model, q, data.vjp_tangent, gq);
}

void abaVJP(const Model& model, Data& data, const Eigen::Ref<const Eigen::VectorXd>& q,
            const Eigen::Ref<const Eigen::VectorXd>& v, const Eigen::Ref<const Eigen::VectorXd>& tau,
            const Eigen::Ref<const Eigen::VectorXd>& w, Eigen::Ref<Eigen::VectorXd> gq,
            Eigen::Ref<Eigen::VectorXd> gv, Eigen::Ref<Eigen::VectorXd> gtau) {
  check_state(model, data, q.size(), v.size(), tau.size(), "tau");
  check_vjp_sizes(model, w.size(), gq.size(), gv.size(), gtau.size());
  aba(model, data, q, v, tau);
  if (model.nv == 0) return;
  abaSolve(model, data, w, gtau);  // λ = M⁻¹ w on aba's articulated-body factors
  // M q̈ = τ − rnea(q, v, 0) for every state, so wᵀ ∂q̈/∂x = −λᵀ ∂rnea/∂x at a = q̈
  rnea_adjoint(model, data, q.data(), v.data(), data.ddq.data(), gtau.data(), data.vjp_tangent.data(), gv.data(),
               nullptr, true);  // on aba's placements
  data.vjp_tangent = -data.vjp_tangent;
  gv = -gv;
  configurationGradient(model, q, data.vjp_tangent, gq);
}

const Eigen::MatrixXd& computeGeneralizedGravityDerivatives(const Model& model, Data& data,
                                                            const Eigen::Ref<const Eigen::VectorXd>& q) {
  check_state(model, data, q.size());
  size_outputs(data, {&data.dg_dq});
  rnea_derivatives<false>(model, data, q.data(), nullptr, nullptr, workspace_outputs(data.dg_dq, nullptr, nullptr));
  return data.dg_dq;
}

}  // namespace lumo
