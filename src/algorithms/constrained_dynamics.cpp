#include "constrained_dynamics.hpp"

#include <cmath>
#include <string>

#include "crba.hpp"
#include "errors/errors.hpp"
#include "internal/checks.hpp"
#include "internal/constraint_rows.hpp"
#include "internal/tree_ldl.hpp"
#include "jacobians.hpp"

namespace lumo {
namespace {

using constraint_rows::check_call;

// M = LᵀDL along the tree from crba's upper triangle, Y = M⁻¹Jᵀ into
// data.minv_jt and the Delassus matrix Δ = J·Y into data.delassus.
void delassus(const Model& model, Data& data) {
  const std::size_t nv = model.nv;
  size_tree_factor(data, nv);
  coordinate_tree(model, data);
  factorM(data.M, data, Triangle::upper);
  data.minv_jt = data.constraint_jacobian.transpose();
  solveM_columns(data, data.minv_jt.data(), nv, static_cast<std::size_t>(data.minv_jt.cols()));
  data.delassus.noalias() = data.constraint_jacobian * data.minv_jt;
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

// x ← (L·Lᵀ)⁻¹ x by the factor of factor_delassus.
void solve_factored(const Data& data, Eigen::Ref<VectorX> x) {
  const auto L = data.delassus.triangularView<Eigen::Lower>();
  L.solveInPlace(x);
  L.transpose().solveInPlace(x);
}

// Δ·λ = r for λ, r in data.constraint_forces on entry, λ on exit: the
// Cholesky solve with μ = 0; with μ > 0 the proximal iterations
// (Δ + μE)·λₖ₊₁ = r + μ·λₖ from λ₀ = 0, which stay in the range of Δ and so
// converge to the least-norm solution when the rows are dependent.
void solve_delassus(Data& data, double mu) {
  factor_delassus(data, mu);
  if (mu == 0.0) {
    solve_factored(data, data.constraint_forces);
    return;
  }
  VectorX& r = data.constraint_scratch;
  VectorX& lambda = data.constraint_previous;
  r = data.constraint_forces;
  lambda.setZero();
  constexpr int kMaxIterations = 1000;
  for (int it = 0; it < kMaxIterations; ++it) {
    data.constraint_forces = r + mu * lambda;
    solve_factored(data, data.constraint_forces);
    const double step = (data.constraint_forces - lambda).lpNorm<Eigen::Infinity>();
    lambda = data.constraint_forces;
    if (!(step > 1e-14 * (1.0 + lambda.lpNorm<Eigen::Infinity>()))) break;  // converged, or NaN
  }
}

const VectorX& constrained_dynamics(const Model& model, Data& data, const ConstraintSet& set,
                                    const Eigen::Ref<const Eigen::VectorXd>& q,
                                    const Eigen::Ref<const Eigen::VectorXd>& v,
                                    const Eigen::Ref<const Eigen::VectorXd>& tau,
                                    const Eigen::Ref<const Matrix6X>* fext) {
  // J, γ, the target, M, and data.tau = nle − Σ Jᵢᵀ fextᵢ
  constraint_rows::evaluate(model, data, set, q, v, fext);
  delassus(model, data);
  // the free acceleration q̈₀ = M⁻¹ (τ − nle + Σ Jᵢᵀ fextᵢ)
  data.ddq = tau - data.tau;
  solveM_columns(data, data.ddq.data(), model.nv, 1);
  // Δ·λ = target − γ − J·q̈₀, then q̈ = q̈₀ + M⁻¹Jᵀ·λ
  data.constraint_forces = data.constraint_target - data.constraint_drift;
  data.constraint_forces.noalias() -= data.constraint_jacobian * data.ddq;
  solve_delassus(data, set.regularisation());
  data.ddq.noalias() += data.minv_jt * data.constraint_forces;
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
  data.impulse_velocity = v_before;
  data.impulse_velocity.noalias() += data.minv_jt * data.constraint_forces;
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

void computeConstrainedDynamicsDerivatives(const Model&, Data&, const ConstraintSet&, const Eigen::Ref<const Eigen::VectorXd>&,
                                           const Eigen::Ref<const Eigen::VectorXd>&, const Eigen::Ref<const Eigen::VectorXd>&) {
  throw InternalError("not built yet");
}
void computeConstrainedDynamicsDerivatives(const Model&, Data&, const ConstraintSet&, const Eigen::Ref<const Eigen::VectorXd>&,
                                           const Eigen::Ref<const Eigen::VectorXd>&, const Eigen::Ref<const Eigen::VectorXd>&,
                                           const Eigen::Ref<const Matrix6X>&) {
  throw InternalError("not built yet");
}
void computeImpulseDynamicsDerivatives(const Model&, Data&, const ConstraintSet&, const Eigen::Ref<const Eigen::VectorXd>&,
                                       const Eigen::Ref<const Eigen::VectorXd>&, double) {
  throw InternalError("not built yet");
}

}  // namespace lumo
