// The model as a compact binary record, for pickling and for sending a model
// to other processes. Little-endian, floats as their exact bit patterns:
//
//   u32 version (2)
//   u64 byte count of the body, then the body:
//   str name
//   u64 njoints, then per joint i (0 first):
//       u64 parent, u8 kind, f64[3] axis, f64[9] rotation (column-major),
//       f64[3] translation, f64 mass, f64[3] lever, f64[6] inertia, str name
//   u64 count, f64[count] lowerPositionLimit; the same for upperPositionLimit
//   u64 nframes, then per frame: str name, u64 parent, f64[12] placement, u32 type
//   f64[6] gravity (angular, then linear)
//
//   u64 checksum: FNV-1a (64 bits) of every byte before it
//
// where str is a u64 byte count followed by UTF-8 bytes. A version 1 record
// (written by earlier releases) is the version followed by the body, with no
// byte count and no checksum; it is still read.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "model.hpp"

namespace lumo {

inline constexpr std::uint32_t kModelRecordVersion = 2;

// The record of `model`.
std::string save_model(const Model& model);

// The model of a record, rebuilt joint by joint and frame by frame so that
// every Model invariant holds. Throws ValueError for an unknown version, a
// truncated record, trailing bytes, a checksum that does not match, and any
// value the URDF import would refuse too (a name that is not UTF-8, a number
// that is not finite, a negative mass).
Model load_model(std::string_view record);

}  // namespace lumo
