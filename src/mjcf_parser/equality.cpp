#include "equality.hpp"

#include <unordered_map>

#include "algorithms/errors/errors.hpp"
#include "builder.hpp"

namespace lumo {

EqualityCouplings equality_couplings(const Model& model, const mjcf::Document& document) {
  EqualityCouplings out;
  if (document.joint_equalities.empty()) return out;
  // The MJCF joints by name, for their kinds and reference positions.
  std::unordered_map<std::string_view, const mjcf::Joint*> joints;
  for (const mjcf::Body& body : document.bodies)
    for (const mjcf::Joint& j : body.joints)
      if (!j.name.empty()) joints.try_emplace(j.name, &j);

  for (const mjcf::JointEquality& q : document.joint_equalities) {
    const auto reject = [&](const std::string& why) {
      out.warnings.push_back(cat("<equality><joint joint1='", q.joint1, "'> at line ", q.line,
                                 " is not a coupling: ", why));
    };
    if (q.joint2.empty()) {
      reject("without joint2 it holds the joint at a constant");
      continue;
    }
    if (q.polycoef[2] != 0.0 || q.polycoef[3] != 0.0 || q.polycoef[4] != 0.0) {
      reject("its polynomial is of degree above 1");
      continue;
    }
    if (!q.active) {
      reject("it is inactive");
      continue;
    }
    if (q.joint1 == q.joint2) {
      reject("a joint cannot be coupled to itself");
      continue;
    }
    std::string why;
    const mjcf::Joint* ends[2] = {nullptr, nullptr};
    JointIndex index[2] = {0, 0};
    const std::string* names[2] = {&q.joint1, &q.joint2};
    for (int k = 0; k < 2 && why.empty(); ++k) {
      const auto it = joints.find(*names[k]);
      const std::optional<JointIndex> i = model.get_joint_id(*names[k]);
      if (it == joints.end() || !i) why = cat("'", *names[k], "' is not a joint of the model");
      else if (it->second->kind != mjcf::JointKind::Hinge && it->second->kind != mjcf::JointKind::Slide)
        why = cat("'", *names[k], "' is not a hinge or slide joint");
      else {
        ends[k] = it->second;
        index[k] = *i;
      }
    }
    if (!why.empty()) {
      reject(why);
      continue;
    }
    // q1 − ref1 = c0 + c1 (q2 − ref2)
    const double c0 = q.polycoef[0], c1 = q.polycoef[1];
    out.couplings.push_back(make_joint_coupling(model, index[0], index[1], c1, c0 + ends[0]->ref - c1 * ends[1]->ref));
  }
  return out;
}

EqualityCouplings couplings_from_mjcf_string(const Model& model, std::string_view mjcf,
                                             const std::optional<std::string>& directory) {
  return equality_couplings(model, read_document_from_string(mjcf, directory));
}

EqualityCouplings couplings_from_mjcf_file(const Model& model, const std::string& filename) {
  return equality_couplings(model, read_document_file(filename));
}

}  // namespace lumo
