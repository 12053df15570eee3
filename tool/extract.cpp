// The extract command.
#include <stdexcept>

#include "commands.h"

int extract_command() { throw std::runtime_error("The command extract is not built yet"); }
