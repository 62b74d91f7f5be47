// MJCF joint equalities as joint couplings. <equality><joint joint1="a"
// joint2="b" polycoef="c0 c1 0 0 0"/> holds (q_a − ref_a) = c0 + c1·(q_b − ref_b),
// which is the JointCoupling (a, b, ratio c1, offset c0 + ref_a − c1·ref_b)
// of constraints.hpp when a and b are hinge or slide joints of the model.
//
// An equality that cannot be a coupling gives one warning line naming it and
// its line: a polynomial of degree above 1, no joint2 (the joint held at a
// constant), an inactive one, a joint missing from the model or of another
// kind, a joint coupled to itself.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "../algorithms/constraints.hpp"
#include "../model/model.hpp"
#include "reader.hpp"

namespace lumo {

struct EqualityCouplings {
  std::vector<JointCoupling> couplings;  // in document order
  std::vector<std::string> warnings;     // one per joint equality that is not among them
};

// The couplings of a parsed document's joint equalities among the joints of
// `model` (found by name).
EqualityCouplings equality_couplings(const Model& model, const mjcf::Document& document);

// Read, then equality_couplings; reading failures as parse_mjcf_*.
EqualityCouplings couplings_from_mjcf_string(const Model& model, std::string_view mjcf,
                                             const std::optional<std::string>& directory = std::nullopt);
EqualityCouplings couplings_from_mjcf_file(const Model& model, const std::string& filename);

}  // namespace lumo
