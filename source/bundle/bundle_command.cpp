// The order of a bundle build and where its output goes.
#include "bundle/bundle_command.h"

#include <stdexcept>

#include "bundle/bundle_builder.h"
#include "bundle/file_filter.h"
#include "bundle/load_log.h"
#include "utility/depfile.h"
#include "utility/disk_file_system.h"
#include "utility/disk_utilities.h"
#include "utility/job_queue.h"
#include "utility/output_streams.h"
#include "utility/path.h"

namespace kam {

namespace {

// root\bundles\ + the log's file name without its extension, or quick.
std::string default_destination(const BundleSettings& settings) {
    std::string name = file_name(settings.log_file);
    name.resize(name.size() - extension(name).size());
    return settings.root + "\\bundles\\" + (settings.log_file.empty() ? "quick" : name);
}

// A root that is not there would give a bundle of nothing but hidden names, reported as success.
void check_root(const BundleSettings& settings) {
    if (!default_disk_file_system().is_dir(settings.root)) {
        throw std::runtime_error("The root " + settings.root + " is not a directory");
    }
}

void add_optional_log(FileFilter& filter, const std::string& log) {
    if (!log.empty())
        filter.add_from_log(log);
}

// Everything a build could refuse is refused before the first bundle is written.
void check_run(const BundleSettings& settings) {
    for (const auto& [log, what] :
         {std::pair(settings.prepend_log, "prepend"), std::pair(settings.append_log, "append")}) {
        // Skipped without a word, it gave a bundle without the files the user asked for first.
        if (!log.empty() && !default_disk_file_system().exists(log)) {
            throw std::runtime_error("The " + std::string(what) + " log " + log +
                                     " does not exist");
        }
    }
    BundleSettings build = settings;
    for (size_t i = 0; i < settings.log_files.size(); ++i) {
        build.log_file = settings.log_files[i];
        const std::string destination = bundle_destination(build);
        for (size_t j = 0; j < i; ++j) {
            build.log_file = settings.log_files[j];
            if (same_file(bundle_destination(build), destination) &&
                !same_file(settings.log_files[i], settings.log_files[j])) {
                throw std::runtime_error("The logs " + settings.log_files[j] + " and " +
                                         settings.log_files[i] + " would both be bundled into " +
                                         destination + "; nothing was written");
            }
        }
    }
    std::vector<std::string> inputs = settings.log_files;
    inputs.push_back(settings.log_file);
    inputs.push_back(settings.prepend_log);
    inputs.push_back(settings.append_log);
    inputs.insert(inputs.end(), settings.force_files.begin(), settings.force_files.end());
    check_outputs_are_not_inputs(run_outputs(settings), inputs);
}

void add_force_files(BundleBuilder& builder, const BundleSettings& settings) {
    for (const std::string& file : settings.force_files) {
        // Taken from the current directory like every other name on the command line.
        const std::string path = make_absolute(file);
        builder.add_file(default_disk_file_system(), path, make_relative(settings.root, path));
    }
}

// A path of the build as the dependency file names it: below the root, from the root as given.
std::string spelled(const BundleSettings& settings, const std::string& path) {
    const std::string root = normalize_path(settings.root, false, true);
    const std::string canonical = normalize_path(path, false, true);
    const bool below = canonical.starts_with(root) &&
                       (canonical.size() == root.size() || canonical[root.size()] == '\\');
    return default_disk_file_system().spelled_path(
        below ? settings.given_root + canonical.substr(root.size()) : path);
}

void write_depfile(const BundleBuilder& builder, const FileFilter& filter,
                   const BundleSettings& settings) {
    const std::string destination = bundle_destination(settings);
    Depfile depfile(spelled(settings, destination));
    for (const std::string& log : {settings.prepend_log, settings.log_file, settings.append_log}) {
        if (!log.empty())
            depfile.add(spelled(settings, log));
    }
    for (const std::string& file : settings.force_files)
        depfile.add(spelled(settings, file));
    // Writing the outputs changes its time: it would always be newer than the bundle.
    std::string outputs = normalize_path(make_absolute(destination), false, true);
    outputs.resize(outputs.rfind('\\') + 1);
    for (const std::string& directory : filter.listed_directories()) {
        if (directory != outputs)
            depfile.add(spelled(settings, directory));
    }
    for (std::size_t job = 0; job < builder.jobs().size(); ++job)
        depfile.add(spelled(settings, builder.source_of(job)));
    depfile.write(destination + ".d");
}

void write_output(BundleBuilder& builder, const FileFilter& filter,
                  const BundleSettings& settings) {
    if (settings.force_destination.empty())
        create_directories(settings.root + "\\bundles");
    builder.write_bundle(default_disk_file_system(), bundle_destination(settings), settings.jobs);
    builder.write_listing(listing_destination(settings));
    if (settings.depfile)
        write_depfile(builder, filter, settings);
}

}  // namespace

std::string bundle_destination(const BundleSettings& settings) {
    if (!settings.force_destination.empty())
        return settings.force_destination;
    return default_destination(settings) + ".bundle";
}

std::string listing_destination(const BundleSettings& settings) {
    if (!settings.force_destination.empty())
        return settings.force_destination + ".log";
    return default_destination(settings) + ".log";
}

std::vector<std::string> run_outputs(const BundleSettings& settings) {
    std::vector<std::string> outputs;
    BundleSettings build = settings;
    const auto add = [&] {
        outputs.push_back(bundle_destination(build));
        outputs.push_back(listing_destination(build));
        if (settings.depfile)
            outputs.push_back(bundle_destination(build) + ".d");
    };
    for (const std::string& log : settings.log_files) {
        build.log_file = log;
        add();
    }
    if (settings.log_files.empty())
        add();
    return outputs;
}

namespace {

void build_file_log_bundle(const BundleSettings& settings) {
    check_root(settings);
    BundleBuilder builder(settings.progress);
    FileFilter filter(default_disk_file_system(), builder, settings);
    log_verbose << "Creating file log bundle from \"" << settings.log_file << "\"" << std::endl;
    log_verbose << "------- Bundle start -------" << std::endl;
    log_verbose << "Adding directory" << std::endl;
    // The log is read beside the walk, which does not need it; its errors come where its
    // reading did before. With one job, it is read in its place.
    std::vector<std::string> logged;
    const bool beside = settings.jobs > 1;
    JobQueue reader(beside ? 2 : 1);
    if (beside)
        reader.add([&] { logged = read_load_log_paths(settings.log_file); });
    filter.set_add_data(false);
    filter.walk(settings.log_union);
    filter.set_add_data(true);
    add_optional_log(filter, settings.prepend_log);
    if (beside) {
        reader.finish();
    } else {
        logged = read_load_log_paths(settings.log_file);
    }
    filter.add_logged(logged);
    if (settings.log_union)
        filter.walk();
    add_optional_log(filter, settings.append_log);
    add_force_files(builder, settings);
    log_verbose << "------- Bundle end!! -------" << std::endl;
    write_output(builder, filter, settings);
}

}  // namespace

void build_file_log_bundles(const BundleSettings& settings) {
    check_run(settings);
    BundleSettings build = settings;
    for (const std::string& log : settings.log_files) {
        build.log_file = log;
        build_file_log_bundle(build);
    }
}

void build_quick_bundle(const BundleSettings& settings) {
    check_run(settings);
    check_root(settings);
    BundleBuilder builder(settings.progress);
    FileFilter filter(default_disk_file_system(), builder, settings);
    log_verbose << "Creating quick bundle." << std::endl;
    log_verbose << "------- Bundle start -------" << std::endl;
    filter.set_add_data(true);
    add_optional_log(filter, settings.prepend_log);
    filter.walk();
    add_optional_log(filter, settings.append_log);
    add_force_files(builder, settings);
    log_verbose << "------- Bundle end!! -------" << std::endl;
    write_output(builder, filter, settings);
}

}  // namespace kam
