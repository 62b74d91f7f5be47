// The workspace of one Model: every intermediate and final result of the
// algorithms, sized once at creation and reused in place by every call.
// Fields are grouped by the algorithm that fills them.
#pragma once

#include <Eigen/Core>
#include <cstddef>
#include <string>
#include <vector>

#include "../algorithms/spatial.hpp"
#include "../model/model.hpp"

namespace lumo {

using VectorX = Eigen::VectorXd;
using MatrixX = Eigen::MatrixXd;
using Matrix6X = Eigen::Matrix<double, 6, Eigen::Dynamic>;
using Matrix3X = Eigen::Matrix<double, 3, Eigen::Dynamic>;

class Data {
 public:
  explicit Data(const Model& model);

  // Sizes of the model this workspace was made for.
  std::size_t njoints = 0;
  std::size_t nq = 0;
  std::size_t nv = 0;

  // forwardKinematics: joint i in its parent (limi) and in the world (oMi).
  std::vector<SE3> oMi, limi;

  // Inverse dynamics and the velocity passes, per joint in the joint frame
  // (ov in the world frame).
  std::vector<Motion> v, a, ov, a_gf;
  std::vector<Force> f, h;
  VectorX tau, nle, g;

  // Mass and Coriolis matrices (M: upper triangle and diagonal).
  MatrixX M, C;

  // Jacobians in the world frame, [linear; angular] rows.
  Matrix6X j, dJ;

  // Composite quantities.
  std::vector<BodyInertia> world_inertia;
  std::vector<Matrix6> world_inertia_rate;
  Matrix6X momentum_matrix, momentum_matrix_rate;
  Matrix3X com_jacobian;
  std::vector<Vector3> subtree_com, subtree_com_sum;
  std::vector<double> subtree_mass;
  // Centroidal quantities ([linear; angular] 6-vectors about the centre of mass).
  Vector6 centroidal_momentum = Vector6::Zero();
  Vector6 centroidal_momentum_rate = Vector6::Zero();
  BodyInertia centroidal_inertia;
  Vector3 com = Vector3::Zero();

  // Scratch storage reused by the algorithms (only what some algorithm reads).
  std::vector<Motion> aux_motion_1;
  std::vector<Force> aux_force_1, aux_force_2;
  std::vector<Matrix6> aux_matrix6_1, aux_matrix6_2;
  MatrixX aux_jacobian_t;  // nv×6: data.j transposed, so its rows lie along memory

  // Every result back to its creation value; sizes kept.
  void reset();

  // oMi[joint_id]; IndexError "Joint ID {id} out of range (max: {njoints-1})".
  const SE3& get_joint_placement(std::size_t joint_id) const;

  // Throws ValueError unless this workspace was made for a model of the
  // same sizes. Every algorithm calls it before touching anything.
  void check_model(const Model& model) const;
};

// The workspace report, line by line.
std::string data_report(const Data& data);

}  // namespace lumo
