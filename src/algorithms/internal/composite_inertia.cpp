#include "composite_inertia.hpp"

namespace lumo {

void mass_matrix_forward_step(const Model& model, Data& data, JointIndex i) {
  mass_matrix_forward_step<Data>(model, data, i);
}

void mass_matrix_columns(const Model& model, Data& data, JointIndex i, const OriginInertia& Y,
                         Eigen::Ref<Eigen::MatrixXd> mass_matrix, Matrix6X* momentum) {
  mass_matrix_columns<double, Data>(model, data, i, Y, mass_matrix.data(),
                                    static_cast<std::size_t>(mass_matrix.outerStride()),
                                    momentum != nullptr ? momentum->data() : nullptr);
}

void composite_step(const Model& model, Data& data, JointIndex i, Eigen::Ref<Eigen::MatrixXd> mass_matrix,
                    Matrix6X* momentum, bool into_root) {
  composite_step<double, Data>(model, data, i, mass_matrix.data(), static_cast<std::size_t>(mass_matrix.outerStride()),
                               momentum != nullptr ? momentum->data() : nullptr, into_root);
}

}  // namespace lumo
