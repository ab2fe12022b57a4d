#include "window/selection.h"

#include "common/file_names.h"

#include <cstdint>
#include <filesystem>
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

// Where the name of the full path `path` starts: after a separator. A bare name, or on Windows a
// drive-relative one ("C:a.fit", in whatever folder C: is in at the time), names no folder.
std::size_t nameStartInFolder(std::string_view path)
{
    const std::size_t start = nameStart(path);
    if (start == 0 || !isPathSeparator(path[start - 1]))
        throw std::invalid_argument("a path that names no folder");
    return start;
}

} // namespace

void parseSelection(std::string_view result, FileList& fileList, SelectionState& selection)
{
    const std::vector<std::string> splitParts = splitAtSeparators(result);

    if (splitParts.size() == 1) {
        // One file: its full path. The folder is everything up to the last separator. A path
        // without one names no folder: the dialog never answers so, and queuing it would make the
        // run look for the file wherever the program happens to run.
        const std::string_view path = splitParts.front();
        const std::size_t start = nameStartInFolder(path);
        selection.dirPath = withOneTrailingSeparator(path.substr(0, start));
        fileList.append(std::string(path.substr(start)));
        selection.entryCount = 2;
        return;
    }

    // Several files: the folder, then the names. A name that leads into another folder would put
    // its output outside its input's folder; such an answer is refused whole.
    for (std::size_t i = 1; i < splitParts.size(); ++i) {
        if (containsPathSeparator(splitParts[i]))
            throw FilesOfSeveralFolders();
    }
    selection.dirPath = withOneTrailingSeparator(splitParts.front());
    for (std::size_t i = 1; i < splitParts.size(); ++i)
        fileList.append(splitParts[i]);
    selection.entryCount = static_cast<std::int32_t>(splitParts.size());
}

std::string answerFor(const std::vector<std::string>& fullPaths)
{
    if (fullPaths.empty())
        throw std::invalid_argument("no file was chosen");
    if (fullPaths.size() == 1)
        return fullPaths.front();
    // The folder without the separator before the names, as the dialog names it.
    const std::string_view first = fullPaths.front();
    std::string answer(first.substr(0, nameStartInFolder(first) - 1));
    for (const std::string& path : fullPaths) {
        const std::size_t start = nameStartInFolder(path);
        if (std::string_view(path).substr(0, start) != first.substr(0, nameStartInFolder(first)))
            throw FilesOfSeveralFolders();
        answer += kResultSeparator;
        answer += path.substr(start);
    }
    return answer;
}

std::vector<std::string> fullPaths(const std::vector<std::string>& paths,
                                   const std::string& currentFolder)
{
    std::vector<std::string> full;
    for (const std::string& path : paths) {
        std::filesystem::path native = pathFromUtf8(path);
        if (!native.is_absolute())
            native = pathFromUtf8(currentFolder) / native;
        full.push_back(utf8FromPath(native.lexically_normal().make_preferred()));
    }
    return full;
}

} // namespace tarnis
