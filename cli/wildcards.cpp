#include "cli/wildcards.h"

#include "common/file_names.h"

namespace tarnis::cli {
namespace {

// The character that starts at `at` in the UTF-8 `text`, moving `at` past it. A byte that starts no
// valid sequence is a character of its own.
char32_t nextCharacter(std::string_view text, std::size_t& at)
{
    const auto lead = static_cast<unsigned char>(text[at++]);
    const int length = lead >= 0xF0 ? 3 : lead >= 0xE0 ? 2 : lead >= 0xC0 ? 1 : 0;
    char32_t c = length == 0 ? lead : lead & (0x3F >> length);
    for (int i = 0;
         i < length && at < text.size() && (static_cast<unsigned char>(text[at]) & 0xC0) == 0x80;
         ++i)
        c = c << 6 | (static_cast<unsigned char>(text[at++]) & 0x3F);
    return c;
}

std::u32string folded(std::string_view text, CaseFold fold)
{
    std::u32string characters;
    for (std::size_t at = 0; at < text.size();)
        characters += fold(nextCharacter(text, at));
    return characters;
}

// Whether `n` matches `p`, character by character.
bool matches(std::u32string_view p, std::u32string_view n)
{
    // Each "*" takes as few characters as it can, and one more whenever what follows fails.
    std::size_t i = 0, j = 0, star = std::u32string::npos, starAt = 0;
    while (j < n.size()) {
        if (i < p.size() && (p[i] == U'?' || (p[i] != U'*' && p[i] == n[j]))) {
            ++i;
            ++j;
        } else if (i < p.size() && p[i] == U'*') {
            star = i++;
            starAt = j;
        } else if (star != std::u32string::npos) {
            i = star + 1;
            j = ++starAt;
        } else {
            return false;
        }
    }
    while (i < p.size() && p[i] == U'*')
        ++i;
    return i == p.size();
}

} // namespace

bool matchesWildcard(std::string_view pattern, std::string_view name, CaseFold fold)
{
    const std::u32string p = folded(pattern, fold);
    const std::u32string n = folded(name, fold);
    // As cmd's dir takes it, ".*" at the end may also match no extension at all: "*.*" matches
    // every name, "a.*" the file "a" too.
    const std::u32string_view withoutExtension = std::u32string_view(p).substr(
        0, p.ends_with(U".*") ? p.size() - 2 : p.size());
    return matches(p, n) || (withoutExtension.size() < p.size() && matches(withoutExtension, n));
}

std::vector<std::string> expandWildcards(
    const std::vector<std::string>& arguments,
    const std::function<std::vector<std::string>(const std::string&)>& candidates, CaseFold fold)
{
    std::vector<std::string> expanded;
    for (const std::string& argument : arguments) {
        std::size_t nameStart = argument.size();
        while (nameStart > 0 && !isPathSeparator(argument[nameStart - 1])
               && argument[nameStart - 1] != ':')
            --nameStart;
        const std::string_view pattern = std::string_view(argument).substr(nameStart);
        const std::size_t before = expanded.size();
        if (pattern.find_first_of("*?") != std::string_view::npos) {
            for (const std::string& name : candidates(argument)) {
                if (matchesWildcard(pattern, name, fold))
                    expanded.push_back(argument.substr(0, nameStart) + name);
            }
        }
        if (expanded.size() == before)
            expanded.push_back(argument);
    }
    return expanded;
}

} // namespace tarnis::cli
