// parse_mjcf_file and parse_mjcf_from_string: a new Model from MJCF. Any
// failure is a RuntimeError "Failed to parse MJCF: {message}", with the
// reader's own error, when there is one, as its __cause__. What the import
// ignored becomes one MjcfWarning. couplingsFromMjcf: the JointCoupling of
// each <equality><joint>, read and failing the same way; the equalities that
// are not couplings of the model become one MjcfWarning.
//
// Reading and building run without the interpreter lock.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "imports.hpp"
#include "mjcf_parser/builder.hpp"
#include "mjcf_parser/equality.hpp"

namespace lumo::python {
namespace {

PyObject* mjcf_warning = nullptr;

}  // namespace

PyObject* make_mjcf_warning() {
  mjcf_warning = PyErr_NewExceptionWithDoc(
      "lumo_dynamic.MjcfWarning",
      "Issued once per MJCF import that ignored part of the description: one line per kind of "
      "element that is not dynamics (actuators, sensors, tendons, contacts, cameras, lights, "
      "textures, materials, geoms' contact and visual parameters, ...), joint armature, damping, "
      "stiffness and friction, meshes that cannot be read, and equalities that are not joint couplings. "
      "Also issued by couplingsFromMjcf for the joint equalities that are not couplings. A "
      "UserWarning: filter it with the warnings module.\n\n"
      ">>> import warnings\n"
      ">>> with warnings.catch_warnings():\n"
      "...     warnings.simplefilter(\"ignore\", ld.MjcfWarning)  # imports stay quiet\n"
      "...     model = ld.parse_mjcf_from_string(\"<mujoco/>\")",
      PyExc_UserWarning, nullptr);
  return mjcf_warning;
}

PyObject* model_from_mjcf_file(std::string_view filename) {
  const std::string name(filename);
  return new_model_from<MjcfError>(mjcf_warning, "MJCF", "", [&](std::vector<std::string>* notes, const urdf::ChunkHook&) {
    return parse_mjcf_file(name, notes);
  });
}

PyObject* model_from_mjcf_string(std::string_view text, const std::optional<std::string>& directory) {
  // `text` is the UTF-8 buffer of an immutable str that the caller keeps alive.
  return new_model_from<MjcfError>(mjcf_warning, "MJCF", "", [&](std::vector<std::string>* notes, const urdf::ChunkHook&) {
    return parse_mjcf_from_string(text, directory, notes);
  });
}

PyObject* couplings_from_mjcf(const Model& model, std::string_view filename_or_string) {
  return couplings_from<MjcfError>(mjcf_warning, "MJCF", "joint equalities", filename_or_string, [&](bool is_text) {
    return is_text ? couplings_from_mjcf_string(model, filename_or_string)
                   : couplings_from_mjcf_file(model, std::string(filename_or_string));
  });
}

}  // namespace lumo::python
