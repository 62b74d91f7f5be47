// Forward kinematics: placements, velocities and accelerations of every
// joint frame.
#pragma once

#include <Eigen/Core>

#include "../data/data.hpp"
#include "../model/model.hpp"

namespace lumo {

// For q (nq elements) writes data.limi[i] (joint i in its parent's frame)
// and data.oMi[i] (joint i in the world) for every joint; index 0 is the
// identity. One pass in index order; allocates nothing.
void forwardKinematics(const Model& model, Data& data, const Eigen::Ref<const Eigen::VectorXd>& q);

// The placements for q, then for the velocity v (nv elements) the spatial
// velocity of every joint: data.v[i] in joint i's frame and data.ov[i] =
// oMi·v[i] in the world frame (about the world origin).
void forwardKinematics(const Model& model, Data& data, const Eigen::Ref<const Eigen::VectorXd>& q,
                       const Eigen::Ref<const Eigen::VectorXd>& v);

// forwardKinematics(q, v), then for the acceleration a (nv elements) the
// spatial acceleration of every joint in its own frame, data.a[i] = d/dt of
// the world velocity seen in joint i's frame, gravity left out (rnea's
// data.a carries the acceleration against gravity, this one does not).
void computeKinematics(const Model& model, Data& data, const Eigen::Ref<const Eigen::VectorXd>& q,
                       const Eigen::Ref<const Eigen::VectorXd>& v, const Eigen::Ref<const Eigen::VectorXd>& a);

}  // namespace lumo
