#include "data.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <sstream>

#include "../algorithms/errors/errors.hpp"

namespace lumo {

Data::Data(const Model& model) : njoints(model.njoints), nq(model.nq), nv(model.nv) {
  const std::size_t N = njoints;
  const auto n = static_cast<Eigen::Index>(nv);
  oMi.assign(N, SE3::Identity());
  limi.assign(N, SE3::Identity());
  v.assign(N, Motion::Zero());
  a.assign(N, Motion::Zero());
  ov.assign(N, Motion::Zero());
  a_gf.assign(N, Motion::Zero());
  f.assign(N, Force::Zero());
  h.assign(N, Force::Zero());
  tau = VectorX::Zero(n);
  nle = VectorX::Zero(n);
  g = VectorX::Zero(n);
  M = MatrixX::Zero(n, n);
  C = MatrixX::Zero(n, n);
  j = Matrix6X::Zero(6, n);
  dJ = Matrix6X::Zero(6, n);
  world_inertia.assign(N, BodyInertia::Zero());
  world_inertia_rate.assign(N, Matrix6::Zero());
  momentum_matrix = Matrix6X::Zero(6, n);
  momentum_matrix_rate = Matrix6X::Zero(6, n);
  com_jacobian = Matrix3X::Zero(3, n);
  subtree_com.assign(N, Vector3::Zero());
  subtree_com_sum.assign(N, Vector3::Zero());
  subtree_mass.assign(N, 0.0);
  joint_angle.assign(N, 0.0);
  joint_sin.assign(N, 0.0);
  joint_cos.assign(N, 1.0);
  origin_composite.assign(N, OriginInertia::Zero());
  ancestor_runs.assign(N, RowRun{});
  f_nle.assign(N, Force::Zero());
  f_g.assign(N, Force::Zero());
  a_g.assign(N, Motion::Zero());
  oYc.assign(N, Matrix6::Zero());
  oBc.assign(N, Matrix6::Zero());
  centroidal_map = Matrix6X::Zero(6, n);
  ddq = VectorX::Zero(n);
  for (auto* list : {&aba_velocity, &aba_velocity_product, &aba_acceleration, &articulated_bias})
    list->assign(N, Vector6::Zero());
  articulated_inertia.assign(N, Matrix6::Zero());
  ia_times_s = Matrix6X::Zero(6, n);
  joint_inertia_inv = Matrix6X::Zero(6, n);
  joint_torque_residual = VectorX::Zero(n);
  subtree_v_end.assign(N, 0);
  moving_slot.assign(N, 0);
  kinematics_ov.assign(N, Motion::Zero());
  kinematics_oa.assign(N, Motion::Zero());
  vjp_motion.assign(3 * N, Motion::Zero());
  vjp_force.assign(5 * N, Force::Zero());
  ik_jacobian = Matrix6X::Zero(6, n);
  ik_weighted_jacobian = Matrix6X::Zero(6, n);
  ik_step = VectorX::Zero(n);
  vjp_tangent = VectorX::Zero(n);
  ik_trial = VectorX::Zero(static_cast<Eigen::Index>(nq));
  ik_best = VectorX::Zero(static_cast<Eigen::Index>(nq));
}

void Data::reset() {
  std::fill(oMi.begin(), oMi.end(), SE3::Identity());
  std::fill(limi.begin(), limi.end(), SE3::Identity());
  for (auto* list : {&v, &a, &ov, &a_gf, &a_g, &kinematics_ov, &kinematics_oa})
    std::fill(list->begin(), list->end(), Motion::Zero());
  for (auto* list : {&f, &h, &f_nle, &f_g})
    std::fill(list->begin(), list->end(), Force::Zero());
  std::fill(world_inertia.begin(), world_inertia.end(), BodyInertia::Zero());
  std::fill(origin_composite.begin(), origin_composite.end(), OriginInertia::Zero());
  for (auto* list : {&world_inertia_rate, &oYc, &oBc})
    std::fill(list->begin(), list->end(), Matrix6::Zero());
  std::fill(subtree_com.begin(), subtree_com.end(), Vector3::Zero());
  std::fill(subtree_com_sum.begin(), subtree_com_sum.end(), Vector3::Zero());
  std::fill(subtree_mass.begin(), subtree_mass.end(), 0.0);
  for (auto* vec : {&tau, &nle, &g}) vec->setZero();
  for (auto* mat : {&M, &C}) mat->setZero();
  for (auto* mat : {&dtau_dq, &dtau_dv, &dtau_da, &ddq_dq, &ddq_dv, &dg_dq}) mat->setZero();
  for (auto* mat : {&j, &dJ, &momentum_matrix, &momentum_matrix_rate}) mat->setZero();
  com_jacobian.setZero();
  for (auto* mat : {&centroidal_map, &ia_times_s, &joint_inertia_inv}) mat->setZero();
  for (auto* vec : {&ddq, &joint_torque_residual}) vec->setZero();
  std::fill(articulated_inertia.begin(), articulated_inertia.end(), Matrix6::Zero());
  for (auto* list : {&aba_velocity, &aba_velocity_product, &aba_acceleration, &articulated_bias})
    std::fill(list->begin(), list->end(), Vector6::Zero());
  for (auto* mat : {&constraint_jacobian, &delassus, &delassus_rows, &ddq_dtau, &dforces_dq, &dforces_dv,
                    &dforces_dtau, &constraint_rows_scratch})
    mat->setZero();
  constraint_end_motion.setZero();
  for (auto* vec : {&constraint_drift, &constraint_target, &constraint_forces, &impulse_velocity,
                    &constraint_scratch, &constraint_previous, &constraint_zero_acceleration})
    vec->setZero();
  Minv.setZero();
  ldl_factor.setZero();
  ldl_scale.setZero();
  ldl_rhs.setZero();
  unit_torque_blocks.setZero();
  std::fill(subtree_v_end.begin(), subtree_v_end.end(), 0);
  std::fill(moving_slot.begin(), moving_slot.end(), 0);
  std::fill(derivative_accelerations.begin(), derivative_accelerations.end(), Motion::Zero());
  for (auto* mat : {&ik_jacobian, &ik_weighted_jacobian}) mat->setZero();
  for (auto* vec : {&ik_step, &ik_trial, &ik_best, &vjp_tangent}) vec->setZero();
  std::fill(vjp_motion.begin(), vjp_motion.end(), Motion::Zero());
  std::fill(vjp_force.begin(), vjp_force.end(), Force::Zero());
  centroidal_momentum.setZero();
  centroidal_momentum_rate.setZero();
  centroidal_inertia = BodyInertia::Zero();
  com.setZero();
}

const SE3& Data::get_joint_placement(std::size_t joint_id) const {
  if (joint_id >= oMi.size()) {
    throw IndexError(cat("Joint ID ", joint_id, " out of range (max: ",
                         static_cast<long long>(oMi.size()) - 1, ")"));
  }
  return oMi[joint_id];
}

void Data::check_model(const Model& model) const {
  if (njoints != model.njoints || nq != model.nq || nv != model.nv) {
    throw ValueError(cat("Data was created for a model with njoints ", njoints, ", nq ", nq,
                         ", nv ", nv, ", but this model has njoints ", model.njoints, ", nq ",
                         model.nq, ", nv ", model.nv));
  }
}

namespace {

// A float with `precision` digits after the point, right-aligned in
// `width`; infinities as "inf"/"-inf" and NaN as "NaN".
std::string fixed(double x, int width, int precision) {
  char buf[400];
  if (std::isnan(x)) {
    std::snprintf(buf, sizeof buf, "%*s", width, "NaN");
  } else if (std::isinf(x)) {
    std::snprintf(buf, sizeof buf, "%*s", width, x > 0 ? "inf" : "-inf");
  } else {
    std::snprintf(buf, sizeof buf, "%*.*f", width, precision, x);
  }
  return buf;
}

bool any_above(const VectorX& x, std::size_t n) {
  for (std::size_t i = 0; i < n && i < static_cast<std::size_t>(x.size()); ++i)
    if (std::abs(x[static_cast<Eigen::Index>(i)]) > 1e-10) return true;
  return false;
}

void vector_section(std::ostringstream& out, const char* title, const char* label,
                    const VectorX& x, std::size_t nv) {
  if (nv == 0 || !any_above(x, nv)) return;
  out << "\n" << title << "\n";
  const std::size_t shown = std::min<std::size_t>({nv, 10, static_cast<std::size_t>(x.size())});
  for (std::size_t i = 0; i < shown; ++i)
    out << "  " << label << "[" << i << "] = " << fixed(x[static_cast<Eigen::Index>(i)], 12, 6)
        << "\n";
  if (nv > 10) out << "  ... (" << nv - 10 << " more)\n";
}

}  // namespace

std::string data_report(const Data& d) {
  std::ostringstream out;
  out << "========== Data Information ==========\n"
      << "Dimensions:\n"
      << "  njoints: " << d.njoints << "\n"
      << "  nq:      " << d.nq << "\n"
      << "  nv:      " << d.nv << "\n";
  if (d.njoints > 0) {
    const std::size_t k = std::min<std::size_t>({d.njoints, 5, d.oMi.size()});
    out << "\nJoint Placements (first " << std::min<std::size_t>(d.njoints, 5) << "):\n";
    for (std::size_t i = 0; i < k; ++i) {
      const Vector3& p = d.oMi[i].translation;
      out << "  Joint " << i << ": position = [" << fixed(p.x(), 8, 4) << ", "
          << fixed(p.y(), 8, 4) << ", " << fixed(p.z(), 8, 4) << "]\n";
    }
    if (d.njoints > 5) out << "  ... (" << d.njoints - 5 << " more joints)\n";
  }
  vector_section(out, "Joint Torques (tau):", "tau", d.tau, d.nv);
  vector_section(out, "Gravity Vector (g):", "g", d.g, d.nv);
  const auto rows = d.M.rows(), cols = d.M.cols();
  if (rows > 0 && cols > 0 && (d.M.array().abs() > 1e-10).any()) {
    const Eigen::Index s = std::min<Eigen::Index>({rows, cols, 5});
    out << "\nMass Matrix (M):\n"
        << "  Size: " << rows << "x" << cols << "\n"
        << "  Top-left " << s << "x" << s << " block:\n";
    for (Eigen::Index r = 0; r < s; ++r) {
      out << "    ";
      for (Eigen::Index c = 0; c < s; ++c) out << fixed(d.M(r, c), 10, 4) << " ";
      out << "\n";
    }
    if (s < rows || s < cols) out << "  ... (larger matrix)\n";
  }
  out << std::string(37, '=') << "\n";
  return out.str();
}

}  // namespace lumo
