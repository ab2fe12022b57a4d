#include "tests/support/program.h"

#include "common/file_names.h"
#include "tests/support/files.h"
#include "tests/support/scratch_dir.h"

#include <cstdlib>

#ifndef _WIN32
#include <sys/wait.h>
#endif

namespace tarnis::test {

namespace {

#ifdef _WIN32
constexpr bool kWindows = true;
#else
constexpr bool kWindows = false;
#endif

// One word of a command line, as the system's shell reads it back: in single quotes for a POSIX
// shell, in double quotes for Windows' cmd.exe and the C runtime of the program it starts.
std::string quoted(const std::string& word)
{
#ifdef _WIN32
    return "\"" + word + "\"";
#else
    std::string result = "'";
    for (const char c : word)
        result += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return result + "'";
#endif
}

std::string contents(const std::filesystem::path& path)
{
    const Bytes bytes = readFile(path);
    return {bytes.begin(), bytes.end()};
}

} // namespace

ProgramResult runProgram(const std::filesystem::path& program,
                         const std::vector<std::string>& arguments,
                         const std::filesystem::path& workingFolder, const std::string& before,
                         const std::string& after, const std::vector<std::string>& environment)
{
    // Output goes to files rather than pipes, so that neither stream can fill up and stall the other.
    const ScratchDir capture;
    std::string command = kWindows ? "cd /d " : "cd ";
    command.append(quoted(utf8FromPath(workingFolder)))
        .append(kWindows || environment.empty() ? " && " : " && env ");
    for (const std::string& variable : environment) // cmd.exe: set "NAME=value" && ...
        command.append(kWindows ? "set \"" + variable + "\" && " : quoted(variable) + " ");
    for (const std::string& word : {before, quoted(utf8FromPath(program))})
        command.append(word).append(" ");
    for (const std::string& argument : arguments)
        command.append(quoted(argument)).append(" ");
    command.append("< ").append(quoted(kWindows ? "NUL" : "/dev/null"));
    command.append(" > ").append(quoted(utf8FromPath(capture.file("out"))));
    command.append(" 2> ")
        .append(quoted(utf8FromPath(capture.file("error"))))
        .append(" ")
        .append(after);
#ifdef _WIN32
    // Through the wide-character entry, so that the command line never passes the ANSI code page.
    const int exitStatus = ::_wsystem(pathFromUtf8(command).c_str());
#else
    const int status = std::system(command.c_str());
    const int exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
#endif
    return {exitStatus, contents(capture.file("out")), contents(capture.file("error"))};
}

} // namespace tarnis::test
