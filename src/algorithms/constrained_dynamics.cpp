#include "constrained_dynamics.hpp"

#include "errors/errors.hpp"

namespace lumo {

const VectorX& constrainedDynamics(const Model&, Data& data, const ConstraintSet&, const Eigen::Ref<const Eigen::VectorXd>&,
                                   const Eigen::Ref<const Eigen::VectorXd>&, const Eigen::Ref<const Eigen::VectorXd>&) {
  throw InternalError("not built yet");
  return data.ddq;
}
const VectorX& constrainedDynamics(const Model&, Data& data, const ConstraintSet&, const Eigen::Ref<const Eigen::VectorXd>&,
                                   const Eigen::Ref<const Eigen::VectorXd>&, const Eigen::Ref<const Eigen::VectorXd>&,
                                   const Eigen::Ref<const Matrix6X>&) {
  throw InternalError("not built yet");
  return data.ddq;
}
const VectorX& impulseDynamics(const Model&, Data& data, const ConstraintSet&, const Eigen::Ref<const Eigen::VectorXd>&,
                               const Eigen::Ref<const Eigen::VectorXd>&, double) {
  throw InternalError("not built yet");
  return data.ddq;
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
