// The ReferenceFrame class: WORLD, LOCAL or LOCAL_WORLD_ALIGNED. Compared
// and hashed by identity.
#include "bindings.hpp"
#include "convert.hpp"

namespace lumo::python {

namespace {

int reference_frame_init(PyObject* self, PyObject* args, PyObject* kwargs) {
  static const Signature sig{"ReferenceFrame", nullptr, 0};
  if (!parse_init_arguments(sig, args, kwargs, nullptr)) return -1;
  return emplace(self, ReferenceFrameValue{});
}

PyType_Slot slots[] = {{Py_tp_init, reinterpret_cast<void*>(reference_frame_init)}, {0, nullptr}};

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
