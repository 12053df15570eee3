// The bundle and quick-bundle commands.
#include <stdexcept>

#include "commands.h"

int bundle_command() { throw std::runtime_error("The command bundle is not built yet"); }

int quick_bundle_command() { throw std::runtime_error("The command quick-bundle is not built yet"); }
