#include "aba.hpp"

#include <algorithm>

#include "configuration.hpp"
#include "errors/errors.hpp"
#include "internal/forward_pass.hpp"

namespace lumo {
namespace {

// The 6×nv_i block of a 6×nv matrix holding joint i's columns.
inline Eigen::Map<Matrix6X> joint_columns(Matrix6X& m, std::size_t iv, std::size_t n) {
  return {m.data() + 6 * iv, 6, static_cast<Eigen::Index>(n)};
}

// U = Ia·S and D⁻¹ = (Sᵀ Ia S)⁻¹ for joint i (S: its world columns of
// data.j), into data.aba_U and data.aba_Dinv. A singular D (a massless
// subtree) gives non-finite entries.
void joint_inertia_factors(const Model& model, Data& data, JointIndex i) {
  const std::size_t iv = model.idx_v[i], n = model.nv_joint[i];
  const Matrix6& Ia = data.oIa[i];
  auto S = joint_columns(data.j, iv, n);
  auto U = joint_columns(data.aba_U, iv, n);
  for (std::size_t k = 0; k < n; ++k) U.col(static_cast<Eigen::Index>(k)).noalias() = Ia * Vector6(S.col(static_cast<Eigen::Index>(k)));
  double* Dinv = data.aba_Dinv.data() + 6 * iv;  // column k of D⁻¹ at Dinv + 6k
  if (n == 1) {
    Dinv[0] = 1.0 / S.col(0).dot(U.col(0));
    return;
  }
  // D = Sᵀ U (symmetric positive definite for a body with mass), inverted
  // by Gauss–Jordan elimination without pivoting; a zero pivot gives
  // non-finite entries.
  double A[36];
  for (std::size_t r = 0; r < n; ++r)
    for (std::size_t c = 0; c < n; ++c)
      A[6 * c + r] = S.col(static_cast<Eigen::Index>(r)).dot(U.col(static_cast<Eigen::Index>(c)));
  for (std::size_t p = 0; p < n; ++p) {
    const double inv = 1.0 / A[6 * p + p];
    for (std::size_t c = 0; c < n; ++c) A[6 * c + p] *= inv;
    A[6 * p + p] = inv;
    for (std::size_t r = 0; r < n; ++r) {
      if (r == p) continue;
      const double f = A[6 * p + r];
      for (std::size_t c = 0; c < n; ++c) A[6 * c + r] -= f * A[6 * c + p];
      A[6 * p + r] = -f * inv;
    }
  }
  for (std::size_t c = 0; c < n; ++c)
    for (std::size_t r = 0; r < n; ++r) Dinv[6 * c + r] = A[6 * c + r];
}

// y = D⁻¹ x for joint i (n ≤ 6 entries).
inline void apply_Dinv(const double* Dinv, std::size_t n, const double* x, double* y) {
  for (std::size_t r = 0; r < n; ++r) {
    double s = 0.0;
    for (std::size_t c = 0; c < n; ++c) s += Dinv[6 * c + r] * x[c];
    y[r] = s;
  }
}

// Ia ← Ia − U D⁻¹ Uᵀ: the inertia the subtree of joint i shows its parent.
inline void articulated_inertia_for_parent(const double* U, const double* Dinv, std::size_t n,
                                           Matrix6& Ia) {
  for (std::size_t c = 0; c < n; ++c) {
    Vector6 UD = Vector6::Zero();  // column c of U D⁻¹
    for (std::size_t k = 0; k < n; ++k) UD += Eigen::Map<const Vector6>(U + 6 * k) * Dinv[6 * c + k];
    Ia.noalias() -= UD * Eigen::Map<const Vector6>(U + 6 * c).transpose();
  }
}

// The 6×6 matrix, [linear; angular], of the body inertia Y (mass m, centre
// of mass c, rotational inertia I_c in the body frame) carried to the world
// by M = (R, p): with c_w = R c + p and I_w = R I_c Rᵀ,
//   [[m E, −m [c_w]×], [m [c_w]×, I_w + m (|c_w|² E − c_w c_wᵀ)]],
// written entry by entry.
inline void world_inertia_matrix(const SE3& M, const BodyInertia& Y, Matrix6& out) {
  const Matrix3& R = M.rotation;
  const double* I = Y.inertia.data();
  Matrix3 Ic;
  Ic(0, 0) = I[0], Ic(1, 0) = Ic(0, 1) = I[1], Ic(1, 1) = I[2];
  Ic(2, 0) = Ic(0, 2) = I[3], Ic(2, 1) = Ic(1, 2) = I[4], Ic(2, 2) = I[5];
  Matrix3 T;
  T.noalias() = R * Ic;
  Matrix3 W;  // R I_c Rᵀ (symmetric: the lower triangle is formed)
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c <= r; ++c) W(r, c) = T(r, 0) * R(c, 0) + T(r, 1) * R(c, 1) + T(r, 2) * R(c, 2);
  const Vector3 cw = R * Y.lever + M.translation;
  const double m = Y.mass;
  const double x = cw.x(), y = cw.y(), z = cw.z();
  const double mx = m * x, my = m * y, mz = m * z;
  out(0, 0) = m, out(1, 0) = 0.0, out(2, 0) = 0.0, out(3, 0) = 0.0, out(4, 0) = mz, out(5, 0) = -my;
  out(0, 1) = 0.0, out(1, 1) = m, out(2, 1) = 0.0, out(3, 1) = -mz, out(4, 1) = 0.0, out(5, 1) = mx;
  out(0, 2) = 0.0, out(1, 2) = 0.0, out(2, 2) = m, out(3, 2) = my, out(4, 2) = -mx, out(5, 2) = 0.0;
  const double a = W(0, 0) + my * y + mz * z, b = W(1, 1) + mx * x + mz * z, e = W(2, 2) + mx * x + my * y;
  const double yx = W(1, 0) - mx * y, zx = W(2, 0) - mx * z, zy = W(2, 1) - my * z;
  out(0, 3) = 0.0, out(1, 3) = -mz, out(2, 3) = my, out(3, 3) = a, out(4, 3) = yx, out(5, 3) = zx;
  out(0, 4) = mz, out(1, 4) = 0.0, out(2, 4) = -mx, out(3, 4) = yx, out(4, 4) = b, out(5, 4) = zy;
  out(0, 5) = -my, out(1, 5) = mx, out(2, 5) = 0.0, out(3, 5) = zx, out(4, 5) = zy, out(5, 5) = e;
}

// The forward pass shared by aba and computeMinverse, joint i (parent done):
// limi, oMi, the world subspace columns S in data.j and oIa[i] = the body
// inertia in the world frame as a 6×6 matrix.
inline void world_step(const Model& model, Data& data, JointIndex i, const double* q) {
  forward_step(model, data, i, q);
  world_subspace_columns(model.joints[i], data.oMi[i], data.j.data() + 6 * model.idx_v[i]);
  world_inertia_matrix(data.oMi[i], model.inertias[i], data.oIa[i]);
}

}  // namespace

const Eigen::VectorXd& aba(const Model& model, Data& data, const Eigen::Ref<const Eigen::VectorXd>& q,
                           const Eigen::Ref<const Eigen::VectorXd>& v,
                           const Eigen::Ref<const Eigen::VectorXd>& tau) {
  check_state(model, data, q.size(), v.size(), tau.size(), "tau");
  start_forward_pass(model, data, q.data());
  data.ov[0] = Motion::Zero();
  data.oa[0].setZero();  // holds ov (as a column) until the last pass

  // Forward pass, world frame, [linear; angular] columns: S, ov_i = ov_λ +
  // S q̇_i, c_i = ov_i × S q̇_i, Ia_i = Y_i, pa_i = ov_i ×* (Y_i·ov_i).
  for (JointIndex i = 1; i < model.njoints; ++i) {
    world_step(model, data, i, q.data());
    const std::size_t iv = model.idx_v[i], n = model.nv_joint[i];
    const JointIndex p = model.parents[i];
    Vector6 vJ = Vector6::Zero();
    const double* S = data.j.data() + 6 * iv;
    for (std::size_t k = 0; k < n; ++k) vJ += Eigen::Map<const Vector6>(S + 6 * k) * v[static_cast<Eigen::Index>(iv + k)];
    Vector6& ov = data.oa[i];
    ov = data.oa[p] + vJ;
    const Vector3 l = ov.head<3>(), w = ov.tail<3>();
    const Vector3 lJ = vJ.head<3>(), wJ = vJ.tail<3>();
    Vector6& c = data.oc[i];
    c.head<3>() = w.cross(lJ) + l.cross(wJ);
    c.tail<3>() = w.cross(wJ);
    const Vector6 h = data.oIa[i] * ov;  // [linear momentum; angular momentum about the origin]
    const Vector3 hf = h.head<3>(), hn = h.tail<3>();
    Vector6& pa = data.opa[i];
    pa.head<3>() = w.cross(hf);
    pa.tail<3>() = w.cross(hn) + l.cross(hf);
    data.ov[i].linear = l;
    data.ov[i].angular = w;
  }
  data.oa[0] = to_column(-model.gravity);  // the root accelerates against gravity

  // Backward pass: U = Ia S, D = Sᵀ U, u = τ − Sᵀ pa; the parent takes
  //   Ia_λ += Ia − U D⁻¹ Uᵀ,   pa_λ += pa + (Ia − U D⁻¹ Uᵀ) c + U D⁻¹ u.
  for (JointIndex i = model.njoints - 1; i >= 1; --i) {
    const std::size_t iv = model.idx_v[i], n = model.nv_joint[i];
    const JointIndex p = model.parents[i];
    Matrix6& Ia = data.oIa[i];
    Vector6& pa = data.opa[i];
    const double* U = data.aba_U.data() + 6 * iv;
    const double* Dinv = data.aba_Dinv.data() + 6 * iv;
    if (n == 1) {  // the same steps with fixed sizes, for one coordinate
      const Eigen::Map<const Vector6> s(data.j.data() + 6 * iv);
      Eigen::Map<Vector6> Uv(data.aba_U.data() + 6 * iv);
      // Ia·S and Ia·c in one sweep over Ia
      Eigen::Matrix<double, 6, 2> sc;
      sc << s, data.oc[i];
      const Eigen::Matrix<double, 6, 2> Isc = Ia * sc;
      Uv = Isc.col(0);
      const double Dinv1 = 1.0 / s.dot(Uv);
      data.aba_Dinv(0, static_cast<Eigen::Index>(iv)) = Dinv1;
      const double u = tau[static_cast<Eigen::Index>(iv)] - s.dot(pa);
      data.aba_u[static_cast<Eigen::Index>(iv)] = u;
      if (p == 0) continue;
      const Vector6 UD = Uv * Dinv1;
      // pa_λ += pa + U D⁻¹ u + Ia c − U D⁻¹ (Uᵀ c);  Ia_λ += Ia − U D⁻¹ Uᵀ
      pa += UD * (u - Uv.dot(sc.col(1)));
      pa += Isc.col(1);
      data.opa[p] += pa;
      Matrix6& Ip = data.oIa[p];
      for (int j = 0; j < 6; ++j) Ip.col(j) += Ia.col(j) - UD * Uv[j];
      continue;
    }
    if (n == 0) {  // S q̇ = 0, so c = 0: the subtree passes on as it is
      if (p != 0) {
        data.oIa[p] += Ia;
        data.opa[p] += pa;
      }
      continue;
    }
    double Du[6];
    if (n > 0) {
      joint_inertia_factors(model, data, i);
      const double* S = data.j.data() + 6 * iv;
      double* u = data.aba_u.data() + iv;
      for (std::size_t k = 0; k < n; ++k)
        u[k] = tau[static_cast<Eigen::Index>(iv + k)] - Eigen::Map<const Vector6>(S + 6 * k).dot(pa);
      apply_Dinv(Dinv, n, u, Du);
    }
    if (p == 0) continue;
    // One sweep over the columns of Ia: column j of Ia − U D⁻¹ Uᵀ goes to
    // Ia_λ and, times c_j, to the bias force.
    Vector6 UD[6];  // columns of U D⁻¹
    for (std::size_t k = 0; k < n; ++k) {
      UD[k].setZero();
      for (std::size_t l = 0; l < n; ++l) UD[k] += Eigen::Map<const Vector6>(U + 6 * l) * Dinv[6 * k + l];
      pa += Eigen::Map<const Vector6>(U + 6 * k) * Du[k];
    }
    const Vector6& c = data.oc[i];
    Matrix6& Ip = data.oIa[p];
    for (int j = 0; j < 6; ++j) {
      Vector6 col = Ia.col(j);
      for (std::size_t k = 0; k < n; ++k) col -= UD[k] * U[6 * k + static_cast<std::size_t>(j)];
      Ip.col(j) += col;
      pa += col * c[j];
    }
    data.opa[p] += pa;
  }

  // Forward pass: a' = a_λ + c;  q̈ = D⁻¹ (u − Uᵀ a');  a = a' + S q̈.
  for (JointIndex i = 1; i < model.njoints; ++i) {
    const std::size_t iv = model.idx_v[i], n = model.nv_joint[i];
    Vector6& a = data.oa[i];
    a = data.oa[model.parents[i]] + data.oc[i];
    if (n == 1) {
      const Eigen::Map<const Vector6> Uv(data.aba_U.data() + 6 * iv), s(data.j.data() + 6 * iv);
      const auto c = static_cast<Eigen::Index>(iv);
      const double ddq = data.aba_Dinv(0, c) * (data.aba_u[c] - Uv.dot(a));
      data.ddq[c] = ddq;
      a += s * ddq;
      continue;
    }
    if (n == 0) continue;
    const double* U = data.aba_U.data() + 6 * iv;
    const double* S = data.j.data() + 6 * iv;
    double r[6];
    for (std::size_t k = 0; k < n; ++k)
      r[k] = data.aba_u[static_cast<Eigen::Index>(iv + k)] - Eigen::Map<const Vector6>(U + 6 * k).dot(a);
    double* ddq = data.ddq.data() + iv;
    apply_Dinv(data.aba_Dinv.data() + 6 * iv, n, r, ddq);
    for (std::size_t k = 0; k < n; ++k) a += Eigen::Map<const Vector6>(S + 6 * k) * ddq[k];
  }
  return data.ddq;
}

const Eigen::MatrixXd& computeMinverse(const Model& model, Data& data,
                                       const Eigen::Ref<const Eigen::VectorXd>& q) {
  check_state(model, data, q.size());
  const std::size_t nv = model.nv;
  const auto n_ = static_cast<Eigen::Index>(nv);
  if (data.Minv.rows() != n_ || data.Minv.cols() != n_) data.Minv.resize(n_, n_);
  start_forward_pass(model, data, q.data());
  std::vector<std::size_t>& end = data.minv_end;
  std::vector<std::size_t>& slot = data.minv_slot;

  // Forward pass: S, Ia_i = Y_i (world frame); the subtree's velocity range
  // starts as the joint's own; slot = rank among the moving joints (from 1)
  // or the slot of the nearest moving ancestor.
  std::size_t moving = 0;
  end[0] = 0;
  slot[0] = 0;
  for (JointIndex i = 1; i < model.njoints; ++i) {
    world_step(model, data, i, q.data());
    end[i] = model.nv_joint[i] > 0 ? model.idx_v[i] + model.nv_joint[i] : 0;
    slot[i] = model.nv_joint[i] > 0 ? ++moving : slot[model.parents[i]];
  }
  const auto work_cols = static_cast<Eigen::Index>(nv * moving);
  if (data.minv_work.rows() != 6 || data.minv_work.cols() < work_cols) data.minv_work.resize(6, work_cols);
  // The 6×nv block of a slot, stored row by row (row r at r·nv), so that
  // the loops over the columns c run along memory: first the bias forces F
  // of the unit torques in the subtree, then the accelerations A of every
  // unit torque.
  auto block = [&](std::size_t s) { return data.minv_work.data() + 6 * nv * (s - 1); };

  // Backward pass over sizes: end[i] = one past the last velocity index of
  // the subtree; F of each moving joint cleared on that range.
  for (JointIndex i = model.njoints - 1; i >= 1; --i) {
    const JointIndex p = model.parents[i];
    end[p] = std::max(end[p], end[i]);
    if (model.nv_joint[i] > 0) {
      double* F = block(slot[i]);
      for (std::size_t r = 0; r < 6; ++r) std::fill(F + r * nv + model.idx_v[i], F + r * nv + end[i], 0.0);
    }
  }

  // M⁻¹ is built in its lower triangle: column iv + k of joint i holds the
  // entries of rows c ≥ iv (by symmetry, row iv + k of the upper one).
  double* const Mi = data.Minv.data();
  const std::size_t ld = nv;
  // Backward pass for the unit torques e_c of the subtree columns c:
  //   u = E − Sᵀ F,  M⁻¹[i, c] ← D⁻¹ u  (the subtree's own part),
  //   F_λ += F + U D⁻¹ u,  Ia_λ += Ia − U D⁻¹ Uᵀ.
  for (JointIndex i = model.njoints - 1; i >= 1; --i) {
    const JointIndex p = model.parents[i];
    const std::size_t iv = model.idx_v[i], n = model.nv_joint[i];
    if (n == 0) {
      if (p != 0) data.oIa[p] += data.oIa[i];
      continue;
    }
    joint_inertia_factors(model, data, i);
    const double* S = data.j.data() + 6 * iv;
    const double* U = data.aba_U.data() + 6 * iv;
    const double* Dinv = data.aba_Dinv.data() + 6 * iv;
    const double* F = block(slot[i]);
    double* Fp = slot[p] != 0 ? block(slot[p]) : nullptr;
    const std::size_t lo = iv, hi = end[i];
    if (n == 1) {  // the same steps in single sweeps, for one coordinate
      double* __restrict x = Mi + iv * ld;
      const double d = Dinv[0];
      const double *f0 = F, *f1 = F + nv, *f2 = F + 2 * nv, *f3 = F + 3 * nv, *f4 = F + 4 * nv, *f5 = F + 5 * nv;
      for (std::size_t c = lo; c < hi; ++c)
        x[c] = -d * (((S[0] * f0[c] + S[1] * f1[c]) + S[2] * f2[c]) + ((S[3] * f3[c] + S[4] * f4[c]) + S[5] * f5[c]));
      x[iv] += d;
      if (Fp != nullptr) {
        for (std::size_t r = 0; r < 6; ++r) {
          double* __restrict fp = Fp + r * nv;
          const double* f = F + r * nv;
          const double Ur = U[r];
          for (std::size_t c = lo; c < hi; ++c) fp[c] += f[c] + Ur * x[c];
        }
      }
      if (p != 0) {
        articulated_inertia_for_parent(U, Dinv, n, data.oIa[i]);
        data.oIa[p] += data.oIa[i];
      }
      continue;
    }
    for (std::size_t k = 0; k < n; ++k) {  // u_k = e − S_kᵀ F
      double* u = Mi + (iv + k) * ld;
      const double* s = S + 6 * k;
      for (std::size_t c = lo; c < hi; ++c)
        u[c] = -(((s[0] * F[c] + s[1] * F[nv + c]) + s[2] * F[2 * nv + c]) +
                 ((s[3] * F[3 * nv + c] + s[4] * F[4 * nv + c]) + s[5] * F[5 * nv + c]));
      u[iv + k] += 1.0;
    }
    if (n == 1) {
      double* x = Mi + iv * ld;
      for (std::size_t c = lo; c < hi; ++c) x[c] *= Dinv[0];
    } else {
      for (std::size_t c = lo; c < hi; ++c) {
        double u[6], x[6];
        for (std::size_t k = 0; k < n; ++k) u[k] = Mi[(iv + k) * ld + c];
        apply_Dinv(Dinv, n, u, x);
        for (std::size_t k = 0; k < n; ++k) Mi[(iv + k) * ld + c] = x[k];
      }
    }
    if (Fp != nullptr) {  // F_λ += F + U x
      for (std::size_t r = 0; r < 6; ++r) {
        double* fp = Fp + r * nv;
        const double* f = F + r * nv;
        for (std::size_t c = lo; c < hi; ++c) fp[c] += f[c];
        for (std::size_t k = 0; k < n; ++k) {
          const double Urk = U[6 * k + r];
          const double* x = Mi + (iv + k) * ld;
          for (std::size_t c = lo; c < hi; ++c) fp[c] += Urk * x[c];
        }
      }
    }
    if (p != 0) {
      articulated_inertia_for_parent(U, Dinv, n, data.oIa[i]);
      data.oIa[p] += data.oIa[i];
    }
  }

  // Forward pass for the rows c ≥ idx_v[i]:
  //   M⁻¹[c, i] = (that part) − D⁻¹ Uᵀ A_λ[:, c],  A_i[:, c] = A_λ[:, c] + S M⁻¹[c, i].
  for (JointIndex i = 1; i < model.njoints; ++i) {
    const std::size_t iv = model.idx_v[i], n = model.nv_joint[i];
    if (n == 0) continue;
    const std::size_t sp = slot[model.parents[i]];
    const double* S = data.j.data() + 6 * iv;
    const double* U = data.aba_U.data() + 6 * iv;
    const double* Dinv = data.aba_Dinv.data() + 6 * iv;
    double* A = block(slot[i]);
    const double* Ap = sp != 0 ? block(sp) : nullptr;
    for (std::size_t k = 0; k < n; ++k) std::fill(Mi + (iv + k) * ld + end[i], Mi + (iv + k) * ld + nv, 0.0);
    if (n == 1 && Ap != nullptr && end[i] > iv + 1) {  // single sweep, one coordinate
      double* __restrict x = Mi + iv * ld;
      const double d = Dinv[0];
      const double *p0 = Ap, *p1 = Ap + nv, *p2 = Ap + 2 * nv, *p3 = Ap + 3 * nv, *p4 = Ap + 4 * nv, *p5 = Ap + 5 * nv;
      double *__restrict a0 = A, *__restrict a1 = A + nv, *__restrict a2 = A + 2 * nv;
      double *__restrict a3 = A + 3 * nv, *__restrict a4 = A + 4 * nv, *__restrict a5 = A + 5 * nv;
      const double* u = U;
      for (std::size_t c = iv; c < nv; ++c) {
        const double t = ((u[0] * p0[c] + u[1] * p1[c]) + u[2] * p2[c]) + ((u[3] * p3[c] + u[4] * p4[c]) + u[5] * p5[c]);
        const double xc = x[c] - d * t;
        x[c] = xc;
        a0[c] = p0[c] + S[0] * xc, a1[c] = p1[c] + S[1] * xc, a2[c] = p2[c] + S[2] * xc;
        a3[c] = p3[c] + S[3] * xc, a4[c] = p4[c] + S[4] * xc, a5[c] = p5[c] + S[5] * xc;
      }
      continue;  // (column iv of A is written too, and never read)
    }
    if (Ap != nullptr) {
      if (n == 1) {
        double* x = Mi + iv * ld;
        const double* u = U;
        const double d = Dinv[0];
        for (std::size_t c = iv; c < nv; ++c)
          x[c] -= d * (((u[0] * Ap[c] + u[1] * Ap[nv + c]) + u[2] * Ap[2 * nv + c]) +
                       ((u[3] * Ap[3 * nv + c] + u[4] * Ap[4 * nv + c]) + u[5] * Ap[5 * nv + c]));
      } else {
        for (std::size_t c = iv; c < nv; ++c) {
          double t[6], y[6];
          for (std::size_t k = 0; k < n; ++k) {
            const double* u = U + 6 * k;
            t[k] = ((u[0] * Ap[c] + u[1] * Ap[nv + c]) + u[2] * Ap[2 * nv + c]) +
                   ((u[3] * Ap[3 * nv + c] + u[4] * Ap[4 * nv + c]) + u[5] * Ap[5 * nv + c]);
          }
          apply_Dinv(Dinv, n, t, y);
          for (std::size_t k = 0; k < n; ++k) Mi[(iv + k) * ld + c] -= y[k];
        }
      }
    }
    // A_i = A_λ + S x, only on the rows its descendants read (c ≥ iv + n).
    if (end[i] <= iv + n) continue;  // no moving descendant
    const std::size_t lo = iv + n;
    for (std::size_t r = 0; r < 6; ++r) {
      double* a = A + r * nv;
      const double S0 = S[r];
      const double* x0 = Mi + iv * ld;
      if (Ap != nullptr) {
        const double* ap = Ap + r * nv;
        for (std::size_t c = lo; c < nv; ++c) a[c] = ap[c] + S0 * x0[c];
      } else {
        for (std::size_t c = lo; c < nv; ++c) a[c] = S0 * x0[c];
      }
      for (std::size_t k = 1; k < n; ++k) {
        const double Srk = S[6 * k + r];
        const double* x = Mi + (iv + k) * ld;
        for (std::size_t c = lo; c < nv; ++c) a[c] += Srk * x[c];
      }
    }
  }

  // The upper triangle mirrors the lower one, in 8×8 tiles.
  constexpr std::size_t kTile = 8;
  for (std::size_t c0 = 0; c0 < nv; c0 += kTile) {
    const std::size_t c1 = std::min(c0 + kTile, nv);
    for (std::size_t r0 = c0; r0 < nv; r0 += kTile) {
      const std::size_t r1 = std::min(r0 + kTile, nv);
      for (std::size_t r = r0; r < r1; ++r)
        for (std::size_t c = c0; c < std::min(c1, r); ++c) Mi[r * ld + c] = Mi[c * ld + r];
    }
  }
  return data.Minv;
}

}  // namespace lumo
