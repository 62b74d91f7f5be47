// What the URDF and MJCF imports share on the Python side: the text of their
// warning, telling description text from a file name, and building a Model
// without the interpreter lock.
#pragma once

#include <algorithm>
#include <cctype>
#include <exception>
#include <string>
#include <string_view>
#include <vector>

#include "bindings.hpp"
#include "convert.hpp"
#include "algorithms/constraints.hpp"
#include "urdf_parser/reader.hpp"

namespace lumo::python {

// The warning text: a first line, then one line per note (at most 50).
inline std::string warning_text(const std::vector<std::string>& notes, std::string text) {
  constexpr std::size_t kShown = 50;
  for (std::size_t k = 0; k < notes.size() && k < kShown; ++k) text += "\n  " + notes[k];
  if (notes.size() > kShown) text += cat("\n  ... and ", notes.size() - kShown, " more");
  return text;
}

// Issues `warning` with the notes under `heading` when there are any; false
// when the warning filter made it an error (a Python error is then set).
inline bool warn_notes(PyObject* warning, const std::vector<std::string>& notes, const std::string& heading) {
  return notes.empty() || PyErr_WarnEx(warning, warning_text(notes, heading).c_str(), 1) == 0;
}

// Description text rather than a file name: its first non-space character is '<'.
inline bool is_markup(std::string_view filename_or_string) {
  const auto first = std::find_if_not(filename_or_string.begin(), filename_or_string.end(),
                                      [](unsigned char ch) { return std::isspace(ch) != 0; });
  return first != filename_or_string.end() && *first == '<';
}

// Runs parse(notes, hook) without the interpreter lock, then makes the
// Python Model and issues `warning` with the notes under "{format} import
// ignored {what} {n} item(s):". `hook` takes the lock back to run signal
// handlers, so that Ctrl-C stops a long read. A Failure (UrdfError or
// MjcfError) is raised as "Failed to parse {format}: {message}" with its
// cause kept.
template <typename Failure, typename Parse>
PyObject* new_model_from(PyObject* warning, const char* format, const char* what, Parse&& parse) {
  struct PythonErrorSet {};  // a signal handler raised: unwind the read
  std::vector<std::string> notes;
  Model model;
  std::exception_ptr failure;
  PyThreadState* thread = PyEval_SaveThread();
  const urdf::ChunkHook check_signals = [&] {
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
      } catch (const Failure& e) {
        throw Failure(cat("Failed to parse ", format, ": ", e.what()), e.cause());
      }
    }
    nb::object result = nb::cast(std::move(model));
    const std::string heading =
        cat(format, " import ignored ", what, notes.size(), notes.size() == 1 ? " item:" : " items:");
    if (!warn_notes(warning, notes, heading)) return nullptr;
    return result.release().ptr();
  });
}

// The couplings read(is_text) finds (a list of JointCoupling), read from
// text or a file as is_markup tells; the notes about relations that are not
// couplings become one `warning` headed "{format} {relations} that are not
// couplings of the model (n):". A Failure is raised as new_model_from
// raises it.
template <typename Failure, typename Read>
PyObject* couplings_from(PyObject* warning, const char* format, const char* relations,
                         std::string_view filename_or_string, Read&& read) {
  const bool is_text = is_markup(filename_or_string);
  return guarded([&]() -> PyObject* {
    decltype(read(is_text)) found;
    try {
      found = read(is_text);
    } catch (const Failure& e) {
      throw Failure(cat("Failed to parse ", format, ": ", e.what()), e.cause());
    }
    nb::list list;
    for (const JointCoupling& c : found.couplings) list.append(nb::cast(c));
    const std::string heading =
        cat(format, " ", relations, " that are not couplings of the model (", found.warnings.size(), "):");
    if (!warn_notes(warning, found.warnings, heading)) return nullptr;
    return list.release().ptr();
  });
}

}  // namespace lumo::python
