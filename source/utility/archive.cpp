// Byte stores and the bounds-checked archive.
#include "utility/archive.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <vector>

#include "utility/platform/error_text.h"

namespace kam {

std::uint32_t ConstMemoryDataStore::write(std::uint64_t, const void*, std::uint32_t) {
    throw ErrorWithCStack("Cant write to const memmory data store");
}

std::uint32_t ConstMemoryDataStore::read(std::uint64_t offset, void* buffer, std::uint32_t count) {
    if (offset >= size_)
        return 0;
    const auto available = static_cast<std::uint32_t>(size_ - offset);
    const std::uint32_t copied = std::min(count, available);
    std::memcpy(buffer, static_cast<const unsigned char*>(bytes_) + offset, copied);
    return copied;
}

std::uint32_t MemoryDataStore::write(std::uint64_t offset, const void* data, std::uint32_t count) {
    if (count == 0)
        return 0;  // an empty string may come without storage
    if (bytes_.size() < offset + count)
        bytes_.resize(offset + count);
    std::memcpy(bytes_.data() + offset, data, count);
    return count;
}

std::uint32_t MemoryDataStore::read(std::uint64_t offset, void* buffer, std::uint32_t count) {
    if (offset >= bytes_.size())
        return 0;
    const auto available =
        static_cast<std::uint32_t>(std::min<std::uint64_t>(count, bytes_.size() - offset));
    std::memcpy(buffer, bytes_.data() + offset, available);
    return available;
}

std::uint32_t NullDataStore::write(std::uint64_t offset, const void*, std::uint32_t count) {
    size_ = std::max(size_, offset + count);
    return count;
}

std::uint32_t NullDataStore::read(std::uint64_t, void*, std::uint32_t) {
    throw ErrorWithCStack("Cant read from null data store");
}

FileDataStore::FileDataStore(const std::string& path, std::uint32_t creation, std::uint32_t access,
                             std::uint32_t share, platform::FileStatus* opened)
    : path_(path) {
    file_ = platform::open_file(path, creation, access, share, false, opened);
    if (file_ == platform::invalid_file) {
        const std::uint32_t error = platform::last_error();
        throw DiskError(open_failure(path, creation, access, share), error);
    }
}

std::string FileDataStore::open_failure(const std::string& path, std::uint32_t creation,
                                        std::uint32_t access, std::uint32_t share) {
    return "Cannot open " + path + " with create mode: " + hex(creation) +
           ", access: " + hex(access) + ", share_mode: " + hex(share);
}

FileDataStore::~FileDataStore() {
    platform::close_file(file_);
}

std::uint32_t FileDataStore::write(std::uint64_t offset, const void* data, std::uint32_t count) {
    if (count == 0)
        return 0;
    std::uint32_t done = 0;
    if (!platform::write_file_at(file_, offset, data, count, done)) {
        throw DiskError("Cannot write to file " + path_, platform::last_error());
    }
    return done;
}

std::uint32_t FileDataStore::read(std::uint64_t offset, void* buffer, std::uint32_t count) {
    std::uint32_t done = 0;
    if (!platform::read_file_at(file_, offset, buffer, count, done)) {
        throw DiskError("Cannot read from file " + path_, platform::last_error());
    }
    return done;
}

std::uint64_t FileDataStore::size() {
    std::uint64_t size = 0;
    if (!platform::file_size(file_, size)) {
        throw ErrorWithCStack("GetFileSizeEx() failed with returncode " +
                              std::to_string(platform::last_error()) + ", path: " + path_);
    }
    return size;
}

Archive::Archive(std::string name, std::shared_ptr<DataStore> store, std::uint64_t base,
                 std::int64_t size, bool growable)
    : name_(std::move(name)),
      store_(std::move(store)),
      base_(base),
      size_(size),
      growable_(growable) {}

Archive::Archive(const Archive& parent, std::int64_t offset, std::int64_t size, bool growable)
    : name_(parent.name_),
      store_(parent.store_),
      base_(parent.base_ + static_cast<std::uint64_t>(offset)),
      size_(size),
      growable_(growable) {
    std::int64_t end = 0;
    // Offsets and sizes come from files that may lie: negative values and overflow are refused
    // like any other reach beyond the parent.
    const bool outside = offset < 0 || size < 0 || __builtin_add_overflow(offset, size, &end) ||
                         (!parent.growable_ && (growable || end > parent.size_));
    if (outside)
        throw std::range_error("Attempt to grow archive " + name_ + " beyond limits");
}

void Archive::set_position(std::int64_t offset, int origin) {
    std::int64_t target = offset;
    bool overflow = false;
    if (origin == from_current)
        overflow = __builtin_add_overflow(position_, offset, &target);
    if (origin == from_end)
        overflow = __builtin_sub_overflow(size_, offset, &target);
    if (!overflow && target < 0) {
        throw std::range_error("Archive::set_position() Attempt to seek before start of archive '" +
                               name_ + "'");
    }
    if (overflow || (!growable_ && target > size_)) {
        throw std::range_error("Archive::set_position() Attempt to seek past end of archive '" +
                               name_ + "'");
    }
    position_ = target;
    if (position_ > size_)
        size_ = position_;
}

std::uint32_t Archive::checked_write(const void* data, std::uint32_t count) {
    if (!growable_ && position_ + static_cast<std::int64_t>(count) > size_) {
        throw std::range_error("Archive::checked_write() Attempt to write past end of archive '" +
                               name_ + "'");
    }
    if (!store_)
        return 0;
    const std::uint32_t written =
        store_->write(base_ + static_cast<std::uint64_t>(position_), data, count);
    position_ += written;
    if (position_ > size_)
        size_ = position_;
    return written;
}

std::uint32_t Archive::checked_read(void* buffer, std::uint32_t count) {
    if (!growable_ && position_ + static_cast<std::int64_t>(count) > size_) {
        throw std::range_error("Archive::checked_read() Attempt to read past end of archive '" +
                               name_ + "'");
    }
    if (!store_)
        return 0;
    const std::uint32_t read =
        store_->read(base_ + static_cast<std::uint64_t>(position_), buffer, count);
    position_ += read;
    return read;
}

std::uint32_t Archive::read_store(std::uint64_t offset, void* buffer, std::uint32_t count) {
    return store_ ? store_->read(offset, buffer, count) : 0;
}

void Archive::read_string(std::string& out) {
    constexpr std::uint32_t chunk = 512;
    out.clear();
    const std::uint64_t start = base_ + static_cast<std::uint64_t>(position_);
    const std::int64_t available = remaining();
    size_t length = 0;
    while (static_cast<std::int64_t>(length) < available) {
        const auto wanted =
            static_cast<std::uint32_t>(std::min<std::int64_t>(chunk, available - length));
        out.resize(length + wanted);
        const std::uint32_t got = read_store(start + length, &out[length], wanted);
        const void* zero = std::memchr(&out[length], 0, got);
        if (zero != nullptr) {
            length = static_cast<size_t>(static_cast<const char*>(zero) - out.data());
            break;
        }
        length += got;
        if (got < wanted)
            break;  // the store ended before the archive did
    }
    out.resize(length);
    position_ += static_cast<std::int64_t>(length) + 1;
    if (position_ > size_)
        position_ = size_;
}

void Archive::read_line(std::string& out) {
    constexpr std::uint32_t chunk = 512;
    out.clear();
    const std::uint64_t start = base_ + static_cast<std::uint64_t>(position_);
    const std::int64_t available = remaining();
    size_t length = 0;
    bool ended = false;  // by a line feed
    // A zero byte inside a line is kept as an ordinary byte.
    while (static_cast<std::int64_t>(length) < available) {
        const auto wanted =
            static_cast<std::uint32_t>(std::min<std::int64_t>(chunk, available - length));
        out.resize(length + wanted);
        const std::uint32_t got = read_store(start + length, &out[length], wanted);
        const void* feed = std::memchr(&out[length], '\n', got);
        if (feed != nullptr) {
            length = static_cast<size_t>(static_cast<const char*>(feed) - out.data());
            ended = true;
            break;
        }
        length += got;
        if (got < wanted)
            break;  // the store ended before the archive did
    }
    out.resize(length);
    position_ += static_cast<std::int64_t>(length) + 1;
    if (ended && !out.empty() && out.back() == '\r')
        out.pop_back();
    if (position_ > size_)
        position_ = size_;
}

std::uint32_t copy_data(Archive& source, Archive& out, std::uint64_t position, std::uint32_t size) {
    // File to file the kernel copies the bytes once instead of twice through the buffer;
    // whatever it could not copy goes through the buffer.
    std::uint32_t done = 0;
    const auto* from = dynamic_cast<const FileDataStore*>(source.store());
    const auto* to = dynamic_cast<const FileDataStore*>(out.store());
    if (from != nullptr && to != nullptr && size > 0) {
        const auto start = static_cast<std::uint64_t>(source.position());
        platform::copy_between_files(from->handle(), source.base() + start, to->handle(),
                                     out.base() + position, size, done);
        source.set_position(static_cast<std::int64_t>(start + done));
    }
    // Allocated per call, and only as large as needed: most files are copied above, and jobs
    // copying at once must not share it.
    std::vector<char> buffer;
    while (done < size) {
        if (buffer.empty())
            buffer.resize(std::min(size - done, copy_chunk));
        const std::uint32_t wanted =
            std::min<std::uint32_t>(size - done, static_cast<std::uint32_t>(buffer.size()));
        const std::uint32_t got = source.checked_read(buffer.data(), wanted);
        if (got == 0)
            break;
        write_at(out, position + done, buffer.data(), got);
        done += got;
    }
    return done;
}

void write_at(Archive& out, std::uint64_t position, const void* data, std::uint32_t count) {
    if (out.store() == nullptr || out.store()->write(out.base() + position, data, count) != count)
        throw ErrorWithCStack("Cannot write to archive " + out.name());
}

}  // namespace kam
