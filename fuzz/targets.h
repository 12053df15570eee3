// The fuzz targets: one per decoder, each feeding bytes from memory to the library as the tool
// would. The libFuzzer programs and the regression replay in the test suite call the same ones.
#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string_view>
#include <vector>

namespace fuzz {

// A decoder that contradicts itself: a round trip that changes the data, two readings of the same
// bytes that disagree. Not a std::runtime_error, so no decoder's error handling can swallow it.
class BrokenInvariant : public std::logic_error {
public:
    using std::logic_error::logic_error;
};

// Each target takes any bytes. A clean std::runtime_error is the expected answer to bad input and
// ends the target quietly; a BrokenInvariant, any other exception or a sanitizer report is a fault.
// No target touches the disk, and each puts back the process-wide switches it changes.
void bundle_index(const std::uint8_t* data, std::size_t size);
void bundle_file_system(const std::uint8_t* data, std::size_t size);
void load_log(const std::uint8_t* data, std::size_t size);
void xml_text(const std::uint8_t* data, std::size_t size);
void xml_expression(const std::uint8_t* data, std::size_t size);
void xml_binary(const std::uint8_t* data, std::size_t size);
void compiled_script(const std::uint8_t* data, std::size_t size);
void script_compiler(const std::uint8_t* data, std::size_t size);

struct Target {
    const char* name;  // of its program (fuzz_<name>), corpus and regression folders
    void (*run)(const std::uint8_t* data, std::size_t size);
};

const std::vector<Target>& all_targets();

}  // namespace fuzz
