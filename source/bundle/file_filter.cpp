// The walk of a content root, the ignore rules and the expansions of logged paths.
#include "bundle/file_filter.h"

#include <algorithm>
#include <memory>

#include "bundle/load_log.h"
#include "utility/disk_utilities.h"
#include "utility/errors.h"
#include "utility/output_streams.h"
#include "utility/path.h"
#include "utility/replacing_file.h"

namespace kam {

namespace {

bool contains(const std::vector<std::string>& list, const std::string& value) {
    return std::find(list.begin(), list.end(), value) != list.end();
}

// The directories between the root and a directory being walked, by what they are on disk, so
// that a link leading back up is seen before it is followed round and round.
struct Ancestor {
    FileIdentity identity;
    std::shared_ptr<const Ancestor> parent;
};

bool is_among(const std::shared_ptr<const Ancestor>& ancestors, const FileIdentity& identity) {
    for (const Ancestor* ancestor = ancestors.get(); ancestor; ancestor = ancestor->parent.get()) {
        if (ancestor->identity == identity)
            return true;
    }
    return false;
}

}  // namespace

FileFilter::FileFilter(FileSystem& fs, BundleBuilder& builder, const BundleSettings& settings)
    : fs_(fs),
      builder_(builder),
      settings_(settings),
      root_prefix_(normalize_path(settings.root, true, true)) {
    for (const std::string& output : run_outputs(settings))
        own_outputs_.push_back(normalize_path(make_absolute(output), false, true));
}

void FileFilter::walk(bool remember) {
    // Walking a tree of tens of thousands of files again costs as much as packing the files the
    // first walk took in.
    if (!remembered_walk_.empty()) {
        replay_walk();
        return;
    }
    const auto note = [&](WalkStep::Kind kind, const std::string& path,
                          BundleEntryMap::value_type* named = nullptr) {
        if (remember)
            remembered_walk_.push_back({kind, path, named});
    };
    struct Pending {
        std::string directory;  // below the root, canonical, with a trailing separator
        std::shared_ptr<const Ancestor> ancestors;
    };
    std::vector<Pending> pending;
    FileIdentity identity;
    pending.push_back({std::string(), nullptr});
    if (fs_.identity(settings_.root, identity)) {
        pending.back().ancestors = std::make_shared<const Ancestor>(Ancestor{identity, nullptr});
    }
    std::vector<DirectoryEntry> entries;
    std::vector<std::string> files, listed, directories, others;
    std::string path;
    while (!pending.empty()) {
        const Pending current = std::move(pending.back());
        pending.pop_back();
        const std::string prefix = root_prefix_ + current.directory;
        entries.clear();
        fs_.list_entries(prefix, "*.*", entries);
        listed_directories_.push_back(prefix);
        files.clear();
        listed.clear();
        directories.clear();
        others.clear();
        for (DirectoryEntry& entry : entries) {
            std::string name = fold_case(std::move(entry.name));
            if (entry.is_directory) {
                if (remember)
                    others.push_back(name);
                directories.push_back(std::move(name));
            } else if (is_temporary_name(name)) {
                // Output of a run still writing, or of one that was killed: never content.
                if (remember)
                    others.push_back(std::move(name));
                continue;
            } else {
                // A link to nothing is left for the disk to answer: it becomes a hidden name.
                if (!entry.is_broken_link)
                    listed.push_back(name);
                else if (remember)
                    others.push_back(name);
                files.push_back(std::move(name));
            }
        }
        // A remembered walk's listings also answer the logs read before the next walk: a
        // script's compiled form that is not there then costs no lookups on the disk.
        if (remember)
            listed_.keep_files(prefix, std::move(listed), std::move(others));
        else
            listed_.note_files(prefix, std::move(listed));
        // Listings come sorted with case folded, so names that differ only in case are
        // neighbours; in a bundle they are one name, and only one of them can go in.
        const std::string* previous = nullptr;
        bool previous_taken = false;
        for (const std::string& name : files) {
            if (previous != nullptr && name == *previous) {
                if (previous_taken)
                    report_case_clash(prefix + name, "files");
                continue;
            }
            // One buffer for every file's path: a join per file was an allocation per file.
            path.assign(prefix).append(name);
            BundleEntryMap::value_type* named = nullptr;
            previous_taken = consider_canonical(path, &named);
            note(WalkStep::file, path, named);
            previous = &name;
        }
        previous = nullptr;
        previous_taken = false;
        for (const std::string& name : directories) {
            path.assign(prefix).append(name);
            if (previous != nullptr && name == *previous) {
                if (previous_taken)
                    report_case_clash(path, "directories");
                continue;
            }
            previous = &name;
            previous_taken = false;
            if (!accepts_directory(path)) {
                note(WalkStep::ignored_directory, path);
                continue;
            }
            std::shared_ptr<const Ancestor> ancestors = current.ancestors;
            if (fs_.identity(path, identity)) {
                if (is_among(ancestors, identity)) {
                    note(WalkStep::leading_back, path);
                    report_leading_back(path);
                    continue;
                }
                ancestors = std::make_shared<const Ancestor>(Ancestor{identity, ancestors});
            }
            listed_.note_directory(path);
            pending.push_back({current.directory + name + "\\", std::move(ancestors)});
            previous_taken = true;
        }
    }
    listed_.forget_files();
}

void FileFilter::replay_walk() {
    // Case clashes are said once per run anyway, so they need no step.
    for (WalkStep& step : remembered_walk_) {
        switch (step.kind) {
            case WalkStep::file:
                // A file the first walk took in passes again: only its data is new.
                if (step.named != nullptr) {
                    builder_.add_file(listed_, *step.named, step.path,
                                      std::string_view(step.path).substr(root_prefix_.size()));
                } else {
                    consider_canonical(step.path);
                }
                break;
            case WalkStep::ignored_directory:
                accepts_directory(step.path);
                break;
            case WalkStep::leading_back:
                report_leading_back(step.path);
                break;
        }
    }
    remembered_walk_.clear();
    listed_.forget_files();
}

void FileFilter::report_leading_back(const std::string& path) {
    log_verbose << "Ignoring file " << path << ", it leads back to a directory above it"
                << std::endl;
}

void FileFilter::report_case_clash(const std::string& path, const char* what) {
    // Said once, though -L walks the root again.
    if (!reported_.insert(path).second)
        return;
    error_stream << path << " names several " << what
                 << " that differ only in case; the bundle holds one of them" << std::endl;
}

bool FileFilter::accepts_directory(const std::string& canonical) {
    if (contains(settings_.ignore_files, canonical) ||
        contains(settings_.ignore_names, file_name(canonical))) {
        log_verbose << "Ignoring file " << canonical << std::endl;
        return false;
    }
    return true;
}

bool FileFilter::consider(const std::string& path) {
    return consider_canonical(normalize_path(path, false, true));
}

bool FileFilter::consider_canonical(const std::string& canonical,
                                    BundleEntryMap::value_type** named) {
    if (contains(own_outputs_, canonical) || contains(settings_.ignore_files, canonical)) {
        log_verbose << "Ignoring file " << canonical << std::endl;
        return false;
    }
    for (const std::string& ignored : settings_.ignore_files) {
        if (canonical.size() > ignored.size() && canonical.starts_with(ignored) &&
            canonical[ignored.size()] == '\\') {
            log_verbose << "Ignoring file (below ignored dir) " << canonical << std::endl;
            return false;
        }
    }
    // Most builds ignore no names: a name cut out for nothing is an allocation per file.
    if ((!settings_.ignore_names.empty() &&
         contains(settings_.ignore_names, file_name(canonical))) ||
        (!settings_.ignore_extensions.empty() &&
         contains(settings_.ignore_extensions, extension(canonical)))) {
        log_verbose << "Ignoring file " << canonical << std::endl;
        return false;
    }
    if (settings_.skip_missing && !listed_.exists(canonical)) {
        log_verbose << "Ignoring file " << canonical << ", missing" << std::endl;
        return false;
    }
    // Below a root the bundle path is the rest of the path, canonical already; make_relative
    // would split both.
    const bool below_root = canonical.starts_with(root_prefix_);
    std::string normalized;
    std::string_view bundle_path;
    if (below_root && !root_prefix_.empty()) {
        bundle_path = std::string_view(canonical).substr(root_prefix_.size());
    } else {
        normalized = normalize_path(
            below_root ? canonical : make_relative(settings_.root, canonical), false, false);
        bundle_path = normalized;
    }
    if (add_data_) {
        builder_.add_canonical_file(listed_, canonical, bundle_path);
    } else {
        BundleEntryMap::value_type* entry =
            builder_.add_canonical_entry(listed_, canonical, bundle_path);
        if (named != nullptr)
            *named = entry;
    }
    return true;
}

void FileFilter::add_from_log(const std::string& log) {
    add_logged(read_load_log_paths(log));
}

void FileFilter::add_logged(const std::vector<std::string>& paths) {
    const bool add_data = add_data_;
    add_data_ = true;
    for (const std::string& path : paths) {
        // An open element without a path names no file; it is not the root.
        if (path.empty())
            continue;
        for (const std::string& name : expand(path))
            consider_canonical(root_prefix_ + name);
    }
    add_data_ = add_data;
}

std::set<std::string> FileFilter::expand(const std::string& path) {
    std::set<std::string> names;
    expand(path, true, names);
    return names;
}

void FileFilter::expand(const std::string& path, bool allow_local, std::set<std::string>& names) {
    if (allow_local && path.starts_with("local\\")) {
        // The second component is the language: the same file is wanted in every language.
        const size_t language_end = std::min(path.find('\\', 6), path.size());
        for (const std::string& language : languages()) {
            expand("local\\" + language + path.substr(language_end), false, names);
        }
        return;
    }
    if (extension(path) == ".ksf") {
        names.insert(path);
        names.insert(path.substr(0, path.size() - 4) + ".kxe");
        return;
    }
    names.insert(path);
}

const std::vector<std::string>& FileFilter::languages() {
    if (!languages_) {
        std::vector<DirectoryEntry> entries;
        fs_.list_entries(root_prefix_ + "local\\", "*", entries);
        std::vector<std::string> names;
        for (DirectoryEntry& entry : entries) {
            if (entry.is_directory)
                names.push_back(fold_case(std::move(entry.name)));
        }
        // One that is missing is covered by the root: creating it changes the root's time.
        if (!names.empty())
            listed_directories_.push_back(root_prefix_ + "local\\");
        languages_ = std::move(names);
    }
    return *languages_;
}

}  // namespace kam
