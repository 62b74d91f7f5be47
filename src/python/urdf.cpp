// parse_urdf_file and parse_urdf_from_string: a new Model from URDF. Any
// failure is a RuntimeError "Failed to parse URDF: {message}", with the
// reader's own error, when there is one, as its __cause__.
#include <string>
#include <string_view>

#include "bindings.hpp"
#include "convert.hpp"
#include "urdf_parser/builder.hpp"

namespace lumo::python {
namespace {

// The model built by `parse`, as a new Python Model.
template <typename Parse>
PyObject* new_model_from(Parse&& parse) {
  return guarded([&]() -> PyObject* {
    Model model;
    try {
      model = parse();
    } catch (const UrdfError& e) {
      throw UrdfError(cat("Failed to parse URDF: ", e.what()), e.cause());
    }
    return nb::cast(std::move(model)).release().ptr();
  });
}

}  // namespace

PyObject* py_parse_urdf_file(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kw) {
  static const char* const params[] = {"filename"};
  static const Signature sig{"parse_urdf_file", params, 1};
  PyObject* a[1];
  std::string_view filename;
  if (!parse_arguments(sig, args, nargs, kw, a) || !as_text(a[0], "filename", filename))
    return nullptr;
  return new_model_from([&] { return parse_urdf_file(std::string(filename)); });
}

PyObject* py_parse_urdf_from_string(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                                    PyObject* kw) {
  static const char* const params[] = {"urdf_string"};
  static const Signature sig{"parse_urdf_from_string", params, 1};
  PyObject* a[1];
  std::string_view text;
  if (!parse_arguments(sig, args, nargs, kw, a) || !as_text(a[0], "urdf_string", text))
    return nullptr;
  return new_model_from([&] { return parse_urdf_from_string(text); });
}

}  // namespace lumo::python
