#pragma once

#include "common/texts.h"

#include <span>
#include <string_view>

namespace tarnis::cli {

/// What an option does; the parser acts on it.
enum class OptionId { Check, Jobs, OutputDir, Quiet, Watch, Bytewise, Help, Version };

/// One option of tarnis-repair: its names, the value it takes, and its texts in each language.
/// Everything that lists the options reads them from kOptions: the parser, --help, and the check of
/// the manual pages and the completion, which reads them from --help.
struct Option {
    OptionId id;
    char shortName;            ///< '\0' where it has none
    std::string_view longName; ///< without "--"
    std::string_view value;    ///< what it takes, as the help names it ("N", "DIR"); empty: nothing
    std::string_view helpEnglish;
    std::string_view helpJapanese;
    std::string_view missingEnglish; ///< the usage error when its value is missing
    std::string_view missingJapanese;

    [[nodiscard]] bool takesValue() const { return !value.empty(); }
    [[nodiscard]] std::string_view help(Language language) const
    {
        return language == Language::Japanese ? helpJapanese : helpEnglish;
    }
    [[nodiscard]] std::string_view missing(Language language) const
    {
        return language == Language::Japanese ? missingJapanese : missingEnglish;
    }
};

/// Every option, in the order --help lists them.
[[nodiscard]] std::span<const Option> options();

/// The option of that long name, written whole; nullptr where there is none.
[[nodiscard]] const Option* optionNamed(std::string_view longName);

} // namespace tarnis::cli
