// Byte stores and the bounds-checked archive every file's content is read and written through.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "utility/errors.h"
#include "utility/platform/files.h"

namespace kam {

// A random-access byte store addressed by 64-bit offsets.
class DataStore {
public:
    virtual ~DataStore() = default;
    // Writes count bytes at offset; returns the count written.
    virtual std::uint32_t write(std::uint64_t offset, const void* data, std::uint32_t count) = 0;
    // Reads up to count bytes at offset; returns the count read (short at the end).
    virtual std::uint32_t read(std::uint64_t offset, void* buffer, std::uint32_t count) = 0;
};

// A read-only view of memory the caller owns and keeps alive.
class ConstMemoryDataStore : public DataStore {
public:
    ConstMemoryDataStore(const void* bytes, std::uint32_t size) : bytes_(bytes), size_(size) {}
    // Throws ErrorWithCStack "Cant write to const memmory data store".
    std::uint32_t write(std::uint64_t offset, const void* data, std::uint32_t count) override;
    std::uint32_t read(std::uint64_t offset, void* buffer, std::uint32_t count) override;

private:
    const void* bytes_;
    std::uint32_t size_;
};

// Keeps every byte written in memory, growing as needed, so that a file can be built whole before
// it goes out in one write. Unwritten bytes below the end read as zero; reads are short at the end.
class MemoryDataStore : public DataStore {
public:
    std::uint32_t write(std::uint64_t offset, const void* data, std::uint32_t count) override;
    std::uint32_t read(std::uint64_t offset, void* buffer, std::uint32_t count) override;
    const std::string& bytes() const { return bytes_; }
    // Room for the bytes to come, when their count is known: growing doubles the memory.
    void reserve(std::size_t count) { bytes_.reserve(count); }

private:
    std::string bytes_;
};

// Keeps no bytes: measures how far writes reach.
class NullDataStore : public DataStore {
public:
    std::uint32_t write(std::uint64_t offset, const void* data, std::uint32_t count) override;
    // Throws ErrorWithCStack "Cant read from null data store".
    std::uint32_t read(std::uint64_t offset, void* buffer, std::uint32_t count) override;
    std::uint64_t size() const { return size_; }

private:
    std::uint64_t size_ = 0;
};

// A disk file.
class FileDataStoreBase : public DataStore {
public:
    virtual bool is_open() const = 0;
    virtual std::uint64_t size() = 0;
};

// A disk file read and written synchronously.
class FileDataStore : public FileDataStoreBase {
public:
    // Opens the file with the Windows creation disposition, access rights and share mode of
    // platform/files.h. Throws DiskError "Cannot open " + path + " with create mode: 0x3, access:
    // 0x80000000, share_mode: 0x1" (with the values given) when it cannot. opened, when given,
    // receives what opening learnt of the file, which saves asking for its size again.
    FileDataStore(const std::string& path, std::uint32_t creation, std::uint32_t access,
                  std::uint32_t share, platform::FileStatus* opened = nullptr);
    // "Cannot open " + path + " with create mode: ..." as the constructor throws it.
    static std::string open_failure(const std::string& path, std::uint32_t creation,
                                    std::uint32_t access, std::uint32_t share);
    // Takes over a file opened with platform::open_file.
    FileDataStore(platform::FileHandle file, const std::string& path) : file_(file), path_(path) {}
    ~FileDataStore() override;
    FileDataStore(const FileDataStore&) = delete;
    FileDataStore& operator=(const FileDataStore&) = delete;

    // Throw DiskError "Cannot write to file " / "Cannot read from file " + path on failure.
    std::uint32_t write(std::uint64_t offset, const void* data, std::uint32_t count) override;
    std::uint32_t read(std::uint64_t offset, void* buffer, std::uint32_t count) override;
    bool is_open() const override { return file_ != platform::invalid_file; }
    // Throws ErrorWithCStack "GetFileSizeEx() failed with returncode " + code + ", path: " + path.
    std::uint64_t size() override;

    const std::string& path() const { return path_; }
    // For copies that stay inside the system (platform::copy_between_files).
    platform::FileHandle handle() const { return file_; }

private:
    platform::FileHandle file_ = platform::invalid_file;
    std::string path_;
};

// A named, positioned window onto a shared DataStore, with bound checks. Copies and
// sub-archives share the store; the last one to go deletes it.
class Archive {
public:
    enum Origin { from_start = 0, from_current = 1, from_end = 2 };

    // An archive without a store: empty name, growable, everything 0. File systems hand it out
    // for files they cannot open.
    Archive() = default;
    // Takes the store into shared ownership (a std::unique_ptr converts); position 0.
    Archive(std::string name, std::shared_ptr<DataStore> store, std::uint64_t base,
            std::int64_t size, bool growable);
    // A sub-archive: same name and store, base = parent's base + offset, position 0. Unless the
    // parent is growable, it must be bounded and lie inside the parent, else std::range_error
    // "Attempt to grow archive " + name + " beyond limits".
    Archive(const Archive& parent, std::int64_t offset, std::int64_t size, bool growable);

    // Moves to offset from the start, from the current position or back from the end. A
    // bounded archive refuses positions past its end with std::range_error
    // "Archive::set_position() Attempt to seek past end of archive '" + name + "'"; every
    // archive refuses positions before its start. The size grows to a position beyond it.
    void set_position(std::int64_t offset, int origin = from_start);
    // A bounded archive refuses writing past its end with std::range_error
    // "Archive::checked_write() Attempt to write past end of archive '" + name + "'".
    std::uint32_t checked_write(const void* data, std::uint32_t count);
    // A bounded archive refuses reading past its end with std::range_error
    // "Archive::checked_read() Attempt to read past end of archive '" + name + "'". Returns the
    // count read, short only when the store ends first.
    std::uint32_t checked_read(void* buffer, std::uint32_t count);
    // Reads bytes up to a zero byte or the end of the archive, 512 at a time; the position moves
    // past the zero and stays within the size.
    void read_string(std::string& out);
    // Reads up to a line feed or the end of the archive; a carriage return before the line feed
    // is dropped; the position moves past the line feed.
    void read_line(std::string& out);

    const std::string& name() const { return name_; }
    // Names a sub-archive after what it holds once its bounds were checked under the parent's name.
    void set_name(std::string name) { name_ = std::move(name); }
    DataStore* store() const { return store_.get(); }
    bool has_store() const { return store_ != nullptr; }
    std::uint64_t base() const { return base_; }
    std::int64_t size() const { return size_; }
    std::int64_t position() const { return position_; }
    // Bytes between the position and the end; 0 when the position is at or past the end.
    std::int64_t remaining() const { return position_ < size_ ? size_ - position_ : 0; }
    bool growable() const { return growable_; }

private:
    // Reads for read_string and read_line: the store's count, 0 without a store.
    std::uint32_t read_store(std::uint64_t offset, void* buffer, std::uint32_t count);

    std::string name_;
    std::shared_ptr<DataStore> store_;
    std::uint64_t base_ = 0;
    std::int64_t size_ = 0;
    std::int64_t position_ = 0;
    bool growable_ = true;
};

// Data is copied through a buffer of this size, so memory stays bounded whatever the files;
// 256 KiB copied a 1 GiB tree from the page cache faster than 64 KiB or 1 MiB did.
constexpr std::uint32_t copy_chunk = 1u << 18;

// Copies size bytes from source's position to position in out: file to file inside the system
// when both are files, else through a buffer of at most copy_chunk bytes. Writes to out's store
// at given places and never moves out's position, so that jobs may copy into one archive at
// once. Returns the count copied, short only when source ends first. Throws ErrorWithCStack
// "Cannot write to archive " + out's name when out takes fewer bytes.
std::uint32_t copy_data(Archive& source, Archive& out, std::uint64_t position, std::uint32_t size);
// Writes count bytes at position in out, leaving its position alone, as copy_data does; throws
// as copy_data.
void write_at(Archive& out, std::uint64_t position, const void* data, std::uint32_t count);

}  // namespace kam
