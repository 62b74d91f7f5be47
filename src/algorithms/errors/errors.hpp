// Exception types of the core. The Python layer maps each to one Python
// exception class; C++ callers catch them as lumo::Error or std::exception.
#pragma once

#include <exception>
#include <sstream>
#include <stdexcept>
#include <string>
#include <utility>

namespace lumo {

// Base of every error the library throws on purpose.
class Error : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A bad value or size passed by the caller (Python: ValueError).
class ValueError : public virtual Error {
 public:
  explicit ValueError(const std::string& message) : Error(message) {}
  explicit ValueError(const char* message) : Error(message) {}
};

// An index outside the range of a list (Python: IndexError).
class IndexError : public Error {
 public:
  using Error::Error;
};

// A URDF description that could not be read or built (Python: RuntimeError).
// The lower-level reason, when there is one, is kept as `cause`.
class UrdfError : public Error {
 public:
  explicit UrdfError(const std::string& message, std::exception_ptr cause = nullptr)
      : Error(message), cause_(std::move(cause)) {}
  const std::exception_ptr& cause() const noexcept { return cause_; }

 private:
  std::exception_ptr cause_;
};

// An MJCF description, or a file it names (an included model, a mesh), that
// could not be read or built (Python: RuntimeError); `cause` as for UrdfError.
class MjcfError : public Error {
 public:
  explicit MjcfError(const std::string& message, std::exception_ptr cause = nullptr)
      : Error(message), cause_(std::move(cause)) {}
  const std::exception_ptr& cause() const noexcept { return cause_; }

 private:
  std::exception_ptr cause_;
};

// A violated precondition inside an algorithm (Python: PanicException).
class InternalError : public virtual Error {
 public:
  explicit InternalError(const std::string& message) : Error(message) {}
  explicit InternalError(const char* message) : Error(message) {}
};

// A vector of the wrong length passed to an algorithm: the caller's mistake,
// so a ValueError (Python: ValueError). It is an InternalError as well, the
// type the core gave wrong sizes before, so that C++ callers catching that
// still catch it.
class SizeError : public ValueError, public InternalError {
 public:
  explicit SizeError(const std::string& message) : Error(message), ValueError(message), InternalError(message) {}
};

// Concatenates the stream forms of its arguments: cat("q length ", n).
template <typename... Args>
std::string cat(Args&&... args) {
  std::ostringstream out;
  (out << ... << std::forward<Args>(args));
  return out.str();
}

}  // namespace lumo
