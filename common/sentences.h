#pragma once

#include "common/cause.h"

#include <string_view>

namespace tarnis {

/// One language's sentences for the descriptions of failures, in a file of its own (texts_ja.cpp,
/// texts_en.cpp); common/texts.cpp puts them together. Each is a switch over every value of its
/// enumeration without a default, so that a cause or an action without a sentence in some language
/// does not compile.
struct Sentences {
    /// What could not be done to the file.
    std::string_view (*action)(FileAction);
    /// Why: "{}" stands for the error's detail; in the sentence of Cause::SystemError, "{text}" and
    /// "{number}" stand for the system's own description and the error's number.
    std::string_view (*cause)(Cause);
    /// What joins the action and the cause on one line.
    std::string_view joint;
};

extern const Sentences kJapaneseSentences;
extern const Sentences kEnglishSentences;

} // namespace tarnis
