#include "ui/selection.h"

#include "common/text.h"

#include <cstdint>

namespace tarnis {
namespace {

std::vector<std::string> splitAtSeparators(std::string_view text)
{
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = text.find(kResultSeparator, start);
        if (end == std::string_view::npos) {
            parts.emplace_back(text.substr(start));
            return parts;
        }
        parts.emplace_back(text.substr(start, end - start));
        start = end + 1;
    }
}

} // namespace

void parseSelection(std::string_view result, FileList& fileList, SelectionState& selection,
                    std::vector<std::string>& splitParts)
{
    splitParts = splitAtSeparators(result);

    if (splitParts.size() == 1) {
        // One file: its full path. The folder is everything up to the last separator; a path
        // without one (never given by the dialog) counts as a bare name in an unnamed folder.
        const std::string& path = splitParts.front();
        const std::size_t last = path.rfind(kPathSeparator);
        const std::size_t nameStart = last == std::string::npos ? 0 : last + 1;
        selection.dirPath = path.substr(0, nameStart);
        fileList.append(path.substr(nameStart));
        selection.entryCount = 2;
        return;
    }

    // Several files: the folder, then the names. A root folder already ends with the separator.
    selection.dirPath = splitParts.front();
    if (selection.dirPath.empty() || selection.dirPath.back() != kPathSeparator)
        selection.dirPath += kPathSeparator;
    for (std::size_t i = 1; i < splitParts.size(); ++i)
        fileList.append(splitParts[i]);
    selection.entryCount = static_cast<std::int32_t>(splitParts.size());
}

} // namespace tarnis
