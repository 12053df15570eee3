// The crash handler's error callback, apart from main so that the crash tests can use it too.
#include "crash_report.h"

#include "utility/output_streams.h"

void report_crash(const std::string& message, const std::string& call_stack, const std::string&) {
    std::string text = message + call_stack;
    while (!text.empty() && text.back() == '\n')
        text.pop_back();
    print_framed_error(text);
}
