// The compile-xml command.
#include <stdexcept>

#include "commands.h"

int compile_xml_command() { throw std::runtime_error("The command compile-xml is not built yet"); }
