#include "function_table.hpp"

#include <nanobind/stl/string.h>

#include <deque>
#include <string_view>
#include <vector>

namespace lumo::python {
namespace {

// `format` with {len} and {n} replaced by the two sizes.
std::string mismatch_message(std::string_view format, Py_ssize_t len, std::size_t n) {
  std::string out;
  for (std::size_t k = 0; k < format.size();) {
    if (format.compare(k, 5, "{len}") == 0) {
      out += std::to_string(len);
      k += 5;
    } else if (format.compare(k, 3, "{n}") == 0) {
      out += std::to_string(n);
      k += 3;
    } else {
      out += format[k++];
    }
  }
  return out;
}

// Docstrings live as long as the module's tables.
const char* keep(std::string text) {
  static std::deque<std::string> texts;
  return texts.emplace_back(std::move(text)).c_str();
}

// "name(p1, p2, …)\n--\n\n" and the description; a batch form lists the
// parameters but `data`, then `*, threads=None`.
const char* docstring(const Function& f, bool batch, const char* name) {
  std::string text = name;
  text += "(";
  bool first = true;
  for (int k = 0; k < f.count; ++k) {
    if (batch && f.params[k].kind == Kind::data) continue;
    if (!first) text += ", ";
    text += f.names[k];
    first = false;
  }
  text += batch ? ", *, threads=None)\n--\n\n" : ")\n--\n\n";
  if (!batch) return keep(text + f.doc.text);
  if (name != f.batch_name()) text += cat("Deprecated name of ", f.batch_name(), " (", name, " is removed in the next release). ");
  text += f.doc.rows;
  text += f.single() ? "\n\nOne state per row; row i equals the single call on row i. Runs on `threads` "
                      : "\n\nOne state per row. Runs on `threads` ";
  text += "threads (None: every CPU the process may use; more than that, or than N, are not started) "
          "with the interpreter lock released.";
  return keep(std::move(text));
}

const char* python_type(Kind kind) {
  switch (kind) {
    case Kind::model: return "Model";
    case Kind::data: return "Data";
    case Kind::vector: return kArray;
    case Kind::joint_index:
    case Kind::frame_index: return "int";
    case Kind::frame_indexes: return "Sequence[int]";
    case Kind::reference_frame: return "ReferenceFrame";
    case Kind::text: return "str";
  }
  return "Incomplete";
}

}  // namespace

bool raise_size_error(const Param& p, Py_ssize_t size, std::size_t n) {
  if (p.mismatch != nullptr)
    raise_value_error(mismatch_message(p.mismatch, size, n));
  else
    raise_value_error(cat(p.name, " length ", size, " != ", p.count == Count::nq ? "nq " : "nv ", n));
  return false;
}

bool raise_index_error(const Param& p, std::size_t index, const Model& model) {
  if (p.kind == Kind::joint_index)
    raise_value_error(cat(p.name, " ", index, " >= njoints ", model.njoints));
  else
    raise_value_error(cat("Frame ID ", index, " out of range (max: ",
                          static_cast<long long>(model.nframes) - 1, ")"));
  return false;
}

bool raise_data_error(const Data& data, const Model& model) {
  try {
    data.check_model(model);  // the workspace's own wording of the mismatch
  } catch (...) {
    raise_current_exception();
  }
  return false;
}

PyObject* new_matrix_triple(const Matrices3& m) {
  PyObject* items[3] = {new_matrix(m.first), nullptr, nullptr};
  if (items[0] != nullptr) items[1] = new_matrix(m.second);
  if (items[1] != nullptr) items[2] = new_symmetric_matrix(m.symmetric);
  PyObject* out = items[2] != nullptr ? PyTuple_Pack(3, items[0], items[1], items[2]) : nullptr;
  for (PyObject* item : items) Py_XDECREF(item);
  return out;
}

PyMethodDef* single_call_table() {
  static std::vector<PyMethodDef> table = [] {
    std::vector<PyMethodDef> t;
    for (std::size_t k = 0; k < declaration_count; ++k) {
      const Declared& d = declarations[k];
      if (d.single != nullptr)
        t.push_back({d.function->name, d.single, METH_FASTCALL | METH_KEYWORDS,
                     docstring(*d.function, false, d.function->name)});
    }
    t.push_back({nullptr, nullptr, 0, nullptr});
    return t;
  }();
  return table.data();
}

PyMethodDef* batch_call_table() {
  static std::vector<PyMethodDef> table = [] {
    std::vector<PyMethodDef> t;
    for (std::size_t k = 0; k < declaration_count; ++k) {
      const Declared& d = declarations[k];
      const Function& f = *d.function;
      if (d.batch != nullptr)
        t.push_back({f.batch_name(), d.batch, METH_FASTCALL | METH_KEYWORDS,
                     docstring(f, true, f.batch_name())});
      if (d.former_batch != nullptr)
        t.push_back({f.doc.former_batch_name, d.former_batch, METH_FASTCALL | METH_KEYWORDS,
                     docstring(f, true, f.doc.former_batch_name)});
    }
    t.push_back({nullptr, nullptr, 0, nullptr});
    return t;
  }();
  return table.data();
}

nb::dict api_description() {
  nb::dict api;
  for (std::size_t k = 0; k < declaration_count; ++k) {
    const Function& f = *declarations[k].function;
    nb::dict params, batch_params;
    for (int p = 0; p < f.count; ++p) {
      params[f.names[p]] = python_type(f.params[p].kind);
      if (f.params[p].kind != Kind::data) batch_params[f.names[p]] = python_type(f.params[p].kind);
    }
    batch_params["threads"] = "int | None";
    if (f.single()) api[f.name] = nb::make_tuple(f.doc.page, f.result.python_type, params, nb::none());
    if (!f.batched()) continue;
    const std::string returns =
        f.result.noutputs == 1 ? std::string(kArray) : cat("tuple[", kArray, ", ", kArray, ", ", kArray, "]");
    api[cat("batch.", f.batch_name()).c_str()] = nb::make_tuple("batch", returns, batch_params, nb::none());
    if (f.doc.former_batch_name != nullptr)
      api[cat("batch.", f.doc.former_batch_name).c_str()] =
          nb::make_tuple("batch", returns, batch_params, f.batch_name());
  }
  return api;
}

}  // namespace lumo::python
