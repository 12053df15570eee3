// The make-patch command.
#include <stdexcept>

#include "commands.h"

int make_patch_command() { throw std::runtime_error("The command make-patch is not built yet"); }
