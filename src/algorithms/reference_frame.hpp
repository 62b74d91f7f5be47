// The frame in which a Jacobian is expressed.
#pragma once

#include <cstdint>

namespace lumo {

//   WORLD                world axes, linear part about the world origin
//   LOCAL                axes of the frame F, linear part about F's origin
//   LOCAL_WORLD_ALIGNED  world axes, linear part about F's origin
// Any value other than WORLD and LOCAL is treated as LOCAL_WORLD_ALIGNED.
enum class ReferenceFrame : std::uint8_t {
  WORLD = 0,
  LOCAL = 1,
  LOCAL_WORLD_ALIGNED = 2,
};

}  // namespace lumo
