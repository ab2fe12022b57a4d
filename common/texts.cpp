#include "common/texts.h"

#include "common/sentences.h"

namespace tarnis {

namespace {

const Sentences& sentencesOf(Language language)
{
    switch (language) {
    case Language::Japanese: return kJapaneseSentences;
    case Language::English: return kEnglishSentences;
    }
    return kEnglishSentences;
}

// `text` with `slot` replaced by `value` where it stands.
std::string filledIn(std::string text, std::string_view slot, std::string_view value)
{
    const std::size_t at = text.find(slot);
    return at == std::string::npos ? text : text.replace(at, slot.size(), value);
}

} // namespace

const std::string_view kCompletionMessage = "選択されたﾌｧｲﾙの処理を終了しました";

std::string systemErrorDetail(std::string_view systemText, unsigned long number)
{
    return std::to_string(number) + ' ' + std::string(systemText);
}

std::string describeCause(Cause cause, const std::string& detail, Language language)
{
    const std::string sentence(sentencesOf(language).cause(cause));
    if (cause != Cause::SystemError)
        return filledIn(sentence, "{}", detail);
    const std::size_t space = detail.find(' ');
    const std::string number = detail.substr(0, space);
    const std::string text = space == std::string::npos ? std::string() : detail.substr(space + 1);
    return filledIn(filledIn(sentence, "{number}", number), "{text}", text);
}

std::string describe(FileAction action, const std::string& path, Cause cause,
                     const std::string& detail, Language language)
{
    return std::string(sentencesOf(language).action(action)) + '\n' + path + '\n'
           + describeCause(cause, detail, language);
}

std::string describe(const Error& error, Language language)
{
    return describe(error.action(), error.path(), error.cause(), error.detail(), language);
}

std::string describeOnOneLine(FileAction action, const std::string& path, Cause cause,
                              const std::string& detail, Language language)
{
    const Sentences& sentences = sentencesOf(language);
    return path + ": " + std::string(sentences.action(action)) + std::string(sentences.joint)
           + describeCause(cause, detail, language);
}

} // namespace tarnis
