// The merge-logs command.
#include <stdexcept>

#include "commands.h"

int merge_logs_command() { throw std::runtime_error("The command merge-logs is not built yet"); }
