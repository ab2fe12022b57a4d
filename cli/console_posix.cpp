// The command's console on POSIX systems: UTF-8 bytes as they are.
#include "cli/console.h"

#include <cstdio>

#include <unistd.h>

namespace tarnis::cli {

namespace {

class PosixConsole : public Console {
public:
    void writeOut(std::string_view text) override { write(stdout, text); }
    void writeError(std::string_view text) override { write(stderr, text); }
    [[nodiscard]] bool errorIsTerminal() const override { return ::isatty(STDERR_FILENO) == 1; }

private:
    static void write(std::FILE* stream, std::string_view text)
    {
        std::fwrite(text.data(), 1, text.size(), stream);
        std::fflush(stream);
    }
};

} // namespace

std::unique_ptr<Console> processConsole()
{
    return std::make_unique<PosixConsole>();
}

} // namespace tarnis::cli
