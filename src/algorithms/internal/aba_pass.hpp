// The passes of the articulated-body algorithm, written over the scalar of
// the state like rnea_pass.hpp: `data` a Data, or the workspace of the
// lock-step kernels with the same members (j, ia_times_s and
// joint_inertia_inv as plain arrays of 6·nv, column by column).
//
// Both algorithms of aba.cpp work in the world frame about its origin, with
// 6-vectors and 6×6 matrices in [linear; angular] order. For joint i with
// parent λ, its n world subspace columns S (data.j), the articulated inertia
// Ia of its subtree and
//   U = Ia S,   D = Sᵀ U,
// the subtree shows λ the inertia Ia − U D⁻¹ Uᵀ. The per-joint steps take n
// as a compile-time constant (with_joint_size); a joint of one coordinate
// has scalar steps of its own, a fixed joint passes its subtree on. Private
// to src/algorithms.
#pragma once

#include <type_traits>
#include <utility>

#include "../joints/joints.hpp"
#include "forward_pass.hpp"

namespace lumo::aba_steps {

// A joint whose subtree shows no inertia along its motion (no mass beyond
// it): D is zero, so M is singular and q̈ undefined (ValueError).
[[noreturn, gnu::cold]] void throw_moves_no_mass(const Model& model, JointIndex i);

// The steps are local to each file that runs them (aba.cpp, the lock-step
// kernels), so that the compiler folds each into its pass as it would a
// file's own static functions.
namespace {

// The motion m as a [linear; angular] column in the scalar S.
template <class S>
inline Eigen::Matrix<S, 6, 1> lift_column(const Motion& m) {
  Eigen::Matrix<S, 6, 1> c;
  c << lift<S>(m.linear), lift<S>(m.angular);
  return c;
}

template <class S>
using Vector6T = Eigen::Matrix<S, 6, 1>;
template <class S>
using Matrix6T = Eigen::Matrix<S, 6, 6>;

// Joint columns iv .. iv + n of a 6×nv matrix stored column by column (a
// Matrix6X, or the plain array of a lock-step workspace).
template <class Columns>
inline auto* column(Columns& m, std::size_t iv) {
  return m.data() + 6 * iv;
}
template <class S>
inline Eigen::Map<const Vector6T<S>> column6(const S* p, std::size_t k) {
  return Eigen::Map<const Vector6T<S>>(p + 6 * k);
}


// U = Ia·S and D⁻¹ = (Sᵀ Ia S)⁻¹ for joint i, into data.ia_times_s and
// data.joint_inertia_inv. A zero pivot of D is a joint that moves no mass
// (ValueError); a D made non-finite by the input gives non-finite entries.
template <int n, class Work>
void joint_inertia_factors(const Model& model, Work& data, JointIndex i) {
  using T = std::remove_cvref_t<decltype(data.articulated_inertia[i](0, 0))>;
  const std::size_t iv = model.idx_v[i];
  const Matrix6T<T>& Ia = data.articulated_inertia[i];
  const T* S = column(data.j, iv);
  T* U = column(data.ia_times_s, iv);
  Vector6T<T> Uk[n];  // (locals until Ia is read for the last time)
  for (int k = 0; k < n; ++k) Uk[k].noalias() = times(Ia, Vector6T<T>(column6(S, k)));
  for (int k = 0; k < n; ++k) Eigen::Map<Vector6T<T>>(U + 6 * k) = Uk[k];
  T* Dinv = column(data.joint_inertia_inv, iv);  // column k of D⁻¹ at Dinv + 6k
  if constexpr (n == 1) {
    const T D = dot(column6(S, 0), Uk[0]);
    if (has_zero(D)) throw_moves_no_mass(model, i);
    Dinv[0] = 1.0 / D;
  } else {
    // D = Sᵀ U (symmetric positive definite for a body with mass: its lower
    // triangle formed and mirrored), inverted by Gauss–Jordan elimination
    // without pivoting; a zero pivot gives non-finite entries.
    T A[36];
    for (int c = 0; c < n; ++c)
      for (int r = c; r < n; ++r) A[6 * r + c] = A[6 * c + r] = dot(column6(S, r), Uk[c]);
    // (A(r, c) at A[6r + c] during the elimination: its row operations run
    // along memory)
    for (int p = 0; p < n; ++p) {
      if (has_zero(A[6 * p + p])) throw_moves_no_mass(model, i);
      const T inv = 1.0 / A[6 * p + p];
      for (int c = 0; c < n; ++c) A[6 * p + c] *= inv;
      A[6 * p + p] = inv;
      for (int r = 0; r < n; ++r) {
        if (r == p) continue;
        const T f = A[6 * r + p];
        for (int c = 0; c < n; ++c) A[6 * r + c] -= f * A[6 * p + c];
        A[6 * r + p] = -f * inv;
      }
    }
    for (int c = 0; c < n; ++c)
      for (int r = 0; r < n; ++r) Dinv[6 * c + r] = A[6 * r + c];
  }
}

// y = D⁻¹ x for one joint (n ≤ 6 entries).
template <int n, class T>
inline void apply_Dinv(const T* Dinv, const T* x, T* y) {
  if constexpr (n == 1) {
    y[0] = Dinv[0] * x[0];
  } else {
    for (int r = 0; r < n; ++r) {
      T s = 0.0;
      for (int c = 0; c < n; ++c) s += Dinv[6 * c + r] * x[c];
      y[r] = s;
    }
  }
}

// Ia ← Ia − U D⁻¹ Uᵀ: the inertia the subtree of a joint shows its parent.
template <int n>
inline void articulated_inertia_for_parent(const double* U, const double* Dinv, Matrix6& Ia) {
  for (int c = 0; c < n; ++c) {
    Vector6 UD = Vector6::Zero();  // column c of U D⁻¹
    for (int k = 0; k < n; ++k) UD += column6(U, k) * Dinv[6 * c + k];
    Ia.noalias() -= UD * column6(U, c).transpose();
  }
}

// The 6×6 matrix, [linear; angular], of the body inertia Y (mass m, centre
// of mass c, rotational inertia I_c in the body frame) carried to the world
// by M = (R, p): with c_w = R c + p and I_w = R I_c Rᵀ,
//   [[m E, −m [c_w]×], [m [c_w]×, I_w + m (|c_w|² E − c_w c_wᵀ)]],
// written entry by entry.
template <class S>
inline void world_inertia_matrix(const SE3T<S>& M, const BodyInertia& Y, Matrix6T<S>& out) {
  const Matrix3T<S>& R = M.rotation;
  const double* I = Y.inertia.data();
  Matrix3 Ic;
  Ic(0, 0) = I[0], Ic(1, 0) = Ic(0, 1) = I[1], Ic(1, 1) = I[2];
  Ic(2, 0) = Ic(0, 2) = I[3], Ic(2, 1) = Ic(1, 2) = I[4], Ic(2, 2) = I[5];
  Matrix3T<S> T;
  T.noalias() = times(R, Ic);
  Matrix3T<S> W;  // R I_c Rᵀ (symmetric: the lower triangle is formed)
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c <= r; ++c) W(r, c) = T(r, 0) * R(c, 0) + T(r, 1) * R(c, 1) + T(r, 2) * R(c, 2);
  const Vector3T<S> cw = times(R, Y.lever) + M.translation;
  const double m = Y.mass;
  const S x = cw.x(), y = cw.y(), z = cw.z();
  const S mx = m * x, my = m * y, mz = m * z;
  out(0, 0) = m, out(1, 0) = 0.0, out(2, 0) = 0.0, out(3, 0) = 0.0, out(4, 0) = mz, out(5, 0) = -my;
  out(0, 1) = 0.0, out(1, 1) = m, out(2, 1) = 0.0, out(3, 1) = -mz, out(4, 1) = 0.0, out(5, 1) = mx;
  out(0, 2) = 0.0, out(1, 2) = 0.0, out(2, 2) = m, out(3, 2) = my, out(4, 2) = -mx, out(5, 2) = 0.0;
  const S a = W(0, 0) + my * y + mz * z, b = W(1, 1) + mx * x + mz * z, e = W(2, 2) + mx * x + my * y;
  const S yx = W(1, 0) - mx * y, zx = W(2, 0) - mx * z, zy = W(2, 1) - my * z;
  out(0, 3) = 0.0, out(1, 3) = -mz, out(2, 3) = my, out(3, 3) = a, out(4, 3) = yx, out(5, 3) = zx;
  out(0, 4) = mz, out(1, 4) = 0.0, out(2, 4) = -mx, out(3, 4) = yx, out(4, 4) = b, out(5, 4) = zy;
  out(0, 5) = -my, out(1, 5) = mx, out(2, 5) = 0.0, out(3, 5) = zx, out(4, 5) = zy, out(5, 5) = e;
}

// The articulated inertias are symmetric, and every update of them below
// keeps them exactly so (add_inertia_rank1). Double code keeps both
// triangles, updated a whole column at a time (two entries per
// instruction); a lock-step pack, whose every entry costs an instruction,
// adds up the lower triangles only and mirrors Ia_i where it reads the whole
// matrix. The two hold the same numbers.
template <class T>
inline constexpr bool kBothTriangles = std::is_same_v<T, double>;

// The upper triangle of the symmetric 6×6 Ia from its lower one (packs).
template <class T>
inline void fill_upper_triangle(Matrix6T<T>& Ia) {
  if constexpr (!kBothTriangles<T>)
    for (int c = 1; c < 6; ++c)
      for (int r = 0; r < c; ++r) Ia(r, c) = Ia(c, r);
}

// Ia_λ += Ia.
template <class T>
inline void add_inertia(Matrix6T<T>& Ip, const Matrix6T<T>& Ia) {
  if constexpr (kBothTriangles<T>) {
    Ip += Ia;
  } else {
    [&]<int... j>(std::integer_sequence<int, j...>) {
      ((Ip.col(j).template tail<6 - j>() += Ia.col(j).template tail<6 - j>()), ...);
    }(std::make_integer_sequence<int, 6>{});
  }
}

// Ia_λ += Ia − U D⁻¹ Uᵀ for one coordinate, entry by entry
// Ia_λ(r, j) += Ia(r, j) − (U_r U_j) D⁻¹ (exactly symmetric).
template <class T, class V>
inline void add_inertia_rank1(Matrix6T<T>& Ip, const Matrix6T<T>& Ia, const V& U, const T& Dinv) {
  if constexpr (kBothTriangles<T>) {
    for (int j = 0; j < 6; ++j) Ip.col(j) += Ia.col(j) - (U * U[j]) * Dinv;
  } else {
    [&]<int... j>(std::integer_sequence<int, j...>) {
      ((Ip.col(j).template tail<6 - j>() +=
        Ia.col(j).template tail<6 - j>() - (U.template tail<6 - j>() * U[j]) * Dinv),
       ...);
    }(std::make_integer_sequence<int, 6>{});
  }
}

// Ia_λ += the lower triangle of X (the entries at and below the diagonal of
// each column), mirrored into the upper one for double.
template <class T>
inline void add_lower_of(Matrix6T<T>& Ip, const Matrix6T<T>& X) {
  for (int j = 0; j < 6; ++j)
    for (int r = j; r < 6; ++r) {
      Ip(r, j) += X(r, j);
      if constexpr (kBothTriangles<T>)
        if (r != j) Ip(j, r) += X(r, j);
    }
}

// The forward pass shared by aba and computeMinverse, joint i (parent done):
// limi, oMi, the world subspace columns S in data.j and Ia_i = the body
// inertia in the world frame as a 6×6 matrix.
template <class S, class Work>
inline void world_step(const Model& model, Work& data, JointIndex i, const S* q) {
  forward_step(model, data, i, q);
  world_subspace_columns(model.joints[i], data.oMi[i], column(data.j, model.idx_v[i]));
  world_inertia_matrix(data.oMi[i], model.inertias[i], data.articulated_inertia[i]);
}

// ------------------------------------------------------------------- aba

// Joint i on the way out: v_i = v_λ + S q̇_i,  c_i = v_i × S q̇_i,
// Ia_i = Y_i,  pa_i = v_i ×* (Y_i v_i).
template <class T, class Work>
inline void aba_velocity_step(const Model& model, Work& data, JointIndex i, const T* q, const T* qd) {
  world_step(model, data, i, q);
  const std::size_t iv = model.idx_v[i];
  const T* S = column(data.j, iv);
  Vector6T<T> vJ;  // S q̇
  with_joint_size(model.joints[i], [&](auto n) {
    if constexpr (n == 0) {
      vJ.setZero();
    } else {
      vJ = column6(S, 0) * qd[iv];
      for (int k = 1; k < n; ++k) vJ += column6(S, k) * qd[iv + k];
    }
  });
  Vector6T<T>& ov = data.aba_velocity[i];
  ov = data.aba_velocity[model.parents[i]] + vJ;
  const Vector3T<T> l = ov.template head<3>(), w = ov.template tail<3>();
  const Vector3T<T> lJ = vJ.template head<3>(), wJ = vJ.template tail<3>();
  Vector6T<T>& c = data.aba_velocity_product[i];
  c.template head<3>() = w.cross(lJ) + l.cross(wJ);
  c.template tail<3>() = w.cross(wJ);
  // [linear momentum; angular momentum about the origin]
  const Vector6T<T> h = times(data.articulated_inertia[i], ov);
  const Vector3T<T> hf = h.template head<3>(), hn = h.template tail<3>();
  Vector6T<T>& pa = data.articulated_bias[i];
  pa.template head<3>() = w.cross(hf);
  pa.template tail<3>() = w.cross(hn) + l.cross(hf);
  data.ov[i].linear = l;
  data.ov[i].angular = w;
}

// Joint i on the way in: U = Ia S, D = Sᵀ U, u = τ − Sᵀ pa; the parent takes
//   Ia_λ += Ia − U D⁻¹ Uᵀ,   pa_λ += pa + (Ia − U D⁻¹ Uᵀ) c + U D⁻¹ u,
// in one sweep over the columns of Ia: column j of Ia − U D⁻¹ Uᵀ goes to
// Ia_λ and, times c_j, to the bias force.
template <int n, class T, class Work>
void aba_inertia_step(const Model& model, Work& data, JointIndex i, const T* tau) {
  const JointIndex p = model.parents[i];
  if constexpr (n == 0) {
    // No coordinate: S q̇ = 0, so c = 0 and the subtree passes on as it is.
    if (p == 0) return;
    add_inertia(data.articulated_inertia[p], data.articulated_inertia[i]);
    data.articulated_bias[p] += data.articulated_bias[i];
  } else if constexpr (n == 1) {
    // One coordinate: the same step with scalars, and
    // pa_λ += pa + U D⁻¹ (u − Uᵀ c) + Ia c.
    const std::size_t iv = model.idx_v[i];
    Matrix6T<T>& Ia = data.articulated_inertia[i];
    fill_upper_triangle(Ia);
    const Eigen::Map<const Vector6T<T>> s(column(data.j, iv));
    const Vector6T<T>& c = data.aba_velocity_product[i];
    // U = Ia s and Ia c in one sweep over the columns of Ia, each entry
    // summed from the first column on (the order of times()): one column
    // at a time in registers, where the 6×2 product loaded all of Ia at
    // once and spilled most of it to the stack. U in a local until Ia is
    // read for the last time, as the stores into data would make the
    // compiler keep a copy of Ia.
    Vector6T<T> U, Ic;
    U = Ia.col(0) * s[0];
    Ic = Ia.col(0) * c[0];
    for (int j = 1; j < 6; ++j) {
      U += Ia.col(j) * s[j];
      Ic += Ia.col(j) * c[j];
    }
    const T D = dot(s, U);
    if (has_zero(D)) throw_moves_no_mass(model, i);
    const T Dinv = 1.0 / D;
    const T u = tau[iv] - dot(s, data.articulated_bias[i]);
    if (p != 0) add_inertia_rank1(data.articulated_inertia[p], Ia, U, Dinv);
    Eigen::Map<Vector6T<T>>(column(data.ia_times_s, iv)) = U;
    *column(data.joint_inertia_inv, iv) = Dinv;
    data.joint_torque_residual[static_cast<Eigen::Index>(iv)] = u;
    if (p == 0) return;
    Vector6T<T>& pa = data.articulated_bias[i];
    const Vector6T<T> UD = U * Dinv;
    pa += UD * (u - dot(U, c));
    pa += Ic;
    data.articulated_bias[p] += pa;
  } else {
    const std::size_t iv = model.idx_v[i];
    Matrix6T<T>& Ia = data.articulated_inertia[i];
    fill_upper_triangle(Ia);
    Vector6T<T>& pa = data.articulated_bias[i];
    const T* U = column(data.ia_times_s, iv);
    const T* Dinv = column(data.joint_inertia_inv, iv);
    joint_inertia_factors<n>(model, data, i);
    const T* S = column(data.j, iv);
    T* u = data.joint_torque_residual.data() + iv;
    for (int k = 0; k < n; ++k) u[k] = tau[iv + k] - dot(column6(S, k), pa);
    T Du[6];
    apply_Dinv<n>(Dinv, u, Du);
    if (p == 0) return;
    Vector6T<T> UD[6];  // columns of U D⁻¹
    for (int k = 0; k < n; ++k) {
      UD[k].setZero();
      for (int l = 0; l < n; ++l) UD[k] += column6(U, l) * Dinv[6 * k + l];
      pa += column6(U, k) * Du[k];
    }
    const Vector6T<T>& c = data.aba_velocity_product[i];
    Matrix6T<T> Ir;  // Ia − U D⁻¹ Uᵀ
    for (int j = 0; j < 6; ++j) {
      Ir.col(j) = Ia.col(j);
      for (int k = 0; k < n; ++k) Ir.col(j) -= UD[k] * U[6 * k + j];
      pa += Ir.col(j) * c[j];
    }
    add_lower_of(data.articulated_inertia[p], Ir);
    data.articulated_bias[p] += pa;
  }
}

// Joint i on the way out again: a' = a_λ + c;  q̈ = D⁻¹ (u − Uᵀ a');
// a = a' + S q̈, q̈ into ddq (nv elements).
template <int n, class T, class Work>
void aba_acceleration_step(const Model& model, Work& data, JointIndex i, T* ddq_out) {
  const std::size_t iv = model.idx_v[i];
  Vector6T<T>& a = data.aba_acceleration[i];
  a = data.aba_acceleration[model.parents[i]] + data.aba_velocity_product[i];
  const T* U = column(data.ia_times_s, iv);
  const T* S = column(data.j, iv);
  T r[6];
  for (int k = 0; k < n; ++k)
    r[k] = data.joint_torque_residual[static_cast<Eigen::Index>(iv + k)] - dot(column6(U, k), a);
  T* ddq = ddq_out + iv;
  apply_Dinv<n>(column(data.joint_inertia_inv, iv), r, ddq);
  for (int k = 0; k < n; ++k) a += column6(S, k) * ddq[k];
}

// The passes of aba: the forward pass (velocities, velocity-product
// accelerations, body inertias and bias forces), then, after any external
// forces are taken off the bias forces, the backward pass (articulated
// inertias and bias forces) and the forward pass of the accelerations, from
// the root's against gravity, q̈ into ddq (nv elements).
template <class T, class Work>
void aba_velocities(const Model& model, Work& data, const T* q, const T* v) {
  start_forward_pass(model, data, q);
  data.ov[0] = MotionT<T>::Zero();
  data.aba_velocity[0].setZero();
  for (JointIndex i = 1; i < model.njoints; ++i) aba_velocity_step(model, data, i, q, v);
}

// The external forces on the bodies: pa_i −= oMi·f_ext,i, the [force;
// torque] of joint i at fext + i·stride carried to the world
// (world_external_force). Between the two.
template <class T, class Work>
void subtract_world_external_forces(const Model& model, Work& data, const T* fext, std::size_t stride) {
  for (JointIndex i = 1; i < model.njoints; ++i) {
    const T* fi = fext + i * stride;
    const ForceT<T> f = world_external_force(data.oMi[i], fi);
    auto& pa = data.articulated_bias[i];
    pa.template head<3>() -= f.force;
    pa.template tail<3>() -= f.moment;
  }
}

template <class T, class Work>
void aba_accelerations(const Model& model, Work& data, const T* tau, T* ddq) {
  for (JointIndex i = model.njoints - 1; i >= 1; --i)
    with_joint_size(model.joints[i], [&](auto n) { aba_inertia_step<n>(model, data, i, tau); });
  data.aba_acceleration[0] = lift_column<T>(-model.gravity);
  for (JointIndex i = 1; i < model.njoints; ++i)
    with_joint_size(model.joints[i], [&](auto n) { aba_acceleration_step<n>(model, data, i, ddq); });
}

}  // namespace
}  // namespace lumo::aba_steps
