// The fuzz targets. Besides feeding each decoder, they check what a decoder can be checked against
// without a second implementation: writing what was read and reading it again gives the same data,
// and the XML parser's fast paths agree with its one-code-point reader.
#include "targets.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "bundle/bundle_file_system.h"
#include "bundle/bundle_index.h"
#include "bundle/load_log.h"
#include "script/compiled_script.h"
#include "script/script_rte.h"
#include "support/memory_file_system.h"
#include "support/script_tokens.h"
#include "utility/archive.h"
#include "utility/path.h"
#include "utility/virtual_file_system.h"
#include "xml/expression_evaluator.h"
#include "xml/xml_binary.h"
#include "xml/xml_document.h"
#include "xml/xml_parser.h"

namespace fuzz {

namespace {

using kam::Archive;

[[noreturn]] void broken(const std::string& what) {
    throw BrokenInvariant(what);
}

Archive archive_of(const std::uint8_t* data, std::size_t size, const std::string& name) {
    return Archive(
        name, std::make_shared<kam::ConstMemoryDataStore>(data, static_cast<std::uint32_t>(size)),
        0, static_cast<std::int64_t>(size), false);
}

// A store that grows as it is written, for round trips through a writer.
class GrowingStore : public kam::DataStore {
public:
    std::uint32_t write(std::uint64_t offset, const void* data, std::uint32_t count) override {
        if (bytes.size() < offset + count)
            bytes.resize(offset + count);
        std::memcpy(bytes.data() + offset, data, count);
        return count;
    }
    std::uint32_t read(std::uint64_t offset, void* buffer, std::uint32_t count) override {
        if (offset >= bytes.size())
            return 0;
        const auto available =
            static_cast<std::uint32_t>(std::min<std::uint64_t>(count, bytes.size() - offset));
        std::memcpy(buffer, bytes.data() + offset, available);
        return available;
    }
    std::string bytes;
};

// The process-wide virtual file system for as long as it lives, over files held in memory.
class MemoryFiles {
public:
    MemoryFiles() {
        if (&kam::VirtualFileSystem::instance() != &system_)
            throw std::logic_error("a fuzz target needs the only virtual file system");
    }
    void write(const std::string& path, std::string_view bytes) {
        files_.write(path, std::string(bytes));
    }
    const test::MemoryFileSystem& files() const { return files_; }

private:
    kam::VirtualFileSystem system_;
    test::MemoryFileSystem files_;
    kam::ScopedMount mount_{"/", &files_, false};
};

bool is_canonical(const std::string& path) {
    return kam::normalize_path(path, false, false) == path;
}

// The same path as a user might type it: capitals and forward slashes.
std::string other_spelling(std::string path) {
    for (char& c : path) {
        if (c == '\\')
            c = '/';
        else if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    }
    return path;
}

std::string join(const std::string& directory, std::string_view name) {
    return directory.empty() ? std::string(name) : kam::concat(directory + "\\", name);
}

// ---- Bundles ----

void expect_same_directory(const kam::BundleEntryMap& a, const kam::BundleEntryMap& b,
                           const std::string& where) {
    if (a.size() != b.size())
        broken("bundle round trip: " + where + " changed its entry count");
    for (auto x = a.begin(), y = b.begin(); x != a.end(); ++x, ++y) {
        const std::string path = join(where, x->first);
        if (x->first != y->first)
            broken("bundle round trip: " + path + " became " + std::string(y->first));
        const kam::BundleEntry& p = x->second;
        const kam::BundleEntry& q = y->second;
        if (p.visible != q.visible || p.offset != q.offset || p.size != q.size ||
            p.is_directory() != q.is_directory()) {
            broken("bundle round trip: " + path + " changed");
        }
        if (p.is_directory())
            expect_same_directory(*p.directory, *q.directory, path);
    }
}

// Every entry is found under its path, in either spelling; below a hidden directory the hidden
// directory answers. Names that are not in canonical form cannot be looked up and are skipped.
void check_lookups(const kam::BundleIndex& index, const kam::BundleEntryMap& directory,
                   const std::string& prefix, const kam::BundleEntry* hidden_above) {
    for (const auto& [name, entry] : directory) {
        const std::string path = join(prefix, name);
        const kam::BundleEntry* expected = hidden_above != nullptr ? hidden_above : &entry;
        if (is_canonical(path)) {
            if (index.lookup(path) != expected)
                broken("bundle lookup of " + path + " misses its entry");
            if (index.lookup(path) != expected)
                broken("bundle lookup of " + path + " from the cache differs");
            if (index.lookup(other_spelling(path)) != expected)
                broken("bundle lookup of " + other_spelling(path) + " misses its entry");
        }
        if (entry.is_directory()) {
            const kam::BundleEntry* hidden = hidden_above != nullptr ? hidden_above
                                             : entry.is_visible()    ? nullptr
                                                                     : &entry;
            check_lookups(index, *entry.directory, path, hidden);
        }
    }
}

// Walks the tree through the file-system interface as the patch and extract commands do, reading
// every file the bundle holds.
void walk_file_system(kam::BundleFileSystem& bundle, const std::string& directory) {
    std::vector<std::string> directories, files;
    bundle.list(directory, "*", true, directories);
    bundle.list(directory, "*.*", false, files);
    // Every name is a pattern that matches itself, unless it holds the separator.
    std::string patterns;
    size_t patterned = 0;
    for (const std::string& name : files) {
        if (name.find(';') != std::string::npos)
            continue;
        patterns += name + ";";
        ++patterned;
    }
    std::vector<std::string> matched;
    bundle.list(directory, patterns, false, matched);
    if (matched.size() < patterned)
        broken("bundle list of " + directory + " by its own names misses some");

    std::vector<char> buffer(4096);
    for (const std::string& name : files) {
        const std::string path = join(directory, name);
        std::uint64_t offset = 0;
        std::uint32_t size = 0;
        bundle.physical_path(path, offset, size);
        bundle.full_path(path);
        bundle.source_path(path);
        bundle.hides(path);
        bundle.owns(path);
        if (is_canonical(path) && (!bundle.exists(path) || bundle.is_dir(path)))
            broken("bundle file " + path + " is listed but not there");
        if (bundle.open(path, "w").has_store())
            broken("bundle file " + path + " opens for writing");
        try {
            Archive file = bundle.open(path, "r");
            while (file.remaining() > 0) {
                const auto chunk =
                    static_cast<std::uint32_t>(std::min<std::int64_t>(file.remaining(), 4096));
                file.checked_read(buffer.data(), chunk);
            }
        } catch (const std::runtime_error&) {
            // A file reaching past the bundle's end.
        }
    }
    for (const std::string& name : directories) {
        const std::string path = join(directory, name);
        if (is_canonical(path) && !bundle.is_dir(path))
            broken("bundle directory " + path + " is listed but not there");
        walk_file_system(bundle, path);
    }
}

// ---- XML ----

// Saves the process-wide XML switches and puts them back.
class XmlSwitches {
public:
    XmlSwitches()
        : resolve_(kam::xml_resolve_includes),
          catch_(kam::xml_catch_parse_errors),
          check_(kam::xml_check_dependencies),
          write_(kam::xml_write_binary),
          fast_(kam::detail::xml_fast_paths),
          budget_(kam::detail::xml_define_budget) {
        // The full budget costs seconds per input under the sanitizers, and finds nothing more.
        kam::detail::xml_define_budget = 1u << 20;
    }
    ~XmlSwitches() {
        kam::detail::xml_define_budget = budget_;
        kam::xml_resolve_includes = resolve_;
        kam::xml_catch_parse_errors = catch_;
        kam::xml_check_dependencies = check_;
        kam::xml_write_binary = write_;
        kam::detail::xml_fast_paths = fast_;
        kam::ExpressionEvaluator::reset_random();
    }
    XmlSwitches(const XmlSwitches&) = delete;
    XmlSwitches& operator=(const XmlSwitches&) = delete;

private:
    bool resolve_, catch_, check_, write_, fast_;
    size_t budget_;
};

// Where two trees first differ, as the path to the node and what differs there; empty when they
// are the same. Places (lines and files) are compared only between two text parses: the binary
// form keeps none.
std::string tree_difference(const kam::XMLNode& a, const kam::XMLNode& b, bool with_places) {
    const std::string here =
        a.kind() == kam::NODE_ELEMENT ? a.name() : "kind " + std::to_string(a.kind());
    if (a.kind() != b.kind())
        return here + ": kinds";
    if (with_places && (a.line() != b.line() || a.file_id() != b.file_id()))
        return here + ": places";
    if (a.kind() == kam::NODE_DEFINE)
        return a.define() == b.define() ? std::string() : here + ": defines";
    if (a.name_id() != b.name_id() || a.text() != b.text() ||
        !std::ranges::equal(a.parameters(), b.parameters()))
        return here + ": contents";
    if (a.num_children() != b.num_children())
        return here + ": child counts";
    for (int i = 0; i < a.num_children(); ++i) {
        const std::string below = tree_difference(*a.child(i), *b.child(i), with_places);
        if (!below.empty())
            return here + "/" + below;
    }
    return {};
}

void expect_same_document(const kam::XMLDocument& a, const kam::XMLDocument& b, bool with_places,
                          const std::string& what) {
    const std::string difference = tree_difference(a.root(), b.root(), with_places);
    if (!difference.empty())
        broken(what + ": the trees differ at " + difference);
    if (a.dependencies != b.dependencies)
        broken(what + ": dependencies differ");
}

// Writes the document's binary form, reads it back and writes that again: the tree and the bytes
// must survive.
void check_binary_round_trip(const kam::XMLDocument& document) {
    auto first = std::make_shared<GrowingStore>();
    Archive out("first.xmb", first, 0, 0, true);
    document.write_binary(out);

    Archive in("first.xmb", first, 0, static_cast<std::int64_t>(first->bytes.size()), false);
    if (kam::binary_xml_version(in) != 1)
        broken("binary XML round trip: the header is not readable");
    kam::XMLDocument back;
    back.set_path(document.path());
    if (!back.read_binary(in))
        broken("binary XML round trip: the written form does not read");
    expect_same_document(document, back, false, "binary XML round trip");

    auto second = std::make_shared<GrowingStore>();
    Archive again("second.xmb", second, 0, 0, true);
    back.write_binary(again);
    if (second->bytes != first->bytes)
        broken("binary XML round trip: writing what was read changes the bytes");
}

// Expands a reference to every define of the tree, with as many arguments as it takes, so that
// defines read from a binary form get applied as those of an included one would be.
void apply_defines(const kam::XMLNode& node, kam::XMLDefineList& list, std::string& text,
                   int depth) {
    if (depth > 1000)
        return;
    if (node.kind() == kam::NODE_DEFINE) {
        const kam::XMLDefine& define = node.define();
        list.add(std::make_unique<kam::XMLDefine>(define));
        text += " " + define.name;
        if (!define.parameter_names.empty()) {
            text += "(1";
            for (size_t i = 1; i < define.parameter_names.size(); ++i)
                text += ",2";
            text += ")";
        }
    }
    for (int i = 0; i < node.num_children(); ++i)
        apply_defines(*node.child(i), list, text, depth + 1);
}

// The files of the XML target: the main file, two it can include (one in a folder, for "../"
// hrefs) and the binary form of a file whose text is missing.
const char* const xml_files[] = {"main.xml", "a.xml", "sub\\b.xml", "c.xmb"};

// Everything after four zero bytes is beyond the end of any text encoding's input, so splitting
// there costs the parser nothing. The last file takes the rest, zero bytes and all.
std::vector<std::string_view> split_files(std::string_view input, size_t most) {
    std::vector<std::string_view> parts;
    const std::string_view marker("\0\0\0\0", 4);
    while (parts.size() + 1 < most) {
        const size_t at = input.find(marker);
        if (at == std::string_view::npos)
            break;
        parts.push_back(input.substr(0, at));
        input.remove_prefix(at + marker.size());
    }
    parts.push_back(input);
    return parts;
}

struct XmlLoad {
    bool loaded = false;
    std::string error;  // the message, when errors are passed on and one was
};

XmlLoad load_xml(kam::XMLDocument& document) {
    XmlLoad result;
    kam::ExpressionEvaluator::reset_random();
    try {
        result.loaded = document.load("main.xml");
    } catch (const std::runtime_error& error) {
        result.error = error.what();
    }
    return result;
}

}  // namespace

void bundle_index(const std::uint8_t* data, std::size_t size) {
    kam::BundleIndex index;
    try {
        index.load(archive_of(data, size, "fuzz.bundle"));
    } catch (const std::runtime_error&) {
        if (!index.root().empty())
            broken("a bundle that fails to load leaves entries behind");
        return;
    }
    check_lookups(index, index.root(), "", nullptr);
    if (index.lookup("") != nullptr)
        broken("bundle lookup of the empty path finds an entry");
    if (index.directory("") != &index.root())
        broken("bundle directory of the empty path is not the root");

    // Written as version 2 and read again, whichever version it came in.
    auto store = std::make_shared<GrowingStore>();
    Archive out("copy.bundle", store, 0, 0, true);
    kam::BundleIndex().write_header(out);
    index.write_directory(out, 0);
    kam::BundleIndex copy;
    copy.load(
        Archive("copy.bundle", store, 0, static_cast<std::int64_t>(store->bytes.size()), false));
    expect_same_directory(index.root(), copy.root(), "");
}

void bundle_file_system(const std::uint8_t* data, std::size_t size) {
    // Files a bundle may list without data, read from the parent instead.
    test::MemoryFileSystem parent;
    parent.write("readme.txt", "on disk");
    parent.write("data\\a.txt", "on disk too");
    kam::BundleFileSystem bundle(&parent);
    try {
        bundle.load(archive_of(data, size, "fuzz.bundle"), 1234);
    } catch (const std::runtime_error&) {
        return;
    }
    walk_file_system(bundle, "");
    for (const char* path : {"readme.txt", "data\\a.txt", "data", "missing", "a\\b\\c"}) {
        bundle.exists(path);
        bundle.owns(path);
        try {
            Archive file = bundle.open(path, "r");
        } catch (const std::runtime_error&) {
        }
    }
    if (bundle.modification_time("anything") != 1234)
        broken("bundle modification time changed");
}

void load_log(const std::uint8_t* data, std::size_t size) {
    const XmlSwitches switches;
    std::vector<kam::IdString> paths;
    try {
        paths = kam::parse_load_log(std::string_view(reinterpret_cast<const char*>(data), size),
                                    "fuzz.log");
    } catch (const std::runtime_error&) {
        return;
    }
    for (kam::IdString path : paths) {
        if (!is_canonical(kam::string_of(path)))
            broken("load log path " + kam::string_of(path) + " is not canonical");
    }
}

void xml_text(const std::uint8_t* data, std::size_t size) {
    const XmlSwitches switches;
    MemoryFiles files;
    const auto parts = split_files(std::string_view(reinterpret_cast<const char*>(data), size),
                                   std::size(xml_files));
    for (size_t i = 0; i < parts.size(); ++i)
        files.write(xml_files[i], parts[i]);

    // As compile-xml loads, with errors caught, through the fast paths and without them.
    kam::XMLDocument fast, slow;
    const XmlLoad fast_load = load_xml(fast);
    kam::detail::xml_fast_paths = false;
    const XmlLoad slow_load = load_xml(slow);
    if (fast_load.loaded != slow_load.loaded || fast_load.error != slow_load.error)
        broken("XML fast paths: the result differs");
    expect_same_document(fast, slow, true, "XML fast paths");
    if (fast_load.loaded)
        check_binary_round_trip(fast);

    // With errors passed on, the messages must agree too.
    if (!fast_load.loaded) {
        kam::xml_catch_parse_errors = false;
        kam::XMLDocument fast_error, slow_error;
        const XmlLoad slow_result = load_xml(slow_error);
        kam::detail::xml_fast_paths = true;
        const XmlLoad fast_result = load_xml(fast_error);
        if (fast_result.loaded != slow_result.loaded || fast_result.error != slow_result.error)
            broken("XML fast paths: the error differs: \"" + fast_result.error + "\" and \"" +
                   slow_result.error + "\"");
    }
}

void xml_expression(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    kam::ExpressionEvaluator::reset_random();
    kam::ExpressionEvaluator evaluator;
    try {
        evaluator.compile(text);
        const float first = evaluator.evaluate();
        evaluator.evaluate_value();
        // Only rnd may change a result from one run to the next.
        if (text.find("rnd") == std::string_view::npos &&
            std::bit_cast<std::uint32_t>(first) !=
                std::bit_cast<std::uint32_t>(evaluator.evaluate())) {
            broken("expression " + std::string(text) + " changes its value");
        }
    } catch (const std::runtime_error&) {
    }
    kam::ExpressionEvaluator::reset_random();
}

void xml_binary(const std::uint8_t* data, std::size_t size) {
    const XmlSwitches switches;
    Archive archive = archive_of(data, size, "fuzz.xmb");
    kam::binary_xml_version(archive);
    kam::XMLDocument document;
    document.set_path("fuzz.xml");
    if (!document.read_binary(archive))
        return;
    check_binary_round_trip(document);

    kam::XMLDefineList defines;
    std::string text = "@";
    apply_defines(document.root(), defines, text, 0);
    try {
        defines.expand(text);
    } catch (const std::runtime_error&) {
    }
}

void compiled_script(const std::uint8_t* data, std::size_t size) {
    namespace script = kam::script;
    for (const bool read_debug : {true, false}) {
        Archive file = archive_of(data, size, "fuzz.kxe");
        script::CompiledScript read;
        try {
            if (script::read_compiled_script(file, read_debug, read) ==
                script::CompiledScriptRead::wrong_magic)
                break;
        } catch (const std::runtime_error&) {
            continue;
        }
        if (read.has_debug && read.lines.table().size() != read.code.size())
            broken("compiled script: the line table does not match the code");
        if (!read.has_debug)
            continue;
        // Written again and read back.
        const std::vector<std::uint8_t> image =
            script::compiled_script_image(read.code, read.lines.table(), read.source_path, true);
        Archive copy = archive_of(image.data(), image.size(), "copy.kxe");
        script::CompiledScript again;
        script::read_compiled_script(copy, true, again);
        if (again.code != read.code || again.source_path != read.source_path ||
            again.lines.table() != read.lines.table()) {
            broken("compiled script round trip changes the script");
        }
    }

    // As the loader meets it: a compiled file without a source.
    MemoryFiles files;
    files.write("s.kxe", std::string_view(reinterpret_cast<const char*>(data), size));
    script::ScriptRTE loader("not_used", script::ScriptRTE::load_only);
    try {
        loader.load("s");
    } catch (const std::runtime_error&) {
    }
}

void script_compiler(const std::uint8_t* data, std::size_t size) {
    namespace script = kam::script;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    // Tokens read in place from the whole text are those read a character at a time.
    script::StringScanner whole{std::string(text)};
    test::PieceScanner one_by_one{std::string(text), 1};
    if (test::scan_all(whole, true, 10000) != test::scan_all(one_by_one, true, 10000))
        broken("script scanner: in place and one by one differ");

    MemoryFiles files;
    files.write("s.ksf", text);
    script::ScriptRTE compiler("not_used", script::ScriptRTE::always_compile);
    int number = 0;
    try {
        number = compiler.load("s");
    } catch (const std::runtime_error&) {
        return;
    }
    // The saved file reads back as the program that was compiled.
    const script::ScriptRTE::Program& program = compiler.program(number);
    const auto saved = files.files().files.find("s.kxe");
    if (saved == files.files().files.end())
        broken("compiled script was not saved");
    const std::string& bytes = saved->second.bytes;
    Archive file =
        archive_of(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size(), "s.kxe");
    script::CompiledScript read;
    if (script::read_compiled_script(file, true, read) != script::CompiledScriptRead::loaded ||
        !read.has_debug || read.code != program.code ||
        read.lines.table() != program.line_map.table() || read.source_path != program.source_path) {
        broken("compiled script: the saved file does not read back as the program");
    }
}

const std::vector<Target>& all_targets() {
    static const std::vector<Target> targets = {
        {"bundle_index", bundle_index},
        {"bundle_file_system", bundle_file_system},
        {"load_log", load_log},
        {"xml_text", xml_text},
        {"xml_expression", xml_expression},
        {"xml_binary", xml_binary},
        {"compiled_script", compiled_script},
        {"script_compiler", script_compiler},
    };
    return targets;
}

}  // namespace fuzz
