// A read-only disk file read through a small ring of blocks filled ahead of the reader.
#pragma once

#include <algorithm>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "utility/archive.h"

namespace kam {

// Keeps a window of consecutive blocks of the file in a ring and, after every read that takes no
// whole block, starts one asynchronous read of the blocks that follow, so that a sequential reader
// finds its next block already read. Whole blocks that are not at hand are read straight into the
// caller's buffer. One read at most is in flight. Safe to read from several threads at once.
class CachedFileDataStore : public FileDataStoreBase {
public:
    // Opens the file for reading. Throws DiskError "Cannot open cache " + path or "Cannot get
    // file size on cache " + path.
    CachedFileDataStore(const std::string& path, std::uint32_t cache_kib, std::uint32_t block_kib);
    // Waits for a read still in flight.
    ~CachedFileDataStore() override;
    CachedFileDataStore(const CachedFileDataStore&) = delete;
    CachedFileDataStore& operator=(const CachedFileDataStore&) = delete;

    // Ignores the data and returns 0.
    std::uint32_t write(std::uint64_t offset, const void* data, std::uint32_t count) override;
    // Returns count, or less where the file ends. Throws DiskError "Cannot start io request" or
    // "Cannot complete pending io request" when the disk fails.
    std::uint32_t read(std::uint64_t offset, void* buffer, std::uint32_t count) override;
    bool is_open() const override { return file_ != platform::invalid_file; }
    std::uint64_t size() override { return file_size_; }

    int ring_blocks() const { return ring_blocks_; }

private:
    bool is_cached(std::uint64_t block) const {
        return block >= first_block_ && block < first_block_ + static_cast<std::uint64_t>(valid_);
    }
    int slot_of(std::uint64_t block) const {
        return static_cast<int>((static_cast<std::uint64_t>(ring_start_) + (block - first_block_)) %
                                static_cast<std::uint64_t>(ring_blocks_));
    }
    bool in_flight(std::uint64_t block) const {
        return in_flight_ && block >= flight_block_ &&
               block < flight_block_ + static_cast<std::uint64_t>(flight_count_);
    }
    // Whether [offset, end) holds all of the block's bytes in the file.
    bool covers(std::uint64_t block, std::uint64_t offset, std::uint64_t end) const {
        const auto block_size = static_cast<std::uint64_t>(block_size_);
        return block * block_size >= offset &&
               std::min((block + 1) * block_size, file_size_) <= end;
    }
    bool goes_direct(std::uint64_t block, std::uint64_t offset, std::uint64_t end) const {
        return covers(block, offset, end) && !is_cached(block) && !in_flight(block);
    }
    unsigned char* slot_bytes(int slot) {
        return ring_.data() + static_cast<size_t>(slot) * block_size_;
    }
    void make_cached(std::uint64_t block, std::uint64_t wanted);
    // Drops the blocks before last - 1 from the window and starts the read-ahead of wanted blocks.
    void settle_window(std::uint64_t last, std::uint64_t wanted);
    void finish_flight();
    void read_ahead(std::uint64_t wanted);

    platform::FileHandle file_ = platform::invalid_file;
    std::string path_;
    std::uint64_t file_size_ = 0;
    std::int32_t block_size_ = 0;
    std::int32_t ring_blocks_ = 0;
    std::vector<unsigned char> ring_;
    int ring_start_ = 0;             // slot of first_block_
    std::uint64_t first_block_ = 0;  // first block of the window
    int valid_ = 0;                  // blocks in the window
    bool in_flight_ = false;
    std::uint64_t flight_block_ = 0;
    int flight_slot_ = 0;
    int flight_count_ = 0;
    platform::AsyncRead flight_;
    std::mutex mutex_;
};

}  // namespace kam
