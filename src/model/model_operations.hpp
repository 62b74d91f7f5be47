// New models made from existing ones: a model with some joints locked at a
// configuration (buildReducedModel), and two models joined at a frame
// (appendModel). Both return a new Model built through add_joint, so every
// Model invariant holds; neither changes its arguments. Model building, not
// an algorithm: these allocate.
#pragma once

#include <Eigen/Core>
#include <string_view>
#include <vector>

#include "model.hpp"

namespace lumo {

// Throws ValueError unless every index of `ids` names a joint that can be
// locked: below njoints ("{name} {id} >= njoints {n}", the message of every
// joint index of the module), not the universe ("{name}: joint 0 is the
// universe, which cannot be locked") and given once ("{name}: joint {id}
// is given twice"). Checked in the order given.
void check_joints_to_lock(const Model& model, const std::vector<JointIndex>& ids,
                          std::string_view name = "joints_to_lock");

// `model` with the joints `joints_to_lock` fixed at their configuration in
// q_reference (nq elements of the full model; only the slices of the
// locked joints are read):
//   - each locked joint disappears; its body is merged, with its inertia
//     carried by the joint's placement at q_reference, into the body of its
//     nearest kept ancestor (the universe's when there is none);
//   - the children of a locked joint hang from that ancestor, at
//     parent placement · joint motion at q_reference · child placement;
//   - every frame is kept, with its name, re-parented the same way; a JOINT
//     frame of a locked joint becomes a FIXED_JOINT frame;
//   - kept joints (fixed ones included) keep their order, kinds, names,
//     bodies and limits; idx_q and idx_v are those of the kept joints only;
//     name and gravity are kept.
// A locked spherical or floating joint's quaternion, and a locked continuous
// or planar joint's (cos θ, sin θ) pair, are normalised first, as integrate
// and the joint transforms do. Throws ValueError as check_joints_to_lock
// does, for q_reference not of nq elements ("q_reference length {len} != nq
// {n}"), and for a locked joint whose slice of q_reference is not finite or
// whose quaternion or (cos, sin) pair is zero. Locking nothing gives a copy.
Model buildReducedModel(const Model& model, const std::vector<JointIndex>& joints_to_lock,
                        const Eigen::Ref<const Eigen::VectorXd>& q_reference);

// `model` with `other` attached at the frame `frame_id` of `model`: the
// root children of `other` hang from the frame's parent joint at
// frame placement · placement · their own placement, its deeper joints keep
// their placements in their (renumbered) parents; its universe body is
// merged into the body of the frame's parent joint, at frame placement ·
// placement. Every joint and frame of `other` but the universe is appended
// in its order, its name prefixed by `prefix`; its bodies and limits come
// along (limit lists are padded with ∓infinity to model.nv first when
// other has limits). `model`'s name and gravity are kept. Throws ValueError
// for a frame index out of range ("Frame ID {id} out of range (max: {n})")
// and for a prefixed name already among the model's joints or frames (the
// first such name, joints before frames). appendModel(model, Model(), …)
// equals `model`.
Model appendModel(const Model& model, const Model& other, FrameIndex frame_id, const SE3& placement,
                  std::string_view prefix = "");

}  // namespace lumo
