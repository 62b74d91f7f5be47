#include "derivatives.hpp"

#include <algorithm>

#include "aba.hpp"
#include "configuration.hpp"
#include "configuration_derivatives.hpp"
#include "errors/errors.hpp"
#include "internal/forward_pass.hpp"
#include "internal/rnea_derivatives_pass.hpp"
#include "internal/tree_ldl.hpp"
#include "joints/joints.hpp"
#include "kernels/row_major.hpp"

// The derivative pass and its terms: internal/rnea_derivatives_pass.hpp.

namespace lumo {
namespace {

using DerivativeOutputs = DerivativeOutputsT<double>;

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

// The derivatives of τ = rnea(q, v, a) (less the external forces fext when
// not null) with respect to q (into out.dq), v (out.dv) and a (out.M); null
// v and a stand for zero, and then out.dv and out.M are not written.
template <bool kVelocity, bool kAfterAba = false>
void rnea_derivatives(const Model& model, Data& data, const double* q, const double* v, const double* a,
                      const DerivativeOutputs& out, const Eigen::Ref<const Matrix6X>* fext = nullptr) {
  derivative_steps::zero_outputs<kVelocity>(model, out);
  derivative_steps::derivatives_forward<kVelocity, kAfterAba>(model, data, q, v, a);
  if constexpr (kVelocity)  // (the gravity torques take no external force)
    if (fext != nullptr)
      derivative_steps::subtract_external_forces(model, data, fext->data(),
                                                 static_cast<std::size_t>(fext->outerStride()));
  derivative_steps::derivatives_backward<kVelocity>(model, data, out);
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
