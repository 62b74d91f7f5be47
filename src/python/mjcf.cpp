// parse_mjcf_file and parse_mjcf_from_string: a new Model from MJCF. Any
// failure is a RuntimeError "Failed to parse MJCF: {message}", with the
// reader's own error, when there is one, as its __cause__. What the import
// ignored becomes one MjcfWarning. couplingsFromMjcf: the JointCoupling of
// each <equality><joint>, read and failing the same way; the equalities that
// are not couplings of the model become one MjcfWarning.
//
// Reading and building run without the interpreter lock.
#include <algorithm>
#include <cctype>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "bindings.hpp"
#include "convert.hpp"
#include "mjcf_parser/builder.hpp"
#include "mjcf_parser/equality.hpp"

namespace lumo::python {
namespace {

PyObject* mjcf_warning = nullptr;

// The warning text: a first line, then one line per note (at most 50).
std::string warning_text(const std::vector<std::string>& notes, std::string text) {
  constexpr std::size_t kShown = 50;
  for (std::size_t k = 0; k < notes.size() && k < kShown; ++k) text += "\n  " + notes[k];
  if (notes.size() > kShown) text += cat("\n  ... and ", notes.size() - kShown, " more");
  return text;
}

// The message a reading or building failure is raised with.
MjcfError python_failure(const MjcfError& e) { return MjcfError(cat("Failed to parse MJCF: ", e.what()), e.cause()); }

// Runs parse(notes) without the interpreter lock, then makes the Python
// Model and emits the warning.
template <typename Parse>
PyObject* new_model_from(Parse&& parse) {
  std::vector<std::string> notes;
  Model model;
  std::exception_ptr failure;
  Py_BEGIN_ALLOW_THREADS
  try {
    model = parse(&notes);
  } catch (...) {
    failure = std::current_exception();
  }
  Py_END_ALLOW_THREADS
  return guarded([&]() -> PyObject* {
    if (failure) {
      try {
        std::rethrow_exception(failure);
      } catch (const MjcfError& e) {
        throw python_failure(e);
      }
    }
    nb::object result = nb::cast(std::move(model));
    const std::string heading = cat("MJCF import ignored ", notes.size(), notes.size() == 1 ? " item:" : " items:");
    if (!notes.empty() && PyErr_WarnEx(mjcf_warning, warning_text(notes, heading).c_str(), 1) < 0)
      return nullptr;  // the warning filter made it an error
    return result.release().ptr();
  });
}

}  // namespace

PyObject* make_mjcf_warning() {
  mjcf_warning = PyErr_NewExceptionWithDoc(
      "lumo_dynamic.MjcfWarning",
      "Issued once per MJCF import that ignored part of the description: one line per kind of "
      "element that is not dynamics (actuators, sensors, tendons, contacts, cameras, lights, "
      "textures, materials, geoms' contact and visual parameters, ...), joint armature, damping, "
      "stiffness and friction, meshes that cannot be read, and equalities that are not joint couplings.",
      PyExc_UserWarning, nullptr);
  return mjcf_warning;
}

PyObject* model_from_mjcf_file(std::string_view filename) {
  const std::string name(filename);
  return new_model_from([&](std::vector<std::string>* notes) { return parse_mjcf_file(name, notes); });
}

PyObject* model_from_mjcf_string(std::string_view text, const std::optional<std::string>& directory) {
  // `text` is the UTF-8 buffer of an immutable str that the caller keeps alive.
  return new_model_from([&](std::vector<std::string>* notes) { return parse_mjcf_from_string(text, directory, notes); });
}

PyObject* couplings_from_mjcf(const Model& model, std::string_view filename_or_string) {
  // Text whose first non-space character is '<' is MJCF; anything else names a file.
  const auto first = std::find_if_not(filename_or_string.begin(), filename_or_string.end(),
                                      [](unsigned char ch) { return std::isspace(ch) != 0; });
  const bool is_text = first != filename_or_string.end() && *first == '<';
  return guarded([&]() -> PyObject* {
    EqualityCouplings found;
    try {
      found = is_text ? couplings_from_mjcf_string(model, filename_or_string)
                      : couplings_from_mjcf_file(model, std::string(filename_or_string));
    } catch (const MjcfError& e) {
      throw python_failure(e);
    }
    nb::list list;
    for (const JointCoupling& c : found.couplings) list.append(nb::cast(c));
    const std::string heading =
        cat("MJCF joint equalities that are not couplings of the model (", found.warnings.size(), "):");
    if (!found.warnings.empty() && PyErr_WarnEx(mjcf_warning, warning_text(found.warnings, heading).c_str(), 1) < 0)
      return nullptr;  // the warning filter made it an error
    return list.release().ptr();
  });
}

}  // namespace lumo::python
