// Interned byte strings: each distinct string is stored once and named by a dense integer id.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace kam {

// Index of an interned string; 0 is the empty string, -1 means "none".
using IdString = std::int32_t;

class IdStringTable {
public:
    static constexpr std::int32_t initial_capacity = 170000;
    static constexpr std::int32_t growth_step = 65536;
    static constexpr std::int32_t initial_slots = 1000;

    // The process-wide table, created (with the empty string as id 0) on first use.
    static IdStringTable& instance();

    // The id of the string, adding it when new. Thread-safe.
    IdString intern(std::string_view text);
    // The id of the string, or -1 when it was never interned.
    IdString find(std::string_view text) const;
    // The stored string of an id that intern handed out. The reference stays valid for the process.
    const std::string& string_of(IdString id) const;

    std::int32_t size() const { return used_; }
    std::int32_t capacity() const { return capacity_; }
    std::int32_t index_slots() const { return static_cast<std::int32_t>(slots_.size()); }

    // The hash's absolute value; bytes count as signed, hashing stops at the first zero byte.
    static std::uint32_t hash(std::string_view text);

    IdStringTable();
    ~IdStringTable();
    IdStringTable(const IdStringTable&) = delete;
    IdStringTable& operator=(const IdStringTable&) = delete;

private:
    // Entries live in chunks that never move, so string_of references survive growth.
    static constexpr size_t max_later_chunks = 32767;

    std::string& entry(IdString id) const;
    IdString find_locked(std::string_view text) const;
    std::int32_t find_slot(std::string_view text) const;
    void place(IdString id);
    void grow_index();

    std::int32_t used_ = 0;
    std::int32_t capacity_ = 0;
    std::vector<IdString> slots_;
    std::int32_t occupied_ = 0;
    // The first initial_capacity entries: raw storage whose first constructed_ entries are
    // strings, set once by the constructor.
    std::string* first_chunk_ = nullptr;
    std::int32_t constructed_ = 0;
    // The chunks of growth_step entries after it, and the table of them, made at the first growth.
    std::atomic<std::atomic<std::string*>*> later_chunks_{nullptr};
    std::unique_ptr<std::atomic<std::string*>[]> later_chunk_table_;
    std::vector<std::unique_ptr<std::string[]>> owned_chunks_;
    mutable std::mutex mutex_;
};

inline IdString intern(std::string_view text) {
    return IdStringTable::instance().intern(text);
}
inline const std::string& string_of(IdString id) {
    return IdStringTable::instance().string_of(id);
}

// Names the tool's own code looks up; interned during static initialisation.
namespace ids {
extern const IdString text;  // "#text"
extern const IdString xdefine;
extern const IdString value;
extern const IdString expression;
extern const IdString href;
extern const IdString parse;
extern const IdString path;
extern const IdString dir;
extern const IdString open;
extern const IdString exists;
extern const IdString is_dir;
extern const IdString list;
extern const IdString pattern;
extern const IdString directories;
}  // namespace ids

}  // namespace kam
