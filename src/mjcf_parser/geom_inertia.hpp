// Mass properties of MJCF geoms: the primitive solids in closed form, and
// triangle meshes read from their files (STL, OBJ, MSH), as the MJCF import
// needs them to infer a body's inertia from its geoms.
//
// Everything is per unit density (per unit surface density for shells) in
// the geom's own frame: the caller scales by the geom's density, or by its
// mass over the volume, and places the result in the body. Mesh vertices stay
// in double precision: a compiler that rounds them to single precision (as
// STL and MSH files store them, but not OBJ files or scaled vertices) agrees
// to about 1e-7 relative.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "../algorithms/spatial/spatial.hpp"

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
// triangles as fans; texture coordinates, normals, groups and materials
// ignored) or an MSH file (the binary layout of counts, vertices, normals,
// texture coordinates and faces; without faces it stands for the convex hull
// of its vertices), chosen by the file's extension, and scales each vertex by
// `scale` component by component. A scale that mirrors the mesh (a negative
// product) reverses the triangles' winding so that their normals still point
// out. Repeated STL vertices are merged. Throws MjcfError naming the file
// when it cannot be read, is malformed (truncated, an index out of range, a
// coordinate that is not a finite number) or holds no triangle.
TriangleMesh read_mesh_file(const std::string& filename, const Vector3& scale = Vector3::Ones());

// The convex hull of a set of points: its vertices (a subset of the points:
// every corner, and possibly a few points lying on its edges or faces) and
// outward-wound triangles. Points within a relative 1e-10 of the size of the
// set from a face count as on it. Throws MjcfError when the points span no
// volume (fewer than four, or all on a plane).
TriangleMesh convex_hull(const std::vector<Vector3>& points);

// Volume (area for a shell), centre of mass and rotational inertia about
// the centre of mass, per unit density, in the geom's frame.
struct UnitMassProperties {
  double volume = 0.0;
  Vector3 com = Vector3::Zero();
  Matrix3 inertia = Matrix3::Zero();
};

// A primitive geom with its MJCF `size` (sphere: radius; capsule and
// cylinder: radius, half-length along z; ellipsoid: three radii; box: three
// half-sizes); a solid unless `shell`, then with the mass on the surface:
// closed forms for all but the ellipsoid, whose area is Thomsen's
// approximation (within about 1 %) and whose inertia is that of the layer
// between it and the ellipsoid with radii 1e-6 longer, as MJCF weighs them.
// Hfield weighs as a box of half-sizes `size`: pass the height field's
// (x, y, elevation / 4 + base / 2), which is how MJCF weighs one. Plane, Mesh
// and Sdf have no closed form: zero.
UnitMassProperties primitive_properties(GeomType type, const Vector3& size, bool shell = false);

// A mesh geom's properties by the given method, with triangles wound
// counter-clockwise seen from outside:
//  - Exact: the solid the closed surface bounds, as a sum of signed
//    tetrahedra; faces that share a directed edge (inconsistent winding)
//    are rejected.
//  - Convex: the solid convex hull of the vertices.
//  - Legacy (MJCF's default): as Exact but with every tetrahedron counted
//    positive, the centre of mass from tetrahedra with their apex at the
//    area-weighted centroid of the faces and the volume and inertia from
//    tetrahedra with their apex at that centre of mass. It equals Exact for a
//    closed mesh that is star-shaped about both points, and overestimates
//    other meshes.
//  - Shell: mass spread uniformly over the surface (volume is then the
//    area); the centre of mass is the area-weighted centroid of the faces.
// Throws MjcfError when the mesh has no face or no area, when its volume is
// negative (faces wound inwards) or vanishes (try Shell), or when its
// inertia is not that of a body (principal moments violating A + B >= C).
UnitMassProperties mesh_properties(const TriangleMesh& mesh, MeshInertia method);

}  // namespace lumo::mjcf
