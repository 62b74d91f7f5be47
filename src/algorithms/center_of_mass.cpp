#include "center_of_mass.hpp"

#include "errors.hpp"

namespace lumo {

const Vector3& centerOfMass(const Model&, Data&, const Eigen::Ref<const Eigen::VectorXd>&) {
  throw InternalError("centerOfMass: not implemented yet");
}
const Matrix3X& jacobianCenterOfMass(const Model&, Data&, const Eigen::Ref<const Eigen::VectorXd>&) {
  throw InternalError("jacobianCenterOfMass: not implemented yet");
}
const Matrix6X& computeCentroidalMap(const Model&, Data&, const Eigen::Ref<const Eigen::VectorXd>&) {
  throw InternalError("computeCentroidalMap: not implemented yet");
}
const Vector6& computeCentroidalMomentum(const Model&, Data&, const Eigen::Ref<const Eigen::VectorXd>&,
                                         const Eigen::Ref<const Eigen::VectorXd>&) {
  throw InternalError("computeCentroidalMomentum: not implemented yet");
}

}  // namespace lumo
