// Inverse dynamics by the recursive Newton–Euler algorithm.
#pragma once

#include <Eigen/Core>

#include "../data/data.hpp"
#include "../model/model.hpp"

namespace lumo {

// τ = M(q)·a + C(q, v)·v + g(q) under the model's gravity, into data.tau.
// Also writes limi, oMi, and per joint v, a (with the gravity offset) and
// the transmitted force f, all in the joint frame.
const Eigen::VectorXd& rnea(const Model& model, Data& data, const Eigen::Ref<const Eigen::VectorXd>& q,
                            const Eigen::Ref<const Eigen::VectorXd>& v,
                            const Eigen::Ref<const Eigen::VectorXd>& a);

// The same τ into tau (nv elements) instead of data.tau; writes the rest of
// what rnea writes. InternalError when tau is not of nv elements.
void rnea(const Model& model, Data& data, const Eigen::Ref<const Eigen::VectorXd>& q,
          const Eigen::Ref<const Eigen::VectorXd>& v, const Eigen::Ref<const Eigen::VectorXd>& a,
          Eigen::Ref<Eigen::VectorXd> tau);

// rnea under the name the external-force form shares.
const Eigen::VectorXd& inverseDynamics(const Model& model, Data& data, const Eigen::Ref<const Eigen::VectorXd>& q,
                                       const Eigen::Ref<const Eigen::VectorXd>& v,
                                       const Eigen::Ref<const Eigen::VectorXd>& a);

// τ = rnea(q, v, a) − Σᵢ Jᵢᵀ fᵢ, into data.tau: the torques that give the
// acceleration a while the external forces fext act on the bodies. fext is
// 6×njoints, column i = [force; torque] on joint i's body, in joint i's
// frame about its origin (Jᵢ the Jacobian of joint i in that frame; column 0
// is not read). Writes what rnea writes, f being the force transmitted by
// each joint with the external forces taken off. ValueError "fext must have
// shape (njoints, 6), got (cols, 6)" when fext has other than njoints columns.
const Eigen::VectorXd& inverseDynamics(const Model& model, Data& data, const Eigen::Ref<const Eigen::VectorXd>& q,
                                       const Eigen::Ref<const Eigen::VectorXd>& v,
                                       const Eigen::Ref<const Eigen::VectorXd>& a,
                                       const Eigen::Ref<const Matrix6X>& fext);

// rnea with a = 0: Coriolis, centrifugal and gravity torques, into data.nle
// (and data.tau).
const Eigen::VectorXd& non_linear_effects(const Model& model, Data& data,
                                          const Eigen::Ref<const Eigen::VectorXd>& q,
                                          const Eigen::Ref<const Eigen::VectorXd>& v);

// rnea with v = a = 0: gravity torques, into data.g (and data.tau).
const Eigen::VectorXd& compute_gravity(const Model& model, Data& data,
                                       const Eigen::Ref<const Eigen::VectorXd>& q);

}  // namespace lumo
