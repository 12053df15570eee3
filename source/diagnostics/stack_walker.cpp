// Stack walks for crash reports: raw addresses first, then names, all in fixed buffers.
#include "diagnostics/stack_walker.h"

#include <cstring>

#include "utility/platform/call_stack.h"

namespace kam {

namespace {

// Enough to get past a fault handler's own frames to the fault and max_frames beyond it.
constexpr int capture_capacity = 256;

// Builds one line in a fixed buffer; what does not fit is cut off.
class LineWriter {
public:
    void append(const char* text) {
        while (*text != '\0' && size_ < sizeof text_ - 2)
            text_[size_++] = *text++;
        text_[size_] = '\0';
    }
    void append_number(int value) {
        char digits[16];
        char* start = digits + sizeof digits - 1;
        *start = '\0';
        unsigned magnitude =
            value < 0 ? 0u - static_cast<unsigned>(value) : static_cast<unsigned>(value);
        do {
            *--start = static_cast<char>('0' + magnitude % 10);
            magnitude /= 10;
        } while (magnitude != 0);
        if (value < 0)
            *--start = '-';
        append(start);
    }
    // The line break always fits: append leaves room for it.
    const char* finish() {
        text_[size_++] = '\n';
        text_[size_] = '\0';
        return text_;
    }

private:
    char text_[1536];
    std::size_t size_ = 0;
};

const char* without_directories(const char* path) {
    const char* name = path;
    for (const char* c = path; *c != '\0'; ++c) {
        if (*c == '/' || *c == '\\')
            name = c + 1;
    }
    return name;
}

std::uintptr_t module_base(std::uintptr_t address) {
    const char* path = nullptr;
    std::uintptr_t base = 0;
    return platform::find_module(address, &path, &base) ? base : 0;
}

}  // namespace

__attribute__((noinline)) void StackWalker::show_callstack() {
    // The captured address of a calling frame lies inside its call instruction, one byte before
    // the return address.
    const auto return_address = reinterpret_cast<std::uintptr_t>(__builtin_return_address(0));
    walk(return_address - 1, false);
}

void StackWalker::show_callstack(std::uintptr_t start_address, bool skip_start_module) {
    walk(start_address, skip_start_module);
}

void StackWalker::clear() {
    size_ = 0;
    text_[0] = '\0';
}

void StackWalker::walk(std::uintptr_t start_address, bool skip_start_module) {
    std::uintptr_t addresses[capture_capacity];
    const int count = platform::capture_call_stack(addresses, capture_capacity);

    // Unwinders differ on whether an interrupted frame's address is backed up by one byte. When
    // the start is not found at all, every frame is shown rather than none.
    int first = 0;
    for (int i = 0; i < count; ++i) {
        if (addresses[i] == start_address || addresses[i] + 1 == start_address) {
            first = i;
            break;
        }
    }
    if (skip_start_module && count > 0) {
        const std::uintptr_t base = module_base(addresses[first]);
        int caller = first;
        while (caller < count && base != 0 && module_base(addresses[caller]) == base)
            ++caller;
        if (caller < count)
            first = caller;
    }

    int shown = 0;
    for (int i = first; i < count; ++i) {
        const std::uintptr_t address = addresses[i];
        if (address == 0 || address == ~std::uintptr_t{0})
            continue;
        if (i > first && address == addresses[i - 1]) {
            on_db_error("StackWalk64-Endless-Callstack!");
            return;
        }
        if (shown++ == max_frames) {
            on_output("...\n");
            return;
        }
        describe(address);
    }
}

void StackWalker::describe(std::uintptr_t address) {
    struct Visit {
        StackWalker* walker;
        std::uintptr_t address;
    } visit{this, address};
    platform::describe_code_address(
        address,
        [](const platform::CodeLocation& location, void* data) {
            const auto& visit = *static_cast<Visit*>(data);
            Frame frame;
            frame.address = visit.address;
            frame.file = location.file;
            frame.line = location.line;
            frame.function = location.function;
            std::uintptr_t base = 0;
            if (frame.file == nullptr)
                platform::find_module(frame.address, &frame.module, &base);
            visit.walker->on_callstack_entry(frame);
        },
        &visit);
}

void StackWalker::on_callstack_entry(const Frame& frame) {
    LineWriter line;
    if (frame.file != nullptr) {
        line.append(without_directories(frame.file));
    } else if (frame.module != nullptr && *frame.module != '\0') {
        line.append(without_directories(frame.module));
    } else {
        line.append("???");
    }
    line.append("(");
    if (frame.line > 0) {
        line.append_number(frame.line);
    } else {
        line.append("???");
    }
    line.append(") : ");
    line.append(frame.function != nullptr ? frame.function : "???");
    on_output(line.finish());
}

void StackWalker::on_db_error(const char* text) {
    LineWriter line;
    line.append(text);
    on_output(line.finish());
}

void StackWalker::on_output(const char* text) {
    const std::size_t length = std::strlen(text);
    const std::size_t room = text_capacity - 1 - size_;
    const std::size_t taken = length < room ? length : room;
    std::memcpy(text_ + size_, text, taken);
    size_ += taken;
    text_[size_] = '\0';
}

}  // namespace kam
