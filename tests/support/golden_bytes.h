// Byte strings written by hand in a readable notation, for golden binary files.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace test {

// Whitespace-separated tokens, '#' to the end of the line is a comment:
//   27 01 / 4e000000   hexadecimal bytes in file order
//   "count"            the bytes of the text
//   u32(364) i32(-1)   a 32-bit value, little-endian
//   token*N            the token N times
// Throws std::invalid_argument on anything else.
std::vector<std::uint8_t> golden_bytes(const std::string& notation);

// The notation in a file below tests/.
std::vector<std::uint8_t> golden_file(const std::string& relative);

}  // namespace test
