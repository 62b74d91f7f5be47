// lumo_dynamic.batch: the algorithms over N states at once. Each function
// takes the model and (N, width) C-ordered float64 arrays, one state per row,
// and returns new arrays whose leading axis is N; row i is, bit for bit, what
// the single call gives for row i. The rows are split into blocks of
// consecutive rows, which the calling thread and the threads of a worker pool
// take in turn, each with a workspace it keeps between batches, with the
// interpreter lock released while they compute.
//
// The functions are the batch forms of the declarations in functions.cpp:
// the same parameters but `data`, checked in the same order with the same
// messages (function_table.hpp), and the declaration's per-row kernel.
#include "batch.hpp"

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <exception>
#include <limits>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

#ifdef __linux__
#include <sched.h>
#endif
#if defined(__unix__) || defined(__APPLE__)
#include <pthread.h>
#endif

#include "convert.hpp"
#include "function_table.hpp"
#include "worker_pool.hpp"

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

// In a child made by fork() the threads of the parent's running batches do not
// exist, so none of their models is read any more. (The registry is only
// touched with the interpreter lock held, so fork() never finds it locked.)
void forget_batches_in_child() {
  in_use.clear();
  WorkerPool::forget_in_child();
}

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

// ------------------------------------------------------------- arguments

// The CPUs this process may run on (os.sched_getaffinity).
std::size_t usable_cpus() {
#ifdef __linux__
  cpu_set_t set;
  if (sched_getaffinity(0, sizeof set, &set) == 0) return std::max(1, CPU_COUNT(&set));
#endif
  return std::max(1u, std::thread::hardware_concurrency());
}

// threads=None: every usable CPU; else a positive integer (a Python or NumPy
// one, not a bool), capped at the usable CPUs: more threads than CPUs would
// only cost their start and their workspaces.
bool thread_count(PyObject* obj, std::size_t& out) {
  if (obj == nullptr || obj == Py_None) {
    out = usable_cpus();
    return true;
  }
  if (PyBool_Check(obj) || PyArray_IsScalar(obj, Bool) || !PyIndex_Check(obj)) {
    raise_conversion_error("threads", obj, "int");
    return false;
  }
  PyObject* index = PyNumber_Index(obj);
  if (index == nullptr) return false;
  const long long n = PyLong_AsLongLong(index);
  Py_DECREF(index);
  if (n == -1 && PyErr_Occurred()) return false;
  if (n < 1) {
    raise_value_error(cat("threads must be at least 1, got ", n));
    return false;
  }
  out = std::min(static_cast<std::size_t>(n), usable_cpus());
  return true;
}

// The NumPy type of an output's elements.
int type_of(Element e) { return e == Element::boolean ? NPY_BOOL : e == Element::int64 ? NPY_INT64 : NPY_DOUBLE; }

// The arrays given as `out`: the one array of a single result, or a tuple of
// one array per result.
struct Outputs {
  PyObject* object = nullptr;  // as given (borrowed), or none
  int count = 0;
  std::array<PyArrayObject*, kMaxOutputs> arrays{};
};

// out=None, or arrays the results can be written to: of the results' element
// types in native byte order (TypeError otherwise, as for the inputs),
// C-contiguous, aligned and writeable.
bool output_arrays(const Function& f, PyObject* obj, Outputs& out) {
  if (obj == nullptr || obj == Py_None) return true;
  const int n = f.result.noutputs;
  const bool tuple = n > 1;
  const auto fits = [&](PyObject* x, int k) {
    auto* arr = reinterpret_cast<PyArrayObject*>(x);
    return PyArray_Check(x) && PyArray_TYPE(arr) == type_of(f.result.elements[k]) && PyArray_ISNOTSWAPPED(arr);
  };
  bool ok = tuple ? PyTuple_Check(obj) && PyTuple_GET_SIZE(obj) == n : fits(obj, 0);
  for (int k = 0; ok && tuple && k < n; ++k) ok = fits(PyTuple_GET_ITEM(obj, k), k);
  if (!ok) {
    raise_conversion_error("out", obj, tuple ? "tuple[PyArray<T, D>, ...] | None" : "PyArray<T, D> | None");
    return false;
  }
  out.object = obj;
  out.count = n;
  for (int k = 0; k < n; ++k) {
    auto* arr = reinterpret_cast<PyArrayObject*>(tuple ? PyTuple_GET_ITEM(obj, k) : obj);
    out.arrays[k] = arr;
    if (!PyArray_IS_C_CONTIGUOUS(arr)) {
      PyErr_SetString(PyExc_TypeError, "The given array is not contiguous");
      return false;
    }
    if (!PyArray_ISALIGNED(arr) || !PyArray_ISWRITEABLE(arr)) {
      raise_value_error(PyArray_ISWRITEABLE(arr) ? "out must be aligned" : "out is read-only");
      return false;
    }
  }
  return true;
}

// "out" or "out[k]" for result k of a tuple.
std::string output_name(const Outputs& out, int k) { return out.count > 1 ? cat("out[", k, "]") : "out"; }

// ValueError unless output k has the result's shape.
bool check_output_shape(const Outputs& out, int k, const std::vector<npy_intp>& dims) {
  PyArrayObject* arr = out.arrays[k];
  bool same = PyArray_NDIM(arr) == static_cast<int>(dims.size());
  for (std::size_t d = 0; same && d < dims.size(); ++d) same = PyArray_DIM(arr, static_cast<int>(d)) == dims[d];
  if (same) return true;
  raise_value_error(cat(output_name(out, k), " must have shape ",
                        shape_text(dims.data(), static_cast<int>(dims.size())), ", got ", shape_text(arr)));
  return false;
}

// The bytes an array's elements span.
std::pair<const char*, const char*> extent(PyArrayObject* a) {
  const char* begin = PyArray_BYTES(a);
  return {begin, begin + PyArray_NBYTES(a)};
}

// ValueError if an output shares memory with what the rows read or with
// another output: a row would read what another has written.
bool outputs_apart(const Outputs& out, PyObject* const* read, std::size_t nread) {
  const auto overlap = [](PyArrayObject* x, PyArrayObject* y) {
    const auto [xb, xe] = extent(x);
    const auto [yb, ye] = extent(y);
    return xb < ye && yb < xe;
  };
  for (int k = 0; k < out.count; ++k) {
    bool shared = false;
    for (std::size_t j = 0; !shared && j < nread; ++j)
      shared = overlap(out.arrays[k], reinterpret_cast<PyArrayObject*>(read[j]));
    for (int j = 0; !shared && j < k; ++j) shared = overlap(out.arrays[k], out.arrays[j]);
    if (shared) {
      raise_value_error(cat(output_name(out, k), " must not share memory with the arguments or another output"));
      return false;
    }
  }
  return true;
}

// The frame indexes of `frame_ids`: a sequence of non-negative integers.
bool frame_index_list(PyObject* obj, std::vector<FrameIndex>& out) {
  return index_list_type(obj, "frame_ids", out);
}

// The first failing row across the workers, and its exception; or an
// interrupt, after which no worker starts another row.
struct Failure {
  std::atomic<std::size_t> row{std::numeric_limits<std::size_t>::max()};
  std::atomic<bool> interrupted{false};
  std::mutex mutex;
  std::exception_ptr error;

  bool stops(std::size_t i) const {
    return row.load(std::memory_order_relaxed) < i || interrupted.load(std::memory_order_relaxed);
  }

  void record(std::size_t i, std::exception_ptr e) {
    std::lock_guard lock(mutex);
    if (i < row.load()) {
      row.store(i);
      error = std::move(e);
    }
  }
};

// What the rows of one call share: the checked arguments (the vectors'
// pointers are those of row 0), the per-row inputs and outputs.
struct Rows {
  Call call{};
  int ninputs = 0;
  std::array<const double*, kMaxVectors> in{};
  std::array<std::size_t, kMaxVectors> in_width{};
  const double* forces = nullptr;  // (N, njoints, 6), or none
  const double* target = nullptr;  // (N, 4, 4) homogeneous matrices or (N, 3) positions, or none
  int noutputs = 0;
  std::array<char*, kMaxOutputs> out{};
  std::array<std::size_t, kMaxOutputs> out_size{};   // elements per row
  std::array<std::size_t, kMaxOutputs> out_bytes{};  // bytes per row
  bool given_outputs = false;                        // out's arrays, not new ones
};

// Row i's target: a homogeneous matrix's rotation and translation, or a position.
void read_target(const Rows& rows, std::size_t i, Call& call) {
  if (call.position_only) {
    call.target_point.ptr = rows.target + 3 * i;
    call.target_point.size = 3;
    return;
  }
  const double* H = rows.target + 16 * i;
  for (int r = 0; r < 3; ++r) {
    for (int j = 0; j < 3; ++j) call.target.rotation(r, j) = H[4 * r + j];
    call.target.translation[r] = H[4 * r + 3];
  }
}

// What a thread keeps between batches: the single calls' Data and the
// lock-step buffers it computed its last rows with. As for the single calls,
// a Data serves every model of its sizes (njoints, nq, nv); so do the
// lock-step buffers.
struct ThreadWorkspace {
  std::optional<Data> data;
  std::optional<lockstep::Workspace> packs;

  Data& data_for(const Model& model) {
    if (!data || data->njoints != model.njoints || data->nq != model.nq || data->nv != model.nv) {
      data.reset();
      data.emplace(model);
    }
    return *data;
  }
  lockstep::Workspace& packs_for(const Model& model, const lockstep::InstructionSet& isa) {
    if (!packs || !packs->fits(model, isa)) {
      packs.reset();
      packs.emplace(model, isa);
    }
    packs->bind(model);
    return *packs;
  }
};
thread_local ThreadWorkspace thread_workspace;

// One thread's part of a batch: the rows of the blocks it takes. A function
// with a lock-step kernel has a block's whole packs of rows computed by it, a
// pack at a time, and the rest (the rows after the last pack, and a pack the
// kernel leaves) by its row kernel.
class RowRunner {
 public:
  // Results given as out beyond this many bytes in all outgrow the caches
  // of most machines (Arguments::fetch_outputs); below it, fetching lines
  // that are mostly cached already costs a few per cent. New arrays are not
  // fetched: the system zeroes each page at its first store, which leaves
  // its lines in the cache, and fetching them as well measured slower.
  static constexpr std::size_t kFetchOutputsFrom = std::size_t{32} << 20;

  RowRunner(const Function& f, const Rows& rows, std::size_t count) : f_(f), rows_(rows) {
    const Call& c = rows.call;
    call_ = {c.model, nullptr, {}, {c.indexes[0], c.indexes[1]}, c.frame, nullptr, 0, c.frame_ids, c.nframe_ids};
    call_.set = c.set;
    call_.forces.ptr = nullptr;
    call_.forces.size = static_cast<Py_ssize_t>(6 * c.model->njoints);
    call_.weights.ptr = c.weights.ptr;
    call_.weights.size = c.weights.size;
    call_.position_only = c.position_only;
    call_.target_point.ptr = nullptr;
    call_.real = c.real;
    call_.count = c.count;
    call_.flag = c.flag;
    if (pack_width(f, rows) > 1) isa_ = lockstep::chosen();
    // the frames a frame kernel reads: the list, or the one frame index
    pack_args_ = {call_.frame_ids, call_.nframe_ids, call_.frame, rows.forces != nullptr};
    if (f.result.lockstep == lockstep::Kernel::frame_jacobian) {
      pack_args_.frames = &call_.indexes[0];
      pack_args_.nframes = 1;
    }
    std::size_t row_bytes = 0;
    for (int k = 0; k < rows.noutputs; ++k) row_bytes += rows.out_bytes[k];
    pack_args_.fetch_outputs = rows.given_outputs && count * row_bytes > kFetchOutputsFrom;
  }

  // Rows computed a pack at a time (1: one by one).
  static std::size_t pack_width(const Function& f, const Rows& rows) {
    const lockstep::InstructionSet* isa = lockstep::chosen();
    const lockstep::Kernel k = f.result.lockstep;
    return k != lockstep::Kernel::none && isa != nullptr && rows.target == nullptr &&
                   (rows.forces == nullptr || lockstep::takes_forces(k))
               ? isa->width
               : 1;
  }

  // Rows [begin, end); false at the first failure (recorded), once a lower
  // row has failed elsewhere, or when poll() says to (an interrupt).
  template <typename Poll>
  bool run(std::size_t begin, std::size_t end, Failure& failure, Poll&& poll) noexcept {
    try {
      const Model& model = *rows_.call.model;
      const std::size_t width = isa_ != nullptr ? isa_->width : 1;
      const std::size_t packed_end = isa_ != nullptr ? begin + (end - begin) / width * width : begin;
      for (std::size_t i = begin; i < end; ++i) {
        if (failure.stops(i) || !poll()) return false;
        if (i < packed_end && (i - begin) % width == 0) {
          std::array<const double*, kMaxVectors> in{};
          for (int k = 0; k < rows_.ninputs; ++k) in[k] = rows_.in[k] + i * rows_.in_width[k];
          if (rows_.forces != nullptr) in[3] = rows_.forces + i * 6 * model.njoints;
          if (packs_ == nullptr) packs_ = &thread_workspace.packs_for(model, *isa_);
          if (packs_->run(f_.result.lockstep, in.data(), outputs(i).data(), pack_args_)) {
            i += width - 1;
            continue;
          }
        }
        if (call_.data == nullptr) call_.data = &thread_workspace.data_for(model);
        for (int k = 0; k < rows_.ninputs; ++k) {
          call_.vectors[k].ptr = rows_.in[k] + i * rows_.in_width[k];
          call_.vectors[k].size = static_cast<Py_ssize_t>(rows_.in_width[k]);
        }
        if (rows_.forces != nullptr) call_.forces.ptr = rows_.forces + i * 6 * model.njoints;
        if (rows_.target != nullptr) read_target(rows_, i, call_);
        try {
          f_.result.kernel(call_, outputs(i).data());
        } catch (...) {
          failure.record(i, std::current_exception());
          return false;
        }
      }
      return true;
    } catch (...) {  // a workspace could not be made
      failure.record(begin, std::current_exception());
      return false;
    }
  }

 private:
  // Where row i of each output goes (every output's rows are whole doubles
  // or smaller elements: a kernel writes each through the pointer type of
  // its element).
  std::array<double*, kMaxOutputs> outputs(std::size_t i) const {
    std::array<double*, kMaxOutputs> out{};
    for (int k = 0; k < rows_.noutputs; ++k) out[k] = reinterpret_cast<double*>(rows_.out[k] + i * rows_.out_bytes[k]);
    return out;
  }

  const Function& f_;
  const Rows& rows_;
  Call call_;
  const lockstep::InstructionSet* isa_ = nullptr;
  lockstep::Workspace* packs_ = nullptr;  // the thread's, on first use
  lockstep::Arguments pack_args_;
};

// The rows of a batch in blocks, taken in order by the threads that compute
// it: a thread that starts late or runs slower takes fewer. A block is a
// quarter of the rows left per thread, whole packs, at least `least` rows:
// large at first, smaller as the rows run out, so that the threads finish
// close together.
struct Blocks {
  const Function& f;
  const Rows& rows;
  Failure& failure;
  std::size_t count;    // rows
  std::size_t threads;  // that take blocks, at most
  std::size_t pack;     // rows computed together
  std::size_t least;    // rows per block, at least (whole packs)
  std::atomic<std::size_t> next{0};

  // The size of a block taken when `left` rows are left.
  std::size_t size(std::size_t left) const {
    const std::size_t share = (left + 4 * threads - 1) / (4 * threads);
    return std::max(least, (share + pack - 1) / pack * pack);
  }

  // The next block [begin, end), or false when none is left.
  bool claim(std::size_t& begin, std::size_t& end) {
    std::size_t at = next.load(std::memory_order_relaxed), step = 0;
    do {
      if (at >= count) return false;
      step = size(count - at);
    } while (!next.compare_exchange_weak(at, at + step, std::memory_order_relaxed));
    begin = at;
    end = std::min(at + step, count);
    return true;
  }

  // Takes blocks until none is left, stopping as RowRunner::run does.
  template <typename Poll>
  void take(Poll&& poll) noexcept {
    RowRunner runner(f, rows, count);
    std::size_t begin = 0, end = 0;
    while (claim(begin, end) && !failure.stops(begin))
      if (!runner.run(begin, end, failure, poll)) return;
  }

  // A helper thread's task.
  static void help(void* blocks) {
    static_cast<Blocks*>(blocks)->take([] { return true; });
  }
};

// Per-row dimensions of an output.
std::vector<npy_intp> row_dims(const Call& c, Shape s) {
  const auto nv = static_cast<npy_intp>(c.model->nv);
  switch (s) {
    case Shape::scalar: return {};
    case Shape::nq: return {static_cast<npy_intp>(c.model->nq)};
    case Shape::nv: return {nv};
    case Shape::three: return {3};
    case Shape::six: return {6};
    case Shape::nv_nv: return {nv, nv};
    case Shape::three_nv: return {3, nv};
    case Shape::six_nv: return {6, nv};
    case Shape::nq_nv: return {static_cast<npy_intp>(c.model->nq), nv};
    case Shape::frames_4_4: return {static_cast<npy_intp>(c.nframe_ids), 4, 4};
    case Shape::size: return {static_cast<npy_intp>(c.set->size())};
    case Shape::size_nv: return {static_cast<npy_intp>(c.set->size()), nv};
  }
  return {};
}

PyObject* run(const Function& f, const char* name, PyObject* const* args, Py_ssize_t nargsf,
              PyObject* kwnames) {
  // 1. The arguments by parameter: those of the declaration but `data`, then threads.
  std::array<const char*, kMaxParams + 1> names{};
  std::array<const Param*, kMaxParams> params{};
  Py_ssize_t npos = 0;
  for (int k = 0; k < f.count; ++k)
    if (f.params[k].kind != Kind::data) {
      params[npos] = &f.params[k];
      names[npos++] = f.names[k];
    }
  names[npos] = "threads";
  names[npos + 1] = "out";
  std::array<PyObject*, kMaxParams + 2> a{};
  if (!parse_arguments({name, names.data(), npos - f.keyword_only, f.keyword_only + 2, f.optional},
                       args, nargsf, kwnames, a.data()) ||
      !numpy_ready())
    return nullptr;

  // 2. Types, in parameter order, then threads and out.
  Rows rows;
  Call& call = rows.call;
  call.forces.ptr = call.weights.ptr = call.target_point.ptr = nullptr;
  call.position_only = false;
  std::vector<FrameIndex> frame_ids;
  int nindexes = 0;
  const auto is_array = [](PyObject* x, int ndim) {
    auto* arr = reinterpret_cast<PyArrayObject*>(x);
    return PyArray_Check(x) && PyArray_NDIM(arr) == ndim && PyArray_TYPE(arr) == NPY_DOUBLE &&
           PyArray_ISNOTSWAPPED(arr);
  };
  for (Py_ssize_t k = 0; k < npos; ++k) {
    const Param& p = *params[k];
    PyObject* x = a[k];
    bool ok = true;
    switch (p.kind) {
      case Kind::model: ok = (call.model = as_model(x, p.name)) != nullptr; break;
      case Kind::constraints: ok = (call.set = as_constraint_set(x, p.name)) != nullptr; break;
      case Kind::vector:
        if (!is_array(x, 2)) {
          raise_conversion_error(p.name, x, "PyArray<T, D>");
          ok = false;
        }
        break;
      case Kind::forces:
        if (x == Py_None) a[k] = x = nullptr;
        if (x != nullptr && !is_array(x, 3)) {
          raise_conversion_error(p.name, x, "PyArray<T, D> | None");
          ok = false;
        }
        break;
      case Kind::target:
        call.position_only = is_array(x, 2);
        if (!call.position_only && !is_array(x, 3)) {
          raise_conversion_error(p.name, x, "PyArray<T, D>");
          ok = false;
        }
        break;
      case Kind::joint_index:
      case Kind::frame_index: ok = as_index(x, p.name, call.indexes[nindexes++]); break;
      case Kind::frame_indexes: ok = frame_index_list(x, frame_ids); break;
      case Kind::reference_frame: ok = as_reference_frame(x, p.name, call.frame); break;
      case Kind::weights: ok = weights_type(x, p, call); break;
      case Kind::real: ok = real_type(x, p, call.real); break;
      case Kind::count: ok = count_type(x, p, call.count); break;
      case Kind::flag: ok = flag_type(x, p, call.flag); break;
      case Kind::data:
      case Kind::text:
      case Kind::joint_indexes:
      case Kind::other_model:
      case Kind::placement:
      case Kind::optional_text: ok = false; PyErr_SetString(PyExc_TypeError, "no batch form"); break;
    }
    if (!ok) return nullptr;
  }
  call.frame_ids = frame_ids.data();
  call.nframe_ids = frame_ids.size();
  std::size_t threads = 1;
  if (!thread_count(a[npos], threads)) return nullptr;
  Outputs given;
  if (!output_arrays(f, a[npos + 1], given)) return nullptr;

  // 3. Contiguity; a misaligned array is read from an aligned copy.
  // The arrays with one row per state, in parameter order.
  std::array<nb::object, kMaxVectors + 2> inputs;  // kept alive while the workers read them
  std::array<const Param*, kMaxVectors + 2> row_params{};
  int nrow_arrays = 0;
  for (Py_ssize_t k = 0; k < npos; ++k) {
    const Kind kind = params[k]->kind;
    if (kind == Kind::weights && !optional_vector_layout(a[k], call.weights)) return nullptr;
    if (!(kind == Kind::vector || kind == Kind::forces || kind == Kind::target) || a[k] == nullptr)
      continue;
    auto* x = reinterpret_cast<PyArrayObject*>(a[k]);
    if (!PyArray_IS_C_CONTIGUOUS(x)) {
      PyErr_SetString(PyExc_TypeError, "The given array is not contiguous");
      return nullptr;
    }
    inputs[nrow_arrays] =
        PyArray_ISALIGNED(x) ? nb::borrow(a[k]) : nb::steal(PyArray_NewCopy(x, NPY_CORDER));
    if (!inputs[nrow_arrays].is_valid()) return nullptr;
    row_params[nrow_arrays++] = params[k];
  }

  // 4. The constraint set, widths, then row counts, then indexes and
  // options, against the model.
  const Model& model = *call.model;
  for (Py_ssize_t k = 0; k < npos; ++k)
    if (params[k]->kind == Kind::constraints && !check_constraint_set(*call.set, model)) return nullptr;
  const auto array = [&](int k) { return reinterpret_cast<PyArrayObject*>(inputs[k].ptr()); };
  const auto dim = [&](int k, int d) { return static_cast<std::size_t>(PyArray_DIM(array(k), d)); };
  for (int k = 0; k < nrow_arrays; ++k) {
    const Param& p = *row_params[k];
    const auto* data = static_cast<const double*>(PyArray_DATA(array(k)));
    if (p.kind == Kind::forces) {
      if (dim(k, 1) != model.njoints || dim(k, 2) != 6)
        return raise_value_error(cat(p.name, " must have shape (N, njoints, 6) = (N, ", model.njoints,
                                     ", 6), got ", shape_text(array(k))));
      rows.forces = data;
    } else if (p.kind == Kind::target) {
      if (call.position_only ? dim(k, 1) != 3 : dim(k, 1) != 4 || dim(k, 2) != 4)
        return raise_value_error(cat(p.name, " must have shape (N, 4, 4) or (N, 3), got ",
                                     shape_text(array(k))));
      rows.target = data;
    } else {
      const std::size_t w = p.count == Count::nq ? model.nq : model.nv;
      if (dim(k, 1) != w)
        return raise_value_error(cat(p.name, " must have shape (N, ", w, "), got ", shape_text(array(k))));
      rows.in_width[rows.ninputs] = w;
      rows.in[rows.ninputs++] = data;
    }
  }
  const npy_intp n = nrow_arrays > 0 ? PyArray_DIM(array(0), 0) : 0;
  for (int k = 1; k < nrow_arrays; ++k)
    if (PyArray_DIM(array(k), 0) != n) {
      std::string which, counts;  // "q, v and a", "(5, 5, 4)"
      for (int j = 0; j < nrow_arrays; ++j) {
        which += cat(j == 0 ? "" : j + 1 == nrow_arrays ? " and " : ", ", row_params[j]->name);
        counts += cat(j ? ", " : "", PyArray_DIM(array(j), 0));
      }
      return raise_value_error(cat(which, " must have the same number of rows (", counts, ")"));
    }
  for (Py_ssize_t k = 0, j = 0; k < npos; ++k) {
    const Param& p = *params[k];
    if ((p.kind == Kind::joint_index || p.kind == Kind::frame_index) &&
        !check_index(p, call.indexes[j++], model))
      return nullptr;
    if (p.kind == Kind::frame_indexes)
      for (const FrameIndex id : frame_ids)
        if (!check_index(p, id, model)) return nullptr;
    if ((p.kind == Kind::weights || p.kind == Kind::real || p.kind == Kind::count) &&
        !options_in_range(call, p))
      return nullptr;
  }

  // The results, (N, per-row dims...): new arrays, or those of out once
  // their shapes are checked and they share no memory with the arguments.
  std::array<nb::object, kMaxOutputs> results;
  rows.noutputs = f.result.noutputs;
  rows.given_outputs = given.count > 0;
  for (int k = 0; k < rows.noutputs; ++k) {
    std::vector<npy_intp> dims = row_dims(call, f.result.shapes[k]);
    rows.out_size[k] = shape_size(call, f.result.shapes[k]);
    dims.insert(dims.begin(), n);
    if (given.count > 0) {
      if (!check_output_shape(given, k, dims)) return nullptr;
      results[k] = nb::borrow(reinterpret_cast<PyObject*>(given.arrays[k]));
    } else {
      results[k] = nb::steal(PyArray_SimpleNew(static_cast<int>(dims.size()), dims.data(), type_of(f.result.elements[k])));
      if (!results[k].is_valid()) return nullptr;
    }
    auto* out = reinterpret_cast<PyArrayObject*>(results[k].ptr());
    rows.out[k] = static_cast<char*>(PyArray_DATA(out));
    rows.out_bytes[k] = rows.out_size[k] * static_cast<std::size_t>(PyArray_ITEMSIZE(out));
  }

  if (given.count > 0) {
    std::array<PyObject*, kMaxParams + kMaxVectors + 2> read{};  // what the rows read
    std::size_t nread = 0;
    for (Py_ssize_t k = 0; k < npos; ++k)
      if (a[k] != nullptr && PyArray_Check(a[k])) read[nread++] = a[k];
    for (int k = 0; k < nrow_arrays; ++k) read[nread++] = inputs[k].ptr();
    if (!outputs_apart(given, read.data(), nread)) return nullptr;
  }

  // Rows whose inputs are all empty are all the same row: it is computed
  // once and copied, so that N costs no more than the results' memory.
  const std::size_t N = static_cast<std::size_t>(n);
  bool same_rows = N > 1;
  for (int k = 0; k < rows.ninputs; ++k) same_rows = same_rows && rows.in_width[k] == 0;
  same_rows = same_rows && rows.forces == nullptr && rows.target == nullptr;
  const std::size_t computed = same_rows ? 1 : N;

  // Blocks of rows (whole packs, shrinking, at least kMinBlock rows) taken
  // by the calling thread and by up to threads - 1 helpers of
  // the worker pool (or threads of the batch's own while another batch has
  // the pool). The calling thread runs the signal handlers every kPoll: an
  // exception from one (KeyboardInterrupt) stops every thread before its
  // next row and the call returns no result.
  using Clock = std::chrono::steady_clock;
  constexpr auto kPoll = std::chrono::milliseconds(10);
  constexpr std::size_t kMinBlock = 16;
  const std::size_t pack = RowRunner::pack_width(f, rows);
  Failure failure;
  Blocks blocks{f, rows, failure, computed, threads, pack, (kMinBlock + pack - 1) / pack * pack};
  const std::size_t first = blocks.size(computed);
  const std::size_t nblocks = (computed + first - 1) / first;  // at most that many take the first blocks
  const std::size_t helpers = std::min(threads, nblocks) - std::min<std::size_t>(1, nblocks);
  {
    ModelInUse guard(call.model);
    // (the pool is found with the interpreter lock held, and offered without it)
    WorkerPool* pool = helpers > 0 ? &WorkerPool::get() : nullptr;
    PyThreadState* thread = PyEval_SaveThread();
    Clock::time_point next_poll = Clock::now() + kPoll;
    const auto check_signals = [&] {
      PyEval_RestoreThread(thread);
      const bool ok = PyErr_CheckSignals() == 0;
      thread = PyEval_SaveThread();
      next_poll = Clock::now() + kPoll;
      if (!ok) failure.interrupted.store(true);
      return ok;
    };
    unsigned rows_since_poll = 0;
    const auto poll = [&] { return ++rows_since_poll % 8 != 0 || Clock::now() < next_poll || check_signals(); };

    if (pool != nullptr && pool->offer(&Blocks::help, &blocks, helpers) == 0) pool = nullptr;
    std::vector<std::thread> own;
    for (std::size_t k = 0; pool == nullptr && k < helpers; ++k) {
      try {
        own.emplace_back(&Blocks::help, &blocks);
      } catch (...) {  // no thread: fewer take the blocks
        break;
      }
    }
    blocks.take(poll);
    // Wait for the helpers, running the signal handlers meanwhile.
    const auto wait = [&](auto&& done) {
      while (!done()) {
        if (!failure.interrupted && Clock::now() >= next_poll) check_signals();
      }
    };
    if (pool != nullptr) wait([&] { return pool->finish(kPoll); });
    for (std::thread& t : own) t.join();
    PyEval_RestoreThread(thread);
  }
  if (failure.interrupted) return nullptr;  // with the handler's exception
  if (failure.error) {
    set_python_error(failure.error);
    return nullptr;
  }
  if (same_rows)
    for (int k = 0; k < rows.noutputs; ++k)
      for (std::size_t i = 1, size = rows.out_bytes[k]; size > 0 && i < N; ++i)
        std::memcpy(rows.out[k] + i * size, rows.out[k], size);
  if (given.object != nullptr) {
    Py_INCREF(given.object);
    return given.object;
  }
  if (rows.noutputs == 1) return results[0].release().ptr();
  PyObject* tuple = PyTuple_New(rows.noutputs);
  if (tuple == nullptr) return nullptr;
  for (int k = 0; k < rows.noutputs; ++k) PyTuple_SET_ITEM(tuple, k, results[k].release().ptr());
  return tuple;
}

}  // namespace

PyObject* run_batch(const Function& f, bool former, PyObject* const* args, Py_ssize_t nargs,
                    PyObject* kwnames) noexcept {
  const char* name = former ? f.doc.former_batch_name : f.batch_name();
  if (former &&
      PyErr_WarnFormat(PyExc_DeprecationWarning, 1,
                       "lumo_dynamic.batch.%s is deprecated and will be removed in the next "
                       "release: use lumo_dynamic.batch.%s",
                       name, f.batch_name()) < 0)
    return nullptr;
  try {
    return run(f, name, args, nargs, kwnames);
  } catch (...) {
    return raise_current_exception();
  }
}

void bind_batch(nb::module_& m) {
  nb::module_ batch = m.def_submodule(
      "batch",
      "The algorithms over many states at once: (N, width) arrays in, arrays with a leading axis N "
      "out, computed on several threads with the interpreter lock released.");
#if defined(__unix__) || defined(__APPLE__)
  pthread_atfork(nullptr, nullptr, forget_batches_in_child);
#endif
  PyMethodDef* methods = batch_call_table();
  if (PyModule_AddFunctions(batch.ptr(), methods) < 0) throw nb::python_error();
  nb::list all;  // the current names; the deprecated ones are attributes only
  for (std::size_t k = 0; k < declaration_count; ++k)
    if (declarations[k].batch != nullptr) all.append(declarations[k].function->batch_name());
  batch.attr("__all__") = all;
  nb::module_::import_("sys").attr("modules")["lumo_dynamic.batch"] = batch;
}

}  // namespace lumo::python
