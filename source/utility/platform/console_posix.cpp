// Standard output never changes line breaks here.
#include "utility/platform/console.h"

namespace kam::platform {

void use_plain_standard_output() {}

}  // namespace kam::platform
