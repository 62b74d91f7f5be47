#include "crba.hpp"

#include "errors/errors.hpp"
#include "internal/checks.hpp"
#include "internal/mass_matrix_pass.hpp"

namespace lumo {
namespace {

// M(q), upper triangle and diagonal, into mass_matrix; the checks made.
void mass_matrix_pass(const Model& model, Data& data, const double* q, Eigen::Ref<Eigen::MatrixXd> mass_matrix) {
  data.world_inertia[0] = BodyInertia::Zero();
  mass_matrix_pass(model, data, q, mass_matrix.data(), static_cast<std::size_t>(mass_matrix.outerStride()));
}

}  // namespace

const Eigen::MatrixXd& crba(const Model& model, Data& data, const Eigen::Ref<const Eigen::VectorXd>& q) {
  check_state(model, data, q.size());
  // The pass writes the whole upper triangle and diagonal: only the strict
  // lower triangle is cleared.
  data.M.triangularView<Eigen::StrictlyLower>().setZero();
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
