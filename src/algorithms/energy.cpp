#include "energy.hpp"

#include "errors.hpp"

namespace lumo {

double computeKineticEnergy(const Model&, Data&, const Eigen::Ref<const Eigen::VectorXd>&,
                            const Eigen::Ref<const Eigen::VectorXd>&) {
  throw InternalError("computeKineticEnergy: not implemented yet");
}
double computePotentialEnergy(const Model&, Data&, const Eigen::Ref<const Eigen::VectorXd>&) {
  throw InternalError("computePotentialEnergy: not implemented yet");
}

}  // namespace lumo
