// The URDF model builder: a parsed robot record to a Model, and the two
// entry points that read URDF from a file or from text and build it.
//
// The model's joints follow a depth-first pre-order of the link tree from
// its root link, children in joint document order; joint i > 0 stands for
// one URDF joint and carries that joint's child link as its body. Fixed
// joints are kept as joints. Frames: "universe", the root link (BODY), then
// per joint its JOINT frame and its child link's BODY frame.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "../model/model.hpp"
#include "reader.hpp"

namespace lumo {

// Throws UrdfError "No root link found in URDF" when every link is some
// joint's child, a UrdfError naming the link when the part reached from the
// root is not a tree (a cycle, or a link that is the child of several
// joints), and one naming the joint and its line for a revolute,
// continuous, prismatic or planar joint with a zero axis. Links and joints
// not reached from the root are ignored, and so is a joint whose child link
// does not exist; the first of two links of the same name is the one used.
//
// When `warnings` is given, one line is appended to it per thing the build
// ignored or found doubtful, naming it with its line: each link not reached
// (a second root and its tree, a link of a repeated name), each joint not
// used (child link missing, parent link missing or not reached), each
// joint whose name repeats an earlier one, each link whose inertia tensor
// has an eigenvalue below −1e-9 times the largest (kept as given), and each
// <mimic> that cannot be a JointCoupling of the model (mimic.hpp; those that
// can are read by couplings_from_urdf_*, without a note).
// A clean description appends nothing.
Model build_model(const urdf::Robot& robot, std::vector<std::string>* warnings = nullptr);

// Body inertia of a link in its own frame: mass m, centre of mass
// origin.xyz, R·I·Rᵀ with R the rotation of origin.rpy. Zero when m is
// exactly 0.
BodyInertia link_inertia(const urdf::Inertial& inertial);

// Read and build. A reading failure becomes UrdfError "Failed to parse URDF
// file: {filename}" (resp. "Failed to parse URDF from string") with the
// reader's UrdfError as its cause; build failures keep their own message.
// `warnings` as for build_model; `between_chunks` as for read_urdf_file.
Model parse_urdf_file(const std::string& filename, std::vector<std::string>* warnings = nullptr,
                      const urdf::ChunkHook& between_chunks = {});
Model parse_urdf_from_string(std::string_view urdf_string,
                             std::vector<std::string>* warnings = nullptr);

// The reading half of parse_urdf_file and parse_urdf_from_string: the
// parsed record, with the same failures.
urdf::Robot read_robot_file(const std::string& filename, const urdf::ChunkHook& between_chunks = {});
urdf::Robot read_robot_from_string(std::string_view urdf_string);

}  // namespace lumo
