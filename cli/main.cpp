// tarnis-repair: the window's repair from the command line, for capture programs and scripts.
#include "cli/command.h"
#include "cli/wildcards.h"
#include "common/standard_streams.h"

#include <string>
#include <vector>

#ifdef _WIN32
#include "common/utf16.h"

// Arguments come in as UTF-16, so that any file name reaches the repair intact, never through the
// ANSI code page. Neither the shells nor the C runtime expand wildcards here (MinGW's could, and
// would match the short 8.3 names too): the program does (cli/wildcards.h).
int wmain(int argc, wchar_t** argv)
{
    std::vector<std::string> arguments;
    for (int i = 1; i < argc; ++i)
        arguments.push_back(tarnis::utf8(argv[i]));
    return tarnis::cli::runCommand(tarnis::cli::expandWildcardsOfWindows(arguments),
                                   *tarnis::cli::processConsole(), tarnis::cli::userLanguage());
}
#else
int main(int argc, char** argv)
{
    tarnis::openClosedStandardStreams();
    return tarnis::cli::runCommand(std::vector<std::string>(argv + 1, argv + argc),
                                   *tarnis::cli::processConsole(), tarnis::cli::userLanguage());
}
#endif
