#include "derivatives.hpp"

#include "errors.hpp"

namespace lumo {

void computeRNEADerivatives(const Model&, Data&, const Eigen::Ref<const Eigen::VectorXd>&,
                            const Eigen::Ref<const Eigen::VectorXd>&, const Eigen::Ref<const Eigen::VectorXd>&) {
  throw InternalError("computeRNEADerivatives: not implemented yet");
}

void computeABADerivatives(const Model&, Data&, const Eigen::Ref<const Eigen::VectorXd>&,
                           const Eigen::Ref<const Eigen::VectorXd>&, const Eigen::Ref<const Eigen::VectorXd>&) {
  throw InternalError("computeABADerivatives: not implemented yet");
}

const Eigen::MatrixXd& computeGeneralizedGravityDerivatives(const Model&, Data&,
                                                            const Eigen::Ref<const Eigen::VectorXd>&) {
  throw InternalError("computeGeneralizedGravityDerivatives: not implemented yet");
}

}  // namespace lumo
