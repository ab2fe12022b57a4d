#include "ui/selection.h"

#include "common/text.h"

#include <cstdint>
#include <stdexcept>

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

// The folder with exactly one separator at its end: the dialog may hand back "/data//" or a root
// "/", and a name is appended to the folder directly.
std::string withOneTrailingSeparator(std::string_view folder)
{
    while (!folder.empty() && folder.back() == kPathSeparator)
        folder.remove_suffix(1);
    std::string result(folder);
    result += kPathSeparator;
    return result;
}

} // namespace

void parseSelection(std::string_view result, FileList& fileList, SelectionState& selection,
                    std::vector<std::string>& splitParts)
{
    splitParts = splitAtSeparators(result);

    if (splitParts.size() == 1) {
        // One file: its full path. The folder is everything up to the last separator. A path
        // without one names no folder: the dialog never answers so, and queuing it would make the
        // run look for the file wherever the program happens to run.
        const std::string& path = splitParts.front();
        const std::size_t last = path.rfind(kPathSeparator);
        if (last == std::string::npos)
            throw std::invalid_argument("the open-file dialog's answer names no folder");
        selection.dirPath = withOneTrailingSeparator(std::string_view(path).substr(0, last + 1));
        fileList.append(path.substr(last + 1));
        selection.entryCount = 2;
        return;
    }

    // Several files: the folder, then the names. A name that leads into another folder would put
    // its output outside its input's folder; such an answer is refused whole.
    for (std::size_t i = 1; i < splitParts.size(); ++i) {
        if (containsPathSeparator(splitParts[i]))
            throw std::invalid_argument("the open-file dialog's answer names a file in another folder");
    }
    selection.dirPath = withOneTrailingSeparator(splitParts.front());
    for (std::size_t i = 1; i < splitParts.size(); ++i)
        fileList.append(splitParts[i]);
    selection.entryCount = static_cast<std::int32_t>(splitParts.size());
}

} // namespace tarnis
