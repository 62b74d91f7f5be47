// URDF <mimic> relations as joint couplings: a joint that mimics a leader
// with multiplier m and offset o holds q_joint = m·q_leader + o, which is the
// JointCoupling (joint, leader, ratio m, offset o) of constraints.hpp when
// both are revolute or prismatic joints of the model.
//
// A mimic that cannot be a coupling gives one warning line, naming the joint
// and its line: a joint or leader that is not a joint of the model, a joint
// that mimics itself, a joint or leader of another kind (a continuous
// joint's coordinate is a (cos, sin) pair, not an angle), or a multiplier
// or offset that is not finite. A leader that itself mimics another joint
// is coupled as declared.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "../algorithms/constraints.hpp"
#include "../model/model.hpp"
#include "reader.hpp"

namespace lumo {

struct MimicCouplings {
  std::vector<JointCoupling> couplings;  // in the joints' document order
  std::vector<std::string> warnings;     // one per mimic that is not among them
};

// The couplings that the <mimic> elements of a URDF declare among the joints
// of `model` (found by name: the first joint of a name). Reading failures
// throw as parse_urdf_from_string and parse_urdf_file do (UrdfError with the
// reader's error as its cause); the model is not rebuilt.
MimicCouplings couplings_from_urdf_string(const Model& model, std::string_view urdf);
MimicCouplings couplings_from_urdf_file(const Model& model, const std::string& filename);

// The couplings of a parsed robot's mimics in `model`, and the warnings
// about the others: what couplings_from_urdf_* return, and the builder's
// warnings about mimics.
MimicCouplings mimic_couplings(const Model& model, const urdf::Robot& robot);

}  // namespace lumo
