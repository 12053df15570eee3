// Scopes of a script program and the resolution of names to slots.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "utility/string_hash.h"

namespace kam::script {

enum class ScopeKind : std::int32_t { global = 0, class_body = 1, function = 2, block = 3 };

// Entry kinds; 2 is reserved and treated like an object.
namespace entry {
enum : std::int32_t { object = 1, function = 3, class_entry = 4, import = 5 };
}

struct ScopeEntry {
    std::int32_t kind;
    std::string name;
};

// Names declared in one scope, numbered from 0 in declaration order.
class Scope {
public:
    Scope(ScopeKind kind, Scope* parent) : kind_(kind), parent_(parent) {}
    // Empties the scope for a new place, keeping its storage.
    void reuse(ScopeKind kind, Scope* parent) {
        kind_ = kind;
        parent_ = parent;
        entries_.clear();
        index_.clear();
    }

    ScopeKind kind() const { return kind_; }
    Scope* parent() const { return parent_; }
    bool is_local() const { return kind_ == ScopeKind::function || kind_ == ScopeKind::block; }

    // The entry number of the name, or -1.
    std::int32_t find(std::string_view name) const;
    // Adds the name; false, adding nothing, when it is taken.
    bool declare(std::int32_t kind, std::string_view name);
    const std::vector<ScopeEntry>& entries() const { return entries_; }
    std::int32_t size() const { return static_cast<std::int32_t>(entries_.size()); }

    // Entries of this scope and of every enclosing function and block scope; 0 when not local.
    std::int32_t local_total() const;

private:
    // Small scopes are searched directly; the index is built once a scope grows.
    static constexpr size_t index_threshold = 8;

    ScopeKind kind_;
    Scope* parent_;
    std::vector<ScopeEntry> entries_;
    std::unordered_map<std::string, std::int32_t, StringHash, std::equal_to<>> index_;
};

struct Resolution {
    enum class Place { local, member, global, not_found } place = Place::not_found;
    std::int32_t slot = -1;
    std::int32_t entry_kind = 0;
};

// Where a name is a local now: the scope that declares it, nearest first, with its entry number
// there. Else the first scope up that is not local (or null), with -1.
struct LocalLookup {
    const Scope* scope;
    std::int32_t number;
};
LocalLookup find_local(const Scope* scope, std::string_view name);

// Where a name lives, from what find_local said when the use was read: that local, else the
// nearest class, else the global scope.
Resolution resolve(const LocalLookup& found, std::string_view name);

// A name as written at one place. Locals must be declared before; members and globals are
// looked up when the scopes are complete. The name is not copied and must outlive the use.
class NameUse {
public:
    NameUse(const std::string& name, const Scope* scope)
        : name_(name), found_(find_local(scope, name)) {}
    const std::string& name() const { return name_; }
    Resolution resolve() const { return kam::script::resolve(found_, name_); }

private:
    const std::string& name_;
    LocalLookup found_;
};

}  // namespace kam::script
