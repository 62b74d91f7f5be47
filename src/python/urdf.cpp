// parse_urdf_file and parse_urdf_from_string: a new Model from URDF. Any
// failure is a RuntimeError "Failed to parse URDF: {message}", with the
// reader's own error, when there is one, as its __cause__. What the import
// ignored or found doubtful becomes one UrdfWarning. couplingsFromUrdf: the
// JointCoupling of each <mimic>, read and failing the same way; the mimics
// that are not couplings of the model become one UrdfWarning.
//
// Reading and building run without the interpreter lock; a file read takes
// it back between chunks to run signal handlers, so Ctrl-C stops a long read.
#include <string>
#include <string_view>
#include <vector>

#include "imports.hpp"
#include "urdf_parser/builder.hpp"
#include "urdf_parser/mimic.hpp"

namespace lumo::python {
namespace {

PyObject* urdf_warning = nullptr;

}  // namespace

PyObject* make_urdf_warning() {
  urdf_warning = PyErr_NewExceptionWithDoc(
      "lumo_dynamic.UrdfWarning",
      "Issued once per URDF import that ignored part of the description (unreachable links "
      "and joints, a second root, a joint whose child link is missing, a repeated link name) "
      "or found it doubtful (a repeated joint name, an inertia tensor that is not positive "
      "semi-definite, a moving joint whose subtree has no mass); the message lists each with its "
      "line. Also issued by couplingsFromUrdf for the <mimic> elements it cannot turn into "
      "couplings. A UserWarning: filter it with the warnings module.\n\n"
      ">>> import warnings\n"
      ">>> with warnings.catch_warnings():\n"
      "...     warnings.simplefilter(\"error\", ld.UrdfWarning)  # a doubtful file now raises\n"
      "...     model = ld.parse_urdf_file(\"models/arm7.urdf\")",
      PyExc_UserWarning, nullptr);
  return urdf_warning;
}

PyObject* model_from_urdf_file(std::string_view filename) {
  const std::string name(filename);
  return new_model_from<UrdfError>(urdf_warning, "URDF", "or found doubtful ",
                                   [&](std::vector<std::string>* notes, const urdf::ChunkHook& hook) {
                                     return parse_urdf_file(name, notes, hook);
                                   });
}

PyObject* couplings_from_urdf(const Model& model, std::string_view filename_or_string) {
  return couplings_from<UrdfError>(urdf_warning, "URDF", "mimics", filename_or_string, [&](bool is_text) {
    return is_text ? couplings_from_urdf_string(model, filename_or_string)
                   : couplings_from_urdf_file(model, std::string(filename_or_string));
  });
}

PyObject* model_from_urdf_string(std::string_view text) {
  // `text` is the UTF-8 buffer of an immutable str that the caller keeps alive.
  return new_model_from<UrdfError>(urdf_warning, "URDF", "or found doubtful ",
                                   [&](std::vector<std::string>* notes, const urdf::ChunkHook&) {
                                     return parse_urdf_from_string(text, notes);
                                   });
}

}  // namespace lumo::python
