// Dependency files: writing one rule with make's escapes, and reading it back.
#include "utility/depfile.h"

#include <algorithm>
#include <limits>
#include <memory>

#include "utility/disk_file_system.h"
#include "utility/encoding.h"
#include "utility/job_queue.h"
#include "utility/replacing_file.h"

namespace kam {

std::string make_escaped(std::string_view name) {
    std::string escaped;
    escaped.reserve(name.size());
    size_t backslashes = 0;
    for (char c : name) {
        if (c == ' ' || c == '\t') {
            // make reads 2N+1 backslashes before a blank as N backslashes and the blank.
            escaped.append(backslashes + 1, '\\');
        } else if (c == '#') {
            escaped += '\\';
        } else if (c == '$') {
            escaped += '$';
        }
        backslashes = c == '\\' ? backslashes + 1 : 0;
        escaped += c;
    }
    return escaped;
}

void Depfile::add(const std::string& input) {
    if (added_.insert(input).second)
        inputs_.push_back(input);
}

std::string Depfile::text() const {
    std::string text = make_escaped(target_) + ":";
    for (const std::string& input : inputs_) {
        text += " \\\n  ";
        text += make_escaped(input);
    }
    text += '\n';
    return text;
}

void Depfile::write(const std::string& path) const {
    // Derived like the outputs it describes: rebuilt after a crash, so not flushed to the device.
    auto file = std::make_shared<ReplacingFile>(path, ReplacingFile::Flush::lazy);
    const std::string bytes = text();
    write_bytes(file->archive(), bytes.data(), static_cast<std::uint32_t>(bytes.size()));
    file->close();
    JobQueue::on_release([file] { file->commit(); }, [] {});
}

namespace {

bool is_blank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

}  // namespace

bool Depfile::parse(std::string_view text, Depfile& rule) {
    std::vector<std::string> names;
    std::string name;
    bool have_target = false;
    bool in_name = false;
    const auto end_name = [&] {
        if (in_name)
            names.push_back(std::move(name));
        name.clear();
        in_name = false;
    };
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\\') {
            size_t count = 1;
            while (i + count < text.size() && text[i + count] == '\\')
                ++count;
            const char next = i + count < text.size() ? text[i + count] : '\0';
            if (next == '\n' ||
                (next == '\r' && i + count + 1 < text.size() && text[i + count + 1] == '\n')) {
                // A line continuation; backslashes before it belong to the name.
                name.append(count - 1, '\\');
                in_name = in_name || count > 1;
                end_name();
                i += count + (next == '\r' ? 1 : 0);
                continue;
            }
            if (next == ' ' || next == '\t') {
                name.append(count / 2, '\\');
                in_name = true;
                if (count % 2 == 0)
                    end_name();
                else
                    name += next;
                i += count;
                continue;
            }
            if (next == '#') {
                name.append(count - 1, '\\');
                name += '#';
                in_name = true;
                i += count;
                continue;
            }
            name.append(count, '\\');
            in_name = true;
            i += count - 1;
        } else if (c == '$' && i + 1 < text.size() && text[i + 1] == '$') {
            name += '$';
            in_name = true;
            ++i;
        } else if (c == ':' && !have_target && (i + 1 == text.size() || is_blank(text[i + 1]))) {
            end_name();
            if (names.size() != 1)
                return false;
            rule = Depfile(std::move(names.front()));
            names.clear();
            have_target = true;
        } else if (c == '\n' && have_target) {
            end_name();
            break;
        } else if (is_blank(c)) {
            end_name();
        } else {
            name += c;
            in_name = true;
        }
    }
    if (!have_target)
        return false;
    end_name();
    for (const std::string& input : names)
        rule.add(input);
    return true;
}

bool Depfile::read(const std::string& path, Depfile& rule) {
    DiskFileSystem& disk = default_disk_file_system();
    if (!disk.exists(path))
        return false;
    Archive file = disk.open(path, "r");
    if (!file.has_store())
        return false;
    const std::string text =
        read_byte_string(file, static_cast<std::uint32_t>(std::min<std::int64_t>(
                                   file.size(), std::numeric_limits<std::uint32_t>::max())));
    return parse(text, rule);
}

}  // namespace kam
