// A hash for maps keyed by std::string that are searched with a string_view: no string is built
// for a lookup.
#pragma once

#include <cstddef>
#include <functional>
#include <string_view>

namespace kam {

struct StringHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view text) const {
        return std::hash<std::string_view>()(text);
    }
};

}  // namespace kam
