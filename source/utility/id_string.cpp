// The process-wide table of interned strings.
#include "utility/id_string.h"

#include <cstdlib>
#include <new>

namespace kam {

IdStringTable& IdStringTable::instance() {
    static IdStringTable table;
    return table;
}

IdStringTable::IdStringTable() : slots_(initial_slots, -1) {
    // Raw room for the first entries, each constructed when its id is handed out: every command
    // creates the table during start-up, and constructing 170000 strings at once would touch
    // megabytes that most runs never use.
    first_chunk_ =
        static_cast<std::string*>(::operator new(sizeof(std::string) * initial_capacity));
    capacity_ = initial_capacity;
    intern(std::string_view());
}

IdStringTable::~IdStringTable() {
    for (std::int32_t i = 0; i < constructed_; ++i)
        first_chunk_[i].~basic_string();
    ::operator delete(first_chunk_);
}

std::uint32_t IdStringTable::hash(std::string_view text) {
    std::uint32_t h = 0;
    for (char c : text) {
        if (c == '\0')
            break;
        h = h * 65599u +
            static_cast<std::uint32_t>(static_cast<std::int32_t>(static_cast<signed char>(c)));
    }
    const std::int32_t s = static_cast<std::int32_t>(h);
    h = h + static_cast<std::uint32_t>(s >> 5);
    const std::int32_t result = static_cast<std::int32_t>(h);
    // -2^31 has no positive counterpart; as unsigned it still reduces to a slot inside the table.
    if (result == INT32_MIN)
        return 0x80000000u;
    return static_cast<std::uint32_t>(std::abs(result));
}

std::string& IdStringTable::entry(IdString id) const {
    const auto index = static_cast<std::uint32_t>(id);
    if (index < static_cast<std::uint32_t>(initial_capacity)) {
        return first_chunk_[index];
    }
    const std::uint32_t rest = index - initial_capacity;
    return later_chunks_.load(std::memory_order_acquire)[rest / growth_step].load(
        std::memory_order_acquire)[rest % growth_step];
}

std::int32_t IdStringTable::find_slot(std::string_view text) const {
    const auto count = static_cast<std::uint32_t>(slots_.size());
    std::uint32_t slot = hash(text) % count;
    while (slots_[slot] != -1 && entry(slots_[slot]) != text)
        slot = (slot + 1) % count;
    return static_cast<std::int32_t>(slot);
}

IdString IdStringTable::find(std::string_view text) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return find_locked(text);
}

IdString IdStringTable::find_locked(std::string_view text) const {
    if (slots_.empty())
        return -1;
    return slots_[static_cast<size_t>(find_slot(text))];
}

void IdStringTable::grow_index() {
    const auto new_count = 11 + static_cast<std::int32_t>(static_cast<float>(slots_.size()) * 1.2f);
    std::vector<IdString> old = std::move(slots_);
    slots_.assign(static_cast<size_t>(new_count), -1);
    occupied_ = 0;
    for (IdString id : old) {
        if (id != -1)
            place(id);
    }
}

void IdStringTable::place(IdString id) {
    if (occupied_ + 1 > static_cast<std::int32_t>(slots_.size()) / 2)
        grow_index();
    const auto slot = static_cast<size_t>(find_slot(entry(id)));
    if (slots_[slot] == -1)
        ++occupied_;
    slots_[slot] = id;
}

IdString IdStringTable::intern(std::string_view text) {
    std::lock_guard<std::mutex> lock(mutex_);
    const IdString found = find_locked(text);
    if (found != -1)
        return found;
    const IdString id = used_;
    if (id == capacity_) {
        const size_t chunk = static_cast<size_t>(capacity_ - initial_capacity) / growth_step;
        if (chunk >= max_later_chunks)
            throw std::length_error("Id string table is full");
        if (!later_chunk_table_) {
            later_chunk_table_.reset(new std::atomic<std::string*>[max_later_chunks]());
            later_chunks_.store(later_chunk_table_.get(), std::memory_order_release);
        }
        owned_chunks_.emplace_back(new std::string[growth_step]);
        later_chunk_table_[chunk].store(owned_chunks_.back().get(), std::memory_order_release);
        capacity_ += growth_step;
    }
    if (id == constructed_ && id < initial_capacity) {
        new (first_chunk_ + id) std::string();
        ++constructed_;
    }
    entry(id).assign(text);
    place(id);
    ++used_;
    return id;
}

const std::string& IdStringTable::string_of(IdString id) const {
    return entry(id);
}

namespace ids {
const IdString text = intern("#text");
const IdString xdefine = intern("xdefine");
const IdString value = intern("value");
const IdString expression = intern("expression");
const IdString href = intern("href");
const IdString parse = intern("parse");
const IdString path = intern("path");
const IdString dir = intern("dir");
const IdString open = intern("open");
const IdString exists = intern("exists");
const IdString is_dir = intern("is_dir");
const IdString list = intern("list");
const IdString pattern = intern("pattern");
const IdString directories = intern("directories");
}  // namespace ids

}  // namespace kam
