// Declaration and lookup of names in nested scopes.
#include "script/scope.h"

namespace kam::script {

std::int32_t Scope::find(std::string_view name) const {
    if (entries_.size() < index_threshold) {
        for (size_t i = 0; i < entries_.size(); ++i) {
            if (entries_[i].name == name)
                return static_cast<std::int32_t>(i);
        }
        return -1;
    }
    const auto found = index_.find(name);
    return found == index_.end() ? -1 : found->second;
}

bool Scope::declare(std::int32_t kind, std::string_view name) {
    if (find(name) >= 0)
        return false;
    // Most scopes declare a few names: one allocation instead of one per doubling.
    if (entries_.capacity() == 0)
        entries_.reserve(4);
    entries_.push_back(ScopeEntry{kind, std::string(name)});
    if (entries_.size() == index_threshold) {
        for (size_t i = 0; i < entries_.size(); ++i)
            index_.emplace(entries_[i].name, static_cast<std::int32_t>(i));
    } else if (entries_.size() > index_threshold) {
        index_.emplace(entries_.back().name, size() - 1);
    }
    return true;
}

std::int32_t Scope::local_total() const {
    std::int32_t total = 0;
    for (const Scope* scope = this; scope != nullptr && scope->is_local(); scope = scope->parent_) {
        total += scope->size();
    }
    return total;
}

LocalLookup find_local(const Scope* scope, std::string_view name) {
    for (; scope != nullptr && scope->is_local(); scope = scope->parent()) {
        const std::int32_t number = scope->find(name);
        if (number >= 0)
            return LocalLookup{scope, number};
    }
    return LocalLookup{scope, -1};
}

// Entries are never removed, so the number found when the use was read still holds. Enclosing
// scopes may declare more after the use: the slot is counted now.
Resolution resolve(const LocalLookup& found, std::string_view name) {
    Resolution result;
    if (found.number >= 0) {
        // Parameters are the function scope's first entries, so they take the lowest slots.
        const Scope* outer = found.scope->parent();
        result.place = Resolution::Place::local;
        result.slot = found.number + (outer != nullptr ? outer->local_total() : 0);
        result.entry_kind = found.scope->entries()[static_cast<size_t>(found.number)].kind;
        return result;
    }
    // Local scopes hold no class and end below the global scope: the walk starts above them.
    const Scope* top = found.scope;
    const Scope* nearest_class = nullptr;
    for (const Scope* s = found.scope; s != nullptr; s = s->parent()) {
        if (nearest_class == nullptr && s->kind() == ScopeKind::class_body)
            nearest_class = s;
        top = s;
    }
    const auto found_in = [&](const Scope* s, Resolution::Place place) {
        const std::int32_t number = s != nullptr ? s->find(name) : -1;
        if (number < 0)
            return false;
        result.place = place;
        result.slot = number;
        result.entry_kind = s->entries()[static_cast<size_t>(number)].kind;
        return true;
    };
    if (found_in(nearest_class, Resolution::Place::member))
        return result;
    if (top != nullptr && top->kind() == ScopeKind::global)
        found_in(top, Resolution::Place::global);
    return result;
}

}  // namespace kam::script
