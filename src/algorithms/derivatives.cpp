#include "derivatives.hpp"

#include "configuration.hpp"
#include "errors.hpp"
#include "kinematics.hpp"

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

// The power m·f of a force on a motion.
inline double power(const Motion& m, const Force& f) {
  return m.angular.dot(f.moment) + m.linear.dot(f.force);
}

// Ẏ·m for a 6×6 matrix in [linear; angular] order.
inline Force apply_rate(const Matrix6& Yd, const Motion& m) {
  const Vector6 r = Yd * to_column(m);
  return {r.tail<3>(), r.head<3>()};
}

// The world-frame columns of joint i into cols[0 .. nv), Motion order.
inline void world_columns(const JointModel& joint, const SE3& oMi, Column* cols) {
  double J[36];
  world_subspace_columns(joint, oMi, J);
  for (std::size_t k = 0; k < joint.nv; ++k) cols[k].S = from_column(Eigen::Map<const Vector6>(J + 6 * k));
}

// The sizes of the results and the per-column scratch, on first use.
void size_outputs(Data& data, std::initializer_list<MatrixX*> outputs) {
  const auto n = static_cast<Eigen::Index>(data.nv);
  for (MatrixX* m : outputs)
    if (m->rows() != n || m->cols() != n) m->resize(n, n);
  if (data.derivative_columns.size() != data.nv) data.derivative_columns.resize(data.nv);
}

// The derivatives of τ = rnea(q, v, a) with respect to q (into dq), v (dv)
// and a (M); null v and a stand for zero, and then dv and M are not written.
template <bool kVelocity>
void rnea_derivatives(const Model& model, Data& data, const double* q, const double* v, const double* a,
                      MatrixX& dq, MatrixX* dv, MatrixX* M) {
  dq.setZero();
  if constexpr (kVelocity) {
    dv->setZero();
    M->setZero();
  }
  Column* const cols = data.derivative_columns.data();
  std::vector<Motion>& ov = data.ov;
  std::vector<Motion>& oa = data.aux_motion_1;
  std::vector<Force>& hc = data.aux_force_1;   // momentum of the subtree
  std::vector<Force>& Fc = data.aux_force_2;   // force of the subtree
  std::vector<BodyInertia>& Yc = data.world_inertia;
  std::vector<Matrix6>& Ydc = data.world_inertia_rate;
  data.oMi[0] = SE3::Identity();
  data.limi[0] = SE3::Identity();
  ov[0] = Motion::Zero();
  oa[0] = -model.gravity;

  // Forward pass: v_i = v_λ + S q̇_i,  a_i = a_λ + S q̈_i + v_i × S q̇_i,
  // f_i = Y_i a_i + v_i ×* Y_i v_i, Ẏ_i, h_i = Y_i v_i; and per column
  // u = S × v_λ, w = S × a_λ − u × v_λ, e = (v_λ + v_i) × S.
  for (JointIndex i = 1; i < model.njoints; ++i) {
    const JointModel& joint = model.joints[i];
    const JointIndex p = model.parents[i];
    forward_step(model, data, i, q);
    const BodyInertia& Y = Yc[i] = inertia_transform(data.oMi[i], model.inertias[i]);
    ov[i] = ov[p];
    oa[i] = oa[p];
    Column* c = cols + model.idx_v[i];
    if (joint.nv > 0) {
      world_columns(joint, data.oMi[i], c);
      const std::size_t iv = model.idx_v[i];
      Motion vJ;
      for (std::size_t k = 0; k < joint.nv; ++k) {
        if constexpr (kVelocity) {
          vJ.angular += c[k].S.angular * v[iv + k];
          vJ.linear += c[k].S.linear * v[iv + k];
          oa[i].angular += c[k].S.angular * a[iv + k];
          oa[i].linear += c[k].S.linear * a[iv + k];
        }
      }
      if constexpr (kVelocity) {
        ov[i] += vJ;
        oa[i] += motion_cross(ov[i], vJ);
      }
      const Motion vsum = ov[p] + ov[i];
      for (std::size_t k = 0; k < joint.nv; ++k) {
        const Motion& S = c[k].S;
        if constexpr (kVelocity) {
          c[k].u = motion_cross(S, ov[p]);
          c[k].w = motion_cross(S, oa[p]) - motion_cross(c[k].u, ov[p]);
          c[k].e = motion_cross(vsum, S);
        } else {
          c[k].w = motion_cross(S, oa[p]);
        }
      }
    }
    Fc[i] = inertia_apply(Y, oa[i]);
    if constexpr (kVelocity) {
      hc[i] = inertia_apply(Y, ov[i]);
      Fc[i] += motion_cross_force(ov[i], hc[i]);
      Ydc[i] = inertia_variation(Y, ov[i]);
    }
  }

  // Backward pass: with the composites of i's subtree complete, the entries
  // of i's own columns against themselves and against every ancestor's
  // columns (both ways); then Y, Ẏ, h, F are carried to the parent.
  const auto ld = static_cast<std::size_t>(data.nv);
  double* const DQ = dq.data();
  double* const DV = kVelocity ? dv->data() : nullptr;
  double* const MM = kVelocity ? M->data() : nullptr;
  for (JointIndex i = model.njoints - 1; i >= 1; --i) {
    const std::size_t nvi = model.nv_joint[i];
    const JointIndex p = model.parents[i];
    if (nvi > 0) {
      const std::size_t iv = model.idx_v[i];
      const Column* c = cols + iv;
      const BodyInertia& Y = Yc[i];
      Force P[6], Q[6], Phq[6], Phv[6];  // per own column: Y S, Bᵀ S, and the ancestor-row forces
      for (std::size_t k = 0; k < nvi; ++k) {
        const Motion& S = c[k].S;
        P[k] = inertia_apply(Y, S);
        Phq[k] = motion_cross_force(S, Fc[i]) - inertia_apply(Y, c[k].w);
        if constexpr (kVelocity) {
          const Force Sh = motion_cross_force(S, hc[i]);
          const Force YdS = apply_rate(Ydc[i], S);
          Q[k] = YdS - Sh;
          Phq[k] = Phq[k] - apply_rate(Ydc[i], c[k].u) - motion_cross_force(c[k].u, hc[i]);
          Phv[k] = inertia_apply(Y, c[k].e) + YdS + Sh;
        }
      }
      // Own block: rows r and columns k both of joint i.
      for (std::size_t k = 0; k < nvi; ++k) {
        const std::size_t ck = (iv + k) * ld;
        for (std::size_t r = 0; r < nvi; ++r) {
          if constexpr (kVelocity) {
            DQ[ck + iv + r] = -(power(c[k].w, P[r]) + power(c[k].u, Q[r]));
            DV[ck + iv + r] = power(c[k].e, P[r]) + power(c[k].S, Q[r]);
            if (r <= k) MM[ck + iv + r] = MM[(iv + r) * ld + iv + k] = power(c[r].S, P[k]);
          } else {
            DQ[ck + iv + r] = -power(c[k].w, P[r]);
          }
        }
      }
      // Ancestor columns k: row i against column k, row k against column i.
      for (JointIndex anc = p; anc != 0; anc = model.parents[anc]) {
        const std::size_t av = model.idx_v[anc], an = model.nv_joint[anc];
        for (std::size_t kk = av; kk < av + an; ++kk) {
          const Column& ca = cols[kk];
          for (std::size_t r = 0; r < nvi; ++r) {
            const std::size_t row = iv + r;
            if constexpr (kVelocity) {
              DQ[kk * ld + row] = -(power(ca.w, P[r]) + power(ca.u, Q[r]));
              DV[kk * ld + row] = power(ca.e, P[r]) + power(ca.S, Q[r]);
              DQ[row * ld + kk] = power(ca.S, Phq[r]);
              DV[row * ld + kk] = power(ca.S, Phv[r]);
              MM[row * ld + kk] = MM[kk * ld + row] = power(ca.S, P[r]);
            } else {
              DQ[kk * ld + row] = -power(ca.w, P[r]);
              DQ[row * ld + kk] = power(ca.S, Phq[r]);
            }
          }
        }
      }
    }
    if (p != 0) {
      composite_merge(Yc[p], Yc[i]);
      Fc[p] += Fc[i];
      if constexpr (kVelocity) {
        hc[p] += hc[i];
        Ydc[p] += Ydc[i];
      }
    }
  }
}

}  // namespace

void computeRNEADerivatives(const Model& model, Data& data, const Eigen::Ref<const Eigen::VectorXd>& q,
                            const Eigen::Ref<const Eigen::VectorXd>& v,
                            const Eigen::Ref<const Eigen::VectorXd>& a) {
  check_configuration_size(model, q.size());
  check_velocity_size(model, v.size());
  if (a.size() != v.size())
    throw InternalError(cat("assertion failed: a.len() == v.len() (", a.size(), " != ", v.size(), ")"));
  data.check_model(model);
  size_outputs(data, {&data.dtau_dq, &data.dtau_dv, &data.dtau_da});
  rnea_derivatives<true>(model, data, q.data(), v.data(), a.data(), data.dtau_dq, &data.dtau_dv,
                         &data.dtau_da);
}

void computeABADerivatives(const Model&, Data&, const Eigen::Ref<const Eigen::VectorXd>&,
                           const Eigen::Ref<const Eigen::VectorXd>&, const Eigen::Ref<const Eigen::VectorXd>&) {
  throw InternalError("computeABADerivatives: not implemented yet");
}

const Eigen::MatrixXd& computeGeneralizedGravityDerivatives(const Model& model, Data& data,
                                                            const Eigen::Ref<const Eigen::VectorXd>& q) {
  check_configuration_size(model, q.size());
  data.check_model(model);
  size_outputs(data, {&data.dg_dq});
  rnea_derivatives<false>(model, data, q.data(), nullptr, nullptr, data.dg_dq, nullptr, nullptr);
  return data.dg_dq;
}

}  // namespace lumo
