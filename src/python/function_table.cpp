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
