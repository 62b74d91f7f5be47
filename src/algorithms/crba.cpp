#include "crba.hpp"

#include "errors/errors.hpp"
#include "internal/checks.hpp"
#include "internal/composite_inertia.hpp"
#include "internal/forward_pass.hpp"

namespace lumo {
namespace {

// M(q), upper triangle and diagonal, into mass_matrix; the checks made.
void mass_matrix_pass(const Model& model, Data& data, const double* q, Eigen::Ref<Eigen::MatrixXd> mass_matrix) {
  start_forward_pass(model, data, q);
  start_mass_matrix(data);
  data.world_inertia[0] = BodyInertia::Zero();
  // Forward pass: what computeJointJacobians computes (limi, oMi, J_c =
  // oMi·S_k), the same columns transposed, and each body's inertia about
  // the world origin, Y_i = oMi·Y_body.
  double* const J = data.j.data();
  for (JointIndex i = 1; i < model.njoints; ++i) {
    forward_step(model, data, i, q);
    world_subspace_columns(model.joints[i], data.oMi[i], J + 6 * model.idx_v[i]);
    mass_matrix_forward_step(model, data, i);
    data.origin_composite[i] = origin_form(inertia_transform(data.oMi[i], model.inertias[i]));
  }

  // Backward pass: with Y_i the composite inertia of i's subtree about the
  // world origin, M[r, c] = J_rᵀ·Y_i·J_c for the columns c of joint i and
  // the columns r of i and its ancestors; then Y_λ += Y_i, a plain sum about
  // the common point. Entries above the diagonal off the paths are zero.
  for (JointIndex i = model.njoints - 1; i >= 1; --i) composite_step(model, data, i, mass_matrix, nullptr, false);
}

}  // namespace

const Eigen::MatrixXd& crba(const Model& model, Data& data, const Eigen::Ref<const Eigen::VectorXd>& q) {
  check_state(model, data, q.size());
  data.M.setZero();  // the strict lower triangle (one pass over memory)
  mass_matrix_pass(model, data, q.data(), data.M);
  return data.M;
}

void crba(const Model& model, Data& data, const Eigen::Ref<const Eigen::VectorXd>& q,
          Eigen::Ref<Eigen::MatrixXd> M) {
  check_state(model, data, q.size());
  if (static_cast<std::size_t>(M.rows()) != model.nv || static_cast<std::size_t>(M.cols()) != model.nv)
    throw InternalError("Matrix index out of bounds.");
  mass_matrix_pass(model, data, q.data(), M);
}

}  // namespace lumo
