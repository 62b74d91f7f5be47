#include "constrained_dynamics.hpp"

#include <cmath>
#include <limits>
#include <string>

#include "crba.hpp"
#include "derivatives.hpp"
#include "errors/errors.hpp"
#include "internal/checks.hpp"
#include "internal/constraint_rows.hpp"
#include "internal/tree_ldl.hpp"
#include "kernels/row_major.hpp"
#include "kinematics_derivatives.hpp"

namespace lumo {
namespace {

using constraint_rows::check_call;

// M = LᵀDL along the tree from crba's upper triangle, W = D^(-1/2)L⁻ᵀJᵀ
// into data.delassus_rows (each column a sweep up the support paths of its
// row) and the Delassus matrix Δ = J·M⁻¹·Jᵀ = WᵀW into data.delassus.
void delassus(const Model& model, Data& data) {
  const std::size_t nv = model.nv;
  size_tree_factor(data, nv);
  coordinate_tree(model, data);
  factorM(data.M, data, Triangle::upper);
  factor_scale(data);
  MatrixX& W = data.delassus_rows;
  W = data.constraint_jacobian.transpose();
  solveHalfUp_columns(data, W.data(), nv, static_cast<std::size_t>(W.cols()));
  // Δ = WᵀW, its lower triangle (all the Cholesky factor reads)
  data.delassus.setZero();
  data.delassus.selfadjointView<Eigen::Lower>().rankUpdate(W.transpose());
}

// Cholesky Δ + μE = L·Lᵀ in place (lower triangle of data.delassus). With
// μ = 0, a pivot at most 1e-10 of the largest diagonal entry marks a row
// that depends on the rows before it; every such row is named in the
// ValueError. NaN pivots are kept: NaN in, NaN out.
void factor_delassus(Data& data, double mu) {
  MatrixX& L = data.delassus;
  const Eigen::Index s = L.rows();
  L.diagonal().array() += mu;
  const double scale = s > 0 ? L.diagonal().cwiseAbs().maxCoeff() : 0.0;
  std::string dependent;
  for (Eigen::Index k = 0; k < s; ++k) {
    double d = L(k, k) - L.row(k).head(k).squaredNorm();
    if (d <= 1e-10 * scale) {
      dependent += (dependent.empty() ? "" : ", ") + std::to_string(k);
      L.col(k).tail(s - k).setZero();
      L(k, k) = 1.0;
      continue;
    }
    d = std::sqrt(d);
    L(k, k) = d;
    for (Eigen::Index r = k + 1; r < s; ++r)
      L(r, k) = (L(r, k) - L.row(r).head(k).dot(L.row(k).head(k))) / d;
  }
  if (!dependent.empty())
    throw ValueError("Constraint rows are linearly dependent: rows " + dependent +
                     " depend on the rows before them (set regularisation > 0)");
}

// x ← (L·Lᵀ)⁻¹ x (a vector or a block of columns) by the factor of
// factor_delassus.
template <typename X>
void solve_factored(const Data& data, X&& x) {
  const auto L = data.delassus.triangularView<Eigen::Lower>();
  L.solveInPlace(x);
  L.transpose().solveInPlace(x);
}

// x ← the solution λ of Δ·λ = x by the factor of Δ + μE: the Cholesky
// solve with μ = 0; with μ > 0 the proximal iterations
// (Δ + μE)·λₖ₊₁ = x + μ·λₖ from λ₀ = 0, which stay in the range of Δ and so
// converge to the least-norm solution when the rows are dependent.
void solve_rows(Data& data, Eigen::Ref<VectorX> x, double mu) {
  if (mu == 0.0) {
    solve_factored(data, x);
    return;
  }
  VectorX& r = data.constraint_scratch;
  VectorX& lambda = data.constraint_previous;
  r = x;
  lambda.setZero();
  // The steps shrink geometrically until rounding (the part of r off the
  // range of Δ, which each step adds again) holds them: stop there.
  constexpr int kMaxIterations = 1000;
  double previous = std::numeric_limits<double>::infinity();
  for (int it = 0; it < kMaxIterations; ++it) {
    x = r + mu * lambda;
    solve_factored(data, x);
    const double step = (x - lambda).lpNorm<Eigen::Infinity>();
    lambda = x;
    if (!(step > 1e-15 * (1.0 + lambda.lpNorm<Eigen::Infinity>()) && step < previous)) break;  // or NaN
    previous = step;
  }
}

// Δ·λ = r, r in data.constraint_forces on entry, λ on exit.
void solve_delassus(Data& data, double mu) {
  factor_delassus(data, mu);
  solve_rows(data, data.constraint_forces, mu);
}

// X (s×nv) ← Δ⁻¹X by the factor solve_delassus left: two triangular
// solves of the whole block with μ = 0, the proximal iterations column by
// column otherwise.
void solve_rows_matrix(Data& data, Eigen::Ref<MatrixX> X, double mu) {
  if (mu == 0.0) {
    solve_factored(data, X);
    return;
  }
  for (Eigen::Index k = 0; k < X.cols(); ++k) solve_rows(data, X.col(k), mu);
}

const VectorX& constrained_dynamics(const Model& model, Data& data, const ConstraintSet& set,
                                    const Eigen::Ref<const Eigen::VectorXd>& q,
                                    const Eigen::Ref<const Eigen::VectorXd>& v,
                                    const Eigen::Ref<const Eigen::VectorXd>& tau,
                                    const Eigen::Ref<const Matrix6X>* fext) {
  // J, γ, the target, M, and data.tau = nle − Σ Jᵢᵀ fextᵢ
  constraint_rows::evaluate(model, data, set, q, v, fext);
  delassus(model, data);
  // M = LᵀDL: with z = D^(-1/2)L⁻ᵀ(τ − nle + Σ Jᵢᵀ fextᵢ), the free
  // acceleration is q̈₀ = L⁻¹D^(-1/2)z and J·q̈₀ = Wᵀz; Δ·λ = target − γ − Wᵀz;
  // q̈ = L⁻¹D^(-1/2)(z + W·λ).
  VectorX& z = data.ddq;
  z = tau - data.tau;
  solveHalfUp_columns(data, z.data(), model.nv, 1);
  data.constraint_forces = data.constraint_target - data.constraint_drift;
  data.constraint_forces.noalias() -= data.delassus_rows.transpose() * z;
  solve_delassus(data, set.regularisation());
  z.noalias() += data.delassus_rows * data.constraint_forces;
  solveHalfDown_columns(data, z.data(), model.nv, 1);
  return data.ddq;
}

}  // namespace

const VectorX& constrainedDynamics(const Model& model, Data& data, const ConstraintSet& set,
                                   const Eigen::Ref<const Eigen::VectorXd>& q,
                                   const Eigen::Ref<const Eigen::VectorXd>& v,
                                   const Eigen::Ref<const Eigen::VectorXd>& tau) {
  check_call(model, data, set, q.size(), v.size(), tau.size(), "tau");
  return constrained_dynamics(model, data, set, q, v, tau, nullptr);
}

const VectorX& constrainedDynamics(const Model& model, Data& data, const ConstraintSet& set,
                                   const Eigen::Ref<const Eigen::VectorXd>& q,
                                   const Eigen::Ref<const Eigen::VectorXd>& v,
                                   const Eigen::Ref<const Eigen::VectorXd>& tau,
                                   const Eigen::Ref<const Matrix6X>& fext) {
  check_call(model, data, set, q.size(), v.size(), tau.size(), "tau");
  check_external_forces(model, fext.cols());
  return constrained_dynamics(model, data, set, q, v, tau, &fext);
}

namespace {

void check_restitution(double e) {
  if (!(e >= 0.0 && e <= 1.0)) throw ValueError(cat("restitution must be in [0, 1], got ", e));
}

// v⁺ and the impulses at (q, v⁻): Δ·p = −(1 + e)·J·v⁻, v⁺ = v⁻ + M⁻¹Jᵀ·p.
const VectorX& impulse_dynamics(const Model& model, Data& data, const ConstraintSet& set,
                                const Eigen::Ref<const Eigen::VectorXd>& q,
                                const Eigen::Ref<const Eigen::VectorXd>& v_before, double restitution) {
  constraint_rows::size_workspace(data, set.size());
  crba(model, data, q);
  constraint_rows::fill_rows(model, data, set, Motion::Zero(), true, false);
  delassus(model, data);
  data.constraint_forces.noalias() = data.constraint_jacobian * v_before;
  data.constraint_forces *= -(1.0 + restitution);
  solve_delassus(data, set.regularisation());
  // v⁺ = v⁻ + L⁻¹D^(-1/2)·W·p
  data.impulse_velocity.noalias() = data.delassus_rows * data.constraint_forces;
  solveHalfDown_columns(data, data.impulse_velocity.data(), model.nv, 1);
  data.impulse_velocity += v_before;
  return data.impulse_velocity;
}

}  // namespace

const VectorX& impulseDynamics(const Model& model, Data& data, const ConstraintSet& set,
                               const Eigen::Ref<const Eigen::VectorXd>& q,
                               const Eigen::Ref<const Eigen::VectorXd>& v_before, double restitution) {
  check_call(model, data, set, q.size(), v_before.size());
  check_restitution(restitution);
  return impulse_dynamics(model, data, set, q, v_before, restitution);
}

namespace {

void size_derivatives(Data& data, std::size_t s) {
  const auto n = static_cast<Eigen::Index>(data.nv), rows = static_cast<Eigen::Index>(s);
  for (MatrixX* m : {&data.ddq_dq, &data.ddq_dv, &data.ddq_dtau})
    if (m->rows() != n || m->cols() != n) m->setZero(n, n);
  for (MatrixX* m : {&data.dforces_dq, &data.dforces_dv, &data.dforces_dtau})
    if (m->rows() != rows || m->cols() != n) m->setZero(rows, n);
}

// Given the right-hand sides of the differentiated KKT system for
// x = q, v and τ (the first `count` of them),
//   M·δq̈ − Jᵀ·δλ = B (nv×nv each: data.ddq_dq, ddq_dv, ddq_dtau),
//   J·δq̈ = C (s×nv each: data.dforces_dq, dforces_dv, dforces_dtau),
// the solution in their place, all blocks side by side (B row-major in
// data.ldl_rhs, C in the rows' scratch): with M = LᵀDL and W as in
// delassus, Z = D^(-1/2)L⁻ᵀB, δλ = Δ⁻¹(C − WᵀZ), δq̈ = L⁻¹D^(-1/2)(Z + W·δλ).
void solve_kkt(Data& data, int count, double mu) {
  const std::size_t nv = data.nv, ld = 3 * nv;
  MatrixX* const dd[] = {&data.ddq_dq, &data.ddq_dv, &data.ddq_dtau};
  MatrixX* const dl[] = {&data.dforces_dq, &data.dforces_dv, &data.dforces_dtau};
  const auto n = static_cast<Eigen::Index>(nv), cols = count * n;
  if (data.ldl_rhs.rows() != n || data.ldl_rhs.cols() != 3 * n) data.ldl_rhs.resize(n, 3 * n);
  double* const X = data.ldl_rhs.data();
  auto Z = data.ldl_rhs.leftCols(cols);
  auto C = data.constraint_rows_scratch.leftCols(cols);
  for (int x = 0; x < count; ++x) {
    transpose_scaled(dd[x]->data(), nv, X + x * nv, ld, nv, nv, 1.0);
    C.middleCols(x * n, n) = *dl[x];
  }
  solveHalfUp_rows(data, X, ld, static_cast<std::size_t>(cols));
  C.noalias() -= data.delassus_rows.transpose() * Z;
  solve_rows_matrix(data, C, mu);
  Z.noalias() += data.delassus_rows * C;
  solveHalfDown_rows(data, X, ld, static_cast<std::size_t>(cols));
  for (int x = 0; x < count; ++x) {
    transpose_scaled(X + x * nv, ld, dd[x]->data(), nv, nv, nv, 1.0);
    *dl[x] = C.middleCols(x * n, n);
  }
}

void constrained_derivatives(const Model& model, Data& data, const ConstraintSet& set,
                             const Eigen::Ref<const Eigen::VectorXd>& q, const Eigen::Ref<const Eigen::VectorXd>& v,
                             const Eigen::Ref<const Eigen::VectorXd>& tau, const Eigen::Ref<const Matrix6X>* fext) {
  constrained_dynamics(model, data, set, q, v, tau, fext);
  size_derivatives(data, set.size());
  // τ = ID(q, v, q̈, fext) − J(q)ᵀλ and c = J·q̈ + γ − target = 0 hold for
  // every state; differentiated along x:
  //   M·δq̈ − Jᵀ·δλ = −∂(ID − Jᵀλ)/∂x (+ δτ),  J·δq̈ = −∂c/∂x.
  computeKinematicsDerivatives(model, data, q, v, data.ddq);
  data.ddq_dq.setZero();
  constraint_rows::add_force_derivative(model, data, set, data.constraint_forces, data.ddq_dq);
  constraint_rows::row_derivatives(model, data, set, data.dforces_dq, &data.dforces_dv, false);
  data.dforces_dq *= -1.0;
  data.dforces_dv *= -1.0;
  if (fext != nullptr)
    computeRNEADerivatives(model, data, q, v, data.ddq, *fext);
  else
    computeRNEADerivatives(model, data, q, v, data.ddq);
  data.ddq_dq -= data.dtau_dq;
  data.ddq_dv = -data.dtau_dv;
  data.ddq_dtau.setIdentity();
  data.dforces_dtau.setZero();
  solve_kkt(data, 3, set.regularisation());
}

}  // namespace

void computeConstrainedDynamicsDerivatives(const Model& model, Data& data, const ConstraintSet& set,
                                           const Eigen::Ref<const Eigen::VectorXd>& q,
                                           const Eigen::Ref<const Eigen::VectorXd>& v,
                                           const Eigen::Ref<const Eigen::VectorXd>& tau) {
  check_call(model, data, set, q.size(), v.size(), tau.size(), "tau");
  constrained_derivatives(model, data, set, q, v, tau, nullptr);
}

void computeConstrainedDynamicsDerivatives(const Model& model, Data& data, const ConstraintSet& set,
                                           const Eigen::Ref<const Eigen::VectorXd>& q,
                                           const Eigen::Ref<const Eigen::VectorXd>& v,
                                           const Eigen::Ref<const Eigen::VectorXd>& tau,
                                           const Eigen::Ref<const Matrix6X>& fext) {
  check_call(model, data, set, q.size(), v.size(), tau.size(), "tau");
  check_external_forces(model, fext.cols());
  constrained_derivatives(model, data, set, q, v, tau, &fext);
}

void computeImpulseDynamicsDerivatives(const Model& model, Data& data, const ConstraintSet& set,
                                       const Eigen::Ref<const Eigen::VectorXd>& q,
                                       const Eigen::Ref<const Eigen::VectorXd>& v_before, double restitution) {
  check_call(model, data, set, q.size(), v_before.size());
  check_restitution(restitution);
  impulse_dynamics(model, data, set, q, v_before, restitution);
  size_derivatives(data, set.size());
  // M(q)·(v⁺ − v⁻) = J(q)ᵀp and J(q)·(v⁺ + e·v⁻) = 0, differentiated:
  //   along q: M·δv⁺ − Jᵀδp = −∂(M·(v⁺ − v⁻))/∂q + ∂(Jᵀp)/∂q,  J·δv⁺ = −∂(J·w)/∂q,
  //   along v⁻: M·δv⁺ − Jᵀδp = M,  J·δv⁺ = −e·J;
  // ∂(M·u)/∂q from the inverse-dynamics derivatives at (q, 0, u) less the
  // gravity's. data.ddq holds u, then w = v⁺ + e·v⁻.
  const VectorX& zero = data.constraint_zero_acceleration;
  data.ddq = data.impulse_velocity - v_before;
  computeRNEADerivatives(model, data, q, zero, data.ddq);
  data.ddq_dq = -data.dtau_dq;
  data.ddq_dq += computeGeneralizedGravityDerivatives(model, data, q);
  data.ddq = data.impulse_velocity + restitution * v_before;
  computeKinematicsDerivatives(model, data, q, data.ddq);
  constraint_rows::add_force_derivative(model, data, set, data.constraint_forces, data.ddq_dq);
  constraint_rows::row_derivatives(model, data, set, data.dforces_dq, nullptr, true);
  data.dforces_dq *= -1.0;
  // along v⁻: B = M (crba's, symmetrised), C = −e·J
  data.ddq_dv = data.M.selfadjointView<Eigen::Upper>();
  data.dforces_dv = -restitution * data.constraint_jacobian;
  solve_kkt(data, 2, set.regularisation());
}

}  // namespace lumo
