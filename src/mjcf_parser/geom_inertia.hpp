// Mass properties of MJCF geoms: the primitive solids in closed form, and
// triangle meshes read from their files (STL, OBJ, MSH), as the MJCF import
// needs them to infer a body's inertia from its geoms.
//
// Everything is per unit density (per unit surface density for shells) in
// the geom's own frame: the caller scales by the geom's density, or by its
// mass over the volume, and places the result in the body.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "algorithms/spatial/spatial.hpp"

namespace lumo::mjcf {

enum class GeomType : std::uint8_t { Plane, Hfield, Sphere, Capsule, Ellipsoid, Cylinder, Box, Mesh, Sdf };

// How a mesh's inertia is computed, as <mesh inertia="..."> names it.
enum class MeshInertia : std::uint8_t { Legacy, Convex, Exact, Shell };

// A triangle mesh: vertices in the mesh file's frame, scaled; faces index them.
struct TriangleMesh {
  std::vector<Vector3> vertices;
  std::vector<std::array<std::uint32_t, 3>> faces;
};

// Reads a binary or ASCII STL, a Wavefront OBJ (polygons split into
// triangles) or an MSH file, and scales each vertex by `scale` component by
// component. Throws MjcfError naming the file when it cannot be read or
// holds no triangle.
TriangleMesh read_mesh_file(const std::string& filename, const Vector3& scale = Vector3::Ones());

// Volume (area for a shell), centre of mass and rotational inertia about
// the centre of mass, per unit density, in the geom's frame.
struct UnitMassProperties {
  double volume = 0.0;
  Vector3 com = Vector3::Zero();
  Matrix3 inertia = Matrix3::Zero();
};

// A primitive geom with its MJCF `size` (sphere: radius; capsule and
// cylinder: radius, half-length along z; ellipsoid: three radii; box: three
// half-sizes); a solid unless `shell`. Plane, Hfield, Mesh and Sdf have no
// closed form: zero.
UnitMassProperties primitive_properties(GeomType type, const Vector3& size, bool shell = false);

// A mesh geom's properties by the given method.
UnitMassProperties mesh_properties(const TriangleMesh& mesh, MeshInertia method);

}  // namespace lumo::mjcf
