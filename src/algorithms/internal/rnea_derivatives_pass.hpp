// The derivative pass of inverse dynamics (computeRNEADerivatives,
// computeABADerivatives, computeGeneralizedGravityDerivatives), written over
// the scalar of the state like rnea_pass.hpp: `data` a Data, or the
// workspace of the lock-step kernels with the same members
// (derivative_columns, derivative_bodies, derivative_accelerations, ov, oMi,
// limi; j after aba). Private to src/algorithms.
//
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

#pragma once

#include <algorithm>
#include <cstddef>
#include <type_traits>

#include "../joints/joints.hpp"
#include "forward_pass.hpp"

namespace lumo {

// Where the derivative pass writes: ∂τ/∂q, ∂τ/∂v and M (the last two null
// when not formed), dense nv×nv matrices with entry (r, c) at r·row + c·col
// (row = 1, col = nv for column-major matrices; row = nv, col = 1 for
// C-ordered ones).
template <class S>
struct DerivativeOutputsT {
  S* dq;
  S* dv;
  S* M;
  std::size_t row, col;

  std::size_t at(std::size_t r, std::size_t c) const { return r * row + c * col; }
};

namespace derivative_steps {

// The steps are local to each file that runs them (derivatives.cpp, the
// lock-step kernels), so that the compiler folds each into its pass as it
// would a file's own static functions.
namespace {

// Σ x[k] y[k] over n numbers (6: the power of a force on a motion, 12: the
// sum of two such powers, of adjacent motions on adjacent forces). For
// another scalar than double the sum is grouped as Eigen sums it for double
// (two numbers at a time, the pairs added as a balanced tree, the two
// halves last): (p0 + (p2 + p4)) + (p1 + (p3 + p5)) for 6, and
// ((p0 + (p2 + p4)) + (p6 + (p8 + p10))) + (the same on the odd ones) for 12.
template <int n, class S>
inline S dot(const S* x, const S* y) {
  using V = Eigen::Matrix<S, n, 1>;
  if constexpr (std::is_same_v<S, double>) {
    return Eigen::Map<const V>(x).dot(Eigen::Map<const V>(y));
  } else if constexpr (n == 6) {
    return lumo::dot(Eigen::Map<const V>(x), Eigen::Map<const V>(y));
  } else {
    static_assert(n == 12, "6 or 12 numbers");
    S p[12];
    for (int k = 0; k < 12; ++k) p[k] = x[k] * y[k];
    return ((p[0] + (p[2] + p[4])) + (p[6] + (p[8] + p[10]))) + ((p[1] + (p[3] + p[5])) + (p[7] + (p[9] + p[11])));
  }
}
template <class S>
inline const S* raw(const MotionT<S>& m) {
  return m.angular.data();
}
template <class S>
inline const S* raw(const ForceT<S>& f) {
  return f.moment.data();
}

// Y·(ω, l) = (I_o ω + h × l, m l − h × ω) for the inertia about the origin
// (m, h = m c, I_o).
template <class S>
inline ForceT<S> apply_inertia(const DerivativeBodyT<S>& Y, const MotionT<S>& m) {
  ForceT<S> f;
  f.force = Y.mass * m.linear - Y.first_moment.cross(m.angular);
  f.moment.noalias() = times(Y.inertia, m.angular);
  f.moment += Y.first_moment.cross(m.linear);
  return f;
}

// Ẏ·(ω, l) = (R ω − s × l, s × ω) with Ẏ = [[0, [s]×], [−[s]×, R]] in
// [linear; angular] order.
template <class S>
inline ForceT<S> apply_rate(const DerivativeBodyT<S>& Y, const MotionT<S>& m) {
  ForceT<S> f;
  f.force = Y.rate_skew.cross(m.angular);
  f.moment.noalias() = times(Y.rate_sym, m.angular);
  f.moment -= Y.rate_skew.cross(m.linear);
  return f;
}

// The [linear; angular] column at c as a Motion.
template <class S>
inline MotionT<S> column_motion(const S* c) {
  const Eigen::Map<const Eigen::Matrix<S, 6, 1>> m(c);
  return {m.template tail<3>(), m.template head<3>()};
}

// The world-frame columns of joint i into cols[0 .. n), Motion order.
template <int n, class S>
inline void world_columns(const JointModel& joint, const SE3T<S>& oMi, DerivativeColumnT<S>* cols) {
  S J[36];
  world_subspace_columns(joint, oMi, J);
  for (int k = 0; k < n; ++k) cols[k].S = column_motion(J + 6 * k);
}

// The packed rotational inertia as a full symmetric matrix.
template <class S>
inline Matrix3T<S> inertia_tensor_of(const BodyInertiaT<S>& Y) {
  const auto& I = Y.inertia;
  Matrix3T<S> T;
  T << I[0], I[1], I[3],  //
      I[1], I[2], I[4],   //
      I[3], I[4], I[5];
  return T;
}

// The derivative pass. kVelocity: v and a are given (else zero, and only
// ∂τ/∂q is formed); kAfterAba: limi, oMi and the world columns data.j are
// those aba just wrote at this q, and are read instead of formed again.

// Joint i on the way out: v_i = v_λ + S q̇_i,  a_i = a_λ + S q̈_i + v_i × S q̇_i,
// Y_i about the origin, h_i = Y_i v_i, f_i = Y_i a_i + v_i ×* h_i and
// Ẏ_i = [[0, [s]×], [−[s]×, R]] with s = h × ω − m v and
// R = [ω]× I_o + ([ω]× I_o)ᵀ − (h vᵀ + v hᵀ) + 2 (h·v) E; per column
// u = S × v_λ, w = S × a_λ − u × v_λ, e = (v_λ + v_i) × S.
template <int n, bool kVelocity, bool kAfterAba, class S, class Work>
void derivative_forward_step(const Model& model, Work& data, JointIndex i, const S* q, const S* v, const S* a) {
  using Column = DerivativeColumnT<S>;
  const JointIndex p = model.parents[i];
  auto& ov = data.ov;
  auto& oa = data.derivative_accelerations;
  if constexpr (!kAfterAba) forward_step(model, data, i, q);
  const SE3T<S>& oMi = data.oMi[i];
  ov[i] = ov[p];
  oa[i] = oa[p];
  if constexpr (n > 0) {
    const std::size_t iv = model.idx_v[i];
    Column* c = data.derivative_columns.data() + iv;
    if constexpr (kAfterAba) {
      const S* J = data.j.data() + 6 * iv;
      for (int k = 0; k < n; ++k) c[k].S = column_motion(J + 6 * k);
    } else {
      world_columns<n>(model.joints[i], oMi, c);
    }
    if constexpr (kVelocity) {
      MotionT<S> vJ;
      for (int k = 0; k < n; ++k) {
        vJ.angular += c[k].S.angular * v[iv + k];
        vJ.linear += c[k].S.linear * v[iv + k];
        oa[i].angular += c[k].S.angular * a[iv + k];
        oa[i].linear += c[k].S.linear * a[iv + k];
      }
      ov[i] += vJ;
      oa[i] += motion_cross(ov[i], vJ);
      const MotionT<S> vsum = ov[p] + ov[i];
      for (int k = 0; k < n; ++k) {
        const MotionT<S>& Sk = c[k].S;
        c[k].u = motion_cross(Sk, ov[p]);
        c[k].w = motion_cross(Sk, oa[p]) - motion_cross(c[k].u, ov[p]);
        c[k].e = motion_cross(vsum, Sk);
      }
    } else {
      for (int k = 0; k < n; ++k) c[k].w = motion_cross(c[k].S, oa[p]);
    }
  }
  const BodyInertia& local = model.inertias[i];
  const BodyInertiaT<S> world = inertia_transform(oMi, local);
  DerivativeBodyT<S>& Y = data.derivative_bodies[i];
  Y.mass = S(local.mass);
  Y.first_moment = Y.mass * world.lever;
  Y.inertia = inertia_tensor_of(world);
  Y.inertia.noalias() -= Y.first_moment * world.lever.transpose();
  Y.inertia.diagonal().array() += lumo::dot(Y.first_moment, world.lever);
  Y.force = apply_inertia(Y, oa[i]);
  if constexpr (kVelocity) {
    const Vector3T<S>& om = ov[i].angular;
    const Vector3T<S>& vl = ov[i].linear;
    Y.momentum = apply_inertia(Y, ov[i]);
    Y.force += motion_cross_force(ov[i], Y.momentum);
    Y.rate_skew = Y.first_moment.cross(om) - Y.mass * vl;
    Matrix3T<S> WI;
    for (int col = 0; col < 3; ++col) WI.col(col) = om.cross(Vector3T<S>(Y.inertia.col(col)));
    Y.rate_sym = WI + WI.transpose();
    Y.rate_sym.noalias() -= Y.first_moment * vl.transpose();
    Y.rate_sym.noalias() -= vl * Y.first_moment.transpose();
    Y.rate_sym.diagonal().array() += S(2.0) * lumo::dot(Y.first_moment, vl);
  }
}

// Joint i on the way in, the composites of its subtree complete: the
// entries of its own columns against themselves and against every
// ancestor's columns (both ways); then Y, Ẏ, h and f are carried to the
// parent.
template <int n, bool kVelocity, class S, class Work>
void derivative_backward_step(const Model& model, Work& data, JointIndex i, const DerivativeOutputsT<S>& out) {
  using Column = DerivativeColumnT<S>;
  const JointIndex p = model.parents[i];
  const DerivativeBodyT<S>& Y = data.derivative_bodies[i];
  if constexpr (n > 0) {
    const std::size_t iv = model.idx_v[i];
    S* const DQ = out.dq;
    S* const DV = kVelocity ? out.dv : nullptr;
    S* const MM = kVelocity ? out.M : nullptr;
    const Column* const cols = data.derivative_columns.data();
    const Column* c = cols + iv;
    // Per own column: [Q, P] = [Bᵀ S, Y S] and the ancestor-row forces.
    struct RowForces {
      ForceT<S> Q, P, Phq, Phv;
    } rows[n];
    static_assert(sizeof(RowForces) == 24 * sizeof(S));
    for (int k = 0; k < n; ++k) {
      const MotionT<S>& Sk = c[k].S;
      RowForces& o = rows[k];
      o.P = apply_inertia(Y, Sk);
      o.Phq = motion_cross_force(Sk, Y.force) - apply_inertia(Y, c[k].w);
      if constexpr (kVelocity) {
        const ForceT<S> Sh = motion_cross_force(Sk, Y.momentum);
        const ForceT<S> YdS = apply_rate(Y, Sk);
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
          const S* Sa = raw(ca.S);
          if constexpr (kVelocity) {
            DQ[own_row] = -dot<12>(raw(ca.u), raw(o.Q));
            DV[own_row] = dot<12>(Sa, raw(o.Q));
            DQ[own_col] = dot<6>(Sa, raw(o.Phq));
            DV[own_col] = dot<6>(Sa, raw(o.Phv));
            MM[own_col] = MM[own_row] = dot<6>(Sa, raw(o.P));
          } else {
            DQ[own_row] = -dot<6>(raw(ca.w), raw(o.P));
            DQ[own_col] = dot<6>(Sa, raw(o.Phq));
          }
        }
      }
    }
  }
  if (p != 0) {
    DerivativeBodyT<S>& Yp = data.derivative_bodies[p];
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

// The entries the pass leaves alone, those of columns on different
// branches, are zero: zero_outputs writes them (with every other entry)
// before the pass into a destination not known to hold them already.
template <bool kVelocity, class S>
void zero_outputs(const Model& model, const DerivativeOutputsT<S>& out) {
  const std::size_t size = model.nv * model.nv;
  std::fill_n(out.dq, size, S(0.0));
  if constexpr (kVelocity) {
    std::fill_n(out.dv, size, S(0.0));
    std::fill_n(out.M, size, S(0.0));
  }
}

// The pass on the way out: every joint's columns and body terms for
// τ = rnea(q, v, a); null v and a stand for zero (then only ∂τ/∂q is
// formed on the way in).
template <bool kVelocity, bool kAfterAba, class S, class Work>
void derivatives_forward(const Model& model, Work& data, const S* q, const S* v, const S* a) {
  data.oMi[0] = SE3T<S>::Identity();
  data.limi[0] = SE3T<S>::Identity();
  data.ov[0] = MotionT<S>::Zero();
  data.derivative_accelerations[0] = -lift<S>(model.gravity);
  if constexpr (!kAfterAba) compute_joint_sincos(model, data, q);
  for (JointIndex i = 1; i < model.njoints; ++i)
    with_joint_size(model.joints[i],
                    [&](auto n) { derivative_forward_step<n, kVelocity, kAfterAba>(model, data, i, q, v, a); });
}

// The external forces on the bodies, carried to the world with them:
// f_i −= oMi·f_ext,i for the [force; torque] of joint i at fext + i·stride. A force held
// in its body's frame turns with the subtree it belongs to, δ(oMi·f_ext) =
// S_k ×* (oMi·f_ext), as the body's own force does; so the recursion below
// holds as it is with f_i, and with it the composite F, net of these forces.
template <class S, class Work>
void subtract_external_forces(const Model& model, Work& data, const S* fext, std::size_t stride) {
  for (JointIndex i = 1; i < model.njoints; ++i) {
    const S* fi = fext + i * stride;
    const ForceT<S> f = world_external_force(data.oMi[i], fi);
    ForceT<S>& F = data.derivative_bodies[i].force;
    F.moment -= f.moment;
    F.force -= f.force;
  }
}

// The pass on the way in: the derivatives of τ with respect to q (into
// out.dq), v (out.dv) and a (out.M) from the body forces as they are; each
// entry of a column and a row on one path to the root is written, the
// others are not (zero_outputs).
template <bool kVelocity, class S, class Work>
void derivatives_backward(const Model& model, Work& data, const DerivativeOutputsT<S>& out) {
  for (JointIndex i = model.njoints - 1; i >= 1; --i)
    with_joint_size(model.joints[i], [&](auto n) { derivative_backward_step<n, kVelocity>(model, data, i, out); });
}

}  // namespace
}  // namespace derivative_steps
}  // namespace lumo
