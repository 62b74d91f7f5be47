// The MJCF model builder: a parsed MJCF record to a Model, and the entry
// points that read MJCF from a file or from text and build it.
//
// Each MJCF joint becomes one model joint, in MuJoCo's order (bodies in
// depth-first pre-order, a body's joints in document order), so that q and v
// are laid out as MuJoCo's qpos and qvel once the quaternions are reordered:
//   hinge → Revolute (nq = 1; unlimited: limits ±inf), slide → Prismatic,
//   ball → Spherical, free → Floating (under the world only; its q is the
//   body's pose in the world, the joint's pos is not used).
// A body with several joints becomes a chain of them, the intermediate
// joints carrying no mass and the last one the body. A body without joints
// is welded to its parent by a Fixed joint named "{body}_weld".
//
// MuJoCo poses a body at parent ∘ (pos, quat) ∘ J1 ∘ … ∘ Jn with
// Jk = T(pk)·Motion_k(q_k − ref_k)·T(−pk): model joint k stands at
// [what precedes it] ∘ T(pk), and what follows it (the next joint, the
// body's inertia, frames and children) is placed through
// Motion_k(−ref_k)·T(−pk).
//
// Inertia: from <inertial>, or from the geoms (inertiafromgeom "true", or
// "auto" and no <inertial>), geoms outside inertiagrouprange skipped; then
// boundmass and boundinertia (on the principal moments) for every body but
// the world, then settotalmass, as MuJoCo compiles them.
//
// Frames: "world" (BODY, on joint 0), then per body its joints' JOINT
// frames, its BODY frame and its sites' OP_FRAMEs. Unnamed elements are
// named by their MuJoCo index: "body{i}", "joint{j}", "site{k}".
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "../model/model.hpp"
#include "reader.hpp"

namespace lumo {

// When `warnings` is given, one line is appended per thing ignored: the
// reader's notes, each mesh that cannot be read (its geoms then add no
// mass), and each <equality><joint> that is not a JointCoupling of the model.
// Throws MjcfError for a free joint below another body than the world.
Model build_model(const mjcf::Document& document, std::vector<std::string>* warnings = nullptr);

// Read and build. A reading failure becomes MjcfError "Failed to parse MJCF
// file: {filename}" (resp. "Failed to parse MJCF from string") with the
// reader's MjcfError as its cause. `directory` is where the text's includes
// and meshes are found.
Model parse_mjcf_file(const std::string& filename, std::vector<std::string>* warnings = nullptr);
Model parse_mjcf_from_string(std::string_view mjcf_string, const std::optional<std::string>& directory = std::nullopt,
                             std::vector<std::string>* warnings = nullptr);

// The reading half of the two, with the same failures.
mjcf::Document read_document_file(const std::string& filename);
mjcf::Document read_document_from_string(std::string_view mjcf_string, const std::optional<std::string>& directory);

}  // namespace lumo
