// CreateProcessW with the standard handles redirected to files.
#include "support/platform.h"
#include "support/run_program.h"

#include <windows.h>

namespace test {

namespace {

// One argument quoted the way the C runtime splits a command line again.
std::wstring quoted(const std::wstring& argument) {
    if (!argument.empty() && argument.find_first_of(L" \t\n\v\"") == std::wstring::npos)
        return argument;
    std::wstring result = L"\"";
    std::size_t backslashes = 0;
    for (wchar_t c : argument) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        result.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
        backslashes = 0;
        result += c;
    }
    result.append(backslashes * 2, L'\\');
    return result + L"\"";
}

std::wstring wide(const std::string& text) {
    return std::filesystem::path(text).wstring();
}

HANDLE inheritable(const std::filesystem::path& path, bool writing) {
    SECURITY_ATTRIBUTES security{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    return CreateFileW(path.wstring().c_str(), writing ? GENERIC_WRITE : GENERIC_READ,
                       FILE_SHARE_READ | FILE_SHARE_WRITE, &security,
                       writing ? CREATE_ALWAYS : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

}  // namespace

bool make_fifo(const std::filesystem::path&) {
    return false;
}

bool under_wine() {
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

int run_program(const std::string& program, const std::vector<std::string>& arguments,
                const std::filesystem::path& directory, const std::filesystem::path& input,
                const std::filesystem::path& output, unsigned timeout_seconds) {
    std::wstring command_line = quoted(wide(program));
    for (const std::string& argument : arguments)
        command_line += L" " + quoted(wide(argument));
    HANDLE in = inheritable(input, false);
    HANDLE out = inheritable(output, true);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = in;
    startup.hStdOutput = out;
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION process{};
    const BOOL started = CreateProcessW(nullptr, command_line.data(), nullptr, nullptr, TRUE, 0,
                                        nullptr, directory.wstring().c_str(), &startup, &process);
    CloseHandle(in);
    CloseHandle(out);
    if (!started)
        return -1;
    CloseHandle(process.hThread);
    const DWORD limit = timeout_seconds > 0 ? timeout_seconds * 1000u : INFINITE;
    int result = -1;
    if (WaitForSingleObject(process.hProcess, limit) == WAIT_OBJECT_0) {
        DWORD code = 0;
        if (GetExitCodeProcess(process.hProcess, &code))
            result = static_cast<int>(code);
    } else {
        TerminateProcess(process.hProcess, 1);
        WaitForSingleObject(process.hProcess, INFINITE);
    }
    CloseHandle(process.hProcess);
    return result;
}

long start_program(const std::string&, const std::vector<std::string>&,
                   const std::filesystem::path&, const std::filesystem::path&) {
    return -1;
}

void signal_program(long, int) {}

int wait_program(long) {
    return -1;
}

}  // namespace test
