// Windows has no pseudo-terminal that a child's standard error can be attached to this simply.
#include "support/pseudo_terminal.h"

namespace test {

std::optional<std::string> standard_error_of(const std::function<void()>&, bool) {
    return std::nullopt;
}

}  // namespace test
