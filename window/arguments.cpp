#include "window/arguments.h"

#include "common/version.h"

namespace tarnis {

Start readArguments(const std::vector<std::string>& arguments)
{
    Start start;
    bool options = true;
    for (const std::string& argument : arguments) {
        if (options && argument == "--") {
            options = false;
        } else if (options && (argument == "-h" || argument == "--help")) {
            return {StartAction::PrintHelp, {}};
        } else if (options && (argument == "-V" || argument == "--version")) {
            return {StartAction::PrintVersion, {}};
        } else {
            start.files.push_back(argument);
        }
    }
    return start;
}

std::string_view helpText()
{
    return "Usage: tarnis [OPTION]... [FILE]...\n"
           "Opens Tarnis's window, which repairs dropouts (samples stored as the bytes 80 00) in\n"
           "16-bit FITS images and writes each repaired copy beside its input as NAME_R.fit.\n"
           "The FILEs, which must lie in one folder, are queued as if chosen in the window.\n"
           "tarnis-repair does the same from the command line.\n"
           "\n"
           "  -h, --help     print this help and exit\n"
           "  -V, --version  print the version and exit\n";
}

std::string_view versionText() { return "tarnis " TARNIS_VERSION "\n"; }

} // namespace tarnis
