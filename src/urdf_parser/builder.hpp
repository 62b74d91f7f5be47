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

#include "model/model.hpp"
#include "reader.hpp"

namespace lumo {

// Throws UrdfError "No root link found in URDF" when every link is some
// joint's child, and a UrdfError naming the link when the part reached from
// the root is not a tree (a cycle, or a link that is the child of several
// joints). Links and joints not reached from the root are ignored, and so
// is a joint whose child link does not exist.
Model build_model(const urdf::Robot& robot);

// Body inertia of a link in its own frame: mass m, centre of mass
// origin.xyz, R·I·Rᵀ with R the rotation of origin.rpy. Zero when m is
// exactly 0 (a NaN mass is kept).
BodyInertia link_inertia(const urdf::Inertial& inertial);

// Read and build. A reading failure becomes UrdfError "Failed to parse URDF
// file: {filename}" (resp. "Failed to parse URDF from string") with the
// reader's UrdfError as its cause; build failures keep their own message.
Model parse_urdf_file(const std::string& filename);
Model parse_urdf_from_string(std::string_view urdf_string);

}  // namespace lumo
