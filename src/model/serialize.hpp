// The model as a compact binary record, for pickling and for sending a model
// to other processes. Little-endian, floats as their exact bit patterns:
//
//   u32 version (1)
//   str name
//   u64 njoints, then per joint i (0 first):
//       u64 parent, u8 kind, f64[3] axis, f64[9] rotation (column-major),
//       f64[3] translation, f64 mass, f64[3] lever, f64[6] inertia, str name
//   u64 count, f64[count] lowerPositionLimit; the same for upperPositionLimit
//   u64 nframes, then per frame: str name, u64 parent, f64[12] placement, u32 type
//   f64[6] gravity (angular, then linear)
//
// where str is a u64 byte count followed by the bytes.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "model.hpp"

namespace lumo {

inline constexpr std::uint32_t kModelRecordVersion = 1;

// The record of `model`.
std::string save_model(const Model& model);

// The model of a record, rebuilt joint by joint and frame by frame so that
// every Model invariant holds. Throws ValueError for an unknown version, a
// truncated or corrupted record, or trailing bytes.
Model load_model(std::string_view record);

}  // namespace lumo
