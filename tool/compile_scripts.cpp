// The compile-scripts command.
#include <stdexcept>

#include "commands.h"

int compile_scripts_command() { throw std::runtime_error("The command compile-scripts is not built yet"); }
