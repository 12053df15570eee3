// Writing and checked reading of compiled script files.
#include "script/compiled_script.h"

#include <algorithm>
#include <array>
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

namespace {

// The header; throws when the file would not fit the format's 32-bit fields.
std::array<std::uint8_t, header_size> header(std::uint64_t code_size, size_t path_size,
                                             bool with_debug) {
    const std::uint64_t debug_offset = with_debug ? compiled_debug_offset(code_size) : 0;
    const std::uint64_t total =
        with_debug ? debug_offset + 4 + path_size + 1 + 4 * code_size : header_size + code_size;
    // Archives write at most 4 GiB at once and the header's fields are 32 bits wide.
    if (total > 0xffffffffu)
        throw CompiledScriptError("Code of " + std::to_string(code_size) +
                                  " bytes is too large for a compiled script");
    std::array<std::uint8_t, header_size> bytes{};
    std::memcpy(bytes.data(), magic, 4);
    put_u32(bytes.data() + 4, static_cast<std::uint32_t>(code_size));
    put_u32(bytes.data() + 8, static_cast<std::uint32_t>(debug_offset));
    return bytes;
}

// What lies between the code and the line table: the padding, the debug format 0 and the path.
std::string debug_prefix(std::uint64_t code_size, std::string_view source_path) {
    std::string bytes(compiled_debug_offset(code_size) - header_size - code_size + 4, '\0');
    bytes += source_path;
    bytes += '\0';
    return bytes;
}

void put_lines(std::uint8_t* out, const std::int32_t* lines, size_t count) {
    if constexpr (std::endian::native == std::endian::little) {
        if (count > 0)
            std::memcpy(out, lines, 4 * count);
    } else {
        for (size_t i = 0; i < count; ++i, out += 4)
            put_u32(out, static_cast<std::uint32_t>(lines[i]));
    }
}

}  // namespace

std::vector<std::uint8_t> compiled_script_image(const std::vector<std::uint8_t>& code,
                                                const std::vector<std::int32_t>& lines,
                                                std::string_view source_path, bool with_debug) {
    const auto head = header(code.size(), source_path.size(), with_debug);
    if (with_debug && lines.size() != code.size()) {
        throw CompiledScriptError("The line table does not match the code");
    }
    const std::string prefix = with_debug ? debug_prefix(code.size(), source_path) : std::string();
    std::vector<std::uint8_t> image(header_size + code.size() + prefix.size() +
                                    (with_debug ? 4 * lines.size() : 0));
    std::uint8_t* out = image.data();
    std::memcpy(out, head.data(), header_size);
    out += header_size;
    if (!code.empty())
        std::memcpy(out, code.data(), code.size());
    out += code.size();
    if (!with_debug)
        return image;
    std::memcpy(out, prefix.data(), prefix.size());
    put_lines(out + prefix.size(), lines.data(), lines.size());
    return image;
}

void write_compiled_script(Archive& file, const std::vector<std::uint8_t>& code,
                           const std::vector<std::int32_t>& lines, std::string_view source_path,
                           bool with_debug) {
    const std::vector<std::uint8_t> image =
        compiled_script_image(code, lines, source_path, with_debug);
    write_bytes(file, image.data(), static_cast<std::uint32_t>(image.size()));
}

// The line table is made a piece at a time: as a whole it would be the largest thing in memory.
// The file goes out in writes of up to 64 KiB, a buffer small enough to stay in the cache; most
// scripts take one.
void write_compiled_script(Archive& file, const CodeBuffer& code, std::string_view source_path,
                           bool with_debug) {
    const auto head = header(code.size(), source_path.size(), with_debug);
    const std::string prefix = with_debug ? debug_prefix(code.size(), source_path) : std::string();
    const size_t total =
        header_size + code.size() + prefix.size() + (with_debug ? size_t{4} * code.size() : 0);
    constexpr size_t most_at_once = 64 << 10;
    std::vector<std::uint8_t> out;
    out.reserve(std::min(total, most_at_once));
    const auto put = [&](const std::uint8_t* bytes, size_t count) {
        while (count > 0) {
            const size_t part = std::min(count, most_at_once - out.size());
            out.insert(out.end(), bytes, bytes + part);
            bytes += part;
            count -= part;
            if (out.size() == most_at_once) {
                write_bytes(file, out.data(), static_cast<std::uint32_t>(out.size()));
                out.clear();
            }
        }
    };
    put(head.data(), header_size);
    put(code.code().data(), code.size());
    if (with_debug) {
        put(reinterpret_cast<const std::uint8_t*>(prefix.data()), prefix.size());
        constexpr std::uint32_t piece = 1024;
        std::int32_t lines[piece];
        std::uint8_t bytes[4 * piece];
        for (std::uint32_t first = 0; first < code.size(); first += piece) {
            const std::uint32_t count = std::min(piece, code.size() - first);
            if (code.records_lines()) {
                code.lines_of(first, count, lines);
            } else {
                std::fill(lines, lines + count, -1);
            }
            put_lines(bytes, lines, count);
            put(bytes, 4 * size_t{count});
        }
    }
    if (!out.empty())
        write_bytes(file, out.data(), static_cast<std::uint32_t>(out.size()));
}

namespace {

// What the header says of the file's layout, once checked against the file's size.
struct Layout {
    std::uint32_t code_size = 0;
    std::uint32_t debug_offset = 0;
    std::int64_t code_end = 0;
    bool with_debug = false;  // a debug section is there and wanted
};

// bytes holds the first min(file size, 16) bytes of the file. False for a file of another kind.
bool checked_layout(const Archive& file, const std::uint8_t* bytes, bool read_debug,
                    Layout& layout) {
    const std::int64_t file_size = file.size();
    if (file_size < 4)
        damaged(file, "the file ends inside the header");
    if (std::memcmp(bytes, magic, 4) != 0)
        return false;
    if (file_size < header_size)
        damaged(file, "the file ends inside the header");
    layout.code_size = get_u32(bytes + 4);
    layout.debug_offset = get_u32(bytes + 8);
    layout.code_end = header_size + static_cast<std::int64_t>(layout.code_size);
    if (layout.code_end > file_size) {
        damaged(file, "the header promises " + std::to_string(layout.code_size) +
                          " bytes of code, the file holds " +
                          std::to_string(file_size - header_size));
    }
    layout.with_debug = read_debug && layout.debug_offset != 0;
    if (layout.with_debug && (layout.debug_offset < layout.code_end ||
                              static_cast<std::int64_t>(layout.debug_offset) + 4 > file_size)) {
        damaged(file, "the debug section at " + std::to_string(layout.debug_offset) +
                          " lies outside the file");
    }
    return true;
}

[[noreturn]] void table_does_not_fit(const Archive& file, std::uint32_t code_size) {
    damaged(file,
            "the line table of " + std::to_string(code_size) + " lines does not fit in the file");
}

}  // namespace

CompiledScriptRead check_compiled_script(Archive& file, bool read_debug) {
    const std::int64_t file_size = file.size();
    // Two small reads, the header and the start of the debug section: the code and the line table
    // are only measured against the file's size, never copied.
    std::uint8_t header[header_size] = {};
    file.set_position(0);
    read_bytes(file, header,
               static_cast<std::uint32_t>(std::min<std::int64_t>(file_size, header_size)));
    Layout layout;
    if (!checked_layout(file, header, read_debug, layout))
        return CompiledScriptRead::wrong_magic;
    if (!layout.with_debug)
        return CompiledScriptRead::loaded;
    // A sound path's zero byte lies before the space the line table takes at the file's end, and
    // within the longest path; a short path, the usual one, is found by the first read.
    const std::int64_t table_size = 4 * std::int64_t{layout.code_size};
    const std::int64_t path_start = std::int64_t{layout.debug_offset} + 4;
    const std::int64_t path_room = std::max<std::int64_t>(
        std::min<std::int64_t>(file_size - table_size - path_start, longest_source_path + 1), 0);
    constexpr std::int64_t short_path = 508;
    std::uint8_t first[4 + short_path];
    const std::int64_t first_size = 4 + std::min(path_room, short_path);
    file.set_position(layout.debug_offset);
    read_bytes(file, first, static_cast<std::uint32_t>(first_size));
    if (get_u32(first) != 0)
        return CompiledScriptRead::loaded;  // a format this tool does not know
    if (std::memchr(first + 4, 0, static_cast<size_t>(first_size - 4)) != nullptr) {
        return CompiledScriptRead::loaded;
    }
    if (path_room > short_path) {
        std::vector<std::uint8_t> rest(static_cast<size_t>(path_room - short_path));
        read_bytes(file, rest.data(), static_cast<std::uint32_t>(rest.size()));
        if (std::memchr(rest.data(), 0, rest.size()) != nullptr)
            return CompiledScriptRead::loaded;
    }
    if (path_room > longest_source_path)
        damaged(file, "the source path in the debug section is not terminated");
    table_does_not_fit(file, layout.code_size);
}

CompiledScriptRead read_compiled_script(Archive& file, bool read_debug, CompiledScript& script) {
    script = CompiledScript();
    file.set_position(0);
    const std::int64_t file_size = file.size();
    // A compiled script of ordinary size comes in one read; only a larger one takes a second, sized
    // by what its header promises once that is known to fit in the file. The buffers are not
    // cleared: only bytes that were read are looked at.
    const auto had = static_cast<size_t>(std::min<std::int64_t>(file_size, first_read));
    std::unique_ptr<std::uint8_t[]> first(new std::uint8_t[had]);
    std::uint8_t* body = first.get();
    read_bytes(file, body, static_cast<std::uint32_t>(had));
    Layout layout;
    if (!checked_layout(file, body, read_debug, layout))
        return CompiledScriptRead::wrong_magic;
    const std::uint32_t code_size = layout.code_size;
    const std::uint32_t debug_offset = layout.debug_offset;
    const std::int64_t code_end = layout.code_end;
    const bool with_debug = layout.with_debug;
    const std::uint64_t table_size = 4 * std::uint64_t{code_size};
    std::int64_t end = code_end;
    if (with_debug) {
        end = static_cast<std::int64_t>(std::min<std::uint64_t>(
            static_cast<std::uint64_t>(file_size),
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
    if (!with_debug)
        return CompiledScriptRead::loaded;

    const std::uint8_t* section = body + debug_offset;
    const std::uint8_t* section_end = body + end;
    if (get_u32(section) != 0)
        return CompiledScriptRead::loaded;  // a format this tool does not know
    const std::uint8_t* path = section + 4;
    const auto* path_end = static_cast<const std::uint8_t*>(std::memchr(
        path, 0,
        std::min<size_t>(static_cast<size_t>(section_end - path), longest_source_path + 1)));
    if (path_end == nullptr)
        damaged(file, "the source path in the debug section is not terminated");
    const std::uint8_t* table = path_end + 1;
    if (static_cast<std::uint64_t>(section_end - table) < table_size)
        table_does_not_fit(file, code_size);
    script.source_path.assign(reinterpret_cast<const char*>(path),
                              static_cast<size_t>(path_end - path));
    std::vector<std::int32_t> lines(code_size);
    if constexpr (std::endian::native == std::endian::little) {
        if (code_size > 0)
            std::memcpy(lines.data(), table, static_cast<size_t>(table_size));
    } else {
        for (size_t i = 0; i < lines.size(); ++i)
            lines[i] = static_cast<std::int32_t>(get_u32(table + 4 * i));
    }
    script.lines = LineMap(std::move(lines));
    script.has_debug = true;
    return CompiledScriptRead::loaded;
}

}  // namespace kam::script
