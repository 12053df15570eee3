// The error callback of the crash handler.
#pragma once

#include <string>

// Prints a crash report framed like an error: the message, then the call stack below it.
void report_crash(const std::string& message, const std::string& call_stack,
                  const std::string& thread_name);
