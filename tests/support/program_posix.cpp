#include "tests/support/program.h"

#include "tests/support/files.h"
#include "tests/support/scratch_dir.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace tarnis::test {

ProgramResult runProgram(const std::filesystem::path& program, const std::vector<std::string>& arguments,
                         const std::filesystem::path& workingFolder)
{
    // Captured into files rather than pipes, so that neither stream can fill up and stall the other.
    const ScratchDir capture;
    const std::filesystem::path out = capture.file("out");
    const std::filesystem::path error = capture.file("error");
    std::vector<std::string> argv = {program.string()};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    std::vector<char*> pointers;
    for (std::string& argument : argv)
        pointers.push_back(argument.data());
    pointers.push_back(nullptr);

    const pid_t child = ::fork();
    if (child == 0) {
        const int in = ::open("/dev/null", O_RDONLY);
        const int outFile = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int errorFile = ::open(error.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (in < 0 || outFile < 0 || errorFile < 0 || ::dup2(in, 0) < 0 || ::dup2(outFile, 1) < 0
            || ::dup2(errorFile, 2) < 0 || ::chdir(workingFolder.c_str()) != 0)
            ::_exit(127);
        ::execv(pointers[0], pointers.data());
        ::_exit(127);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    ProgramResult result;
    result.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    const Bytes outBytes = readFile(out);
    const Bytes errorBytes = readFile(error);
    result.out.assign(outBytes.begin(), outBytes.end());
    result.error.assign(errorBytes.begin(), errorBytes.end());
    return result;
}

} // namespace tarnis::test
