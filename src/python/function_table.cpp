#include "function_table.hpp"

#include <string_view>

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

bool check_size(const Param& p, const VectorArg& x, const Model& model) {
  const std::size_t n = p.count == Count::nq ? model.nq : model.nv;
  if (static_cast<std::size_t>(x.size) == n) return true;
  if (p.mismatch != nullptr)
    raise_value_error(mismatch_message(p.mismatch, x.size, n));
  else
    raise_value_error(cat(p.name, " length ", x.size, " != ", p.count == Count::nq ? "nq " : "nv ", n));
  return false;
}

bool check_index(const Param& p, std::size_t index, const Model& model) {
  if (p.kind == Kind::joint_index) {
    if (index < model.njoints) return true;
    raise_value_error(cat(p.name, " ", index, " >= njoints ", model.njoints));
    return false;
  }
  if (index < model.nframes) return true;
  raise_value_error(cat("Frame ID ", index, " out of range (max: ",
                        static_cast<long long>(model.nframes) - 1, ")"));
  return false;
}

}  // namespace

bool convert_arguments(const Function& f, PyObject* const* a, Call& call) {
  // Types, in parameter order.
  int nvec = 0, nidx = 0;
  for (int k = 0; k < f.count; ++k) {
    const Param& p = f.params[k];
    switch (p.kind) {
      case Kind::model:
        if ((call.model = as_model(a[k], p.name)) == nullptr) return false;
        break;
      case Kind::data:
        if ((call.data = as_data(a[k], p.name)) == nullptr) return false;
        break;
      case Kind::vector:
        if (!is_vector(a[k], p.name)) return false;
        break;
      case Kind::joint_index:
      case Kind::frame_index:
        if (!as_index(a[k], p.name, call.indexes[nidx++])) return false;
        break;
      case Kind::reference_frame:
        if (!as_reference_frame(a[k], p.name, call.frame)) return false;
        break;
    }
  }
  // Contiguity of the arrays.
  for (int k = 0; k < f.count; ++k)
    if (f.params[k].kind == Kind::vector && !vector_view(a[k], call.vectors[nvec++])) return false;
  // Sizes and indexes against the model.
  nvec = nidx = 0;
  for (int k = 0; k < f.count; ++k) {
    const Param& p = f.params[k];
    if (p.kind == Kind::vector && !check_size(p, call.vectors[nvec++], *call.model)) return false;
    if ((p.kind == Kind::joint_index || p.kind == Kind::frame_index) &&
        !check_index(p, call.indexes[nidx++], *call.model))
      return false;
  }
  return true;
}

const char* function_docstring(const Function& f, const char* description) {
  std::string text = f.name;
  text += "(";
  for (int k = 0; k < f.count; ++k) {
    if (k > 0) text += ", ";
    text += f.names[k];
  }
  text += ")\n--\n\n";
  text += description;
  // Table entries live as long as the module, and so do their docstrings.
  return (new std::string(std::move(text)))->c_str();
}

}  // namespace lumo::python
