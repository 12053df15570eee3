// The bundle writer: entries from a file system, data laid out in order of addition, a size
// trial so that the file is written front to back, and the listing.
#include "bundle/bundle_builder.h"

#include <algorithm>
#include <cassert>
#include <condition_variable>
#include <exception>
#include <limits>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <vector>

#include "utility/disk_file_system.h"
#include "utility/encoding.h"
#include "utility/job_queue.h"
#include "utility/output_streams.h"
#include "utility/path.h"
#include "utility/platform/directories.h"
#include "utility/platform/error_text.h"
#include "utility/platform/files.h"
#include "utility/replacing_file.h"

namespace kam {

namespace {

constexpr std::uint64_t max_file_size = std::numeric_limits<std::uint32_t>::max();

std::uint64_t round_up_to_4(std::uint64_t value) {
    return (value + 3) & ~std::uint64_t{3};
}

// Hands out the places of a quick build in the order of the batches while the batches open and
// copy their files at once: a batch waits only for the places of the batch before it, which are
// handed out once that batch has opened its files, so the layout is the one a single job makes.
class Placement {
public:
    // Waits until every batch before the one from first to last is placed, then places it with
    // place, which may throw. False, without placing, when a batch before it failed: its failure
    // ends the run.
    template <typename Place>
    bool place(std::size_t first, std::size_t last, Place place) {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [&] { return placed_ == first || failed_at_ < first; });
        if (failed_at_ < first)
            return false;
        try {
            place();
        } catch (...) {
            fail_locked(first);
            throw;
        }
        placed_ = last;
        changed_.notify_all();
        return true;
    }
    // For a batch that failed before its places: the batches after it must not wait for it.
    void fail(std::size_t first) {
        std::lock_guard<std::mutex> lock(mutex_);
        fail_locked(first);
    }
    bool placed(std::size_t first) {
        std::lock_guard<std::mutex> lock(mutex_);
        return placed_ > first;
    }

private:
    void fail_locked(std::size_t first) {
        failed_at_ = std::min(failed_at_, first);
        changed_.notify_all();
    }

    std::mutex mutex_;
    std::condition_variable changed_;
    std::size_t placed_ = 0;
    std::size_t failed_at_ = std::numeric_limits<std::size_t>::max();
};

// Runs work(first, last) for consecutive ranges of the indexes below count on the queue and
// waits for them: a job per small file cost more in handing it out than its copy took.
template <typename Work>
void run_in_batches(JobQueue& queue, std::size_t count, Work work) {
    // Enough batches to keep every thread busy while the last ones run; a quick build holds a
    // batch's files open at once, so all threads together hold a few hundred at most.
    const auto threads = static_cast<std::size_t>(std::max(1, queue.threads()));
    const std::size_t most = std::clamp<std::size_t>(256 / threads, 1, 32);
    const std::size_t batch = std::clamp<std::size_t>(count / (8 * threads), 1, most);
    for (std::size_t first = 0; first < count; first += batch) {
        const std::size_t last = std::min(count, first + batch);
        queue.add([first, last, &work] { work(first, last); });
    }
    queue.finish();
}

std::runtime_error ended_early(const std::string& source, std::uint32_t done, std::uint32_t size) {
    return std::runtime_error("File " + source + " ended after " + std::to_string(done) +
                              " of its " + std::to_string(size) +
                              " bytes while the bundle was written");
}

// Gathers the small files of a batch, which lie one after another in the bundle, and writes
// them with one call: a kernel copy per file took the bundle file's lock once per file, a tenth
// of a quick build of files of 1 KiB. Larger files are copied by the kernel at once.
class SmallFileWriter {
public:
    explicit SmallFileWriter(Archive& out) : out_(out) {}

    // Copies size bytes of source to position in out, now or at the next flush; returns the
    // bytes there were, fewer if the file ended early.
    std::uint32_t copy(Archive& source, std::uint64_t position, std::uint32_t size) {
        if (size > largest)
            return copy_data(source, out_, position, size);
        const std::uint64_t end = start_ + used_;
        // Only the padding of at most 3 bytes may lie between two files of one write.
        if (used_ != 0 &&
            (position < end || position - end > 3 || position - start_ + size > capacity))
            flush();
        if (used_ == 0) {
            start_ = position;
            // Not zeroed: only the padding between files is written without being read, and it
            // is filled here. Zeroing the buffer of every batch cost a third of the instructions
            // of a bundle build.
            if (!buffer_)
                buffer_ = std::make_unique_for_overwrite<char[]>(capacity);
        }
        const auto at = static_cast<std::size_t>(position - start_);
        std::fill(buffer_.get() + used_, buffer_.get() + at, '\0');
        const std::uint32_t got = source.checked_read(buffer_.get() + at, size);
        used_ = at + got;
        return got;
    }

    // Writes what copy gathered.
    void flush() {
        if (used_ == 0)
            return;
        const auto count = static_cast<std::uint32_t>(used_);
        used_ = 0;
        write_at(out_, start_, buffer_.get(), count);
    }

private:
    static constexpr std::uint32_t largest = 16 * 1024;
    static constexpr std::size_t capacity = 256 * 1024;

    Archive& out_;
    std::unique_ptr<char[]> buffer_;
    std::uint64_t start_ = 0;
    std::size_t used_ = 0;
};

// Passes the small writes of the header and directory on to out in blocks: field by field they
// cost a system call each, and the whole directory held in memory was a tenth of the peak of a
// quick bundle of small files. Writes come in order, each where the last one ended.
class BlockWriter : public DataStore {
public:
    static constexpr std::size_t block_size = 1u << 16;

    explicit BlockWriter(Archive& out) : out_(out) { block_.reserve(block_size); }

    std::uint32_t write(std::uint64_t offset, const void* data, std::uint32_t count) override {
        if (offset != written_)
            throw ErrorWithCStack("The bundle directory was not written in order");
        block_.append(static_cast<const char*>(data), count);
        written_ += count;
        if (block_.size() >= block_size)
            flush();
        return count;
    }
    std::uint32_t read(std::uint64_t, void*, std::uint32_t) override {
        throw ErrorWithCStack("Cant read from a bundle directory being written");
    }

    void flush() {
        write_bytes(out_, block_.data(), static_cast<std::uint32_t>(block_.size()));
        block_.clear();
    }
    std::uint64_t written() const { return written_; }

private:
    Archive& out_;
    std::string block_;
    std::uint64_t written_ = 0;
};

class ListingWriter {
public:
    explicit ListingWriter(Archive& out) : out_(out) {}

    void write(const BundleEntryMap& directory, const std::string& indent) {
        for (const auto& [name, entry] : directory) {
            text_ += indent;
            text_ += name;
            if (!entry.is_visible()) {
                text_ += " (NOT EXIST)\n";
            } else if (entry.directory) {
                text_ += "/\n";
                write(*entry.directory, indent + "    ");
            } else {
                text_ += entry.size == 0 ? " (NO DATA)\n" : "\n";
            }
            if (text_.size() >= BundleBuilder::copy_chunk)
                flush();
        }
    }

    void flush() {
        write_bytes(out_, text_.data(), static_cast<std::uint32_t>(text_.size()));
        text_.clear();
    }

private:
    Archive& out_;
    std::string text_;
};

}  // namespace

BundleEntry* BundleBuilder::find_or_create(FileSystem& fs, const std::string& source,
                                           const std::string& path) {
    BundleEntryMap::value_type* named = find_or_create_named(fs, source, path);
    return named == nullptr ? nullptr : &named->second;
}

BundleEntryMap::value_type* BundleBuilder::find_or_create_named(FileSystem& fs,
                                                                const std::string& source,
                                                                std::string_view path) {
    // The tail must be whole components: "x\data\a" with "data\a", never "xdata\a" with "data\a".
    const size_t prefix_length = source.size() - std::min(source.size(), path.size());
    if (path.size() > source.size() || source.compare(prefix_length, path.size(), path) != 0 ||
        (prefix_length > 0 && !path.empty() && !is_path_separator(source[prefix_length - 1]))) {
        throw std::runtime_error("Path and name must match: " + source + " and " +
                                 std::string(path));
    }
    // A directory reached before serves again when both paths agree up to their last component:
    // a walk adds a directory's files one after another, and a log names files all over the tree.
    const size_t name_start = find_last_separator(path) + 1;
    const size_t source_directory_length = prefix_length + name_start;
    index_.mutable_root();  // drops the index's lookups: the tree may change
    if (name_start > 0 && name_start < path.size()) {
        const std::string_view source_directory =
            std::string_view(source).substr(0, source_directory_length);
        if (last_directory_ == nullptr || last_directory_->first != source_directory) {
            const auto found = directories_.find(source_directory);
            if (found != directories_.end())
                last_directory_ = &*found;
        }
        const ReachedDirectory* reached =
            last_directory_ != nullptr && last_directory_->first == source_directory
                ? &last_directory_->second
                : nullptr;
        // The source ends in the bundle path, so the same source directory and the same length
        // of the bundle path's directory part mean the same bundle directory.
        if (reached != nullptr && name_start == reached->path_length) {
            const std::string_view name = std::string_view(path).substr(name_start);
            if (!is_valid_bundle_name(name)) {
                throw std::runtime_error("Cannot add " + source + " to a bundle: \"" +
                                         std::string(name) + "\" is not a valid name in a bundle");
            }
            if (reached->depth + 1 > BundleIndex::max_depth + 1u)
                throw too_deep(source);
            return &find_or_create_in(fs, *reached->directory, last_directory_->first, name, path);
        }
    }

    std::vector<std::string_view> components;
    for (size_t start = 0; start < path.size();) {
        const size_t end = std::min(find_separator(path, start), path.size());
        if (end > start)
            components.push_back(std::string_view(path).substr(start, end - start));
        start = end + 1;
    }
    for (const std::string_view component : components) {
        // A reader refuses such names as corrupt, so they are never written.
        if (!is_valid_bundle_name(component)) {
            throw std::runtime_error("Cannot add " + source + " to a bundle: \"" +
                                     std::string(component) + "\" is not a valid name in a bundle");
        }
    }
    if (components.size() > BundleIndex::max_depth + 1u)
        throw too_deep(source);

    // With a trailing separator the prefix joins by concatenation, and an absolute source's
    // leading separator survives even when nothing precedes the bundle path.
    std::string prefix =
        normalize_path(std::string_view(source).substr(0, prefix_length), true, true);
    BundleEntryMap* current = &index_.mutable_root();
    for (size_t index = 0; index < components.size(); ++index) {
        const std::string_view component = components[index];
        BundleEntryMap::value_type& named =
            find_or_create_in(fs, *current, prefix, component, path);
        if (index + 1 == components.size())
            return &named;
        BundleEntry& entry = named.second;
        if (!entry.is_visible() || !entry.directory)
            return nullptr;
        current = entry.directory.get();
        prefix += component;
        prefix += '\\';
        // Kept when its files' source prefix is the source directory itself, as it is for
        // canonical sources: the key then serves as the prefix.
        if (index + 2 == components.size() && name_start > 0 && name_start < path.size() &&
            source.compare(0, source_directory_length, prefix) == 0) {
            last_directory_ =
                &*directories_
                      .insert_or_assign(
                          prefix, ReachedDirectory{current, static_cast<std::uint32_t>(index + 1),
                                                   static_cast<std::uint32_t>(name_start)})
                      .first;
        }
    }
    return nullptr;
}

BundleEntryMap::value_type& BundleBuilder::find_or_create_in(FileSystem& fs,
                                                             BundleEntryMap& directory,
                                                             const std::string& prefix,
                                                             std::string_view name,
                                                             std::string_view path) {
    auto found = directory.find(name);
    if (found != directory.end())
        return *found;
    // Joined only here: most names are found, and a join is an allocation.
    const std::string full = concat(prefix, name);
    BundleEntry entry;
    const PathKind kind = fs.kind_of(full);
    if (kind == PathKind::missing) {
        log_detail << "  N/A " << path << std::endl;
        entry.visible = 0;
    } else if (kind == PathKind::directory) {
        entry.directory = std::make_unique<BundleEntryMap>();
    }
    return *directory.try_emplace(BundleName(name), std::move(entry)).first;
}

void BundleBuilder::add_job(BundleEntryMap::value_type& named, const std::string& source) {
    const std::string_view directory =
        std::string_view(source).substr(0, source.size() - named.first.size());
    if (job_directories_.empty() || job_directories_.back() != directory) {
        job_directories_.emplace_back(directory);
        job_directory_starts_.push_back(jobs_.size());
    }
    jobs_.push_back({&named});
}

std::string BundleBuilder::source_of(std::size_t job) const {
    const auto after =
        std::upper_bound(job_directory_starts_.begin(), job_directory_starts_.end(), job);
    const auto run = static_cast<std::size_t>(after - job_directory_starts_.begin()) - 1;
    return concat(job_directories_[run], jobs_[job].named->first);
}

std::runtime_error BundleBuilder::too_deep(const std::string& source) {
    return std::runtime_error("Cannot add " + source + " to a bundle: more than " +
                              std::to_string(BundleIndex::max_depth) + " directories deep");
}

void BundleBuilder::add_file(FileSystem& fs, const std::string& source, const std::string& path) {
    add_canonical_file(fs, normalize_path(source, false, true), normalize_path(path, false, false));
}

void BundleBuilder::add_canonical_file(FileSystem& fs, const std::string& source,
                                       std::string_view path) {
    BundleEntryMap::value_type* named = add_canonical_entry(fs, source, path);
    if (named != nullptr)
        add_file(fs, *named, source, path);
}

void BundleBuilder::add_file(FileSystem& fs, BundleEntryMap::value_type& named,
                             const std::string& source, std::string_view path) {
    BundleEntry& entry = named.second;
    if (!entry.is_visible() || entry.directory)
        return;
    if (!sizes_when_added_) {
        // The size comes with the open that copies the data; asking the disk for it now as well
        // cost a tenth of a build. A file named again keeps its first place when it has data; an
        // empty one takes the later place, so the job stays, but it opens nothing: bundle -L names
        // every logged file twice.
        if (entry.queued != 0)
            repeats_.push_back(jobs_.size());
        entry.queued = 1;
        add_job(named, source);
        return;
    }
    if (entry.size != 0)
        return;
    const auto size = static_cast<std::uint64_t>(fs.open(source, "r").size());
    log_detail << "  " << path << std::endl;
    check_size(source, size);
    entry.offset = round_up_to_4(data_size_);
    entry.size = static_cast<std::uint32_t>(size);
    data_size_ = entry.offset + entry.size;
    add_job(named, source);
}

BundleEntryMap::value_type* BundleBuilder::add_entry(FileSystem& fs, const std::string& source,
                                                     const std::string& path) {
    return add_canonical_entry(fs, normalize_path(source, false, true),
                               normalize_path(path, false, false));
}

BundleEntryMap::value_type* BundleBuilder::add_canonical_entry(FileSystem& fs,
                                                               const std::string& source,
                                                               std::string_view path) {
    assert(source == normalize_path(source, false, true) &&
           path == normalize_path(path, false, false));
    return find_or_create_named(fs, source, path);
}

void BundleBuilder::write_bundle(FileSystem& fs, const std::string& destination, int jobs) {
    index_.header() = BundleHeader();
    // The header must name the directory's end before the directory is written. Offsets and
    // sizes have fixed widths, so the size does not wait for the data.
    const std::uint64_t directory_size = index_.directory_size();
    if (directory_size > max_file_size)
        throw std::runtime_error("The bundle directory is larger than 4 GiB");
    index_.header().directory_end = static_cast<std::uint32_t>(directory_size);
    const std::uint64_t data_start = round_up_to_4(index_.header().directory_end);

    ReplacingFile file(destination);
    Archive& out = file.archive();
    if (sizes_when_added_) {
        write_directory(out, data_start);
        // The lines are due before given jobs; worked out in order before the copy starts.
        std::vector<std::pair<std::size_t, std::string>> progress;
        int last_percent = -1;
        for (std::size_t index = 0; index < jobs_.size(); ++index) {
            std::string line =
                bundle_progress_line(jobs_[index].entry().offset, data_size_, last_percent);
            if (!line.empty())
                progress.emplace_back(index, std::move(line));
        }
        // Declared after the file: the queue's threads are gone before the file is closed.
        JobQueue queue(jobs);
        const auto copy_one = [&](std::size_t index, SmallFileWriter& writer) {
            const auto line =
                std::lower_bound(progress.begin(), progress.end(), std::pair(index, std::string()));
            if (line != progress.end() && line->first == index)
                log_detail << line->second << std::endl;
            const Job& job = jobs_[index];
            const BundleEntry& entry = job.entry();
            // An empty file has nothing to copy.
            if (entry.size == 0)
                return;
            const std::string path = source_of(index);
            Archive source = fs.open(path, "r");
            // A size that moved since the file was added would leave the directory lying about it.
            if (static_cast<std::uint64_t>(source.size()) != entry.size) {
                throw std::runtime_error(
                    "File " + path +
                    " changed size while the bundle was built: " + std::to_string(entry.size) +
                    " bytes when added, " + std::to_string(source.size()) + " now");
            }
            const std::uint32_t done = writer.copy(source, data_start + entry.offset, entry.size);
            if (done != entry.size)
                throw ended_early(path, done, entry.size);
        };
        run_in_batches(queue, jobs_.size(), [&](std::size_t first, std::size_t last) {
            SmallFileWriter writer(out);
            for (std::size_t index = first; index < last; ++index)
                copy_one(index, writer);
            writer.flush();
        });
    } else {
        copy_placing(fs, out, data_start, jobs);
        // The directory, now knowing every place, goes in front of the data last. The rename at
        // commit keeps the order unseen.
        out.set_position(0);
        write_directory(out, data_start);
    }
    file.commit();
    if (progress_ != nullptr)
        progress_->finish();
}

void BundleBuilder::copy_placing(FileSystem& fs, Archive& out, std::uint64_t data_start, int jobs) {
    data_size_ = 0;
    // The bytes add up as the files are placed: measuring them all first cost a third of a build.
    if (progress_ != nullptr)
        progress_->start(jobs_.size(), Progress::unknown_bytes);
    Placement placement;
    JobQueue queue(jobs);
    run_in_batches(queue, jobs_.size(), [&](std::size_t first, std::size_t last) {
        try {
            // The batch's files are opened before its turn to be placed: the opens are what runs
            // side by side. A file's later jobs open nothing: its first job, placed before them,
            // settles whether it has data.
            std::vector<std::optional<Archive>> sources(last - first);
            std::vector<bool> repeat(last - first);
            for (auto at = std::lower_bound(repeats_.begin(), repeats_.end(), first);
                 at != repeats_.end() && *at < last; ++at)
                repeat[*at - first] = true;
            // A failed open ends the batch there, after the places before it, so that a fault
            // of an earlier file in the order is the one reported.
            std::exception_ptr failed;
            std::size_t opened = first;
            for (; opened < last; ++opened) {
                if (repeat[opened - first])
                    continue;
                try {
                    sources[opened - first] = fs.open(source_of(opened), "r");
                } catch (...) {
                    failed = std::current_exception();
                    break;
                }
            }
            std::vector<bool> copy(last - first);
            if (!placement.place(first, last, [&] {
                    for (std::size_t index = first; index < opened; ++index) {
                        const Job& job = jobs_[index];
                        BundleEntry& entry = job.entry();
                        if (entry.size != 0)
                            continue;
                        if (repeat[index - first]) {
                            entry.offset = round_up_to_4(data_size_);
                            data_size_ = entry.offset;
                            continue;
                        }
                        const auto size =
                            static_cast<std::uint64_t>(sources[index - first]->size());
                        // The name is made only for the message: a string per file showed.
                        if (size > max_file_size)
                            check_size(source_of(index), size);
                        entry.offset = round_up_to_4(data_size_);
                        entry.size = static_cast<std::uint32_t>(size);
                        data_size_ = entry.offset + entry.size;
                        copy[index - first] = entry.size != 0;
                    }
                    if (failed)
                        std::rethrow_exception(failed);
                })) {
                return;
            }
            SmallFileWriter writer(out);
            for (std::size_t index = first; index < last; ++index) {
                const Job& job = jobs_[index];
                const BundleEntry& entry = job.entry();
                if (copy[index - first]) {
                    const std::uint32_t done =
                        writer.copy(*sources[index - first], data_start + entry.offset, entry.size);
                    if (done != entry.size)
                        throw ended_early(source_of(index), done, entry.size);
                    // Closed as soon as copied: the batch's other files stay open only as long
                    // as they must.
                    sources[index - first].reset();
                }
                if (progress_ != nullptr)
                    progress_->advance(1, copy[index - first] ? entry.size : 0);
            }
            writer.flush();
        } catch (...) {
            if (!placement.placed(first))
                placement.fail(first);
            throw;
        }
    });
}

void BundleBuilder::write_directory(Archive& out, std::uint64_t data_start) const {
    auto blocks = std::make_shared<BlockWriter>(out);
    Archive directory("bundle directory", blocks, 0, 0, true);
    index_.write_header(directory);
    index_.write_directory(directory, data_start);
    blocks->flush();
    if (blocks->written() != index_.header().directory_end)
        throw ErrorWithCStack("The bundle directory came out at another size than measured");
}

void BundleBuilder::check_size(const std::string& source, std::uint64_t size) {
    // The format keeps sizes in 32 bits: a larger file would be written with a wrong size.
    if (size > max_file_size) {
        throw std::runtime_error("File " + source +
                                 " is too large for a bundle: " + std::to_string(size) +
                                 " bytes, at most " + std::to_string(max_file_size) + " fit");
    }
}

void BundleBuilder::write_listing(const std::string& destination) const {
    ReplacingFile file(destination);
    ListingWriter writer(file.archive());
    writer.write(index_.root(), std::string());
    writer.flush();
    file.commit();
}

std::string bundle_progress_line(std::uint64_t offset, std::uint64_t total, int& last_percent) {
    // Nothing to measure against when every file is empty.
    if (total == 0)
        return std::string();
    const int percent =
        static_cast<int>(100.0 * static_cast<double>(offset) / static_cast<float>(total));
    if (percent <= last_percent)
        return std::string();
    last_percent = percent;
    return "Writing bundle " + std::to_string(percent) + " %  (" +
           std::to_string(offset / 1000000) + "/" + std::to_string(total / 1000000) + " MB)";
}

}  // namespace kam
