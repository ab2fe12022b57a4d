// The command's console on POSIX systems: UTF-8 bytes as they are.
#include "cli/console.h"

#include "cli/texts.h"

#include <cerrno>
#include <cstdio>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

namespace tarnis::cli {

namespace {

class PosixConsole : public Console {
public:
    int writeOut(std::string_view text) override { return write(stdout, text); }
    void writeError(std::string_view text) override { (void)write(stderr, text); }
    [[nodiscard]] bool errorIsTerminal() const override { return ::isatty(STDERR_FILENO) == 1; }

private:
    static int write(std::FILE* stream, std::string_view text)
    {
        errno = 0;
        if (std::fwrite(text.data(), 1, text.size(), stream) == text.size()
            && std::fflush(stream) == 0)
            return 0;
        const int error = errno != 0 ? errno : EIO;
        std::clearerr(stream);
        return error;
    }
};

} // namespace

std::unique_ptr<Console> processConsole() { return std::make_unique<PosixConsole>(); }

Language userLanguage() { return languageOfEnvironment().value_or(Language::English); }

// Counted by opening them: the limit alone does not say how many are open, and which numbers.
std::size_t spareFileDescriptors(std::size_t atMost)
{
    std::vector<int> opened;
    while (opened.size() < atMost) {
        const int descriptor = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
        if (descriptor < 0)
            break;
        opened.push_back(descriptor);
    }
    for (const int descriptor : opened)
        ::close(descriptor);
    return opened.size();
}

} // namespace tarnis::cli
