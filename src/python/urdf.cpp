// parse_urdf_file and parse_urdf_from_string: a new Model from URDF. Any
// failure is a RuntimeError "Failed to parse URDF: {message}", with the
// reader's own error, when there is one, as its __cause__. What the import
// ignored or found doubtful becomes one UrdfWarning. couplingsFromUrdf: the
// JointCoupling of each <mimic>, read and failing the same way; the mimics
// that are not couplings of the model become one UrdfWarning.
//
// Reading and building run without the interpreter lock; a file read takes
// it back between chunks to run signal handlers, so Ctrl-C stops a long read.
#include <algorithm>
#include <cctype>
#include <string>
#include <string_view>
#include <vector>

#include "bindings.hpp"
#include "convert.hpp"
#include "urdf_parser/builder.hpp"
#include "urdf_parser/mimic.hpp"

namespace lumo::python {
namespace {

PyObject* urdf_warning = nullptr;

// A Python error is set (a signal handler raised): unwind the read.
struct PythonErrorSet {};

// The warning text: a first line, then one line per note (at most 50).
std::string warning_text(const std::vector<std::string>& notes, std::string text) {
  constexpr std::size_t kShown = 50;
  for (std::size_t k = 0; k < notes.size() && k < kShown; ++k) text += "\n  " + notes[k];
  if (notes.size() > kShown) text += cat("\n  ... and ", notes.size() - kShown, " more");
  return text;
}

// Runs parse(notes, hook) without the interpreter lock, then makes the
// Python Model and emits the warning. `hook` re-takes the lock to check
// for signals.
template <typename Parse>
PyObject* new_model_from(Parse&& parse) {
  std::vector<std::string> notes;
  Model model;
  std::exception_ptr failure;
  PyThreadState* thread = PyEval_SaveThread();
  const auto check_signals = [&] {
    PyEval_RestoreThread(thread);
    const int interrupted = PyErr_CheckSignals();
    thread = PyEval_SaveThread();
    if (interrupted < 0) throw PythonErrorSet{};
  };
  try {
    model = parse(&notes, check_signals);
  } catch (...) {
    failure = std::current_exception();
  }
  PyEval_RestoreThread(thread);
  return guarded([&]() -> PyObject* {
    if (failure) {
      try {
        std::rethrow_exception(failure);
      } catch (const PythonErrorSet&) {
        return nullptr;
      } catch (const UrdfError& e) {
        throw UrdfError(cat("Failed to parse URDF: ", e.what()), e.cause());
      }
    }
    nb::object result = nb::cast(std::move(model));
    const std::string heading =
        cat("URDF import ignored or found doubtful ", notes.size(), notes.size() == 1 ? " item:" : " items:");
    if (!notes.empty() && PyErr_WarnEx(urdf_warning, warning_text(notes, heading).c_str(), 1) < 0)
      return nullptr;  // the warning filter made it an error
    return result.release().ptr();
  });
}

}  // namespace

PyObject* make_urdf_warning() {
  urdf_warning = PyErr_NewExceptionWithDoc(
      "lumo_dynamic.UrdfWarning",
      "Issued once per URDF import that ignored part of the description (unreachable links "
      "and joints, a second root, a joint whose child link is missing, a repeated link name) "
      "or found it doubtful (a repeated joint name, an inertia tensor that is not positive "
      "semi-definite, a moving joint whose subtree has no mass); the message lists each with its "
      "line.",
      PyExc_UserWarning, nullptr);
  return urdf_warning;
}

PyObject* model_from_urdf_file(std::string_view filename) {
  const std::string name(filename);
  return new_model_from([&](std::vector<std::string>* notes, const urdf::ChunkHook& hook) {
    return parse_urdf_file(name, notes, hook);
  });
}

PyObject* couplings_from_urdf(const Model& model, std::string_view filename_or_string) {
  // Text whose first non-space character is '<' is URDF; anything else names a file.
  const auto first = std::find_if_not(filename_or_string.begin(), filename_or_string.end(),
                                      [](unsigned char ch) { return std::isspace(ch) != 0; });
  const bool is_text = first != filename_or_string.end() && *first == '<';
  return guarded([&]() -> PyObject* {
    MimicCouplings found;
    try {
      found = is_text ? couplings_from_urdf_string(model, filename_or_string)
                      : couplings_from_urdf_file(model, std::string(filename_or_string));
    } catch (const UrdfError& e) {
      throw UrdfError(cat("Failed to parse URDF: ", e.what()), e.cause());
    }
    nb::list list;
    for (const JointCoupling& c : found.couplings) list.append(nb::cast(c));
    const std::string heading = cat("URDF mimics that are not couplings of the model (", found.warnings.size(), "):");
    if (!found.warnings.empty() && PyErr_WarnEx(urdf_warning, warning_text(found.warnings, heading).c_str(), 1) < 0)
      return nullptr;  // the warning filter made it an error
    return list.release().ptr();
  });
}

PyObject* model_from_urdf_string(std::string_view text) {
  // `text` is the UTF-8 buffer of an immutable str that the caller keeps alive.
  return new_model_from([&](std::vector<std::string>* notes, const urdf::ChunkHook&) {
    return parse_urdf_from_string(text, notes);
  });
}

}  // namespace lumo::python
