#include "tests/support/program.h"

#include "tests/support/files.h"
#include "tests/support/scratch_dir.h"

#include <windows.h>

namespace tarnis::test {

namespace {

std::wstring wide(const std::string& text)
{
    const int length = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring result(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), result.data(), length);
    return result;
}

// One argument as the C runtime of the program started splits its command line again.
std::wstring quoted(const std::wstring& argument)
{
    std::wstring result = L"\"";
    std::size_t backslashes = 0;
    for (const wchar_t c : argument) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        result.append(c == L'"' ? 2 * backslashes + 1 : backslashes, L'\\');
        backslashes = 0;
        result += c;
    }
    result.append(2 * backslashes, L'\\');
    return result + L"\"";
}

HANDLE inheritable(const std::filesystem::path& path, DWORD access, DWORD creation)
{
    SECURITY_ATTRIBUTES attributes{sizeof attributes, nullptr, TRUE};
    return CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, &attributes, creation,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

} // namespace

ProgramResult runProgram(const std::filesystem::path& program, const std::vector<std::string>& arguments,
                         const std::filesystem::path& workingFolder)
{
    const ScratchDir capture;
    const std::filesystem::path out = capture.file("out");
    const std::filesystem::path error = capture.file("error");
    std::wstring commandLine = quoted(program.wstring());
    for (const std::string& argument : arguments)
        commandLine += L" " + quoted(wide(argument));

    ProgramResult result;
    {
        const HANDLE in = inheritable(L"NUL", GENERIC_READ, OPEN_EXISTING);
        const HANDLE outFile = inheritable(out, GENERIC_WRITE, CREATE_ALWAYS);
        const HANDLE errorFile = inheritable(error, GENERIC_WRITE, CREATE_ALWAYS);
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = in;
        startup.hStdOutput = outFile;
        startup.hStdError = errorFile;
        PROCESS_INFORMATION process{};
        if (CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr,
                           workingFolder.c_str(), &startup, &process)) {
            WaitForSingleObject(process.hProcess, INFINITE);
            DWORD code = 0;
            GetExitCodeProcess(process.hProcess, &code);
            result.exitStatus = static_cast<int>(code);
            CloseHandle(process.hThread);
            CloseHandle(process.hProcess);
        }
        for (const HANDLE handle : {in, outFile, errorFile})
            CloseHandle(handle);
    }
    const Bytes outBytes = readFile(out);
    const Bytes errorBytes = readFile(error);
    result.out.assign(outBytes.begin(), outBytes.end());
    result.error.assign(errorBytes.begin(), errorBytes.end());
    return result;
}

} // namespace tarnis::test
