#include "rnea.hpp"

#include "errors/errors.hpp"
#include "internal/rnea_pass.hpp"

namespace lumo {
namespace {

// The shared core, τ into tau (nv elements); a null v or a stands for the
// zero vector, a null fext for no external force.
void rnea_pass(const Model& model, Data& data, const Eigen::Ref<const Eigen::VectorXd>& q,
               const double* v, const double* a, double* tau, const Eigen::Ref<const Matrix6X>* fext = nullptr) {
  rnea_forward(model, data, q.data(), v, a);
  if (fext != nullptr)
    subtract_external_forces(model, data, fext->data(), static_cast<std::size_t>(fext->outerStride()));
  rnea_backward(model, data, tau);
}

}  // namespace

const Eigen::VectorXd& rnea(const Model& model, Data& data, const Eigen::Ref<const Eigen::VectorXd>& q,
                            const Eigen::Ref<const Eigen::VectorXd>& v,
                            const Eigen::Ref<const Eigen::VectorXd>& a) {
  check_state(model, data, q.size(), v.size(), a.size());
  rnea_pass(model, data, q, v.data(), a.data(), data.tau.data());
  return data.tau;
}

void rnea(const Model& model, Data& data, const Eigen::Ref<const Eigen::VectorXd>& q,
          const Eigen::Ref<const Eigen::VectorXd>& v, const Eigen::Ref<const Eigen::VectorXd>& a,
          Eigen::Ref<Eigen::VectorXd> tau) {
  check_state(model, data, q.size(), v.size(), a.size());
  if (static_cast<std::size_t>(tau.size()) != model.nv) throw InternalError("Vector index out of bounds.");
  rnea_pass(model, data, q, v.data(), a.data(), tau.data());
}

const Eigen::VectorXd& inverseDynamics(const Model& model, Data& data, const Eigen::Ref<const Eigen::VectorXd>& q,
                                       const Eigen::Ref<const Eigen::VectorXd>& v,
                                       const Eigen::Ref<const Eigen::VectorXd>& a) {
  return rnea(model, data, q, v, a);
}

const Eigen::VectorXd& inverseDynamics(const Model& model, Data& data, const Eigen::Ref<const Eigen::VectorXd>& q,
                                       const Eigen::Ref<const Eigen::VectorXd>& v,
                                       const Eigen::Ref<const Eigen::VectorXd>& a,
                                       const Eigen::Ref<const Matrix6X>& fext) {
  check_state(model, data, q.size(), v.size(), a.size());
  check_external_forces(model, fext.cols());
  rnea_pass(model, data, q, v.data(), a.data(), data.tau.data(), &fext);
  return data.tau;
}

const Eigen::VectorXd& non_linear_effects(const Model& model, Data& data,
                                          const Eigen::Ref<const Eigen::VectorXd>& q,
                                          const Eigen::Ref<const Eigen::VectorXd>& v) {
  check_state(model, data, q.size(), v.size(), v.size());
  rnea_pass(model, data, q, v.data(), nullptr, data.tau.data());
  data.nle = data.tau;
  return data.nle;
}

const Eigen::VectorXd& compute_gravity(const Model& model, Data& data,
                                       const Eigen::Ref<const Eigen::VectorXd>& q) {
  check_state(model, data, q.size(), static_cast<Eigen::Index>(model.nv),
               static_cast<Eigen::Index>(model.nv));
  rnea_pass(model, data, q, nullptr, nullptr, data.tau.data());
  data.g = data.tau;
  return data.g;
}

}  // namespace lumo
