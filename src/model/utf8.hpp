// Well-formed UTF-8, as Python decodes it: names read from a file or a
// record must be, so that every name reaches Python as a str.
#pragma once

#include <cstddef>
#include <string_view>

namespace lumo {

// Offset of the first byte that does not start a well-formed UTF-8 sequence
// (no overlong forms, no surrogates, nothing above U+10FFFF), or npos.
std::size_t invalid_utf8(std::string_view text);

}  // namespace lumo
