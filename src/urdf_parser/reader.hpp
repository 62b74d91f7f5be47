// The URDF reader: URDF text to a parsed robot record, the robot name and
// its links and joints in document order. Only what the model builder uses
// is read; everything else in the description is skipped.
//
// Absent optional elements take the URDF format's defaults: no <origin>,
// identity; no <axis>, (1, 0, 0); no <inertial>, zero mass and inertia; no
// <limit>, lower = upper = 0; no <mimic>, none, and in a <mimic> multiplier 1
// and offset 0. Failures throw UrdfError with a message naming
// what failed and where (element, name, line).
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "../algorithms/errors/errors.hpp"
#include "../algorithms/joints/joints.hpp"
#include "../algorithms/spatial/spatial.hpp"

namespace lumo::urdf {

// A placement: translation `xyz`, fixed-axis roll, pitch, yaw `rpy` (radians).
struct Pose {
  Vector3 xyz = Vector3::Zero();
  Vector3 rpy = Vector3::Zero();
};

// Rotational inertia about the centre of mass, in the inertial frame (kg·m²).
struct Inertia {
  double ixx = 0.0, ixy = 0.0, ixz = 0.0, iyy = 0.0, iyz = 0.0, izz = 0.0;
};

struct Inertial {
  Pose origin;  // centre of mass and orientation of `inertia`, in the link frame
  double mass = 0.0;
  Inertia inertia;
};

struct Link {
  std::string name;
  Inertial inertial;
  std::size_t line = 0;  // of the <link> element in the text (0: not read from text)
};

struct Axis {
  Vector3 xyz = Vector3(1.0, 0.0, 0.0);
};

struct Limit {
  double lower = 0.0;
  double upper = 0.0;
};

// <mimic joint="leader" multiplier="m" offset="o"/>: the joint's position
// follows the leader's, q = m·q_leader + o.
struct Mimic {
  std::string joint;  // the leader's name
  double multiplier = 1.0;
  double offset = 0.0;
  std::size_t line = 0;  // of the <mimic> element in the text (0: not read from text)
};

struct Joint {
  std::string name;
  JointType joint_type = JointType::Fixed;
  Pose origin;         // the child link's frame in the parent link's frame
  std::string parent;  // link names
  std::string child;
  Axis axis;
  Limit limit;
  std::optional<Mimic> mimic;
  std::size_t line = 0;  // of the <joint> element in the text (0: not read from text)
};

struct Robot {
  std::string name;
  std::vector<Link> links;
  std::vector<Joint> joints;
};

// A file that could not be opened or read; `code` is the system's error.
class UrdfFileError : public UrdfError {
 public:
  UrdfFileError(const std::string& message, std::error_code code)
      : UrdfError(message), code_(code) {}
  std::error_code code() const noexcept { return code_; }

 private:
  std::error_code code_;
};

// Reads a robot from URDF text (UTF-8). A NUL byte ends the text when only
// NULs and white space follow it, as for a C string read from a file;
// anywhere else it is a failure. Entities declared in a DOCTYPE are never
// expanded and nothing outside the text is ever loaded.
Robot read_urdf(std::string_view text);

// Called after each chunk of a file read (and after a read interrupted by a
// signal); an exception thrown from it abandons the read and propagates.
using ChunkHook = std::function<void()>;

// The whole file, then read_urdf. UrdfFileError when it cannot be read.
Robot read_urdf_file(const std::string& filename, const ChunkHook& between_chunks = {});

// The largest URDF file read: far above any real robot's description, and a
// bound on what a file that never ends (some of /proc) can make us hold.
inline constexpr std::size_t kMaxUrdfFileBytes = std::size_t{256} << 20;

// The whole content of a regular file, read in chunks; UrdfFileError when it
// cannot be read, including a directory and anything else that is not a
// regular file ("... is not a regular file ...", which a FIFO or a device
// could make block or never end), and a file of more than max_bytes.
std::string read_text_file(const std::string& filename, const ChunkHook& between_chunks = {},
                           std::size_t max_bytes = kMaxUrdfFileBytes);

}  // namespace lumo::urdf
