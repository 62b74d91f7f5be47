// The ReferenceFrame class: WORLD, LOCAL or LOCAL_WORLD_ALIGNED. Compared
// and hashed by identity.
#include "bindings.hpp"
#include "convert.hpp"

namespace lumo::python {

namespace {

// ReferenceFrame() is a new WORLD, made whole in __new__; __init__ on an
// existing value (such as ReferenceFrame.LOCAL) changes nothing.
PyObject* reference_frame_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  static const Signature sig{"ReferenceFrame", nullptr, 0};
  if (!parse_init_arguments(sig, args, kwargs, nullptr)) return nullptr;
  return new_instance(type, ReferenceFrameValue{});
}

int keep_as_built(PyObject*, PyObject*, PyObject*) { return 0; }

PyType_Slot slots[] = {{Py_tp_new, reinterpret_cast<void*>(reference_frame_new)},
                       {Py_tp_init, reinterpret_cast<void*>(keep_as_built)},
                       {0, nullptr}};

}  // namespace

void bind_reference_frame(nb::module_& m) {
  nb::class_<ReferenceFrameValue> cls(m, "ReferenceFrame", "ReferenceFrame()\n--\n\n",
                                      nb::type_slots(slots));
  cls.def("__repr__", [](const ReferenceFrameValue& rf) {
    switch (rf.value) {
      case ReferenceFrame::WORLD: return "ReferenceFrame.WORLD";
      case ReferenceFrame::LOCAL: return "ReferenceFrame.LOCAL";
      default: return "ReferenceFrame.LOCAL_WORLD_ALIGNED";
    }
  });
  // Pickled and copied as the class constant of the same value.
  cls.def("__reduce__", [](const ReferenceFrameValue& rf) {
    const char* name = rf.value == ReferenceFrame::WORLD   ? "WORLD"
                       : rf.value == ReferenceFrame::LOCAL ? "LOCAL"
                                                           : "LOCAL_WORLD_ALIGNED";
    return nb::make_tuple(nb::module_::import_("builtins").attr("getattr"),
                          nb::make_tuple(nb::type<ReferenceFrameValue>(), name));
  });
  state.reference_frame = reinterpret_cast<PyTypeObject*>(cls.ptr());
  cls.attr("WORLD") = ReferenceFrameValue{ReferenceFrame::WORLD};
  cls.attr("LOCAL") = ReferenceFrameValue{ReferenceFrame::LOCAL};
  cls.attr("LOCAL_WORLD_ALIGNED") = ReferenceFrameValue{ReferenceFrame::LOCAL_WORLD_ALIGNED};
}

}  // namespace lumo::python
