// Writing and checked reading of compiled script files.
#include "script/compiled_script.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <memory>

#include "utility/encoding.h"

namespace kam::script {

namespace {

constexpr std::uint8_t magic[4] = {'K', 'X', 'E', 0};
constexpr std::uint32_t header_size = 16;
// Longer paths exist on no system the files travel to; a longer one means a damaged section.
constexpr std::uint32_t longest_source_path = 32768;
constexpr std::int64_t first_read = 1 << 20;

void put_u32(std::uint8_t* out, std::uint32_t value) {
    out[0] = static_cast<std::uint8_t>(value);
    out[1] = static_cast<std::uint8_t>(value >> 8);
    out[2] = static_cast<std::uint8_t>(value >> 16);
    out[3] = static_cast<std::uint8_t>(value >> 24);
}

std::uint32_t get_u32(const std::uint8_t* in) {
    return static_cast<std::uint32_t>(in[0]) | static_cast<std::uint32_t>(in[1]) << 8 |
           static_cast<std::uint32_t>(in[2]) << 16 | static_cast<std::uint32_t>(in[3]) << 24;
}

[[noreturn]] void damaged(const Archive& file, const std::string& what) {
    throw CompiledScriptError("Compiled script " + file.name() + " is damaged: " + what);
}

}  // namespace

std::uint64_t compiled_debug_offset(std::uint64_t code_size) {
    return (header_size + code_size + 3) & ~std::uint64_t{3};
}

std::vector<std::uint8_t> compiled_script_image(const std::vector<std::uint8_t>& code,
                                                const std::vector<std::int32_t>& lines,
                                                std::string_view source_path, bool with_debug) {
    const std::uint64_t code_size = code.size();
    const std::uint64_t debug_offset = with_debug ? compiled_debug_offset(code_size) : 0;
    const std::uint64_t total =
        with_debug ? debug_offset + 4 + source_path.size() + 1 + 4 * code_size : header_size + code_size;
    // Archives write at most 4 GiB at once and the header's fields are 32 bits wide.
    if (total > 0xffffffffu)
        throw CompiledScriptError("Code of " + std::to_string(code_size) +
                                  " bytes is too large for a compiled script");
    if (with_debug && lines.size() != code.size()) {
        throw CompiledScriptError("The line table does not match the code");
    }
    std::vector<std::uint8_t> image(static_cast<size_t>(total), 0);
    std::uint8_t* out = image.data();
    std::memcpy(out, magic, 4);
    put_u32(out + 4, static_cast<std::uint32_t>(code_size));
    put_u32(out + 8, static_cast<std::uint32_t>(debug_offset));
    if (!code.empty()) std::memcpy(out + header_size, code.data(), code.size());
    if (!with_debug) return image;
    // The padding and the debug format are the zeros the image starts with.
    out += debug_offset + 4;
    if (!source_path.empty()) std::memcpy(out, source_path.data(), source_path.size());
    out += source_path.size() + 1;
    if constexpr (std::endian::native == std::endian::little) {
        if (!lines.empty()) std::memcpy(out, lines.data(), 4 * lines.size());
    } else {
        for (const std::int32_t line : lines) {
            put_u32(out, static_cast<std::uint32_t>(line));
            out += 4;
        }
    }
    return image;
}

void write_compiled_script(Archive& file, const std::vector<std::uint8_t>& code,
                           const std::vector<std::int32_t>& lines, std::string_view source_path,
                           bool with_debug) {
    const std::vector<std::uint8_t> image = compiled_script_image(code, lines, source_path, with_debug);
    write_bytes(file, image.data(), static_cast<std::uint32_t>(image.size()));
}

CompiledScriptRead read_compiled_script(Archive& file, bool read_debug, CompiledScript& script) {
    script = CompiledScript();
    file.set_position(0);
    const std::int64_t file_size = file.size();
    if (file_size < 4) damaged(file, "the file ends inside the header");
    // A compiled script of ordinary size comes in one read; only a larger one takes a second, sized
    // by what its header promises once that is known to fit in the file. The buffers are not
    // cleared: only bytes that were read are looked at.
    const auto had = static_cast<size_t>(std::min<std::int64_t>(file_size, first_read));
    std::unique_ptr<std::uint8_t[]> first(new std::uint8_t[had]);
    std::uint8_t* body = first.get();
    read_bytes(file, body, static_cast<std::uint32_t>(had));
    if (std::memcmp(body, magic, 4) != 0) return CompiledScriptRead::wrong_magic;
    if (file_size < header_size) damaged(file, "the file ends inside the header");
    const std::uint32_t code_size = get_u32(body + 4);
    const std::uint32_t debug_offset = get_u32(body + 8);
    const std::int64_t code_end = header_size + static_cast<std::int64_t>(code_size);
    if (code_end > file_size) {
        damaged(file, "the header promises " + std::to_string(code_size) + " bytes of code, the file holds " +
                          std::to_string(file_size - header_size));
    }
    const bool with_debug = read_debug && debug_offset != 0;
    if (with_debug && (debug_offset < code_end || static_cast<std::int64_t>(debug_offset) + 4 > file_size)) {
        damaged(file, "the debug section at " + std::to_string(debug_offset) + " lies outside the file");
    }
    const std::uint64_t table_size = 4 * std::uint64_t{code_size};
    std::int64_t end = code_end;
    if (with_debug) {
        end = static_cast<std::int64_t>(
            std::min<std::uint64_t>(static_cast<std::uint64_t>(file_size),
                                    std::uint64_t{debug_offset} + 4 + longest_source_path + 1 + table_size));
    }
    std::unique_ptr<std::uint8_t[]> whole;
    if (end > static_cast<std::int64_t>(had)) {
        whole.reset(new std::uint8_t[static_cast<size_t>(end)]);
        std::memcpy(whole.get(), body, had);
        const auto rest = static_cast<std::uint32_t>(static_cast<size_t>(end) - had);
        read_bytes(file, whole.get() + had, rest);
        body = whole.get();
    }
    script.code.assign(body + header_size, body + code_end);
    if (!with_debug) return CompiledScriptRead::loaded;

    const std::uint8_t* section = body + debug_offset;
    const std::uint8_t* section_end = body + end;
    if (get_u32(section) != 0) return CompiledScriptRead::loaded;  // a format this tool does not know
    const std::uint8_t* path = section + 4;
    const auto* path_end = static_cast<const std::uint8_t*>(std::memchr(
        path, 0, std::min<size_t>(static_cast<size_t>(section_end - path), longest_source_path + 1)));
    if (path_end == nullptr) damaged(file, "the source path in the debug section is not terminated");
    const std::uint8_t* table = path_end + 1;
    if (static_cast<std::uint64_t>(section_end - table) < table_size) {
        damaged(file, "the line table of " + std::to_string(code_size) + " lines does not fit in the file");
    }
    script.source_path.assign(reinterpret_cast<const char*>(path), static_cast<size_t>(path_end - path));
    std::vector<std::int32_t> lines(code_size);
    if constexpr (std::endian::native == std::endian::little) {
        if (code_size > 0) std::memcpy(lines.data(), table, static_cast<size_t>(table_size));
    } else {
        for (size_t i = 0; i < lines.size(); ++i)
            lines[i] = static_cast<std::int32_t>(get_u32(table + 4 * i));
    }
    script.lines = LineMap(std::move(lines));
    script.has_debug = true;
    return CompiledScriptRead::loaded;
}

}  // namespace kam::script
