// lumo_dynamic.batch: the algorithms over N states at once. Each function
// takes the model and (N, width) C-ordered float64 arrays, one state per row,
// and returns new arrays whose leading axis is N; row i is, bit for bit, what
// the single call gives for row i. The rows are split into contiguous chunks,
// one worker thread and one workspace per chunk, with the interpreter lock
// released while they compute.
//
// Every function is one entry of the table at the end: its parameters, the
// width of each per-row input, the shape of each per-row output and a kernel
// that computes one row with the core. One driver does the rest.
#include "batch.hpp"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstring>
#include <exception>
#include <limits>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#ifdef __linux__
#include <sched.h>
#endif

#include "algorithms/aba.hpp"
#include "algorithms/center_of_mass.hpp"
#include "algorithms/configuration.hpp"
#include "algorithms/crba.hpp"
#include "algorithms/derivatives.hpp"
#include "algorithms/frames.hpp"
#include "algorithms/jacobians.hpp"
#include "algorithms/kinematics.hpp"
#include "algorithms/rnea.hpp"
#include "convert.hpp"

namespace lumo::python {

// ------------------------------------------------------------- model guard

namespace {

// Models read by running batches, with the number of batches reading each.
std::mutex in_use_mutex;
std::vector<std::pair<const Model*, std::size_t>> in_use;

// Marks a model as read by a batch for the lifetime of the object.
class ModelInUse {
 public:
  explicit ModelInUse(const Model* model) : model_(model) {
    std::lock_guard lock(in_use_mutex);
    for (auto& [m, count] : in_use)
      if (m == model) {
        ++count;
        return;
      }
    in_use.emplace_back(model, 1);
  }
  ~ModelInUse() {
    std::lock_guard lock(in_use_mutex);
    for (auto it = in_use.begin(); it != in_use.end(); ++it)
      if (it->first == model_) {
        if (--it->second == 0) in_use.erase(it);
        return;
      }
  }
  ModelInUse(const ModelInUse&) = delete;
  ModelInUse& operator=(const ModelInUse&) = delete;

 private:
  const Model* model_;
};

}  // namespace

bool model_mutable(const Model* model) {
  std::lock_guard lock(in_use_mutex);
  for (const auto& entry : in_use)
    if (entry.first == model) {
      PyErr_SetString(PyExc_RuntimeError, "Model is in use by a running batch computation");
      return false;
    }
  return true;
}

namespace {

// ------------------------------------------------------------- the table

// Width of a per-row input.
enum class Width { nq, nv };

// Per-row shape of an output.
enum class Shape {
  nq,           // (nq)
  nv,           // (nv)
  nv_nv,        // (nv, nv)
  three,        // (3)
  three_nv,     // (3, nv)
  six_nv,       // (6, nv)
  frames_4_4,   // (len(frame_ids), 4, 4)
};

// Arguments after the per-row inputs.
enum class Extra {
  none,
  frame_ids,              // a sequence of frame indexes
  frame_and_reference,    // frame_id, reference_frame
};

// Everything the rows of one call share.
struct Call {
  const Model* model = nullptr;
  std::vector<FrameIndex> frame_ids;
  JointIndex joint = 0;  // the joint frame_id is attached to
  ReferenceFrame reference_frame = ReferenceFrame::WORLD;
};

using Kernel = void (*)(const Call& call, Data& data, const double* const* in, double* const* out);

struct Input {
  const char* name;
  Width width;
};

constexpr int kMaxInputs = 3, kMaxOutputs = 3;

struct BatchFunction {
  const char* name;
  const char* doc;  // text signature, then what each row holds
  int ninputs;
  std::array<Input, kMaxInputs> inputs;
  Extra extra;
  int noutputs;  // more than one: the result is a tuple
  std::array<Shape, kMaxOutputs> outputs;
  Kernel kernel;
};

using ConstVector = Eigen::Map<const Eigen::VectorXd>;
using VectorOut = Eigen::Map<Eigen::VectorXd>;

ConstVector q_row(const Call& c, const double* x) { return {x, static_cast<Eigen::Index>(c.model->nq)}; }
ConstVector v_row(const Call& c, const double* x) { return {x, static_cast<Eigen::Index>(c.model->nv)}; }

void copy_vector(const Eigen::VectorXd& x, double* out) {
  std::copy(x.data(), x.data() + x.size(), out);
}

// The full symmetric matrix of a stored upper triangle, row-major: row r up
// to the diagonal is column r of the triangle (contiguous), the rest of the
// row mirrors the rows below it, just written.
void copy_symmetric(const Eigen::MatrixXd& upper, double* out) {
  const Eigen::Index n = upper.rows();
  for (Eigen::Index r = 0; r < n; ++r) {
    const double* column = upper.data() + r * n;
    std::copy(column, column + r + 1, out + r * n);
  }
  for (Eigen::Index r = 0; r < n; ++r)
    for (Eigen::Index c = r + 1; c < n; ++c) out[r * n + c] = out[c * n + r];
}

// A matrix as it is stored, written row by row.
template <typename Matrix>
void copy_matrix(const Matrix& m, double* out) {
  for (Eigen::Index r = 0; r < m.rows(); ++r)
    for (Eigen::Index c = 0; c < m.cols(); ++c) out[r * m.cols() + c] = m(r, c);
}

// A column-major 6×nv view on a row-major (6, nv) block.
Matrix6XView six_by_nv(double* out, std::size_t nv) {
  using Map = Eigen::Map<Matrix6X, 0, Eigen::Stride<Eigen::Dynamic, Eigen::Dynamic>>;
  const Eigen::Index n = static_cast<Eigen::Index>(nv);
  return Map(out, 6, n, Eigen::Stride<Eigen::Dynamic, Eigen::Dynamic>(1, n > 0 ? n : 1));
}

#define ROW_DOC "\n\nOne state per row; row i equals the single call on row i. Runs on `threads` " \
                "threads (None: every CPU the process may use) with the interpreter lock released."

constexpr BatchFunction kFunctions[] = {
    {"forwardKinematics",
     "forwardKinematics(model, q, frame_ids, *, threads=None)\n--\n\n"
     "World placements of the frames `frame_ids` as homogeneous matrices, (N, len(frame_ids), 4, 4)."
     ROW_DOC,
     1, {{{"q", Width::nq}}}, Extra::frame_ids, 1, {Shape::frames_4_4},
     [](const Call& c, Data& d, const double* const* in, double* const* out) {
       forwardKinematics(*c.model, d, q_row(c, in[0]));
       double* H = out[0];
       for (const FrameIndex f : c.frame_ids) {
         const SE3 oMf = getFramePlacement(*c.model, d, f);  // oMi[parent] · frame placement
         for (int r = 0; r < 3; ++r) {
           for (int k = 0; k < 3; ++k) H[4 * r + k] = oMf.rotation(r, k);
           H[4 * r + 3] = oMf.translation[r];
         }
         H[12] = H[13] = H[14] = 0.0;
         H[15] = 1.0;
         H += 16;
       }
     }},
    {"rnea", "rnea(model, q, v, a, *, threads=None)\n--\n\nJoint torques, (N, nv)." ROW_DOC,
     3, {{{"q", Width::nq}, {"v", Width::nv}, {"a", Width::nv}}}, Extra::none, 1, {Shape::nv},
     [](const Call& c, Data& d, const double* const* in, double* const* out) {
       copy_vector(rnea(*c.model, d, q_row(c, in[0]), v_row(c, in[1]), v_row(c, in[2])), out[0]);
     }},
    {"non_linear_effects",
     "non_linear_effects(model, q, v, *, threads=None)\n--\n\n"
     "Coriolis, centrifugal and gravity torques, (N, nv)." ROW_DOC,
     2, {{{"q", Width::nq}, {"v", Width::nv}}}, Extra::none, 1, {Shape::nv},
     [](const Call& c, Data& d, const double* const* in, double* const* out) {
       copy_vector(non_linear_effects(*c.model, d, q_row(c, in[0]), v_row(c, in[1])), out[0]);
     }},
    {"compute_gravity",
     "compute_gravity(model, q, *, threads=None)\n--\n\nGravity torques, (N, nv)." ROW_DOC,
     1, {{{"q", Width::nq}}}, Extra::none, 1, {Shape::nv},
     [](const Call& c, Data& d, const double* const* in, double* const* out) {
       copy_vector(compute_gravity(*c.model, d, q_row(c, in[0])), out[0]);
     }},
    {"crba",
     "crba(model, q, *, threads=None)\n--\n\n"
     "Mass matrices, full and symmetric (as Data.M shows them), (N, nv, nv)." ROW_DOC,
     1, {{{"q", Width::nq}}}, Extra::none, 1, {Shape::nv_nv},
     [](const Call& c, Data& d, const double* const* in, double* const* out) {
       copy_symmetric(crba(*c.model, d, q_row(c, in[0])), out[0]);
     }},
    {"getFrameJacobian",
     "getFrameJacobian(model, q, frame_id, reference_frame, *, threads=None)\n--\n\n"
     "Jacobians of frame `frame_id` in `reference_frame` after computeJointJacobians, "
     "(N, 6, nv), rows [linear; angular]." ROW_DOC,
     1, {{{"q", Width::nq}}}, Extra::frame_and_reference, 1, {Shape::six_nv},
     [](const Call& c, Data& d, const double* const* in, double* const* out) {
       computeJointJacobians(*c.model, d, q_row(c, in[0]));
       extractJointJacobian(*c.model, d, c.joint, c.reference_frame, six_by_nv(out[0], c.model->nv));
     }},
    {"integrate",
     "integrate(model, q, v, *, threads=None)\n--\n\nConfigurations q moved along v for unit time, "
     "(N, nq)." ROW_DOC,
     2, {{{"q", Width::nq}, {"v", Width::nv}}}, Extra::none, 1, {Shape::nq},
     [](const Call& c, Data&, const double* const* in, double* const* out) {
       VectorOut q_next(out[0], static_cast<Eigen::Index>(c.model->nq));
       integrate(*c.model, q_row(c, in[0]), v_row(c, in[1]), q_next);
     }},
    {"aba",
     "aba(model, q, v, tau, *, threads=None)\n--\n\nJoint accelerations under the torques tau, "
     "(N, nv)." ROW_DOC,
     3, {{{"q", Width::nq}, {"v", Width::nv}, {"tau", Width::nv}}}, Extra::none, 1, {Shape::nv},
     [](const Call& c, Data& d, const double* const* in, double* const* out) {
       copy_vector(aba(*c.model, d, q_row(c, in[0]), v_row(c, in[1]), v_row(c, in[2])), out[0]);
     }},
    {"computeMinverse",
     "computeMinverse(model, q, *, threads=None)\n--\n\nInverse mass matrices, full and symmetric, "
     "(N, nv, nv)." ROW_DOC,
     1, {{{"q", Width::nq}}}, Extra::none, 1, {Shape::nv_nv},
     [](const Call& c, Data& d, const double* const* in, double* const* out) {
       copy_matrix(computeMinverse(*c.model, d, q_row(c, in[0])), out[0]);
     }},
    {"centerOfMass",
     "centerOfMass(model, q, *, threads=None)\n--\n\nCentres of mass in the world, (N, 3)." ROW_DOC,
     1, {{{"q", Width::nq}}}, Extra::none, 1, {Shape::three},
     [](const Call& c, Data& d, const double* const* in, double* const* out) {
       copy_matrix(centerOfMass(*c.model, d, q_row(c, in[0])), out[0]);
     }},
    {"jacobianCenterOfMass",
     "jacobianCenterOfMass(model, q, *, threads=None)\n--\n\nJacobians of the centre of mass, "
     "(N, 3, nv)." ROW_DOC,
     1, {{{"q", Width::nq}}}, Extra::none, 1, {Shape::three_nv},
     [](const Call& c, Data& d, const double* const* in, double* const* out) {
       copy_matrix(jacobianCenterOfMass(*c.model, d, q_row(c, in[0])), out[0]);
     }},
    {"difference",
     "difference(model, q0, q1, *, threads=None)\n--\n\nVelocities v with integrate(q0, v) = q1, "
     "(N, nv)." ROW_DOC,
     2, {{{"q0", Width::nq}, {"q1", Width::nq}}}, Extra::none, 1, {Shape::nv},
     [](const Call& c, Data&, const double* const* in, double* const* out) {
       VectorOut v(out[0], static_cast<Eigen::Index>(c.model->nv));
       difference(*c.model, q_row(c, in[0]), q_row(c, in[1]), v);
     }},
    {"computeRNEADerivatives",
     "computeRNEADerivatives(model, q, v, a, *, threads=None)\n--\n\n"
     "(dtau_dq, dtau_dv, dtau_da), each (N, nv, nv)." ROW_DOC,
     3, {{{"q", Width::nq}, {"v", Width::nv}, {"a", Width::nv}}}, Extra::none, 3,
     {Shape::nv_nv, Shape::nv_nv, Shape::nv_nv},
     [](const Call& c, Data& d, const double* const* in, double* const* out) {
       computeRNEADerivatives(*c.model, d, q_row(c, in[0]), v_row(c, in[1]), v_row(c, in[2]));
       copy_matrix(d.dtau_dq, out[0]);
       copy_matrix(d.dtau_dv, out[1]);
       copy_matrix(d.dtau_da, out[2]);
     }},
    {"computeABADerivatives",
     "computeABADerivatives(model, q, v, tau, *, threads=None)\n--\n\n"
     "(dddq_dq, dddq_dv, dddq_dtau), each (N, nv, nv)." ROW_DOC,
     3, {{{"q", Width::nq}, {"v", Width::nv}, {"tau", Width::nv}}}, Extra::none, 3,
     {Shape::nv_nv, Shape::nv_nv, Shape::nv_nv},
     [](const Call& c, Data& d, const double* const* in, double* const* out) {
       computeABADerivatives(*c.model, d, q_row(c, in[0]), v_row(c, in[1]), v_row(c, in[2]));
       copy_matrix(d.ddq_dq, out[0]);
       copy_matrix(d.ddq_dv, out[1]);
       copy_matrix(d.Minv, out[2]);
     }},
};
constexpr std::size_t kCount = sizeof(kFunctions) / sizeof(kFunctions[0]);

// ------------------------------------------------------------- the driver

std::size_t width(const Model& m, Width w) { return w == Width::nq ? m.nq : m.nv; }

// Per-row dimensions of an output.
std::vector<npy_intp> row_dims(const Call& c, Shape s) {
  const auto nq = static_cast<npy_intp>(c.model->nq), nv = static_cast<npy_intp>(c.model->nv);
  switch (s) {
    case Shape::nq: return {nq};
    case Shape::nv: return {nv};
    case Shape::nv_nv: return {nv, nv};
    case Shape::three: return {3};
    case Shape::three_nv: return {3, nv};
    case Shape::six_nv: return {6, nv};
    case Shape::frames_4_4: return {static_cast<npy_intp>(c.frame_ids.size()), 4, 4};
  }
  return {};
}

// The parameter names of a function, threads last (keyword-only).
std::vector<const char*> parameters(const BatchFunction& f) {
  std::vector<const char*> names{"model"};
  for (int k = 0; k < f.ninputs; ++k) names.push_back(f.inputs[k].name);
  if (f.extra == Extra::frame_ids) names.push_back("frame_ids");
  if (f.extra == Extra::frame_and_reference) {
    names.push_back("frame_id");
    names.push_back("reference_frame");
  }
  return names;
}

// Sorts the arguments by parameter (out has one slot per positional
// parameter) and takes `threads`, with the interpreter's TypeErrors.
bool parse(const BatchFunction& f, const std::vector<const char*>& names, PyObject* const* args,
           Py_ssize_t nargsf, PyObject* kwnames, std::vector<PyObject*>& out, PyObject*& threads) {
  const Py_ssize_t npos = static_cast<Py_ssize_t>(names.size());
  const Py_ssize_t nargs = PyVectorcall_NARGS(nargsf);
  if (nargs > npos) {
    PyErr_Format(PyExc_TypeError, "%s() takes %zd positional arguments but %zd were given", f.name,
                 npos, nargs);
    return false;
  }
  out.assign(names.size(), nullptr);
  threads = nullptr;
  for (Py_ssize_t k = 0; k < nargs; ++k) out[k] = args[k];
  const Py_ssize_t nkw = kwnames ? PyTuple_GET_SIZE(kwnames) : 0;
  for (Py_ssize_t k = 0; k < nkw; ++k) {
    PyObject* key = PyTuple_GET_ITEM(kwnames, k);
    const char* key_text = PyUnicode_AsUTF8(key);
    if (key_text == nullptr) return false;
    if (std::strcmp(key_text, "threads") == 0) {
      threads = args[nargs + k];
      continue;
    }
    Py_ssize_t p = 0;
    while (p < npos && std::strcmp(names[p], key_text) != 0) ++p;
    if (p == npos) {
      PyErr_Format(PyExc_TypeError, "%s() got an unexpected keyword argument '%s'", f.name, key_text);
      return false;
    }
    if (out[p] != nullptr) {
      PyErr_Format(PyExc_TypeError, "%s() got multiple values for argument '%s'", f.name, key_text);
      return false;
    }
    out[p] = args[nargs + k];
  }
  for (Py_ssize_t p = 0; p < npos; ++p)
    if (out[p] == nullptr) {
      PyErr_Format(PyExc_TypeError, "%s() missing required argument '%s' (pos %zd)", f.name,
                   names[p], p + 1);
      return false;
    }
  return true;
}

// The CPUs this process may run on (os.sched_getaffinity).
std::size_t usable_cpus() {
#ifdef __linux__
  cpu_set_t set;
  if (sched_getaffinity(0, sizeof set, &set) == 0) return std::max(1, CPU_COUNT(&set));
#endif
  return std::max(1u, std::thread::hardware_concurrency());
}

// threads=None: every usable CPU; else a positive int.
bool thread_count(PyObject* obj, std::size_t& out) {
  if (obj == nullptr || obj == Py_None) {
    out = usable_cpus();
    return true;
  }
  if (!PyLong_Check(obj)) {
    raise_conversion_error("threads", obj, "int");
    return false;
  }
  const long long n = PyLong_AsLongLong(obj);
  if (n == -1 && PyErr_Occurred()) return false;
  if (n < 1) {
    raise_value_error(cat("threads must be at least 1, got ", n));
    return false;
  }
  out = static_cast<std::size_t>(n);
  return true;
}

// "(3, 7)" for a NumPy shape.
std::string shape_text(PyArrayObject* a) {
  std::string s = "(";
  for (int k = 0; k < PyArray_NDIM(a); ++k) s += cat(k ? ", " : "", PyArray_DIM(a, k));
  return s + (PyArray_NDIM(a) == 1 ? ",)" : ")");
}

// The frame indexes of `frame_ids`: a sequence of non-negative integers.
bool frame_index_list(PyObject* obj, std::vector<FrameIndex>& out) {
  if (PyUnicode_Check(obj) || PyBytes_Check(obj) || !PySequence_Check(obj)) {
    raise_conversion_error("frame_ids", obj, "Sequence[int]");
    return false;
  }
  PyObject* seq = PySequence_Fast(obj, "frame_ids must be a sequence");
  if (seq == nullptr) return false;
  const Py_ssize_t n = PySequence_Fast_GET_SIZE(seq);
  out.resize(static_cast<std::size_t>(n));
  bool ok = true;
  for (Py_ssize_t k = 0; ok && k < n; ++k) {
    PyObject* item = PySequence_Fast_GET_ITEM(seq, k);
    // NumPy integers convert like Python ones.
    ok = as_index(item, "frame_ids", out[static_cast<std::size_t>(k)]);
  }
  Py_DECREF(seq);
  return ok;
}

bool check_frame(const Model& m, std::size_t frame_id) {
  if (frame_id < m.nframes) return true;
  raise_value_error(cat("Frame ID ", frame_id, " out of range (max: ",
                        static_cast<long long>(m.nframes) - 1, ")"));
  return false;
}

// The first failing row across the workers, and its exception.
struct Failure {
  std::atomic<std::size_t> row{std::numeric_limits<std::size_t>::max()};
  std::mutex mutex;
  std::exception_ptr error;

  void record(std::size_t i, std::exception_ptr e) {
    std::lock_guard lock(mutex);
    if (i < row.load()) {
      row.store(i);
      error = std::move(e);
    }
  }
};

// Rows [begin, end) with one workspace. A worker stops at its first failure,
// or once a lower row has failed elsewhere.
void run_chunk(const BatchFunction& f, const Call& call, const std::vector<const double*>& in,
               const std::vector<std::size_t>& in_width, const std::vector<double*>& out,
               const std::vector<std::size_t>& out_size, std::size_t begin, std::size_t end,
               Failure& failure) noexcept {
  if (begin >= end) return;
  try {
    Data data(*call.model);
    std::array<const double*, kMaxInputs> row_in{};
    std::array<double*, kMaxOutputs> row_out{};
    for (std::size_t i = begin; i < end; ++i) {
      if (failure.row.load(std::memory_order_relaxed) < i) return;
      for (std::size_t k = 0; k < in.size(); ++k) row_in[k] = in[k] + i * in_width[k];
      for (std::size_t k = 0; k < out.size(); ++k) row_out[k] = out[k] + i * out_size[k];
      try {
        f.kernel(call, data, row_in.data(), row_out.data());
      } catch (...) {
        failure.record(i, std::current_exception());
        return;
      }
    }
  } catch (...) {  // the workspace could not be made
    failure.record(begin, std::current_exception());
  }
}

PyObject* run(const BatchFunction& f, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames) {
  const std::vector<const char*> names = parameters(f);
  std::vector<PyObject*> a;
  PyObject* threads_arg = nullptr;
  if (!parse(f, names, args, nargsf, kwnames, a, threads_arg) || !numpy_ready()) return nullptr;

  // Kinds, in parameter order.
  Call call;
  if ((call.model = as_model(a[0])) == nullptr) return nullptr;
  const Model& model = *call.model;
  for (int k = 0; k < f.ninputs; ++k) {
    PyObject* x = a[1 + k];
    if (!PyArray_Check(x) || PyArray_NDIM(reinterpret_cast<PyArrayObject*>(x)) != 2 ||
        PyArray_TYPE(reinterpret_cast<PyArrayObject*>(x)) != NPY_DOUBLE ||
        !PyArray_ISNOTSWAPPED(reinterpret_cast<PyArrayObject*>(x))) {
      raise_conversion_error(f.inputs[k].name, x, "PyArray<T, D>");
      return nullptr;
    }
  }
  std::size_t frame_id = 0;
  if (f.extra == Extra::frame_ids && !frame_index_list(a[1 + f.ninputs], call.frame_ids))
    return nullptr;
  if (f.extra == Extra::frame_and_reference &&
      (!as_index(a[1 + f.ninputs], "frame_id", frame_id) ||
       !as_reference_frame(a[2 + f.ninputs], "reference_frame", call.reference_frame)))
    return nullptr;
  std::size_t threads = 1;
  if (!thread_count(threads_arg, threads)) return nullptr;

  // Contiguity, then shapes, then row counts, then frame indexes.
  std::vector<nb::object> inputs;  // aligned arrays, kept alive while the workers read them
  for (int k = 0; k < f.ninputs; ++k) {
    auto* x = reinterpret_cast<PyArrayObject*>(a[1 + k]);
    if (!PyArray_IS_C_CONTIGUOUS(x)) {
      PyErr_SetString(PyExc_TypeError, "The given array is not contiguous");
      return nullptr;
    }
    inputs.push_back(PyArray_ISALIGNED(x)
                         ? nb::borrow(a[1 + k])
                         : nb::steal(PyArray_NewCopy(x, NPY_CORDER)));
    if (!inputs.back().is_valid()) return nullptr;
  }
  std::vector<std::size_t> in_width;
  for (int k = 0; k < f.ninputs; ++k) {
    auto* x = reinterpret_cast<PyArrayObject*>(a[1 + k]);
    const std::size_t w = width(model, f.inputs[k].width);
    if (static_cast<std::size_t>(PyArray_DIM(x, 1)) != w)
      return raise_value_error(cat(f.inputs[k].name, " must have shape (N, ", w, "), got ",
                                   shape_text(x)));
    in_width.push_back(w);
  }
  const auto rows = [&](int k) { return PyArray_DIM(reinterpret_cast<PyArrayObject*>(a[1 + k]), 0); };
  const npy_intp n = rows(0);
  for (int k = 1; k < f.ninputs; ++k)
    if (rows(k) != n) {
      std::string which, counts;  // "q, v and a", "(5, 5, 4)"
      for (int j = 0; j < f.ninputs; ++j) {
        which += cat(j == 0 ? "" : j + 1 == f.ninputs ? " and " : ", ", f.inputs[j].name);
        counts += cat(j ? ", " : "", rows(j));
      }
      return raise_value_error(cat(which, " must have the same number of rows (", counts, ")"));
    }
  for (const FrameIndex id : call.frame_ids)
    if (!check_frame(model, id)) return nullptr;
  if (f.extra == Extra::frame_and_reference) {
    if (!check_frame(model, frame_id)) return nullptr;
    try {
      call.joint = frame_parent_joint(model, frame_id);
    } catch (...) {
      return raise_current_exception();
    }
  }

  // New results, (N, per-row dims...).
  std::vector<nb::object> results;
  std::vector<double*> out;
  std::vector<std::size_t> out_size;
  for (int k = 0; k < f.noutputs; ++k) {
    std::vector<npy_intp> dims = row_dims(call, f.outputs[k]);
    std::size_t size = 1;
    for (npy_intp d : dims) size *= static_cast<std::size_t>(d);
    dims.insert(dims.begin(), n);
    results.push_back(nb::steal(PyArray_SimpleNew(static_cast<int>(dims.size()), dims.data(), NPY_DOUBLE)));
    if (!results.back().is_valid()) return nullptr;
    out.push_back(static_cast<double*>(PyArray_DATA(reinterpret_cast<PyArrayObject*>(results.back().ptr()))));
    out_size.push_back(size);
  }
  std::vector<const double*> in;
  for (const nb::object& x : inputs)
    in.push_back(static_cast<const double*>(PyArray_DATA(reinterpret_cast<PyArrayObject*>(x.ptr()))));

  // Contiguous chunks, the first on the calling thread.
  const std::size_t N = static_cast<std::size_t>(n);
  const std::size_t workers = std::max<std::size_t>(1, std::min(threads, N));
  const auto chunk_begin = [&](std::size_t w) { return N / workers * w + std::min(w, N % workers); };
  Failure failure;
  {
    ModelInUse guard(call.model);
    Py_BEGIN_ALLOW_THREADS;
    std::vector<std::thread> pool;
    std::vector<std::size_t> inline_chunks;  // chunks no thread could be started for
    for (std::size_t w = 1; w < workers; ++w) {
      try {
        pool.emplace_back([&, w] {
          run_chunk(f, call, in, in_width, out, out_size, chunk_begin(w), chunk_begin(w + 1), failure);
        });
      } catch (...) {
        inline_chunks.push_back(w);
      }
    }
    run_chunk(f, call, in, in_width, out, out_size, chunk_begin(0), chunk_begin(1), failure);
    for (const std::size_t w : inline_chunks)
      run_chunk(f, call, in, in_width, out, out_size, chunk_begin(w), chunk_begin(w + 1), failure);
    for (std::thread& t : pool) t.join();
    Py_END_ALLOW_THREADS;
  }
  if (failure.error) {
    set_python_error(failure.error);
    return nullptr;
  }
  if (f.noutputs == 1) return results[0].release().ptr();
  PyObject* tuple = PyTuple_New(f.noutputs);
  if (tuple == nullptr) return nullptr;
  for (int k = 0; k < f.noutputs; ++k) PyTuple_SET_ITEM(tuple, k, results[k].release().ptr());
  return tuple;
}

template <std::size_t I>
PyObject* entry(PyObject*, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames) noexcept {
  try {
    return run(kFunctions[I], args, nargsf, kwnames);
  } catch (...) {
    return raise_current_exception();
  }
}

template <std::size_t... I>
std::array<PyMethodDef, kCount + 1> method_table(std::index_sequence<I...>) {
  return {{{kFunctions[I].name, LUMO_FASTCALL(entry<I>), METH_FASTCALL | METH_KEYWORDS,
            kFunctions[I].doc}...,
           {nullptr, nullptr, 0, nullptr}}};
}

std::array<PyMethodDef, kCount + 1> methods = method_table(std::make_index_sequence<kCount>{});

}  // namespace

void bind_batch(nb::module_& m) {
  nb::module_ batch = m.def_submodule(
      "batch",
      "The algorithms over many states at once: (N, width) arrays in, arrays with a leading axis N "
      "out, computed on several threads with the interpreter lock released.");
  if (PyModule_AddFunctions(batch.ptr(), methods.data()) < 0) throw nb::python_error();
  nb::list all;
  for (const BatchFunction& f : kFunctions) all.append(f.name);
  batch.attr("__all__") = all;
  nb::module_::import_("sys").attr("modules")["lumo_dynamic.batch"] = batch;
}

}  // namespace lumo::python
