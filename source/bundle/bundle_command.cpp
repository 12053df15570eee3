// The order of a bundle build and where its output goes.
#include "bundle/bundle_command.h"

#include <stdexcept>

#include "bundle/bundle_builder.h"
#include "bundle/file_filter.h"
#include "utility/disk_file_system.h"
#include "utility/disk_utilities.h"
#include "utility/output_streams.h"

namespace kam {

namespace {

// A root that is not there would give a bundle of nothing but hidden names, reported as success.
void check_root(const BundleSettings& settings) {
    if (!default_disk_file_system().is_dir(settings.root)) {
        throw std::runtime_error("The root " + settings.root + " is not a directory");
    }
}

void add_optional_log(FileFilter& filter, const std::string& log) {
    // A prepend or append log that is not there is no error.
    if (!log.empty() && default_disk_file_system().exists(log))
        filter.add_from_log(log);
}

void add_force_files(BundleBuilder& builder, const BundleSettings& settings) {
    for (const std::string& file : settings.force_files) {
        // Taken from the current directory like every other name on the command line.
        const std::string path = make_absolute(file);
        builder.add_file(default_disk_file_system(), path, make_relative(settings.root, path));
    }
}

void write_output(BundleBuilder& builder, const BundleSettings& settings) {
    if (settings.force_destination.empty())
        create_directories(settings.root + "\\bundles");
    builder.write_bundle(default_disk_file_system(), bundle_destination(settings));
    builder.write_listing(listing_destination(settings));
}

}  // namespace

std::string bundle_destination(const BundleSettings& settings) {
    if (!settings.force_destination.empty())
        return settings.force_destination;
    return settings.root + "\\bundles\\quick.bundle";
}

std::string listing_destination(const BundleSettings& settings) {
    if (!settings.force_destination.empty())
        return settings.force_destination + ".log";
    return settings.root + "\\bundles\\quick.log";
}

void build_file_log_bundle(const BundleSettings& settings) {
    check_root(settings);
    BundleBuilder builder;
    FileFilter filter(builder, settings);
    log_verbose << "Creating file log bundle from \"" << settings.log_file << "\"" << std::endl;
    log_verbose << "------- Bundle start -------" << std::endl;
    log_verbose << "Adding directory" << std::endl;
    filter.set_add_data(false);
    filter.walk(settings.log_union);
    filter.set_add_data(true);
    add_optional_log(filter, settings.prepend_log);
    filter.add_from_log(settings.log_file);
    if (settings.log_union)
        filter.walk();
    add_optional_log(filter, settings.append_log);
    add_force_files(builder, settings);
    log_verbose << "------- Bundle end!! -------" << std::endl;
    write_output(builder, settings);
}

void build_quick_bundle(const BundleSettings& settings) {
    check_root(settings);
    BundleBuilder builder;
    FileFilter filter(builder, settings);
    log_verbose << "Creating quick bundle." << std::endl;
    log_verbose << "------- Bundle start -------" << std::endl;
    filter.set_add_data(true);
    add_optional_log(filter, settings.prepend_log);
    filter.walk();
    add_optional_log(filter, settings.append_log);
    add_force_files(builder, settings);
    log_verbose << "------- Bundle end!! -------" << std::endl;
    write_output(builder, settings);
}

}  // namespace kam
