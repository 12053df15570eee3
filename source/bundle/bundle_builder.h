// Writes bundles: collects entries and file data through a file system, then writes the bundle
// file front to back and its text listing.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "bundle/bundle_index.h"
#include "utility/archive.h"
#include "utility/file_system.h"
#include "utility/output_streams.h"
#include "utility/path.h"
#include "utility/progress.h"
#include "utility/string_hash.h"

namespace kam {

// Lives for one bundle: entries and files are added, then write_bundle and write_listing are
// called once each. Source paths are paths of the given file system (a leading separator is
// kept); bundle paths are relative, either separator, any case.
class BundleBuilder {
public:
    // One file whose data goes into the bundle: its place and size are its entry's, its source
    // path its directory's (source_of) and the entry's own name in the tree. 8 bytes a file, as a
    // tree of 300 000 files needs them.
    struct Job {
        BundleEntryMap::value_type* named;
        BundleEntry& entry() const { return named->second; }
    };

    // The chunk of copy_data, also for the listing and the patch comparison.
    static constexpr std::uint32_t copy_chunk = kam::copy_chunk;

    // write_bundle shows its copying on progress, when given.
    explicit BundleBuilder(Progress* progress = nullptr) : progress_(progress) {}

    // Makes sure every component of the bundle path has an entry, creating missing ones from what
    // the file system says of source's matching prefix: a missing path becomes a hidden file entry
    // ("  N/A " + path on log_detail), a file a file entry without data, a directory a directory.
    // Returns the last component's entry, or null when a hidden entry or a file stands on the way.
    // Both paths are normalised. Throws std::runtime_error "Path and name must match" when the
    // bundle path is not the tail of the source path (whole components), and a std::runtime_error
    // naming the source for a component a bundle cannot hold (is_valid_bundle_name) or a path
    // nested deeper than BundleIndex::max_depth.
    BundleEntry* find_or_create(FileSystem& fs, const std::string& source, const std::string& path);

    // The entries and, the first time, the file's data (appended after the data added before).
    // Hidden entries, directories and files added before get none; an empty file stays without
    // data. Under the detail log the file is measured now and a file of 4 GiB or more throws
    // std::runtime_error naming the source; otherwise both happen when the bundle is written.
    void add_file(FileSystem& fs, const std::string& source, const std::string& path);
    // add_file for the entry an earlier add_entry returned: source in canonical form, path the
    // normalised bundle path. Spares a tree walked twice its lookups.
    void add_file(FileSystem& fs, BundleEntryMap::value_type& named, const std::string& source,
                  std::string_view path);
    // The entries only; returns the last component's, as find_or_create does.
    BundleEntryMap::value_type* add_entry(FileSystem& fs, const std::string& source,
                                          const std::string& path);
    // add_file and add_entry for a source already as normalize_path(source, false, true) gives it
    // and a path as normalize_path(path, false, false) does: the filter's paths are, and putting
    // them in that form again cost a tenth of the instructions of a bundle build.
    void add_canonical_file(FileSystem& fs, const std::string& source, std::string_view path);
    BundleEntryMap::value_type* add_canonical_entry(FileSystem& fs, const std::string& source,
                                                    std::string_view path);

    // Writes the bundle to destination (a native path) with progress on log_detail, copying each
    // job's data from fs, up to jobs files at once (fs must then allow concurrent opens); the
    // bundle and the output are the same for any number of jobs. The file is written beside the
    // destination and renamed over it only when complete and flushed: a failure removes it and
    // leaves the destination as it was. Throws the file layer's errors, std::runtime_error naming a
    // file of 4 GiB or more, and, under the detail log, std::runtime_error naming the file when a
    // source's size is not the size it had when it was added.
    void write_bundle(FileSystem& fs, const std::string& destination, int jobs = 1);
    // Writes the text listing of the tree to destination (a native path), replacing it the same
    // way.
    void write_listing(const std::string& destination) const;

    const BundleIndex& index() const { return index_; }
    const std::deque<Job>& jobs() const { return jobs_; }
    // The source path of jobs()[job].
    std::string source_of(std::size_t job) const;
    // The data area's size: the end of the last file placed.
    std::uint64_t data_size() const { return data_size_; }

private:
    // The entry of name in directory, created as find_or_create describes when missing; prefix +
    // name is its source path.
    BundleEntryMap::value_type& find_or_create_in(FileSystem& fs, BundleEntryMap& directory,
                                                  const std::string& prefix, std::string_view name,
                                                  std::string_view path);
    // find_or_create, with the entry's name.
    BundleEntryMap::value_type* find_or_create_named(FileSystem& fs, const std::string& source,
                                                     std::string_view path);
    // A job for the entry's data from source.
    void add_job(BundleEntryMap::value_type& named, const std::string& source);
    static std::runtime_error too_deep(const std::string& source);
    static void check_size(const std::string& source, std::uint64_t size);
    // Copies every job's data, placing each file when it is opened (the quick path).
    void copy_placing(FileSystem& fs, Archive& out, std::uint64_t data_start, int jobs);
    // The header and the directory, their data placed after data_start.
    void write_directory(Archive& out, std::uint64_t data_start) const;

    BundleIndex index_;
    // Under the detail log the data is placed as files are added, so that the progress has its
    // total; else as they are copied, which spares a lookup per file.
    bool sizes_when_added_ = log_detail.shown();
    Progress* progress_;
    // Deques: no copy of every job, or directory, when they grow.
    std::deque<Job> jobs_;
    // The source directory of each run of jobs from one directory, in job order, and the run's
    // first job; the firsts are searched in a vector, as a search through a deque's blocks cost
    // more than the rest of naming the source.
    std::deque<std::string> job_directories_;
    std::vector<std::size_t> job_directory_starts_;
    // The jobs, in order, of files that have an earlier job (the quick path).
    std::vector<std::size_t> repeats_;
    std::uint64_t data_size_ = 0;
    // A directory a path reached, its depth and the length of its bundle path.
    struct ReachedDirectory {
        BundleEntryMap* directory;
        std::uint32_t depth;
        std::uint32_t path_length;
    };
    // Every directory reached, by the directory part of the source path that reached it (also the
    // source prefix of its files), and the last one used.
    std::unordered_map<std::string, ReachedDirectory, StringHash, std::equal_to<>> directories_;
    const std::pair<const std::string, ReachedDirectory>* last_directory_ = nullptr;
};

// The progress line due before the job at offset in a data area of total bytes, or empty when its
// whole percentage does not exceed last_percent (which it then becomes). The percentage is taken
// with the total held as a 32-bit float; megabytes are whole millions of bytes.
std::string bundle_progress_line(std::uint64_t offset, std::uint64_t total, int& last_percent);

}  // namespace kam
