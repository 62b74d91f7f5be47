#include "builder.hpp"

#include <Eigen/Eigenvalues>
#include <Eigen/Geometry>
#include <cmath>
#include <limits>
#include <map>
#include <optional>
#include <set>
#include <unordered_map>

#include "algorithms/errors/errors.hpp"
#include "equality.hpp"
#include "geom_inertia.hpp"

namespace lumo {
namespace {

using mjcf::JointKind;

// The mass properties of meshes, each read once per inertia method.
class MeshProperties {
 public:
  MeshProperties(const mjcf::Document& document, std::vector<std::string>& notes)
      : document_(document), notes_(notes) {
    for (std::size_t k = 0; k < document.meshes.size(); ++k) by_name_.try_emplace(document.meshes[k].name, k);
  }

  // Null when the mesh cannot be read (noted once).
  const mjcf::UnitMassProperties* get(const mjcf::Geom& geom) {
    const auto found = by_name_.find(geom.mesh);
    if (found == by_name_.end())
      throw MjcfError(cat("<geom> at line ", geom.line, ": unknown mesh '", geom.mesh, "'"));
    const std::size_t k = found->second;
    const mjcf::MeshInertia method = geom.shell ? mjcf::MeshInertia::Shell : document_.meshes[k].inertia;
    const auto [it, fresh] = cache_.try_emplace({k, method});
    if (fresh && !unreadable_.count(k)) it->second = compute(k, method);
    return it->second ? &*it->second : nullptr;
  }

 private:
  std::optional<mjcf::UnitMassProperties> compute(std::size_t k, mjcf::MeshInertia method) {
    const mjcf::Mesh& mesh = document_.meshes[k];
    const auto skip = [&](const std::string& why) {
      notes_.push_back(cat("mesh '", mesh.name, "' at line ", mesh.line, " ", why, "; its geoms add no mass"));
      unreadable_.insert(k);
      return std::nullopt;
    };
    if (mesh.file.empty()) return skip("has no file");
    try {
      return mjcf::mesh_properties(mjcf::read_mesh_file(mesh.file, mesh.scale), method);
    } catch (const Error& e) {
      return skip(cat("cannot be read (", e.what(), ")"));
    }
  }

  const mjcf::Document& document_;
  std::vector<std::string>& notes_;
  std::unordered_map<std::string_view, std::size_t> by_name_;
  std::map<std::pair<std::size_t, mjcf::MeshInertia>, std::optional<mjcf::UnitMassProperties>> cache_;
  std::set<std::size_t> unreadable_;
};

BodyInertia from_inertial(const mjcf::Inertial& in) {
  BodyInertia Y;
  Y.mass = in.mass;
  Y.lever = in.frame.translation;
  const Matrix3& R = in.frame.rotation;
  set_inertia_tensor(Y, R * in.inertia * R.transpose());
  return Y;
}

// The body's inertia in its frame, from its geoms.
BodyInertia from_geoms(const mjcf::Document& document, const mjcf::Body& body, MeshProperties& meshes,
                       bool& any, std::vector<std::string>& notes) {
  BodyInertia Y;
  for (const mjcf::Geom& g : body.geoms) {
    if (g.group < document.compiler.group_low || g.group > document.compiler.group_high) continue;
    if (g.type != mjcf::GeomType::Mesh && !g.mesh.empty()) {
      notes.push_back(cat("<geom> at line ", g.line, ": a primitive fitted to mesh '", g.mesh,
                          "' is not supported; it adds no mass"));
      continue;
    }
    mjcf::UnitMassProperties unit;
    if (g.type == mjcf::GeomType::Mesh) {
      const mjcf::UnitMassProperties* p = meshes.get(g);
      if (p == nullptr) continue;
      unit = *p;
    } else {
      unit = mjcf::primitive_properties(g.type, g.size, g.shell);
    }
    if (!(unit.volume > 0.0)) continue;
    any = true;
    // mass = density · volume, or the mass given (density = mass / volume)
    const double density = g.mass ? *g.mass / unit.volume : g.density;
    BodyInertia Yg;
    Yg.mass = density * unit.volume;
    Yg.lever = unit.com;
    set_inertia_tensor(Yg, density * unit.inertia);
    inertia_merge(Y, inertia_transform(g.placement, Yg));
  }
  return Y;
}

// Principal moments below `bound` raised to it.
void bound_inertia(BodyInertia& Y, double bound) {
  const Eigen::SelfAdjointEigenSolver<Matrix3> eigen(inertia_tensor(Y));
  Vector3 moments = eigen.eigenvalues();
  if (moments.minCoeff() >= bound) return;
  moments = moments.cwiseMax(bound);
  set_inertia_tensor(Y, eigen.eigenvectors() * moments.asDiagonal() * eigen.eigenvectors().transpose());
}

std::vector<BodyInertia> body_inertias(const mjcf::Document& document, std::vector<std::string>& notes) {
  const mjcf::Compiler& compiler = document.compiler;
  MeshProperties meshes(document, notes);
  std::vector<BodyInertia> inertias(document.bodies.size());
  double total = 0.0;
  for (std::size_t b = 1; b < document.bodies.size(); ++b) {
    const mjcf::Body& body = document.bodies[b];
    const bool geoms = compiler.inertia_from_geom == mjcf::InertiaFromGeom::True ||
                       (compiler.inertia_from_geom == mjcf::InertiaFromGeom::Auto && !body.inertial);
    BodyInertia& Y = inertias[b];
    // A body whose geoms add nothing keeps its <inertial>, when it has one.
    bool from_any_geom = false;
    if (geoms) Y = from_geoms(document, body, meshes, from_any_geom, notes);
    if (!from_any_geom && body.inertial) Y = from_inertial(*body.inertial);
    if (Y.mass < compiler.boundmass) Y.mass = compiler.boundmass;
    if (compiler.boundinertia > 0.0) bound_inertia(Y, compiler.boundinertia);
    total += Y.mass;
  }
  if (compiler.settotalmass > 0.0 && total > 0.0) {
    const double scale = compiler.settotalmass / total;
    for (BodyInertia& Y : inertias) {
      Y.mass *= scale;
      for (double& entry : Y.inertia) entry *= scale;
    }
  }
  return inertias;
}

// Motion_k(−ref)·T(−p): what follows joint k, in joint k's frame.
SE3 after_joint(const mjcf::Joint& j) {
  SE3 back{Matrix3::Identity(), -j.pos};
  if (j.kind == JointKind::Free) return SE3::Identity();
  if (j.ref == 0.0) return back;
  const Vector3 u = j.axis.normalized();
  SE3 motion;
  if (j.kind == JointKind::Hinge) motion.rotation = Eigen::AngleAxisd(-j.ref, u).toRotationMatrix();
  else if (j.kind == JointKind::Slide) motion.translation = -j.ref * u;
  return compose(motion, back);
}

JointModel joint_model(const mjcf::Joint& j) {
  switch (j.kind) {
    case JointKind::Hinge: return JointModel::make(JointType::Revolute, j.axis);
    case JointKind::Slide: return JointModel::make(JointType::Prismatic, j.axis);
    case JointKind::Ball: return JointModel::make(JointType::Spherical);
    case JointKind::Free: break;
  }
  return JointModel::make(JointType::Floating);
}

}  // namespace

Model build_model(const mjcf::Document& document, std::vector<std::string>* warnings) {
  std::vector<std::string> notes = document.notes;
  const std::vector<BodyInertia> inertias = body_inertias(document, notes);
  const auto& bodies = document.bodies;

  Model model;
  model.name = document.name;
  model.set_gravity(document.gravity);
  model.add_frame(Frame{"world", 0, SE3::Identity(), BODY});
  std::size_t joint_count = 0, site_count = 0;
  const auto add_sites = [&](const mjcf::Body& body, JointIndex i, const SE3& body_in_joint) {
    for (const mjcf::Site& s : body.sites) {
      const std::string name = s.name.empty() ? cat("site", site_count) : s.name;
      ++site_count;
      model.add_frame(Frame{name, i, compose(body_in_joint, s.placement), OP_FRAME});
    }
  };
  add_sites(bodies[0], 0, SE3::Identity());

  // Per body: the model joint that carries it and its frame in that joint's frame.
  std::vector<JointIndex> carrier(bodies.size(), 0);
  std::vector<SE3> body_in_joint(bodies.size());
  for (std::size_t b = 1; b < bodies.size(); ++b) {
    const mjcf::Body& body = bodies[b];
    const std::string body_name = body.name.empty() ? cat("body", b) : body.name;
    SE3 X = compose(body_in_joint[body.parent], body.placement);  // the body frame at q = ref
    JointIndex i = carrier[body.parent];
    if (body.joints.empty()) {
      i = model.add_joint(i, JointModel::make(JointType::Fixed), X, body_name + "_weld");
      model.add_frame(Frame{body_name + "_weld", i, SE3::Identity(), JOINT});
      X = SE3::Identity();
    }
    for (const mjcf::Joint& j : body.joints) {
      const std::string name = j.name.empty() ? cat("joint", joint_count) : j.name;
      ++joint_count;
      SE3 placement = compose(X, SE3{Matrix3::Identity(), j.pos});
      if (j.kind == JointKind::Free) {
        if (body.parent != 0)
          throw MjcfError(cat("<joint name='", name, "'> at line ", j.line,
                              ": a free joint must be in a body whose parent is the world body"));
        placement = SE3::Identity();
      }
      i = model.add_joint(i, joint_model(j), placement, name);
      if (j.kind == JointKind::Hinge || j.kind == JointKind::Slide) {
        constexpr double inf = std::numeric_limits<double>::infinity();
        model.set_position_limits(i, {j.limited ? j.lower : -inf}, {j.limited ? j.upper : inf});
      }
      model.add_frame(Frame{name, i, SE3::Identity(), JOINT});
      X = after_joint(j);
    }
    carrier[b] = i;
    body_in_joint[b] = X;
    model.set_inertia(i, inertia_transform(X, inertias[b]));
    model.add_frame(Frame{body_name, i, X, BODY});
    add_sites(body, i, X);
  }
  if (warnings != nullptr) {
    const std::vector<std::string> equalities = equality_couplings(model, document).warnings;
    notes.insert(notes.end(), equalities.begin(), equalities.end());
    warnings->insert(warnings->end(), notes.begin(), notes.end());
  }
  return model;
}

mjcf::Document read_document_file(const std::string& filename) {
  try {
    return mjcf::read_mjcf_file(filename);
  } catch (const MjcfError&) {
    throw MjcfError(cat("Failed to parse MJCF file: ", filename), std::current_exception());
  }
}

mjcf::Document read_document_from_string(std::string_view mjcf_string, const std::optional<std::string>& directory) {
  try {
    return mjcf::read_mjcf(mjcf_string, directory);
  } catch (const MjcfError&) {
    throw MjcfError("Failed to parse MJCF from string", std::current_exception());
  }
}

Model parse_mjcf_file(const std::string& filename, std::vector<std::string>* warnings) {
  return build_model(read_document_file(filename), warnings);
}

Model parse_mjcf_from_string(std::string_view mjcf_string, const std::optional<std::string>& directory,
                             std::vector<std::string>* warnings) {
  return build_model(read_document_from_string(mjcf_string, directory), warnings);
}

}  // namespace lumo
