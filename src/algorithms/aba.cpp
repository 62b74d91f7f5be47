#include "aba.hpp"

#include "errors.hpp"

namespace lumo {

const Eigen::VectorXd& aba(const Model&, Data&, const Eigen::Ref<const Eigen::VectorXd>&,
                           const Eigen::Ref<const Eigen::VectorXd>&, const Eigen::Ref<const Eigen::VectorXd>&) {
  throw InternalError("aba: not implemented yet");
}

const Eigen::MatrixXd& computeMinverse(const Model&, Data&, const Eigen::Ref<const Eigen::VectorXd>&) {
  throw InternalError("computeMinverse: not implemented yet");
}

}  // namespace lumo
