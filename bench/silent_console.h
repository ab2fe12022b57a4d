#pragma once

#include "cli/console.h"

#include <string>
#include <string_view>

namespace tarnis::bench {

// Output goes nowhere; the run is all that is measured.
class SilentConsole : public cli::Console {
public:
    int writeOut(std::string_view) override { return 0; }
    void writeError(std::string_view text) override { errors += text; }
    [[nodiscard]] bool errorIsTerminal() const override { return false; }
    std::string errors;
};

} // namespace tarnis::bench
