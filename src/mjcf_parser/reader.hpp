// The MJCF reader: MJCF text to a parsed record of what the dynamics use,
// with <include> elements expanded, <default> classes resolved, <frame>
// elements composed into their children, and every angle in radians and
// every orientation as a rotation matrix.
//
// Read: <compiler> (angle, eulerseq, autolimits, meshdir, assetdir,
// inertiafromgeom, inertiagrouprange, boundmass, boundinertia,
// settotalmass), <option gravity> (zero under <flag gravity="disable"/>), <default> (joint, geom, site and mesh
// attributes, nested classes, `class` and `childclass`), <asset><mesh>,
// the <worldbody> tree (bodies with pos and orientation, joints,
// <freejoint>, <inertial>, geoms, sites, frames) and <equality><joint>.
// What else the text holds is counted in `notes` (one line per kind of
// element, "not dynamics") and otherwise skipped.
//
// Defaults are MuJoCo's: angles in degrees, euler sequence "xyz" (lower
// case: rotations about the moving axes, upper case: about the fixed ones),
// autolimits on, joint type hinge with axis (0, 0, 1), geom type sphere of
// density 1000, inertia from the geoms of a body without <inertial>, all
// geom groups 0 to 5 counted. Failures throw MjcfError naming the element
// and its line (and the included file, when it is not the main text).
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "../algorithms/errors/errors.hpp"
#include "../algorithms/spatial/spatial.hpp"
#include "geom_inertia.hpp"

namespace lumo::mjcf {

enum class JointKind : std::uint8_t { Hinge, Slide, Ball, Free };

struct Joint {
  std::string name;  // empty when the text gives none
  JointKind kind = JointKind::Hinge;
  Vector3 pos = Vector3::Zero();        // anchor, in the body frame
  Vector3 axis = Vector3(0, 0, 1);      // in the body frame (hinge and slide)
  bool limited = false;
  double lower = 0.0, upper = 0.0;      // radians for a hinge
  double ref = 0.0;                     // the position at which the body is posed as given
  bool passive = false;                 // non-zero armature, damping, stiffness or frictionloss
  std::size_t line = 0;
};

// <inertial>: mass, and the rotational inertia about the centre of mass in
// the axes of `frame`, whose origin is the centre of mass (body frame).
struct Inertial {
  SE3 frame;
  double mass = 0.0;
  Matrix3 inertia = Matrix3::Zero();
};

struct Geom {
  GeomType type = GeomType::Sphere;
  Vector3 size = Vector3::Zero();
  SE3 placement;                 // in the body frame
  std::optional<double> mass;    // overrides density when given
  double density = 1000.0;
  bool shell = false;
  int group = 0;
  std::string mesh;              // the mesh asset (of a mesh geom, or one a primitive is fitted to)
  std::size_t line = 0;
};

struct Site {
  std::string name;
  SE3 placement;  // in the body frame
  std::size_t line = 0;
};

struct Body {
  std::string name;             // empty when the text gives none; "world" for body 0
  std::size_t parent = 0;       // index in Document::bodies (the world's is 0)
  SE3 placement;                // in the parent body's frame, at the joints' reference positions
  std::vector<Joint> joints;    // in document order
  std::optional<Inertial> inertial;
  std::vector<Geom> geoms;
  std::vector<Site> sites;
  std::size_t line = 0;
};

struct Mesh {
  std::string name;
  std::string file;             // the path to read, meshdir (or assetdir) applied; empty: no file
  Vector3 scale = Vector3::Ones();
  MeshInertia inertia = MeshInertia::Legacy;
  std::size_t line = 0;
};

enum class InertiaFromGeom : std::uint8_t { Auto, True, False };

struct Compiler {
  InertiaFromGeom inertia_from_geom = InertiaFromGeom::Auto;
  int group_low = 0, group_high = 5;  // inertiagrouprange
  double boundmass = 0.0, boundinertia = 0.0, settotalmass = -1.0;
};

// <equality><joint joint1 joint2 polycoef>: q1 − q1_ref = Σ c_k (q2 − q2_ref)^k.
struct JointEquality {
  std::string joint1, joint2;  // joint2 empty: q1 is held at c0
  double polycoef[5] = {0.0, 1.0, 0.0, 0.0, 0.0};
  bool active = true;
  std::size_t line = 0;
};

struct Document {
  std::string name;
  Vector3 gravity = Vector3(0, 0, -9.81);
  Compiler compiler;
  std::vector<Body> bodies;     // depth-first pre-order, the world body first
  std::vector<Mesh> meshes;
  std::vector<JointEquality> joint_equalities;
  std::vector<std::string> notes;  // what was skipped, one line per kind
};

// Reads an MJCF model from text. `directory` is where included files and
// mesh files are found (the main file's folder); without it, an <include>
// is a failure. Nothing but files named by <include> is read.
Document read_mjcf(std::string_view text, const std::optional<std::string>& directory);

// The whole file, then read_mjcf with the file's folder.
Document read_mjcf_file(const std::string& filename);

}  // namespace lumo::mjcf
